#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/tool_error.hpp"
#include "zem_package/package_reading.hpp"

namespace zem::toolkit {

// Parses a physical tile argument with the verifier's grammar (decimal, one
// optional "+", leading zeros allowed, at most 4294967295).
[[nodiscard]] Outcome<std::uint32_t> physical_tile_argument(std::string_view argument);

// The same for an argument that may be absent.
[[nodiscard]] Outcome<std::optional<std::uint32_t>> optional_physical_tile_argument(
    const std::optional<std::string>& argument);

// The memory of tile `physical_tile`, or "no tile has physical tile number
// 9", "tile 5 has no segments", or the library's error.
[[nodiscard]] Outcome<TileMemory> extract_tile(const CheckedPackage& package,
                                               std::uint32_t physical_tile);

// The position of the blob whose digest is `digest` or starts with it: one to
// 64 hexadecimal digits, either case. A prefix must name exactly one blob;
// an ambiguous one is refused with the first few blobs it names.
[[nodiscard]] Outcome<std::size_t> find_blob(std::span<const BlobInfo> blobs,
                                             std::string_view digest);

// What `extract` reports on standard error, without a newline:
// "physicalTile=7 loadBase=0x4c000 imageBytes=8704".
[[nodiscard]] std::string tile_extract_line(const TileMemory& memory);

// "blob=1 digest=<64 digits> bytes=256".
[[nodiscard]] std::string blob_extract_line(std::span<const BlobInfo> blobs, std::size_t blob);

}  // namespace zem::toolkit
