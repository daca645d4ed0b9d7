#include "emv/payment_systems.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace emvtlv {
namespace {

using enum emv_kernel;

constexpr std::array systems = std::to_array<payment_system>({
    {0xA000000003, "Visa", c3},
    {0xA000000004, "Mastercard", c2},
    {0xA000000025, "American Express", c4},
    {0xA000000042, "Cartes Bancaires (CB)", domestic},
    {0xA000000065, "JCB", c5},
    {0xA000000152, "Discover / Diners Club", c6},
    {0xA000000277, "Interac", domestic},
    {0xA000000333, "UnionPay", c7},
    {0xA000000359, "girocard", domestic},
    {0xA000000524, "RuPay", domestic},
});

constexpr bool ascending_by_rid() {
  for (std::size_t i = 1; i < systems.size(); ++i) {
    if (systems[i - 1].rid >= systems[i].rid) return false;
  }
  return true;
}
static_assert(ascending_by_rid());

// The common AIDs, each as its bytes.
constexpr std::array<std::uint8_t, 7> visa_credit{0xA0, 0x00, 0x00, 0x00, 0x03, 0x10, 0x10};
constexpr std::array<std::uint8_t, 7> visa_electron{0xA0, 0x00, 0x00, 0x00, 0x03, 0x20, 0x10};
constexpr std::array<std::uint8_t, 7> vpay{0xA0, 0x00, 0x00, 0x00, 0x03, 0x20, 0x20};
constexpr std::array<std::uint8_t, 7> plus{0xA0, 0x00, 0x00, 0x00, 0x03, 0x80, 0x10};
constexpr std::array<std::uint8_t, 7> mastercard{0xA0, 0x00, 0x00, 0x00, 0x04, 0x10, 0x10};
constexpr std::array<std::uint8_t, 7> maestro{0xA0, 0x00, 0x00, 0x00, 0x04, 0x30, 0x60};
constexpr std::array<std::uint8_t, 7> cirrus{0xA0, 0x00, 0x00, 0x00, 0x04, 0x60, 0x00};
constexpr std::array<std::uint8_t, 6> amex{0xA0, 0x00, 0x00, 0x00, 0x25, 0x01};
constexpr std::array<std::uint8_t, 7> jcb{0xA0, 0x00, 0x00, 0x00, 0x65, 0x10, 0x10};
constexpr std::array<std::uint8_t, 7> discover{0xA0, 0x00, 0x00, 0x01, 0x52, 0x30, 0x10};
constexpr std::array<std::uint8_t, 8> unionpay_debit{0xA0, 0x00, 0x00, 0x03,
                                                     0x33, 0x01, 0x01, 0x01};
constexpr std::array<std::uint8_t, 8> unionpay_credit{0xA0, 0x00, 0x00, 0x03,
                                                      0x33, 0x01, 0x01, 0x02};
constexpr std::array<std::uint8_t, 8> unionpay_quasi{0xA0, 0x00, 0x00, 0x03,
                                                     0x33, 0x01, 0x01, 0x03};
constexpr std::array<std::uint8_t, 7> interac{0xA0, 0x00, 0x00, 0x02, 0x77, 0x10, 0x10};
constexpr std::array<std::uint8_t, 7> rupay{0xA0, 0x00, 0x00, 0x05, 0x24, 0x10, 0x10};
constexpr std::array<std::uint8_t, 7> cb{0xA0, 0x00, 0x00, 0x00, 0x42, 0x10, 0x10};
constexpr std::array<std::uint8_t, 10> girocard{0xA0, 0x00, 0x00, 0x03, 0x59,
                                                0x10, 0x10, 0x02, 0x80, 0x01};

const std::array products = std::to_array<aid_product>({
    {visa_credit, "Visa credit/debit"},
    {visa_electron, "Visa Electron"},
    {vpay, "V PAY"},
    {plus, "Plus"},
    {mastercard, "Mastercard credit/debit"},
    {maestro, "Maestro"},
    {cirrus, "Cirrus"},
    {amex, "American Express"},
    {jcb, "JCB"},
    {discover, "Discover"},
    {unionpay_debit, "UnionPay debit"},
    {unionpay_credit, "UnionPay credit"},
    {unionpay_quasi, "UnionPay quasi-credit"},
    {interac, "Interac"},
    {rupay, "RuPay"},
    {cb, "Cartes Bancaires (CB)"},
    {girocard, "girocard"},
});

constexpr std::string_view pse = "1PAY.SYS.DDF01";
constexpr std::string_view ppse = "2PAY.SYS.DDF01";

bool same_bytes(std::span<const std::uint8_t> bytes, std::string_view text) {
  return bytes.size() == text.size() &&
         std::equal(bytes.begin(), bytes.end(), text.begin(),
                    [](std::uint8_t b, char c) { return b == static_cast<unsigned char>(c); });
}

}  // namespace

const payment_system* find_payment_system(std::span<const std::uint8_t> aid) {
  if (aid.size() < 5) return nullptr;
  std::uint64_t rid = 0;
  for (std::size_t i = 0; i < 5; ++i)
    rid = rid << 8 | aid[i];
  const auto* found =
      std::lower_bound(systems.begin(), systems.end(), rid,
                       [](const payment_system& s, std::uint64_t r) { return s.rid < r; });
  return found != systems.end() && found->rid == rid ? &*found : nullptr;
}

std::string_view find_aid_product(std::span<const std::uint8_t> aid) {
  for (const aid_product& product : products) {
    if (std::equal(aid.begin(), aid.end(), product.aid.begin(), product.aid.end())) {
      return product.name;
    }
  }
  return {};
}

std::string_view kernel_name(emv_kernel kernel) {
  constexpr std::array<std::string_view, 9> names{"",    "C-2", "C-3",      "C-4",    "C-5",
                                                  "C-6", "C-7", "domestic", "contact"};
  return names[static_cast<std::size_t>(kernel)];
}

std::span<const payment_system> payment_systems() {
  return systems;
}

payment_environment environment_of(std::span<const std::uint8_t> df_name) {
  if (same_bytes(df_name, pse)) return payment_environment::contact;
  if (same_bytes(df_name, ppse)) return payment_environment::contactless;
  return payment_environment::none;
}

}  // namespace emvtlv
