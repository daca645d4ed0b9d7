#include "tree/hex_lines.h"

namespace emvtlv {

hex_line_reader::hex_line_reader() = default;

hex_line_reader::status hex_line_reader::next(hex_line&) {
  return status::end_of_input;
}

void hex_line_reader::fill(input_source) {}

}  // namespace emvtlv
