#include "template_record/tile_number.hpp"

#include <fmt/format.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

#include "zem_package/utf8.hpp"

namespace zem::template_record {
namespace {

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
  const std::span<const std::uint8_t> raw(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                          bytes.size());
  return !check_utf8(raw).has_value();
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
