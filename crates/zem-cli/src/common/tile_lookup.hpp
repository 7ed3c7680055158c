#pragma once

#include <cstdint>
#include <string_view>

#include "common/failure.hpp"
#include "zem_package/package_reading.hpp"

namespace zem::cli {

// The memory of tile `physical_tile` of a checked package, or what the tools
// say when it cannot be had: "no tile has physical tile number 9", "tile 5
// has no segments", or "<image_context>: <the library's error>".
[[nodiscard]] Outcome<TileMemory> find_tile_memory(const CheckedPackage& package,
                                                   std::uint32_t physical_tile,
                                                   std::string_view image_context);

}  // namespace zem::cli
