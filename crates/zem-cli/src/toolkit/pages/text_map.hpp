#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "toolkit/pages/tile_slices.hpp"
#include "zem_package/package_model.hpp"

namespace zem::toolkit::pages {

// Columns of the bar of a text map, each standing for an equal share of tile
// memory.
inline constexpr std::size_t text_bar_columns = 40;

// A tile's memory for a terminal, in at most 80 columns: a heading, then a
// line per segment and one per binding slice, each with its name, a bar
// scaled to tile memory (# where a segment holds data, - where it is
// zero-filled, = where a slice lies) and its address range. Every line ends
// in a newline.
[[nodiscard]] std::string text_map(const TileImage& tile, std::span<const SliceRef> slices);

}  // namespace zem::toolkit::pages
