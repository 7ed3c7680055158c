#pragma once

#include <cstdint>
#include <memory>

#include "zem_package/package.hpp"

namespace zem {

// Rebuilds the memory of many tiles of one package, as a whole-device check
// does: a blob that several tiles take bytes from is decompressed once, when
// the first of them needs it, and kept for the others, as long as the kept
// blobs fit in `budget` bytes; any other blob is decompressed for each tile
// that needs it. `tile_memory` may be called from several threads at once.
// The package must outlive the source.
class TileMemorySource {
 public:
  static constexpr std::uint64_t default_budget = std::uint64_t{32} << 20U;

  explicit TileMemorySource(const Package& package, std::uint64_t budget = default_budget);
  TileMemorySource(const TileMemorySource&) = delete;
  TileMemorySource& operator=(const TileMemorySource&) = delete;
  ~TileMemorySource();

  // What `Package::tile_memory` gives.
  [[nodiscard]] ReadResult<TileMemory> tile_memory(std::uint32_t physical_tile) const;

  struct Cache;

 private:
  const Package* package_;
  std::unique_ptr<Cache> cache_;
};

}  // namespace zem
