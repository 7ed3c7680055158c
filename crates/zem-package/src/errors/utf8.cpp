#include "zem_package/utf8.hpp"

namespace zem {
namespace {

constexpr bool is_continuation(std::uint8_t byte) { return (byte & 0xc0) == 0x80; }

// The valid range of the byte after a lead byte; the narrower ranges exclude
// overlong forms (E0, F0), surrogates (ED) and values above U+10FFFF (F4).
struct SecondByteRange {
  std::uint8_t low;
  std::uint8_t high;
};

constexpr SecondByteRange second_byte_range(std::uint8_t lead) {
  switch (lead) {
    case 0xe0:
      return {0xa0, 0xbf};
    case 0xed:
      return {0x80, 0x9f};
    case 0xf0:
      return {0x90, 0xbf};
    case 0xf4:
      return {0x80, 0x8f};
    default:
      return {0x80, 0xbf};
  }
}

constexpr std::size_t sequence_width(std::uint8_t lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xc2 && lead <= 0xdf) return 2;
  if (lead >= 0xe0 && lead <= 0xef) return 3;
  if (lead >= 0xf0 && lead <= 0xf4) return 4;
  return 0;  // a continuation byte, an overlong lead (C0, C1) or F5..FF
}

}  // namespace

std::optional<Utf8Fault> check_utf8(std::span<const std::uint8_t> bytes) noexcept {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::uint8_t lead = bytes[i];
    const std::size_t width = sequence_width(lead);
    if (width == 1) {
      ++i;
      continue;
    }
    if (width == 0) {
      return Utf8Fault{i, 1};
    }
    // Check the continuation bytes one by one: the first wrong one ends the
    // bad sequence, and running out of text first means it is unfinished.
    for (std::size_t k = 1; k < width; ++k) {
      if (i + k >= bytes.size()) {
        return Utf8Fault{i, std::nullopt};
      }
      const std::uint8_t byte = bytes[i + k];
      const bool fits =
          k == 1 ? byte >= second_byte_range(lead).low && byte <= second_byte_range(lead).high
                 : is_continuation(byte);
      if (!fits) {
        return Utf8Fault{i, static_cast<std::uint8_t>(k)};
      }
    }
    i += width;
  }
  return std::nullopt;
}

char32_t next_code_point(std::string_view& text) noexcept {
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
  const std::size_t width = sequence_width(byte(0));
  char32_t code = 0;
  switch (width) {
    case 2:
      code = byte(0) & 0x1fU;
      break;
    case 3:
      code = byte(0) & 0x0fU;
      break;
    case 4:
      code = byte(0) & 0x07U;
      break;
    default:
      code = byte(0);
      break;
  }
  const std::size_t taken = width < 1 || width > text.size() ? 1 : width;
  for (std::size_t k = 1; k < taken; ++k) {
    code = (code << 6) | (byte(k) & 0x3fU);
  }
  text.remove_prefix(taken);
  return code;
}

}  // namespace zem
