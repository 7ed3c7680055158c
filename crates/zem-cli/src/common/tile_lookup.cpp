#include "common/tile_lookup.hpp"

#include <fmt/format.h>

namespace zem::cli {

Outcome<TileMemory> find_tile_memory(const CheckedPackage& package, std::uint32_t physical_tile,
                                     std::string_view image_context) {
  auto memory = package.tile_memory(physical_tile);
  if (memory) return std::move(*memory);
  const TileMemoryError& error = memory.error();
  switch (error.kind) {
    case TileMemoryError::Kind::unknown_tile:
      return std::unexpected(
          Failure{fmt::format("no tile has physical tile number {}", physical_tile)});
    case TileMemoryError::Kind::no_segments:
      return std::unexpected(Failure{fmt::format("tile {} has no segments", physical_tile)});
    case TileMemoryError::Kind::image:
      break;
  }
  return std::unexpected(Failure{fmt::format("{}: {}", image_context, error.error.to_string())});
}

}  // namespace zem::cli
