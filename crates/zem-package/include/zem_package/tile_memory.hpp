#pragma once

#include <cstdint>
#include <expected>
#include <vector>

#include "zem_package/package_error.hpp"

namespace zem {

// One tile's memory as a package loads it: its image starts at the load
// base, the lowest address among the tile's segments.
struct TileMemory {
  std::uint32_t physical_tile = 0;
  std::uint32_t load_base = 0;
  std::vector<std::uint8_t> bytes;  // byte 0 stands at `load_base`

  friend bool operator==(const TileMemory&, const TileMemory&) = default;
};

// Why a tile's memory could not be had.
struct TileMemoryError {
  enum class Kind : std::uint8_t {
    unknown_tile,  // no tile has the number
    no_segments,   // the tile has no segments, so no load base
    image,         // rebuilding the image failed
  };
  Kind kind = Kind::unknown_tile;
  // "unknown tile {}", "tile has no loadable segments", or what rebuilding
  // the image met.
  PackageError error;

  friend bool operator==(const TileMemoryError&, const TileMemoryError&) = default;
};

using TileMemoryResult = std::expected<TileMemory, TileMemoryError>;

}  // namespace zem
