#include "trace/reading.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "common/hex.h"
#include "emv/elements.h"
#include "emv/payment_systems.h"

namespace emvtlv::trace {

void text_buffer::put(std::string_view text) {
  const std::size_t n = std::min(text.size(), data.size() - size);
  if (n > 0) std::memcpy(data.data() + size, text.data(), n);
  size += n;
}

void text_buffer::put_number(std::uint64_t n) {
  std::array<char, 20> digits{};
  const auto done = std::to_chars(digits.data(), digits.data() + digits.size(), n);
  put({digits.data(), static_cast<std::size_t>(done.ptr - digits.data())});
}

void text_buffer::put_hex(std::uint8_t b) {
  put({&hex_pairs[2 * std::size_t{b}], 2});
}

void read_header(const apdu_command& c, command_id id, text_buffer& r) {
  switch (id) {
    case command_id::select: {
      if (c.p1 == 0x04) {
        r.put(" by name");
      } else {
        r.put(" by P1 ");
        r.put_hex(c.p1);
      }
      if ((c.p2 & 0x03) == 0x00) {
        r.put(", first occurrence");
      } else if ((c.p2 & 0x03) == 0x02) {
        r.put(", next occurrence");
      } else {
        r.put(", P2 ");
        r.put_hex(c.p2);
      }
      r.put(": ");
      const payment_environment environment = environment_of(c.data);
      if (environment != payment_environment::none) {
        r.put(environment == payment_environment::contact ? "1PAY.SYS.DDF01 (PSE, contact)"
                                                          : "2PAY.SYS.DDF01 (PPSE, contactless)");
        break;
      }
      for (std::size_t i = 0; i < std::min<std::size_t>(c.data.size(), 16); ++i)
        r.put_hex(c.data[i]);
      if (c.data.size() > 16) r.put("...");
      const payment_system* system = find_payment_system(c.data);
      if (system != nullptr) {
        r.put(" (");
        r.put(system->name);
        if (!kernel_name(system->kernel).empty()) {
          r.put(", ");
          r.put(kernel_name(system->kernel));
        }
        const std::string_view product = find_aid_product(c.data);
        if (!product.empty() && product != system->name) {
          r.put(", ");
          r.put(product);
        }
        r.put(")");
      }
      break;
    }
    case command_id::read_record:
      if ((c.p2 & 0x07) == 0x04) {
        r.put(": SFI ");
        r.put_number(c.p2 >> 3);
        r.put(", record ");
        r.put_number(c.p1);
      } else {
        r.put(": P1 ");
        r.put_hex(c.p1);
        r.put(", P2 ");
        r.put_hex(c.p2);
        r.put(" (P1 is not a record number)");
      }
      break;
    case command_id::generate_ac:
      r.put(": ");
      r.put(cryptogram_name(requested_type(c.p1)));
      r.put(" requested");
      if ((c.p1 & 0x10) != 0) r.put(", CDA requested");
      break;
    case command_id::get_data: {
      const std::uint32_t tag = c.p1 == 0 ? c.p2 : std::uint32_t{c.p1} << 8 | c.p2;
      r.put(": ");
      if (c.p1 != 0) r.put_hex(c.p1);
      r.put_hex(c.p2);
      const emv_element* element = find_emv_element(tag);
      r.put(" ");
      r.put(element == nullptr ? std::string_view("(unknown tag)") : element->name);
      break;
    }
    case command_id::verify:
      if (c.p2 == 0x80) {
        r.put(": plaintext offline PIN");
      } else if (c.p2 == 0x88) {
        r.put(": enciphered offline PIN");
      } else {
        r.put(": P2 ");
        r.put_hex(c.p2);
      }
      break;
    case command_id::get_response:
      r.put(": Le ");
      r.put_number(c.has_le ? (c.le == 0 ? 256 : c.le) : 0);
      break;
    case command_id::pin_change_unblock:
      r.put(c.p2 == 0x00 ? ": unblock" : ": change");
      break;
    case command_id::application_block:
    case command_id::application_unblock:
    case command_id::card_block:
      if (c.cla == 0x84 || c.cla == 0x8C) r.put(": secure messaging");
      break;
    case command_id::unknown:
      r.put("command INS ");
      r.put_hex(c.ins);
      r.put(" (CLA ");
      r.put_hex(c.cla);
      r.put(", P1 ");
      r.put_hex(c.p1);
      r.put(", P2 ");
      r.put_hex(c.p2);
      r.put(")");
      break;
    default:
      break;
  }
}

format1_layout format1_for(command_id id) {
  switch (id) {
    case command_id::get_processing_options:
      return format1_layout::after_gpo;
    case command_id::generate_ac:
      return format1_layout::after_generate_ac;
    case command_id::internal_authenticate:
      return format1_layout::after_internal_authenticate;
    default:
      return format1_layout::none;
  }
}

bool reads_log(const session_state& session, const apdu_command& c, command_id id) {
  return id == command_id::read_record && session.log_sfi != 0 && session.log_format.present &&
         (c.p2 & 0x07) == 0x04 && (c.p2 >> 3) == session.log_sfi;
}

// The values of the first element with `tag` in the tree of `bytes` (nodes at any depth).
std::span<const std::uint8_t> find_value(const tree_result& tree,
                                         std::span<const std::uint8_t> bytes, std::uint64_t tag) {
  for (const tree_node& node : tree.nodes)
    if (node.tag == tag && !node.constructed && node.problem == node_problem::none)
      return bytes.subspan(node.value_offset, node.value_size);
  return {};
}

bool has_tag(const tree_result& tree, std::uint64_t tag) {
  for (const tree_node& node : tree.nodes)
    if (node.tag == tag && node.problem == node_problem::none) return true;
  return false;
}

void learn(session_state& session, const apdu_command& c, command_id id, const exchange& x,
           tree_parser& parser, std::span<std::uint8_t> rebuilt_room) {
  const std::span<const std::uint8_t> answer = x.answer;
  const bool success = x.has_status && x.status == 0x9000;
  const tree_result tree = parser.parse_data(answer);
  switch (id) {
    case command_id::select: {
      if (!success) break;
      const payment_environment environment = environment_of(c.data);
      if (environment != payment_environment::none) {
        session.context.environment = environment;
        session.pse_selected = true;
        break;
      }
      session.select_aid(c.data);
      if (has_tag(tree, 0x9F38)) session.pdol.set(find_value(tree, answer, 0x9F38));
      const std::span<const std::uint8_t> label = find_value(tree, answer, 0x50);
      session.label_size = static_cast<std::uint8_t>(std::min(label.size(), session.label.size()));
      for (std::size_t i = 0; i < session.label_size; ++i)
        session.label[i] = static_cast<char>(label[i]);
      // The Log Entry: the SFI of the transaction log and how many records it holds.
      if (const std::span<const std::uint8_t> entry = find_value(tree, answer, 0x9F4D);
          entry.size() == 2) {
        session.log_sfi = entry[0];
        session.log_records = entry[1];
      }
      break;
    }
    case command_id::get_processing_options: {
      if (!success) break;
      if (!tree.nodes.empty() && tree.nodes[0].tag == 0x80) {
        const std::span<const std::uint8_t> value =
            answer.subspan(tree.nodes[0].value_offset, tree.nodes[0].value_size);
        if (value.size() >= 2) {
          session.has_aip = true;
          session.aip = {value[0], value[1]};
          session.afl.set(value.subspan(2));
        }
        break;
      }
      const std::span<const std::uint8_t> aip = find_value(tree, answer, 0x82);
      if (aip.size() == 2) {
        session.has_aip = true;
        session.aip = {aip[0], aip[1]};
      }
      if (has_tag(tree, 0x94)) session.afl.set(find_value(tree, answer, 0x94));
      const std::span<const std::uint8_t> cid = find_value(tree, answer, 0x9F27);
      if (cid.size() == 1) {
        session.gpo_cryptogram = true;
        session.gpo_returned = returned_type(cid[0]);
      }
      break;
    }
    case command_id::read_record:
      if (!success || (c.p2 & 0x07) != 0x04) break;
      session.mark_read(static_cast<std::uint8_t>(c.p2 >> 3), c.p1);
      if (has_tag(tree, 0x8C)) session.cdol1.set(find_value(tree, answer, 0x8C));
      if (has_tag(tree, 0x8D)) session.cdol2.set(find_value(tree, answer, 0x8D));
      if (has_tag(tree, 0x9F49)) session.ddol.set(find_value(tree, answer, 0x9F49));
      if (has_tag(tree, 0x9F69)) session.udol.set(find_value(tree, answer, 0x9F69));
      break;
    case command_id::generate_ac: {
      const std::uint32_t index = session.generate_acs++;
      // The CVM Results the terminal sent, from the data split by CDOL1 or CDOL2.
      const stored_list& list = index == 0 ? session.cdol1 : session.cdol2;
      if (list.present) {
        const split_result split = split_by_list(list.view(), c.data, rebuilt_room);
        const std::span<const std::uint8_t> rebuilt(rebuilt_room.data(), split.written);
        const tree_result data_tree = parser.parse_data(rebuilt);
        const std::span<const std::uint8_t> cvm = find_value(data_tree, rebuilt, 0x9F34);
        if (cvm.size() == 3) {
          session.has_cvm_results = true;
          std::memcpy(session.cvm_results.data(), cvm.data(), 3);
        }
      }
      if (index >= session.cryptograms.size()) break;
      generate_ac_record& g = session.cryptograms[index];
      g.requested = requested_type(c.p1);
      g.cda = (c.p1 & 0x10) != 0;
      if (!success) break;
      const tree_result again = parser.parse_data(answer);
      if (!again.nodes.empty() && again.nodes[0].tag == 0x80 && again.nodes[0].value_size >= 1) {
        g.answered = true;
        g.returned = returned_type(answer[again.nodes[0].value_offset]);
      } else if (const std::span<const std::uint8_t> cid = find_value(again, answer, 0x9F27);
                 cid.size() == 1) {
        g.answered = true;
        g.returned = returned_type(cid[0]);
      }
      break;
    }
    case command_id::get_data:
      if (success && c.p1 == 0x9F && c.p2 == 0x4F && has_tag(tree, 0x9F4F))
        session.log_format.set(find_value(tree, answer, 0x9F4F));
      break;
    case command_id::verify:
      if (!x.has_status) break;
      ++session.verifies;
      session.verify_p2 = c.p2;
      session.verify_status = x.status;
      if ((x.status & 0xFFF0) == 0x63C0) ++session.verify_wrong;
      break;
    case command_id::compute_cryptographic_checksum:
      session.checksum = session.checksum || success;
      break;
    default:
      break;
  }
}

}  // namespace emvtlv::trace
