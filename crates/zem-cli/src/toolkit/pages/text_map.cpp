#include "toolkit/pages/text_map.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>

#include "format/hex.hpp"
#include "toolkit/output/text_table.hpp"

namespace zem::toolkit::pages {
namespace {

constexpr std::size_t name_columns = 16;

// The bar's column that holds `address` (clamped to tile memory).
std::size_t column_of(std::uint64_t address) {
  const std::uint64_t offset =
      std::clamp<std::uint64_t>(address, tile_memory_base, tile_memory_end - 1) - tile_memory_base;
  return static_cast<std::size_t>(offset * text_bar_columns / tile_memory_size);
}

// Marks [start, end) with `mark`; an empty range marks the column it
// starts in, so that it still shows.
void mark(std::string& bar, std::uint64_t start, std::uint64_t end, char c) {
  const std::size_t first = column_of(start);
  const std::size_t last = end > start ? column_of(end - 1) : first;
  for (std::size_t i = first; i <= last; ++i) bar[i] = c;
}

// `text` cut to `columns` display columns, with an ellipsis where it was cut.
std::string fit(const std::string& text, std::size_t columns) {
  if (display_width(text) <= columns) return text;
  std::string out;
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool starts = (static_cast<unsigned char>(text[i]) & 0xc0U) != 0x80U;
    if (starts && ++width == columns) break;
    out += text[i];
  }
  return out + "\u2026";
}

std::string line(const std::string& name, const std::string& bar, std::uint64_t start,
                 std::uint64_t end) {
  const std::string shown = fit(name, name_columns);
  const std::size_t pad = name_columns - std::min(name_columns, display_width(shown));
  return fmt::format("{}{} |{}|  {}..{}\n", shown, std::string(pad, ' '), bar, hex_address(start),
                     hex_address(end));
}

}  // namespace

std::string text_map(const TileImage& tile, std::span<const SliceRef> slices) {
  std::uint64_t loaded = 0;
  for (const Segment& s : tile.segments) loaded += s.memory_size;
  std::string out = fmt::format("tile {}: {} segment{}, {} of {} bytes loaded\n",
                                tile.physical_tile, tile.segments.size(),
                                tile.segments.size() == 1 ? "" : "s", loaded, tile_memory_size);
  const std::string from = hex_address(tile_memory_base);
  const std::string to = hex_address(tile_memory_end);
  out += fmt::format("{:{}} |{}{:{}}{}|  {} bytes/column\n", "", name_columns, from, "",
                     text_bar_columns - from.size() - to.size(), to,
                     tile_memory_size / text_bar_columns);
  const std::string empty(text_bar_columns, '.');
  for (std::size_t i = 0; i < tile.segments.size(); ++i) {
    const Segment& s = tile.segments[i];
    const std::uint64_t data_end = std::uint64_t{s.address} + s.data_size;
    const std::uint64_t end = std::uint64_t{s.address} + s.memory_size;
    std::string bar = empty;
    if (data_end < end) mark(bar, data_end, end, '-');
    if (s.data_size > 0 || s.memory_size == 0) mark(bar, s.address, data_end, '#');
    out += line(fmt::format("segment {}", i), bar, s.address, end);
  }
  for (const SliceRef& ref : slices) {
    const RegionSlice& s = ref.binding->slices[ref.slice];
    const std::uint64_t end = std::uint64_t{s.address} + s.length;
    std::string bar = empty;
    mark(bar, s.address, end, '=');
    // A long name is cut before the slice's index, which always shows; no
    // more of it is escaped than can show.
    const std::string index = fmt::format("[{}]", ref.slice);
    const std::string name =
        fit(cell_text(std::string_view(ref.binding->name).substr(0, 4 * name_columns)),
            name_columns - std::min(name_columns - 1, index.size()));
    out += line(name + index, bar, s.address, end);
  }
  return out;
}

}  // namespace zem::toolkit::pages
