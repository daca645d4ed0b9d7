#include "emv/payment_systems.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "test_support.h"

namespace emvtlv {
namespace {

struct aid_row {
  std::string_view aid_hex;
  std::string_view system;  // empty: none
  emv_kernel kernel;
  std::string_view product;
};

TEST(PaymentSystems, AidPicksSystemKernelAndProduct) {
  const aid_row rows[] = {
      {"A0000000031010", "Visa", emv_kernel::c3, "Visa credit/debit"},
      {"A0000000041010", "Mastercard", emv_kernel::c2, "Mastercard credit/debit"},
      {"A0000000043060", "Mastercard", emv_kernel::c2, "Maestro"},
      {"A00000002501", "American Express", emv_kernel::c4, "American Express"},
      {"A0000000651010", "JCB", emv_kernel::c5, "JCB"},
      {"A0000001523010", "Discover / Diners Club", emv_kernel::c6, "Discover"},
      {"A000000333010102", "UnionPay", emv_kernel::c7, "UnionPay credit"},
      {"A0000003591010028001", "girocard", emv_kernel::domestic, "girocard"},
      {"A0000000049999", "Mastercard", emv_kernel::c2, ""},  // listed RID, other product
      {"A000000003", "Visa", emv_kernel::c3, ""},            // the RID alone
      {"A0000000", "", emv_kernel::unknown, ""},             // shorter than a RID
      {"A000000999", "", emv_kernel::unknown, ""},           // unlisted RID
      {"A00000000310", "Visa", emv_kernel::c3, ""},          // a prefix of a product
  };
  for (const aid_row& row : rows) {
    SCOPED_TRACE(row.aid_hex);
    const std::vector<std::uint8_t> aid = test::from_hex(row.aid_hex);
    const payment_system* system = find_payment_system(aid);
    if (row.system.empty()) {
      EXPECT_EQ(system, nullptr);
    } else {
      ASSERT_NE(system, nullptr);
      EXPECT_EQ(system->name, row.system);
      EXPECT_EQ(system->kernel, row.kernel);
    }
    EXPECT_EQ(find_aid_product(aid), row.product);
  }
}

TEST(PaymentSystems, DirectoryNamesTellContactFromContactless) {
  EXPECT_EQ(environment_of(test::from_hex("315041592E5359532E4444463031")),
            payment_environment::contact);
  EXPECT_EQ(environment_of(test::from_hex("325041592E5359532E4444463031")),
            payment_environment::contactless);
  EXPECT_EQ(environment_of(test::from_hex("325041592E5359532E44444630")),
            payment_environment::none);
  EXPECT_EQ(environment_of(test::from_hex("A0000000031010")), payment_environment::none);
}

}  // namespace
}  // namespace emvtlv
