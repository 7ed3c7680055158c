#include "toolkit/tile/tile_argument.hpp"

#include <fmt/format.h>

#include "common/whole_number.hpp"
#include "zem_package/package_error.hpp"

namespace zem::toolkit {

Outcome<std::uint32_t> physical_tile_argument(std::string_view argument, std::string_view name) {
  const auto tile = cli::parse_whole_number(argument);
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
