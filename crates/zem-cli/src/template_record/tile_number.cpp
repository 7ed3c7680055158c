#include "template_record/tile_number.hpp"

#include <fmt/format.h>

#include <cstddef>
#include <limits>

namespace zem::template_record {
namespace {

[[nodiscard]] bool is_continuation(unsigned char byte) { return (byte & 0xc0U) == 0x80U; }

// The number of bytes of the sequence that starts with `lead` and the allowed
// range of its second byte, which is where overlongs, surrogates and values
// above U+10FFFF are ruled out. Length 0 marks a byte that cannot lead.
struct LeadForm {
  std::size_t length;
  unsigned char second_min;
  unsigned char second_max;
};

[[nodiscard]] LeadForm lead_form(unsigned char lead) {
  if (lead < 0x80U) return {1, 0, 0};
  if (lead < 0xc2U) return {0, 0, 0};  // continuation byte, or overlong 2-byte form
  if (lead < 0xe0U) return {2, 0x80, 0xbf};
  if (lead == 0xe0U) return {3, 0xa0, 0xbf};  // below A0 would be overlong
  if (lead == 0xedU) return {3, 0x80, 0x9f};  // above 9F would be a surrogate
  if (lead < 0xf0U) return {3, 0x80, 0xbf};
  if (lead == 0xf0U) return {4, 0x90, 0xbf};  // below 90 would be overlong
  if (lead < 0xf4U) return {4, 0x80, 0xbf};
  if (lead == 0xf4U) return {4, 0x80, 0x8f};  // above 8F would exceed U+10FFFF
  return {0, 0, 0};
}

enum class ParseKind { Empty, InvalidDigit, PosOverflow };

[[nodiscard]] Failure parse_failure(ParseKind kind) {
  std::string_view name;
  switch (kind) {
    case ParseKind::Empty:
      name = "Empty";
      break;
    case ParseKind::InvalidDigit:
      name = "InvalidDigit";
      break;
    case ParseKind::PosOverflow:
      name = "PosOverflow";
      break;
  }
  return error_result("invalid physical tile number", name);
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const LeadForm form = lead_form(lead);
    if (form.length == 0) return false;
    if (form.length > bytes.size() - i) return false;  // cut off at the end
    if (form.length > 1) {
      const auto second = static_cast<unsigned char>(bytes[i + 1]);
      if (second < form.second_min || second > form.second_max) return false;
      for (std::size_t k = 2; k < form.length; ++k) {
        if (!is_continuation(static_cast<unsigned char>(bytes[i + k]))) return false;
      }
    }
    i += form.length;
  }
  return true;
}

Outcome<std::string_view> physical_tile_text(std::string_view raw) {
  if (!is_valid_utf8(raw)) {
    return std::unexpected(absent_value("physical tile argument is not valid UTF-8"));
  }
  return raw;
}

Outcome<std::uint32_t> parse_physical_tile(std::string_view text) {
  if (text.empty()) return std::unexpected(parse_failure(ParseKind::Empty));
  // A lone sign has no digits at all; it counts as a bad digit, not as empty.
  if (text == "+" || text == "-") return std::unexpected(parse_failure(ParseKind::InvalidDigit));
  if (text.front() == '+') text.remove_prefix(1);

  constexpr std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max();
  std::uint32_t value = 0;
  for (const char c : text) {
    // The character is judged before the value, so a non-digit right after
    // a still-fitting prefix is InvalidDigit, and overflow is PosOverflow
    // even when a non-digit follows later.
    if (c < '0' || c > '9') return std::unexpected(parse_failure(ParseKind::InvalidDigit));
    const auto digit = static_cast<std::uint32_t>(c - '0');
    if (value > (kMax - digit) / 10U) {
      return std::unexpected(parse_failure(ParseKind::PosOverflow));
    }
    value = value * 10U + digit;
  }
  return value;
}

}  // namespace zem::template_record
