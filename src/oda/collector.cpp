#include "oda/collector.h"

#include <algorithm>

#include "common/ber.h"

namespace emvtlv::oda {
namespace {

constexpr std::uint8_t ins_select = 0xA4;
constexpr std::uint8_t ins_read_record = 0xB2;
constexpr std::uint8_t ins_gpo = 0xA8;
constexpr std::uint8_t ins_internal_authenticate = 0x88;
constexpr std::uint8_t ins_generate_ac = 0xAE;

// The command's data (after Lc), or empty for a command without any.
std::span<const std::uint8_t> command_data(std::span<const std::uint8_t> command) {
  if (command.size() < 6) return {};
  const std::size_t lc = command[4];
  if (lc == 0 || command.size() < 5 + lc) return {};
  return command.subspan(5, lc);
}

bool is_environment(std::span<const std::uint8_t> name) {
  // "1PAY.SYS.DDF01" and "2PAY.SYS.DDF01".
  constexpr std::array<std::uint8_t, 4> pay{'P', 'A', 'Y', '.'};
  return name.size() >= 5 && (name[0] == '1' || name[0] == '2') &&
         std::equal(pay.begin(), pay.end(), name.begin() + 1);
}

// Where element_tags lists a tag, by its last byte: every element of every answer is
// looked up, and few are kept.
constexpr std::size_t no_element = 0xFF;
struct element_rows {
  std::array<std::uint8_t, 256> one_byte{};  // tags 00 to FF
  std::array<std::uint8_t, 256> nine_f{};    // tags 9F00 to 9FFF
};
static_assert(std::all_of(element_tags.begin(), element_tags.end(),
                          [](std::uint32_t tag) { return tag <= 0xFF || (tag >> 8) == 0x9F; }));
constexpr element_rows element_rows_by_tag = [] {
  element_rows rows{};
  rows.one_byte.fill(no_element);
  rows.nine_f.fill(no_element);
  for (std::size_t i = 0; i < element_tags.size(); ++i) {
    const std::uint32_t tag = element_tags[i];
    auto& row = tag <= 0xFF ? rows.one_byte : rows.nine_f;
    row[tag & 0xFF] = static_cast<std::uint8_t>(i);
  }
  return rows;
}();

std::size_t element_index(std::uint32_t tag) {
  if (tag <= 0xFF) return element_rows_by_tag.one_byte[tag];
  if ((tag >> 8) == 0x9F) return element_rows_by_tag.nine_f[tag & 0xFF];
  return no_element;
}

}  // namespace

bool read_tlv(std::span<const std::uint8_t> bytes, tlv_item& item) {
  const std::size_t tag_size = read_ber_tag(bytes, item.tag);
  if (tag_size == 0 || tag_size >= bytes.size()) return false;
  item.constructed = (bytes[0] & 0x20) != 0;
  std::size_t at = tag_size;
  std::size_t length = bytes[at++];
  if (length & 0x80) {
    const std::size_t octets = length & 0x7F;
    if (octets == 0 || octets > 2 || at + octets > bytes.size()) return false;
    length = 0;
    for (std::size_t i = 0; i < octets; ++i)
      length = (length << 8) | bytes[at++];
  }
  if (length > bytes.size() - at) return false;
  item.value = bytes.subspan(at, length);
  item.whole = bytes.subspan(0, at + length);
  return true;
}

std::span<const std::uint8_t> dol_value(std::span<const std::uint8_t> dol,
                                        std::span<const std::uint8_t> data, std::uint32_t tag) {
  std::size_t offset = 0;
  while (!dol.empty()) {
    std::uint32_t entry = 0;
    const std::size_t tag_size = read_ber_tag(dol, entry);
    if (tag_size == 0 || tag_size >= dol.size()) return {};
    const std::size_t length = dol[tag_size];
    dol = dol.subspan(tag_size + 1);
    if (entry == tag) {
      if (offset + length > data.size()) return {};
      return data.subspan(offset, length);
    }
    offset += length;
  }
  return {};
}

void oda_inputs::clear() {
  aid_size = 0;
  for (auto& e : elements)
    e.clear();
  has_aip = false;
  afl.clear();
  gpo_seen = internal_authenticate_seen = false;
  gpo_data.clear();
  gpo_sdad.clear();
  internal_authenticate_line = 0;
  internal_authenticate_data.clear();
  internal_authenticate_sdad.clear();
  for (auto& g : generate_acs) {
    g.p1 = 0;
    g.data.clear();
    g.answer.clear();
  }
  generate_ac_count = 0;
  record_count = 0;
  records_dropped = 0;
}

const kept_record* oda_inputs::find_record(std::uint8_t sfi, std::uint8_t number) const {
  for (std::size_t i = 0; i < record_count; ++i) {
    if (records[i].sfi == sfi && records[i].number == number) return &records[i];
  }
  return nullptr;
}

void collector::keep_elements(std::span<const std::uint8_t> data, int depth) {
  tlv_item item;
  while (!data.empty() && read_tlv(data, item)) {
    data = data.subspan(item.whole.size());
    if (item.constructed) {
      if (depth < 4) keep_elements(item.value, depth + 1);
      continue;
    }
    const std::size_t found = element_index(item.tag);
    if (found == no_element) continue;
    auto& kept = inputs_.elements[found];
    if (!kept.present) kept.set(item.value);
  }
}

void collector::take_exchange(std::span<const std::uint8_t> command,
                              std::span<const std::uint8_t> answer, std::uint16_t status,
                              std::uint64_t line) {
  if (command.size() < 4 || status != 0x9000) return;
  const std::uint8_t ins = command[1];
  // Most exchanges of a session are none of these: they cost one look.
  if (ins != ins_select && ins != ins_read_record && ins != ins_gpo &&
      ins != ins_internal_authenticate && ins != ins_generate_ac)
    return;
  const std::uint8_t p1 = command[2];
  const std::uint8_t p2 = command[3];
  const auto data = command_data(command);
  switch (ins) {
    case ins_select: {
      if (is_environment(data) || data.size() < 5) return;
      inputs_.clear();
      inputs_.aid_size = static_cast<std::uint8_t>(std::min(data.size(), inputs_.aid.size()));
      std::copy_n(data.begin(), inputs_.aid_size, inputs_.aid.begin());
      keep_elements(answer, 0);
      return;
    }
    case ins_read_record: {
      keep_elements(answer, 0);
      // A contactless card may give its fDDA signature in a record read after GPO.
      tlv_item item;
      if (inputs_.gpo_seen && !inputs_.gpo_sdad.present && read_tlv(answer, item) &&
          item.tag == 0x70) {
        for (auto rest = item.value; !rest.empty() && read_tlv(rest, item);
             rest = rest.subspan(item.whole.size())) {
          if (item.tag == 0x9F4B) inputs_.gpo_sdad.set(item.value);
        }
      }
      if ((p2 & 0x07) != 0x04) return;
      const auto sfi = static_cast<std::uint8_t>(p2 >> 3);
      if (inputs_.find_record(sfi, p1) != nullptr) return;
      if (inputs_.record_count == max_records) {
        ++inputs_.records_dropped;
        return;
      }
      kept_record& kept = inputs_.records[inputs_.record_count++];
      kept.sfi = sfi;
      kept.number = p1;
      kept.data.set(answer);
      return;
    }
    case ins_gpo: {
      inputs_.gpo_seen = true;
      // The PDOL values follow 83 L.
      if (data.size() >= 2 && data[0] == 0x83 && data[1] <= data.size() - 2) {
        inputs_.gpo_data.set(data.subspan(2, data[1]));
      }
      tlv_item item;
      if (!read_tlv(answer, item)) return;
      if (item.tag == 0x80 && item.value.size() >= 2) {
        inputs_.has_aip = true;
        std::copy_n(item.value.begin(), 2, inputs_.aip.begin());
        inputs_.afl.set(item.value.subspan(2));
        return;
      }
      if (item.tag != 0x77) return;
      keep_elements(item.value, 1);
      for (auto rest = item.value; !rest.empty() && read_tlv(rest, item);
           rest = rest.subspan(item.whole.size())) {
        if (item.tag == 0x82 && item.value.size() == 2) {
          inputs_.has_aip = true;
          std::copy_n(item.value.begin(), 2, inputs_.aip.begin());
        } else if (item.tag == 0x94) {
          inputs_.afl.set(item.value);
        } else if (item.tag == 0x9F4B) {
          inputs_.gpo_sdad.set(item.value);
        }
      }
      return;
    }
    case ins_internal_authenticate: {
      if (inputs_.internal_authenticate_seen) return;
      inputs_.internal_authenticate_seen = true;
      inputs_.internal_authenticate_line = line;
      inputs_.internal_authenticate_data.set(data);
      tlv_item item;
      if (!read_tlv(answer, item)) return;
      if (item.tag == 0x80) {
        inputs_.internal_authenticate_sdad.set(item.value);
        return;
      }
      if (item.tag != 0x77) return;
      for (auto rest = item.value; !rest.empty() && read_tlv(rest, item);
           rest = rest.subspan(item.whole.size())) {
        if (item.tag == 0x9F4B) inputs_.internal_authenticate_sdad.set(item.value);
      }
      return;
    }
    case ins_generate_ac: {
      if (inputs_.generate_ac_count == inputs_.generate_acs.size()) return;
      kept_generate_ac& kept = inputs_.generate_acs[inputs_.generate_ac_count++];
      kept.p1 = p1;
      kept.line = line;
      kept.data.set(data);
      kept.answer.set(answer);
      return;
    }
    default:
      return;
  }
}

}  // namespace emvtlv::oda
