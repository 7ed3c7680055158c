#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "zem_package/package.hpp"

namespace zem::toolkit {

// Where a tile's image starts and how long it is: the lowest segment
// address, and the furthest segment end from it. Computed in 64 bits, so the
// segments of a package that fails validation cannot make it wrap.
struct TileLayout {
  std::optional<std::uint32_t> load_base;  // none for a tile without segments
  std::uint64_t image_size = 0;
};
[[nodiscard]] TileLayout tile_layout(const TileImage& tile);

// The first address past a binding slice. A slice's length is 64 bits, so in
// a package that fails validation the end may lie past 2^32, and it can even
// exceed 64 bits: then there is none.
[[nodiscard]] std::optional<std::uint64_t> slice_end(const RegionSlice& slice) noexcept;

// How many segments, over all tiles, take their bytes from each blob.
// Segments naming a blob that does not exist, and segments of no data (which
// name a blob but take nothing from it), are not counted.
[[nodiscard]] std::vector<std::size_t> segments_per_blob(const PackageModel& model);

// Whether the reading holds every part of the package: its blobs and its
// whole structure. Only then does the model say what no part holds (a blob
// that no segment uses), and its build digest mean anything.
[[nodiscard]] bool read_whole(const Package& reading) noexcept;

// The stored build digest against the one computed from the model.
struct BuildDigestCheck {
  std::optional<std::vector<std::uint8_t>> stored;  // none when its pointer is broken
  // None when the package was not read whole: its digest would mean nothing.
  std::optional<Digest> computed;
  bool matches = false;
};
[[nodiscard]] BuildDigestCheck build_digest_check(const Package& reading);

}  // namespace zem::toolkit
