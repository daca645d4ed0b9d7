// Card-number masking: the one place that decides which printed digits of a card
// number, and which card codes, are hidden. Every printer that shows record bytes in
// hex (or as text) runs them through here.
//
// Two layers, both applied to every value printed:
// - The element rules, for elements the parse places: by tag and declared length.
// - The record scan (hidden_nibbles), which looks at every offset of the record's
//   bytes whatever their framing, so a card number read as part of another value, or
//   cut short, or written as ASCII digits in a text field, is hidden too.
//
// Contract and limits:
// - Works on printed hex (two characters a byte, upper case as the printers write it;
//   the separators are recognised in either case) in place; the text keeps its length
//   and form, masked characters become 'X'.
// - Element rules: 5A, all but the last four characters (trailing F pad kept and not
//   counted); 57, and 9F6B unless its declared length is 6 and it holds no D (Visa's
//   Card CVM Limit), every character before the first D (all of it without one) but
//   the last four; 56 (Track 1, ASCII), each PAN character, from after a leading 'B'
//   (from the first character without one) up to the first '^', as "XX", but the last
//   four. A value cut short by the record's end hides every digit it shows.
// - Sensitive authentication data (the decoding modes only; the classic console's
//   output is fixed): the discretionary data of 57 and 9F6B after the service code and
//   of 56 after the expiry and service code, and the whole of 9F1F, 9F20 and 99.
// - Nothing allocates but hidden_nibbles' storage, made once; no read leaves the spans
//   given.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string_view>

#include "common/record_view.h"

namespace emvtlv {

enum class card_mask : std::uint8_t { none, pan, track2, track1 };

// Every tag an element rule or the hiding of card codes may apply to, and a table of
// their last octets: one look answers "no rule" for nearly every element printed.
inline constexpr std::array<std::uint64_t, 7> maskable_tags = {0x5A,   0x57,   0x56, 0x9F6B,
                                                               0x9F1F, 0x9F20, 0x99};
inline constexpr std::array<bool, 256> maskable_tag_ends = [] {
  std::array<bool, 256> ends{};
  for (const std::uint64_t tag : maskable_tags)
    ends[tag & 0xFF] = true;
  return ends;
}();
inline bool may_be_masked(std::uint64_t tag) noexcept {
  return maskable_tag_ends[tag & 0xFF];
}

// Which rule a primitive element's value falls under. `tag` is the tag octets as one
// big-endian number; `hex` is its value as printed.
card_mask card_mask_for(std::uint64_t tag, std::uint64_t declared_length, std::string_view hex);

// Masks the printed hex of one value under `rule`; `cut_short` (the declared length runs
// past the record) hides every digit.
void apply_card_mask(card_mask rule, std::span<char> hex, bool cut_short = false);

// Hides the sensitive authentication data of one value printed in hex: see above.
void hide_authentication_data(std::uint64_t tag, card_mask rule, std::span<char> hex);

// Whether the decoding modes hide the whole value of this tag (9F1F, 9F20, 99).
bool is_hidden_whole(std::uint64_t tag);

// Whether a tag (octets as one big-endian number) is a template: its first octet has
// bit 20 set, so its value is itself a run of elements.
bool is_template_tag(std::uint64_t tag);

// How a template's value is cut into elements, and for which output. console: as the
// classic console reads lengths (short, 81 to 83), discretionary data shown. tree: as
// the tree parser reads them (up to 84), discretionary data hidden. In both, an element
// whose length cannot be read (80, or a longer field) holds every byte left in its
// template, masked under its own tag's rule and still read on as elements; one whose
// header is cut short by its template's end ends that template.
enum class template_framing : std::uint8_t { console, tree };

// A template's value printed as one hex string (`hex` shows `value`, two characters
// a byte; hex past 2 * value.size() is left alone, a shorter hex is masked as far as it
// goes): walks the value as BER-TLV and masks every card-number value inside it.
// - 00 octets where a tag would start are padding and skipped; tags may have any
//   number of octets; lengths as `framing` says.
// - Templates nest to any depth (no recursion); each element is read inside the
//   template that holds it. One whose value runs past that template's end is cut at
//   the end and masked as far as it goes. One cut short: the walk goes on after it in
//   the template around it, and stops at the outermost level. Past 128 open templates
//   deeper ones are walked as part of the one around them (their own ends are not kept).
// - One pass: a rule applied to the bytes left after an unreadable length is not applied
//   again to a part of them it already covered. Returns the octets and characters looked
//   at, which stays within a small multiple of the value's size.
// - A header octet that `hidden` hides (the value lying in the scanned record) ends the
//   walk: hidden digits never decide how the bytes after them are read. An element whose
//   value reaches the last byte of a record that ends in half a byte is cut short.
class hidden_nibbles;
std::size_t mask_template_value(std::span<const std::uint8_t> value, std::span<char> hex,
                                template_framing framing, const hidden_nibbles& hidden);

// The nibbles of one record that print as X wherever they show, found by a scan of
// every offset of the record's bytes, however they are framed. At every offset, with a
// length of one octet or 81 to 84 and that many octets:
// - 5A of 4 to 10 octets, whole, 12 or more digits (then only F pad), Luhn-valid: all
//   digits but the last four. Cut short by the record's end, only digits, 8 or more: all.
// - 57, or 9F6B (unless 6 octets with no D), of 1 to 32 octets: 12 to 19 digits (an odd
//   count perhaps padded with F), then D, Luhn-valid: all but the last four. No D, cut
//   short, only digits, 8 or more: all.
// - 56 of 1 to 79 octets: after a leading 'B', 12 to 19 ASCII digits then '^',
//   Luhn-valid: all but the last four. Cut short before any '^', only digits, 8 or more:
//   all.
// - Any run of 12 or more bytes 30 to 39: all but the last four of the run.
// A record whose last byte holds only its low half (the console's lone last hex digit)
// cuts short every value that reaches that byte, whatever its length says: such a value
// is judged by its whole bytes, and hides its lone digit with the others.
// The contract every rule keeps, so that what the hidden digits are changes nothing
// else that is hidden: a rule reads no hidden byte as what it is. The runs go first;
// then the headers from the record's last, each on the record's raw bytes, reading what
// those after it hid as digits whose Luhn check passes unread. So a value that runs
// over another match reads none of its hidden digits, and a match inside another's
// hidden digits is still found (its header, a chance byte or not, is never itself
// hidden by it). A match inside another's value is judged first, before it is known
// what the one around it hides: so a Luhn check also passes unread over bytes that any
// other header may hide (read on raw bytes: a number's 8 or more leading digits;
// with a D or '^' after them, or for 9F1F and 9F20, the whole value). Only a 57 at a
// track's first number byte whose number ends at the same D is not "other": its check is
// the track's own less its header's digits, so it decides alike. A value that runs over
// another match's header and hides nothing read that way is judged as cut short at that
// header: 8 or more digits before it are hidden.
// A length is read only from bytes nothing hid. One sweep looks at 64 bytes a step for
// the bytes that may matter (ASCII digits, a card tag's first octet); only those cost more.
class hidden_nibbles {
 public:
  // Storage for records of up to `max_bytes` bytes, made once. With `card_codes` (the
  // decoding modes), a track the scan finds also hides its discretionary data, as a
  // track the parse places does: after track 2's expiry and service code, and after
  // track 1's second '^', its expiry and service code; and a 9F1F or 9F20 found whole
  // anywhere, as printable ASCII or as digits, hides its whole value.
  explicit hidden_nibbles(std::size_t max_bytes, bool card_codes = false);

