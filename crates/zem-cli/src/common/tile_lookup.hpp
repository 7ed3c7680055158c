#pragma once

#include <cstdint>
#include <string_view>

#include "common/failure.hpp"
#include "zem_package/package.hpp"

namespace zem::cli {

// What the tools say when the memory of tile `physical_tile` cannot be had:
// "no tile has physical tile number 9", "tile 5 has no segments", or
// "<image_context>: <the library's error>".
[[nodiscard]] Failure tile_memory_failure(const ReadFailure& failure, std::uint32_t physical_tile,
                                          std::string_view image_context);

// The memory itself, or the failure above.
[[nodiscard]] Outcome<TileMemory> find_tile_memory(const Package& package,
                                                   std::uint32_t physical_tile,
                                                   std::string_view image_context);

}  // namespace zem::cli
