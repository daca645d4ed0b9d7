#include "cli/line_labels.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "common/output_sink.h"
#include "writers/json_lines.h"

namespace emvtlv::cli {
namespace {

constexpr std::size_t block_size = 64 * 1024;

bool flush(line_labeller& labeller) {
  const bool written =
      labeller.held == 0 ||
      labeller.target.write(labeller.target.context, labeller.block.get(), labeller.held);
  labeller.held = 0;
  return written;
}

bool put(line_labeller& labeller, const char* data, std::size_t size) {
  if (labeller.held + size > block_size && !flush(labeller)) return false;
  if (size > block_size) return labeller.target.write(labeller.target.context, data, size);
  std::memcpy(labeller.block.get() + labeller.held, data, size);
  labeller.held += size;
  return true;
}

bool write_labelled(void* context, const char* data, std::size_t size) {
  auto& labeller = *static_cast<line_labeller*>(context);
  const std::string& label = labeller.label;
  while (size > 0) {
    if (labeller.column < labeller.after) {
      // The line's first bytes, before the label's place.
      const std::size_t n = std::min(size, labeller.after - labeller.column);
      if (!put(labeller, data, n)) return false;
      labeller.column += n;
      if (std::memchr(data, '\n', n) != nullptr) labeller.column = 0;
      data += n;
      size -= n;
      continue;
    }
    if (labeller.column == labeller.after) {
      if (*data != '\n' && !put(labeller, label.data(), label.size())) return false;
      ++labeller.column;
    }
    const char* newline = static_cast<const char*>(std::memchr(data, '\n', size));
    const std::size_t n = newline == nullptr ? size : static_cast<std::size_t>(newline - data) + 1;
    if (!put(labeller, data, n)) return false;
    if (newline != nullptr) labeller.column = 0;
    data += n;
    size -= n;
  }
  return flush(labeller);
}

}  // namespace

std::string_view label_name(std::string_view file_name) {
  return file_name == "-" ? "(standard input)" : file_name;
}

line_labeller make_line_labeller(output_target target, std::string_view file_name, bool json) {
  line_labeller labeller;
  labeller.target = target;
  if (json) {
    output_sink field;
    field.append("\"file\":");
    put_json_string(field, label_name(file_name));
    field.put(',');
    labeller.label = field.view();
    labeller.after = 1;
  } else {
    labeller.label = std::string(label_name(file_name)) + ":";
  }
  labeller.block = std::make_unique_for_overwrite<char[]>(block_size);
  return labeller;
}

output_target labelled_target(line_labeller& labeller) {
  return {&labeller, write_labelled};
}

}  // namespace emvtlv::cli
