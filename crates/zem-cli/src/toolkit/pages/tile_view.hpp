#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "zem_package/record_diff.hpp"
#include "toolkit/pages/tile_facts.hpp"
#include "toolkit/pages/tile_slices.hpp"
#include "zem_package/package_model.hpp"

namespace zem::toolkit::pages {

// The most segments and binding slices one tile view draws and lists; the
// rest are counted in a line that says so. A page stays small whatever a
// tile holds.
inline constexpr std::size_t drawn_segments = 400;
inline constexpr std::size_t drawn_slices = 200;

// What a tile view shows of one tile.
struct TileViewInput {
  const PackageModel* model = nullptr;
  std::size_t tile = 0;  // position in the model's tiles
  std::span<const SliceRef> slices;
  const TemplateMarks* marks = nullptr;  // none without a template setup
  // The id of the view's section, for the device view's links.
  std::string_view id;
  // Whether the view shows at once, not only when a link names it.
  bool shown = false;
  // For `verify`: the tile's status, its differing words (marked at their
  // addresses) and, as HTML, what explains them.
  std::string_view status;
  std::span<const ExplainedWord> differences;
  std::string_view notes_html;
};

// A tile's view as one HTML section: tile memory from its base to its end as
// a scaled bar over an address axis, each segment a block in its blob's
// colour with its zero-filled part hatched, the binding slices as labelled
// brackets below it, the template setup, its two regions and the patch
// table marked above it, and, for a tile with a template setup, those again
// on a zoomed inset below the brackets whose span is outlined on the bar; a
// legend, and the tables of the tile's segments and slices.
[[nodiscard]] std::string tile_view(const TileViewInput& input);

// The SVG group of the address axis, which the page that holds tile views
// defines once (id "tile-axis") and every view uses.
[[nodiscard]] std::string axis_group();

}  // namespace zem::toolkit::pages
