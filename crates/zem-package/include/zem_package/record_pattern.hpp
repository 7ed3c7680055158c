#pragma once

// Where the records of a device's tiles lie: a path pattern in which
// "{tile}" stands for the physical tile number, "dump/tile{tile}.rec".

#include <cstdint>
#include <string>
#include <string_view>

#include "zem_package/api.hpp"

namespace zem {

inline constexpr std::string_view tile_placeholder = "{tile}";

// `pattern` with every {tile} replaced by `physical_tile` in decimal.
[[nodiscard]] ZEM_PACKAGE_API std::string record_path(std::string_view pattern,
                                                      std::uint32_t physical_tile);

// Whether `pattern` names a file per tile.
[[nodiscard]] inline bool names_each_tile(std::string_view pattern) noexcept {
  return pattern.find(tile_placeholder) != std::string_view::npos;
}

}  // namespace zem
