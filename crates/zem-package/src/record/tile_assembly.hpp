#pragma once

// Tiles' memory built from the contents a read decompresses to check the
// blobs, so that a device check decompresses each blob once: a tile is
// assembled, its template setup found and its expected record worked out as
// soon as the last blob it takes bytes from is checked, and its memory
// released then.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "blobs/blob_observer.hpp"
#include "zem_package/device_check.hpp"

namespace zem {

// What a tile's memory says of it: the tile with its template setup and the
// record it expects, or none when it holds no template setup.
[[nodiscard]] std::optional<CheckedTile> examine_tile(const TileMemory& memory);

// Watches a strict read and assembles tiles from the blobs it checks, on
// the read's threads. The contents of a blob are kept only while a tile that
// takes bytes from it waits for another blob, and never more than `budget`
// bytes of them at once: a blob that does not fit is not kept, and the tiles
// that need it are left to be prepared from the package afterwards, as are
// tiles whose memory cannot be assembled (whatever failure that is, it is
// met again there and reported as it always is). What is assembled depends
// only on each tile's memory, so the outcome is the same on any number of
// threads, whichever tiles were assembled.
class TileAssembly final : public BlobObserver {
 public:
  static constexpr std::uint64_t default_budget = std::uint64_t{32} << 20U;

  // Assembles tiles `tiles`, or every tile of the package when it is empty.
  explicit TileAssembly(std::span<const std::uint32_t> tiles,
                        std::uint64_t budget = default_budget);
  ~TileAssembly() override;

  [[nodiscard]] bool wants_tiles() const noexcept override { return true; }
  void tiles_ahead(const std::vector<TileImage>* tiles) noexcept override;
  void checked(unsigned worker, std::size_t index, const CheckedBlob& blob,
               std::span<const std::uint8_t> contents) noexcept override;
  void accepted(std::size_t /*index*/) noexcept override {}

  // What was worked out of tile `physical_tile`, if it was assembled from
  // the tile that `tiles` (the package's, once read) holds under that
  // number; nothing when it must be prepared otherwise.
  [[nodiscard]] std::optional<std::optional<CheckedTile>> outcome(
      std::uint32_t physical_tile, std::span<const TileImage> tiles) const;

  // Bytes of blob contents kept now, and the most kept at once so far.
  [[nodiscard]] std::uint64_t held_bytes() const;
  [[nodiscard]] std::uint64_t most_held_bytes() const;
  // How many tiles were assembled.
  [[nodiscard]] std::size_t assembled_tiles() const;

  struct Plan;

 private:
  // Releases what tile `tile` holds of its blobs once it is done with them.
  void release(std::size_t tile);
  // Ends a tile that waits, to be prepared otherwise.
  void fall_back(std::size_t tile);

  std::vector<std::uint32_t> chosen_;
  std::uint64_t budget_;
  mutable std::mutex mutex_;
  std::unique_ptr<Plan> plan_;  // none until the tiles are read ahead
  std::uint64_t held_ = 0;      // guarded by `mutex_`
  std::uint64_t most_held_ = 0;
};

}  // namespace zem
