#include "console/console.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <span>

#include "common/hex.h"
#include "common/output_sink.h"
#include "tlv/walk.h"

#include <emmintrin.h>

namespace emvtlv {
namespace {

// Anything but two plain digits (white space, signs, "0x", a lone digit) goes to the
// library scan itself, so its rules hold exactly; a failed scan leaves 00.
[[gnu::noinline, gnu::cold]] std::uint8_t scan_hex_step_with_library(const char* text) {
  unsigned char value = 0;
  std::sscanf(text, "%2hhx", &value);
  return value;
}

constexpr std::size_t input_block_size = 128 * 1024;
constexpr std::size_t output_block_size = 128 * 1024;

// Hands out input a line at a time, cut where fgets(buffer, 512, stream) cuts it,
// from blocks read as large as the source gives them.
class line_reader {
 public:
  enum class status { line, need_input, end_of_input, read_error };

  status next(std::string_view& line) {
    const std::size_t held = end_ - begin_;
    const char* start = buffer_.data() + begin_;
    const std::size_t window = std::min(held, max_line_chars);
    const void* newline = std::memchr(start, '\n', window);
    std::size_t length = 0;
    if (newline != nullptr) {
      length = static_cast<std::size_t>(static_cast<const char*>(newline) - start) + 1;
    } else if (held >= max_line_chars || (at_end_ && held > 0)) {
      length = window;
    } else if (at_end_) {
      return failed_ ? status::read_error : status::end_of_input;
    } else {
      return status::need_input;
    }
    line = std::string_view(start, length);
    begin_ += length;
    return status::line;
  }

  // One read. End of input is sticky, as it is for a C stream. A read error drops
  // a partial line, as fgets does.
  void fill(input_source in) {
    if (begin_ > 0) {
      std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    const std::ptrdiff_t got = in.read(in.context, buffer_.data() + end_, buffer_.size() - end_);
    if (got > 0) {
      end_ += static_cast<std::size_t>(got);
    } else {
      at_end_ = true;
      if (got < 0) {
        failed_ = true;
        begin_ = end_;
      }
    }
  }

 private:
  std::array<char, input_block_size> buffer_;  // only what a read filled is looked at
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool at_end_ = false;
  bool failed_ = false;
};

bool drain(output_sink& sink, output_target out) {
  const bool written = sink.size() == 0 || out.write(out.context, sink.view().data(), sink.size());
  sink.clear();
  return written;
}

constexpr std::size_t label_block = 32;

// "12:" for line 12. Counted up in its decimal text, carrying as on paper: cheaper
// than formatting the number again for every line.
class line_label {
 public:
  line_label() { std::memcpy(text_.data(), "1:", 2); }
  void next() {
    std::size_t at = size_ - 1;  // the colon
    while (at > 0 && text_[at - 1] == '9')
      text_[--at] = '0';
    if (at > 0) {
      ++text_[at - 1];
      return;
    }
    // All nines: one more digit, a 1 and then the zeros already there.
    text_[0] = '1';
    text_[size_ - 1] = '0';
    text_[size_] = ':';
    ++size_;
  }
  std::string_view view() const { return {text_.data(), size_}; }
  // The text in a block of label_block characters, zero past the label: copied whole.
  const char* block() const { return text_.data(); }

 private:
  std::array<char, label_block> text_{};  // 20 digits and a colon hold any 64-bit count
  std::size_t size_ = 2;
};

// Copies one record's output into `sink`, every line led by `label`. Copied 16 bytes a
// step, the newlines found by the same compare; each piece of the text is given room
// for the most lines it can hold and the room left over is given back, so there is no
// counting pass. Whole-block stores may reach past a line, into room written next.
void append_labelled(output_sink& sink, std::string_view lines, const line_label& label) {
  constexpr std::size_t block = 16;
  constexpr std::size_t piece = 256;  // text a reservation is for, at least
  constexpr std::size_t most = piece + block;
  const std::size_t label_size = label.view().size();
  const std::size_t room = most + (most + 1) * label_size + label_block;
  const __m128i newline = _mm_set1_epi8('\n');
  const char* from = lines.data();
  const char* const end = from + lines.size();
  bool line_start = true;
  while (from < end) {
    const char* const piece_end = from + std::min(piece, static_cast<std::size_t>(end - from));
    char* const first = sink.extend(room);
    char* at = first;
    while (from < piece_end) {
      if (line_start) {
        std::memcpy(at, label.block(), label_block);
        at += label_size;
      }
      const auto left = static_cast<std::size_t>(end - from);
      __m128i bytes;
      if (left >= block) {
        bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
      } else {
        std::array<char, block> tail{};
        std::memcpy(tail.data(), from, left);
        bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tail.data()));
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(at), bytes);
      auto found = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, newline)));
      if (left < block) found &= (1U << left) - 1;
      line_start = found != 0;
      const std::size_t step = line_start ? static_cast<std::size_t>(std::countr_zero(found)) + 1
                                          : std::min(block, left);
      from += step;
      at += step;
    }
    sink.drop_back(room - static_cast<std::size_t>(at - first));
  }
}

