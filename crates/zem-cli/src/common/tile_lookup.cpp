#include "common/tile_lookup.hpp"

#include <fmt/format.h>

namespace zem::cli {

Failure tile_memory_failure(const ReadFailure& failure, std::uint32_t physical_tile,
                            std::string_view image_context) {
  switch (failure.subject) {
    case FailureSubject::unknown_tile:
      return Failure{fmt::format("no tile has physical tile number {}", physical_tile)};
    case FailureSubject::tile_without_segments:
      return Failure{fmt::format("tile {} has no segments", physical_tile)};
    case FailureSubject::package:
    case FailureSubject::file:
      break;
  }
  return Failure{fmt::format("{}: {}", image_context, failure.error.to_string())};
}

Outcome<TileMemory> find_tile_memory(const Package& package, std::uint32_t physical_tile,
                                     std::string_view image_context) {
  auto memory = package.tile_memory(physical_tile);
  if (memory) return std::move(*memory);
  return std::unexpected(tile_memory_failure(memory.error(), physical_tile, image_context));
}

}  // namespace zem::cli
