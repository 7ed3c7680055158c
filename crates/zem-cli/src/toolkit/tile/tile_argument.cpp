#include "toolkit/tile/tile_argument.hpp"

#include <fmt/format.h>

#include "template_record/tile_number.hpp"
#include "zem_package/package_error.hpp"

namespace zem::toolkit {

Outcome<std::uint32_t> physical_tile_argument(std::string_view argument) {
  auto text = template_record::physical_tile_text(argument);
  if (!text) return std::unexpected(Failure{text.error().message});
  auto tile = template_record::parse_physical_tile(*text);
  if (!tile) {
    return std::unexpected(
        Failure{fmt::format("{} (argument {})", tile.error().message, quote_escaped(argument))});
  }
  return *tile;
}

Outcome<std::optional<std::uint32_t>> optional_physical_tile_argument(
    const std::optional<std::string>& argument) {
  if (!argument) return std::nullopt;
  ZEM_ASSIGN_OR_RETURN(const std::uint32_t tile, physical_tile_argument(*argument));
  return tile;
}

}  // namespace zem::toolkit
