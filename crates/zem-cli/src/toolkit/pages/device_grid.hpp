#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zem::toolkit::pages {

// One cell of a device view: a tile.
struct GridCell {
  std::uint32_t physical_tile = 0;
  std::string fill;    // its CSS colour
  std::string status;  // its data-status value, or empty for none
  std::string title;   // its hover text, plain (escaped here)
  std::string target;  // the id of its tile view in the page, or empty for none
  bool setup = false;  // whether the tile holds a template setup; hatched if not
  // A few characters drawn under its number, so that its status reads
  // without its hue ("D:bs"); none when empty.
  std::string mark;
};

// The column count of a grid of `cells` by default: the side of the nearest
// square that holds them all.
[[nodiscard]] std::size_t default_columns(std::size_t cells) noexcept;

// A device view as an SVG grid of `columns` columns (at least 1), a cell per
// tile in the order given, labelled with its physical tile number, shaded
// with its fill, hatched when it holds no template setup, titled with its
// hover text and, when it has a target, linked to its tile view.
[[nodiscard]] std::string device_grid(std::span<const GridCell> cells, std::size_t columns);

}  // namespace zem::toolkit::pages
