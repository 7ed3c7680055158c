#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/check.hpp"
#include "zem_package/package_reading.hpp"

namespace zem::toolkit {

// Version of the JSON document that `inspect --json` writes. Raised whenever
// a key is renamed or removed, or a value changes its type.
inline constexpr int inspect_json_format = 2;

// Everything `inspect` shows about one package.
struct Inspection {
  std::string path;
  // The package as surveyed, when its framing and header could be read: the
  // parts read before a failure and those read past it are shown.
  const PackageReading* reading = nullptr;
  CheckReport check;
  std::vector<Note> notes;
};

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
// Segments naming a blob that does not exist are not counted.
[[nodiscard]] std::vector<std::size_t> segments_per_blob(const Application& application);

// The stored build digest against the one computed from the model.
struct BuildDigestCheck {
  std::optional<std::vector<std::uint8_t>> stored;  // none when its pointer is broken
  // None when the survey met failures: the model is then incomplete, and its
  // digest means nothing.
  std::optional<Digest> computed;
  bool matches = false;
};
[[nodiscard]] BuildDigestCheck build_digest_check(const PackageReading& reading);

// A blob's compression code by name: "none", "zstd", or "code N" for a code
// the format does not define.
[[nodiscard]] std::string compression_name(std::uint16_t code);

}  // namespace zem::toolkit
