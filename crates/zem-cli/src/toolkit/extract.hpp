#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/tool_error.hpp"
#include "zem_package/application.hpp"

namespace zem::toolkit {

// A tile's rebuilt memory image and the tile address of its byte 0.
struct TileExtract {
  std::uint32_t physical_tile = 0;
  std::uint32_t load_base = 0;
  std::vector<std::uint8_t> image;
};

// Parses a physical tile argument with the verifier's grammar (decimal, one
// optional "+", leading zeros allowed, at most 4294967295).
[[nodiscard]] Outcome<std::uint32_t> physical_tile_argument(std::string_view argument);

// The image of tile `physical_tile`, or "no tile has physical tile number 9",
// "tile 5 has no segments", or the library's error.
[[nodiscard]] Outcome<TileExtract> extract_tile(const Application& application,
                                                std::uint32_t physical_tile);

// The position of the blob whose digest is `digest` or starts with it: one to
// 64 hexadecimal digits, either case. A prefix must name exactly one blob.
[[nodiscard]] Outcome<std::size_t> find_blob(const Application& application,
                                             std::string_view digest);

// What `extract` reports on standard error, without a newline:
// "physicalTile=7 loadBase=0x4c000 imageBytes=8704".
[[nodiscard]] std::string tile_extract_line(const TileExtract& extract);

// "blob=1 digest=<64 digits> bytes=256".
[[nodiscard]] std::string blob_extract_line(const Application& application, std::size_t blob);

}  // namespace zem::toolkit
