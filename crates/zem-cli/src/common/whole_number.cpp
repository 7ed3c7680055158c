#include "common/whole_number.hpp"

#include <limits>

namespace zem::cli {

std::expected<std::uint32_t, WholeNumberError> parse_whole_number(std::string_view text) noexcept {
  if (text.empty()) return std::unexpected(WholeNumberError::empty);
  // A lone sign has no digits at all; it counts as a bad digit, not as empty.
  if (text == "+") return std::unexpected(WholeNumberError::invalid_digit);
  if (text.front() == '+') text.remove_prefix(1);

  constexpr std::uint32_t max = std::numeric_limits<std::uint32_t>::max();
  std::uint32_t value = 0;
  for (const char c : text) {
    // The character is judged before the value, so a non-digit right after
    // a still-fitting prefix is a bad digit, and an overflow is one even
    // when a non-digit follows later.
    if (c < '0' || c > '9') return std::unexpected(WholeNumberError::invalid_digit);
    const auto digit = static_cast<std::uint32_t>(c - '0');
    if (value > (max - digit) / 10U) return std::unexpected(WholeNumberError::overflow);
    value = value * 10U + digit;
  }
  return value;
}

}  // namespace zem::cli