// Whether a record's lines hold one of the walk's or the printers' messages; no name
// in the dictionary holds these words, and values are hex.
bool has_message(std::string_view lines) {
  for (const std::string_view word : {"unknown tag\n", " allowed", "PAN length "})
    if (lines.find(word) != std::string_view::npos) return true;
  return false;
}

// Whether the last of `count` steps over `line` read one hex digit and then the end: a
// byte below 10 whose high half no input gave.
bool ends_in_lone_digit(const std::array<char, line_buffer_size>& line, std::int32_t count) {
  if (count <= 0) return false;
  const std::size_t last = 2 * static_cast<std::size_t>(count - 1);
  const char c = line[last];
  const bool hex_digit = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  return hex_digit && line[last + 1] == '\0';
}

}  // namespace

std::uint8_t scan_hex_step(const char* text) {
  std::uint8_t value = 0;
  if (decode_hex_pairs_unchecked(text, 1, &value) == 1) return value;
  return scan_hex_step_with_library(text);
}

std::int32_t decode_record(const std::array<char, line_buffer_size>& line,
                           std::array<std::uint8_t, record_buffer_size>& record) {
  std::int32_t count = 0;
  // The stop test looks at the raw buffer, not the cut text: a NUL inside the line
  // ends each scan but not the decoding (A, NUL, B gives 0A 0B).
  while (count < max_record_bytes && line[2 * static_cast<std::size_t>(count)] != '\0') {
    const auto at = static_cast<std::size_t>(count);
    record[at] = scan_hex_step(&line[2 * at]);
    ++count;
  }
  return count;
}

decoded_record decode_line(std::string_view text, std::array<char, line_buffer_size>& line,
                           std::array<std::uint8_t, record_buffer_size>& record) {
  // Fast path: a line of nothing but hex digit pairs (then perhaps its newline) holds
  // no NUL, white space, sign or odd step, so the pairs are the bytes.
  const std::size_t digits = text.size() - (text.ends_with('\n') ? 1 : 0);
  if (digits % 2 == 0 &&
      decode_hex_pairs_unchecked(text.data(), digits / 2, record.data()) == digits / 2)
    return {static_cast<std::int32_t>(digits / 2)};

  // Anything else takes the exact road: the line buffer as fgets leaves it, cut where
  // strcspn finds the first newline (a NUL before it hides it). Only the bytes this
  // line can reach need clearing: the text, its terminator and the odd-length stop
  // test one past it.
  std::memcpy(line.data(), text.data(), text.size());
  line[text.size()] = '\0';
  line[text.size() + 1] = '\0';
  line[std::strcspn(line.data(), "\n")] = '\0';
  const std::int32_t count = decode_record(line, record);
  return {count, ends_in_lone_digit(line, count) ? last_byte::low_half : last_byte::whole};
}

int run_console(input_source in, output_target out, const console_options& options) {
  line_reader reader;
  output_sink sink(2 * output_block_size);
  output_sink record_output;  // with line numbers, one record's lines before labelling
  line_label label;
  std::array<char, line_buffer_size> line{};
  std::array<std::uint8_t, record_buffer_size> record{};
  hidden_nibbles hidden(record_buffer_size);  // the record scan's marks, made once
  const bool talk = !options.quiet;
  bool problems = false;  // with strict: a record printed a message

  if (talk && options.banner) sink.append(banner);
  for (;;) {
    if (talk) sink.append(prompt);
    std::string_view text;
    line_reader::status got = reader.next(text);
    while (got == line_reader::status::need_input) {
      // Whoever drives us may be waiting for the prompt before it writes the line.
      if (!drain(sink, out)) return 1;
      reader.fill(in);
      got = reader.next(text);
    }
    if (got != line_reader::status::line) {
      if (talk) sink.put('\n');
      const bool written = drain(sink, out);
      if (got != line_reader::status::end_of_input || !written) return 1;
      return problems ? 1 : 0;
    }

    if (talk) sink.put('\n');
    const decoded_record decoded = decode_line(text, line, record);
    if (options.line_numbers) {
      record_output.clear();
      process_emv(record, decoded.count, record_output, hidden, decoded.end);
      if (options.strict && has_message(record_output.view())) problems = true;
      append_labelled(sink, record_output.view(), label);
      // A piece of a longer line keeps its number for the next piece.
      if (text.ends_with('\n')) label.next();
    } else {
      const std::size_t before = sink.size();
      process_emv(record, decoded.count, sink, hidden, decoded.end);
      if (options.strict && has_message(sink.view().substr(before))) problems = true;
    }
    if (sink.size() >= output_block_size && !drain(sink, out)) return 1;
  }
}

}  // namespace emvtlv
