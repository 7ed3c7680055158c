#pragma once

// The zoomed inset of a tile view: on the full axis of tile memory the
// template setup, its regions and the patch table are a few bytes out of
// hundreds of thousands, so the inset draws them again on an axis of their
// own that spans only them.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/pages/tile_facts.hpp"

namespace zem::toolkit::pages {

// One range of a tile's template in tile memory.
struct TemplateRange {
  // "template-setup", "primary", "secondary", "patch-table" or "patch-words".
  std::string_view name;
  std::uint64_t start = 0;
  std::uint64_t end = 0;  // past its last byte; `start` for an empty region
};

// The ranges of `marks` in that order: the setup's twelve words, the two
// regions, the patch table's word and, when the template could be patched,
// the patch words (at least one word, so that it shows).
[[nodiscard]] std::vector<TemplateRange> template_ranges(const TemplateMarks& marks);

// How wide the inset is in the tile map's units, and the least width it
// gives a range, so that a word still reads beside a region of kilobytes.
inline constexpr double inset_width = 1000;
inline constexpr double min_inset_block = 8;

// A range as the inset places it.
struct InsetBlock {
  TemplateRange range;
  // Whether any of it lies in tile memory; a range wholly outside is only
  // named, never drawn, so that it cannot stretch the inset.
  bool drawn = false;
  double x = 0;  // from 0 to `inset_width`
  double width = 0;
};

// The inset of a tile's template.
struct SetupInset {
  // The tile memory it spans: from the lowest start to the highest end of
  // the ranges, clipped to tile memory, and a margin either side of a
  // sixteenth of that (at least 16 bytes) as far as tile memory reaches.
  // Empty when no range lies in tile memory.
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  std::vector<InsetBlock> blocks;  // in the order of `template_ranges`
};

[[nodiscard]] SetupInset setup_inset(const TemplateMarks& marks);

// The inset as SVG drawn from `top` down in a tile map: guides from where
// its span lies on the full axis (`from_x` to `to_x`, from `guide_top`)
// widening to its own axis, a row per range with its block, name and
// addresses, and the inset's axis with its two ends. `height` is how tall it
// is.
struct InsetDrawing {
  std::string svg;
  double height = 0;
};
[[nodiscard]] InsetDrawing inset_drawing(const SetupInset& inset, double guide_top, double top,
                                         double from_x, double to_x);

}  // namespace zem::toolkit::pages
