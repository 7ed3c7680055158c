#include "toolkit/pages/tile_facts.hpp"

#include <algorithm>

#include "record_check/device_check.hpp"
#include "template_record/patching.hpp"

namespace zem::toolkit::pages {

namespace tr = template_record;

std::optional<TemplateMarks> template_marks(const TileMemory& memory) {
  auto found = tr::find_template_setup(memory.bytes);
  if (!found) return std::nullopt;
  TemplateMarks marks;
  // An image starts at the load base and is at most tile memory long, so the
  // sum stays far below 2^32.
  marks.setup_address = memory.load_base + static_cast<std::uint32_t>(found->offset);
  marks.setup = found->setup;
  if (auto patched = tr::patch_template(memory.bytes, memory.load_base, found->setup)) {
    marks.table_start = patched->table_start;
    marks.table_words = patched->table_words;
  }
  return marks;
}

std::vector<TileFacts> tile_facts(const Package& package, unsigned threads) {
  const std::vector<TileImage>& tiles = package.model().tiles;
  std::vector<TileFacts> facts(tiles.size());
  record_check::for_each_index(tiles.size(), threads, [&](std::size_t i) {
    const TileImage& tile = tiles[i];
    TileFacts& f = facts[i];
    f.tile = i;
    f.physical_tile = tile.physical_tile;
    f.segments = tile.segments.size();
    for (const Segment& segment : tile.segments) f.bytes_loaded += segment.memory_size;
    if (tile.segments.empty()) return;
    if (auto memory = package.tile_memory(tile.physical_tile)) f.marks = template_marks(*memory);
  });
  std::ranges::sort(facts, {}, &TileFacts::physical_tile);
  return facts;
}

double loaded_share(std::uint64_t bytes) noexcept {
  return std::min(1.0, static_cast<double>(bytes) / static_cast<double>(tile_memory_size));
}

}  // namespace zem::toolkit::pages
