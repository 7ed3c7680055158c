#pragma once

#include <cstdint>
#include <vector>

namespace zem {

// One tile's memory as a package loads it: its image starts at the load
// base, the lowest address among the tile's segments.
struct TileMemory {
  std::uint32_t physical_tile = 0;
  std::uint32_t load_base = 0;
  std::vector<std::uint8_t> bytes;  // byte 0 stands at `load_base`

  friend bool operator==(const TileMemory&, const TileMemory&) = default;
};

}  // namespace zem
