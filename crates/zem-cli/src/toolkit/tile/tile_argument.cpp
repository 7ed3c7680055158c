#include "toolkit/tile/tile_argument.hpp"

#include <fmt/format.h>

#include "common/whole_number.hpp"
#include "zem_package/package_error.hpp"

namespace zem::toolkit {

std::expected<std::uint32_t, cli::WholeNumberError> parse_tile_number(
    std::string_view text) noexcept {
  if (!text.starts_with("0x") && !text.starts_with("0X")) return cli::parse_whole_number(text);
  text.remove_prefix(2);
  if (text.empty()) return std::unexpected(cli::WholeNumberError::invalid_digit);
  std::uint64_t value = 0;
  for (const char c : text) {
    unsigned digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return std::unexpected(cli::WholeNumberError::invalid_digit);
    }
    value = value * 16 + digit;
    // Checked at every digit, so that the value never grows past 36 bits.
    if (value > 0xffffffffU) return std::unexpected(cli::WholeNumberError::overflow);
  }
  return static_cast<std::uint32_t>(value);
}

Outcome<std::uint32_t> physical_tile_argument(std::string_view argument, std::string_view name) {
  const auto tile = parse_tile_number(argument);
  if (tile) return *tile;
  switch (tile.error()) {
    case cli::WholeNumberError::empty:
      return std::unexpected(
          Failure{fmt::format("{} is empty: give a physical tile number", name)});
    case cli::WholeNumberError::overflow:
      return std::unexpected(Failure{
          fmt::format("{} {} is too large: a physical tile number is at most 4294967295", name,
                      is_printable(argument) ? std::string(argument) : quote_escaped(argument))});
    case cli::WholeNumberError::invalid_digit:
      break;
  }
  // The argument may be any bytes: it is shown quoted and escaped.
  return std::unexpected(Failure{
      fmt::format("invalid {} {}: a physical tile number is a whole number from 0 to 4294967295",
                  name, quote_escaped(argument))});
}

Outcome<std::optional<std::uint32_t>> optional_physical_tile_argument(
    const std::optional<std::string>& argument, std::string_view name) {
  if (!argument) return std::nullopt;
  ZEM_ASSIGN_OR_RETURN(const std::uint32_t tile, physical_tile_argument(*argument, name));
  return tile;
}

}  // namespace zem::toolkit
