// Test helpers: an input source that hands out a string in reads of a chosen size,
// and an output target that collects what is written.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "io/descriptors.h"

namespace emvtlv::test {

struct string_input {
  std::string_view text;
  std::size_t step = 1 << 20;  // the largest read handed out

  input_source source() { return {this, read}; }

  static std::ptrdiff_t read(void* context, char* buffer, std::size_t capacity) {
    auto& self = *static_cast<string_input*>(context);
    const std::size_t n = std::min({capacity, self.step, self.text.size()});
    std::memcpy(buffer, self.text.data(), n);
    self.text.remove_prefix(n);
    return static_cast<std::ptrdiff_t>(n);
  }
};

struct string_output {
  std::string text;

  output_target target() { return {this, write}; }

  static bool write(void* context, const char* data, std::size_t size) {
    static_cast<string_output*>(context)->text.append(data, size);
    return true;
  }
};

}  // namespace emvtlv::test
