#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "zem_package/application.hpp"

namespace zem {

// The contents of blob `blob`, valid until the next call.
using BlobContentsSource = std::function<Result<std::span<const std::uint8_t>>(std::size_t blob)>;

// How segments' bytes are copied into an image.
enum class CopyOrder : bool {
  // In list order, so that where segments overlap the later one wins: for
  // models whose blob contents are all at hand.
  list,
  // Blob by blob, each blob's contents asked for once, for models that must
  // decompress them again. Overlapping segments are refused, since the order
  // of their copies would decide the bytes; a valid package has none.
  by_blob,
};

// Finds the tile (an unknown tile fails with `FailureSubject::unknown_tile`),
// takes its load base (one without segments has none: `tile_without_segments`), and rebuilds its
// image from `tiles` and the blobs, whose sizes `blob_sizes` gives and whose contents `contents`
// provides. Segments that lie outside tile memory or outside their blob are
// refused, so that a model that was never validated cannot make the image
// read or write out of bounds.
[[nodiscard]] ReadResult<TileMemory> rebuild_tile_memory(const std::vector<TileImage>& tiles,
                                                         std::uint32_t physical_tile,
                                                         std::span<const std::uint64_t> blob_sizes,
                                                         CopyOrder order,
                                                         const BlobContentsSource& contents);

// That no tile of `tiles` has the number `physical_tile`.
[[nodiscard]] ReadFailure unknown_tile_failure(std::uint32_t physical_tile);

// What rebuilding the image of tile `physical_tile` met: `error`, placed at
// the tile.
[[nodiscard]] ReadFailure tile_image_failure(const std::vector<TileImage>& tiles,
                                             std::uint32_t physical_tile, PackageError error);

}  // namespace zem
