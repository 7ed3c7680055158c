#include "toolkit/pages/tile_facts.hpp"

#include <algorithm>

namespace zem::toolkit::pages {

TemplateMarks template_marks(const CheckedTile& tile) {
  TemplateMarks marks;
  // An image starts at the load base and is at most tile memory long, so the
  // sum stays far below 2^32.
  marks.setup_address = tile.load_base + static_cast<std::uint32_t>(tile.setup.offset);
  marks.setup = tile.setup.setup;
  if (tile.expected) {
    marks.table_start = tile.expected->words.table_start;
    marks.table_words = tile.expected->words.table_words;
  }
  return marks;
}

std::vector<TileFacts> tile_facts(const DeviceCheck& check) {
  const std::vector<TileImage>& tiles = check.package().model().tiles;
  std::vector<TileFacts> facts(tiles.size());
  for (std::size_t i = 0; i < tiles.size(); ++i) {
    const TileImage& tile = tiles[i];
    TileFacts& f = facts[i];
    f.tile = i;
    f.physical_tile = tile.physical_tile;
    f.segments = tile.segments.size();
    for (const Segment& segment : tile.segments) f.bytes_loaded += segment.memory_size;
    if (const CheckedTile* checked = check.tile(tile.physical_tile)) {
      f.marks = template_marks(*checked);
    }
  }
  std::ranges::sort(facts, {}, &TileFacts::physical_tile);
  return facts;
}

double loaded_share(std::uint64_t bytes) noexcept {
  return std::min(1.0, static_cast<double>(bytes) / static_cast<double>(tile_memory_size));
}

}  // namespace zem::toolkit::pages