  // Scans the record (its first max_bytes bytes) and keeps the marks until the next
  // scan. The record must stay where it is while the marks are used.
  void scan(std::span<const std::uint8_t> record, last_byte end = last_byte::whole);

  bool any() const noexcept { return any_; }
  // Whether either nibble of the record byte at `at` is hidden (false for a byte that
  // is not in the scanned record).
  bool hides_byte(const std::uint8_t* at) const noexcept {
    std::size_t offset = 0;
    return any_ && offset_of(at, offset) && hides_offset(offset);
  }
  // Whether either nibble of the scanned record's byte at `offset` is hidden (false past
  // its end): for a parser walking the very bytes it had scanned.
  bool hides_record_offset(std::size_t offset) const noexcept {
    return any_ && offset < size_ && hides_offset(offset);
  }
  // Where `at` lies in the scanned record; false for a byte outside it.
  bool record_offset(const std::uint8_t* at, std::size_t& offset) const noexcept {
    return offset_of(at, offset);
  }
  // Whether the n bytes from `first` end at the scanned record's last byte and it holds
  // only its low half: a value printed there is cut short.
  bool ends_in_half_byte(const std::uint8_t* first, std::size_t n) const noexcept {
    std::size_t offset = 0;
    return half_last_ && n > 0 && offset_of(first, offset) && offset + n == size_;
  }
  // Whether any nibble of the n record bytes from `first` is hidden.
  bool hides_any(const std::uint8_t* first, std::size_t n) const noexcept;
  // Writes X over the hidden nibbles in `hex`, the printed form (two characters a byte)
  // of the record bytes from `first`; hex of bytes outside the record is left alone.
  void apply(const std::uint8_t* first, std::span<char> hex) const noexcept;

 private:
  bool nibble(std::size_t n) const noexcept { return (words_[n / 64] >> (n % 64) & 1U) != 0; }
  // Both nibbles of a byte sit in one word.
  bool hides_offset(std::size_t offset) const noexcept {
    return (words_[offset / 32] >> (2 * (offset % 32)) & 3U) != 0;
  }
  void mark(std::size_t first_nibble, std::size_t count) noexcept;
  bool offset_of(const std::uint8_t* at, std::size_t& offset) const noexcept {
    const std::less_equal<const std::uint8_t*> not_after;
    if (size_ == 0 || !not_after(base_, at) || not_after(base_ + size_, at)) return false;
    offset = static_cast<std::size_t>(at - base_);
    return true;
  }

  std::unique_ptr<std::uint64_t[]> words_;
  std::unique_ptr<std::uint64_t[]> header_words_;  // the scan's own: bytes that may start one
  std::unique_ptr<std::uint64_t[]> code_words_;    // and bytes in a 9F1F's or 9F20's value
  bool codes_marked_ = false;
  std::size_t capacity_ = 0;  // bytes
  bool card_codes_ = false;
  const std::uint8_t* base_ = nullptr;
  std::size_t size_ = 0;
  bool any_ = false;
  bool half_last_ = false;  // the record's last byte holds only its low half
  friend struct record_scan;
};

// Marks of nothing: for printers that show bytes of no scanned record.
const hidden_nibbles& nothing_hidden();

inline std::size_t mask_template_value(std::span<const std::uint8_t> value, std::span<char> hex,
                                       template_framing framing) {
  return mask_template_value(value, hex, framing, nothing_hidden());
}

}  // namespace emvtlv
