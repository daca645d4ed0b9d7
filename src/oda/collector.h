// The offline data authentication collector: fed each finished exchange of a session,
// it keeps copies of what the checks read, per selected application.
//
// Contract and limits:
// - take_exchange gets the command bytes, the answer's data (joined already, without
//   the status word), the status word and the command's line. Only SELECT, READ
//   RECORD, GET PROCESSING OPTIONS, INTERNAL AUTHENTICATE and GENERATE AC are read;
//   answers other than 9000 are passed over.
// - Selecting an application starts its inputs afresh (a first selection may be
//   abandoned before GPO); selecting the PSE or PPSE does not.
// - Fixed size, about 17 KiB: each kept element at most 256 bytes (longer ones are kept
//   cut and marked), at most max_records records of 258 bytes, one GPO, one INTERNAL
//   AUTHENTICATE, two GENERATE ACs. The first copy of an element wins.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

namespace emvtlv::oda {

template <std::size_t N>
struct kept_bytes {
  std::array<std::uint8_t, N> bytes{};
  std::uint16_t size = 0;
  bool present = false;
  bool cut = false;  // the value was longer than N

  void set(std::span<const std::uint8_t> value) {
    cut = value.size() > N;
    size = static_cast<std::uint16_t>(cut ? N : value.size());
    // One copy, not a loop of byte stores: records and GENERATE AC answers are long.
    std::copy_n(value.begin(), size, bytes.begin());
    present = true;
  }
  std::span<const std::uint8_t> view() const { return {bytes.data(), size}; }
  // Forgets the value without clearing the bytes: a selection starts in a few stores.
  void clear() {
    size = 0;
    present = cut = false;
  }
};

// The card's elements the checks read, each found in any answer.
enum class element : std::uint8_t {
  ca_index,            // 8F
  issuer_certificate,  // 90
  issuer_remainder,    // 92
  issuer_exponent,     // 9F32
  ssad,                // 93
  icc_certificate,     // 9F46
  icc_exponent,        // 9F47
  icc_remainder,       // 9F48
  sda_tag_list,        // 9F4A
  ddol,                // 9F49
  pan,                 // 5A
  pdol,                // 9F38
  cdol1,               // 8C
  cdol2,               // 8D
  card_auth_data,      // 9F69
  count
};
inline constexpr std::array<std::uint32_t, static_cast<std::size_t>(element::count)> element_tags{
    0x8F,   0x90,   0x92, 0x9F32, 0x93, 0x9F46, 0x9F47, 0x9F48,
    0x9F4A, 0x9F49, 0x5A, 0x9F38, 0x8C, 0x8D,   0x9F69};

inline constexpr std::size_t max_element = 256;
inline constexpr std::size_t max_records = 40;
inline constexpr std::size_t max_record = 258;
inline constexpr std::size_t max_answer = 512;

struct kept_record {
  std::uint8_t sfi = 0;
  std::uint8_t number = 0;
  kept_bytes<max_record> data;
};

struct kept_generate_ac {
  std::uint8_t p1 = 0;
  std::uint64_t line = 0;
  kept_bytes<max_element> data;   // the CDOL values sent
  kept_bytes<max_answer> answer;  // the answer's data
};

struct oda_inputs {
  std::array<std::uint8_t, 16> aid{};
  std::uint8_t aid_size = 0;
  std::array<kept_bytes<max_element>, static_cast<std::size_t>(element::count)> elements{};

  bool has_aip = false;
  std::array<std::uint8_t, 2> aip{};
  kept_bytes<max_element> afl;

  bool gpo_seen = false;
  kept_bytes<max_element> gpo_data;  // the PDOL values, after 83 L
  kept_bytes<max_element> gpo_sdad;  // 9F4B in the GPO answer or a record after it (fDDA)

  bool internal_authenticate_seen = false;
  std::uint64_t internal_authenticate_line = 0;
  kept_bytes<max_element> internal_authenticate_data;
  kept_bytes<max_element> internal_authenticate_sdad;

  std::array<kept_generate_ac, 2> generate_acs{};
  std::uint8_t generate_ac_count = 0;

  std::array<kept_record, max_records> records{};
  std::uint8_t record_count = 0;
  std::uint32_t records_dropped = 0;

  const kept_bytes<max_element>& get(element e) const {
    return elements[static_cast<std::size_t>(e)];
  }
  const kept_record* find_record(std::uint8_t sfi, std::uint8_t number) const;
  // As a fresh value, but without writing the stores' 17 KiB: sessions are many and short.
  void clear();
};

class collector {
 public:
  void start_session() { inputs_.clear(); }
  void take_exchange(std::span<const std::uint8_t> command, std::span<const std::uint8_t> answer,
                     std::uint16_t status, std::uint64_t line);
  const oda_inputs& inputs() const { return inputs_; }

 private:
  void keep_elements(std::span<const std::uint8_t> data, int depth);
  oda_inputs inputs_;
};

// BER-TLV reading the collector and the checks share: one element at the front of
// `bytes`. False when it is not whole.
struct tlv_item {
  std::uint32_t tag = 0;
  bool constructed = false;
  std::span<const std::uint8_t> value;
  std::span<const std::uint8_t> whole;  // tag, length and value
};
bool read_tlv(std::span<const std::uint8_t> bytes, tlv_item& item);

// The value of `tag` in a DOL's data: where the list puts it, or empty when the list
// does not name it or the data is too short.
std::span<const std::uint8_t> dol_value(std::span<const std::uint8_t> dol,
                                        std::span<const std::uint8_t> data, std::uint32_t tag);

}  // namespace emvtlv::oda
