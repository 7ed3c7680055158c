#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "toolkit/pages/tile_facts.hpp"
#include "zem_package/package.hpp"

namespace zem::toolkit::pages {

// The device view of a package: a cell per tile, shaded by the share of its
// memory the package loads, in `columns` columns, each linked to the tile's
// view further down the same page; the views that do not fit the page's
// bound are left out and counted. `facts` are the package's, in tile number
// order; `package_name` names it in the heading (plain text).
[[nodiscard]] std::string map_device_page(const Package& package, std::string_view package_name,
                                          std::span<const TileFacts> facts, std::size_t columns);

// The page of one tile's view, with the facts of that tile.
[[nodiscard]] std::string map_tile_page(const Package& package, std::string_view package_name,
                                        const TileFacts& facts);

// The id of a tile's view in a page: "tile-7", or "d1-tile-7" in the
// section of device 1.
[[nodiscard]] std::string tile_view_id(std::uint32_t physical_tile, std::string_view prefix = "");

// The shade of a tile that loads `share` (0 to 1) of its memory.
[[nodiscard]] std::string loaded_colour(double share);

}  // namespace zem::toolkit::pages
