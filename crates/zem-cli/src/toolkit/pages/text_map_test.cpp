// A segment's bar in the text map: # over its data, - over its zero fill and
// nothing past its end, wherever the end falls on a column.

#include "toolkit/pages/text_map.hpp"

#include <gtest/gtest.h>

#include <string>

namespace zem::toolkit::pages {
namespace {

TEST(TextMapTest, ASegmentsBarEndsWhereItDoes) {
  // A column stands for 15,974.4 bytes: the second starts at byte `column`
  // and the third at `2 * column - 1`, so segments ending there end exactly
  // at a column's edge.
  constexpr std::uint32_t column = (tile_memory_size + text_bar_columns - 1) / text_bar_columns;
  const auto dots = [](std::size_t n) { return std::string(n, '.'); };
  const struct {
    const char* name;
    std::uint32_t memory_size;
    std::uint32_t data_size;
    std::string bar;
  } cases[] = {
      {"data ending inside a column", 1000, 1000, "#" + dots(39)},
      {"data ending at a column's edge", column, column, "#" + dots(39)},
      {"data, then zero fill to an edge", 2 * column - 1, column, "#-" + dots(38)},
      {"zero fill only", column, 0, "-" + dots(39)},
      {"empty", 0, 0, "#" + dots(39)},
  };
  for (const auto& c : cases) {
    TileImage tile;
    tile.segments.push_back({.address = tile_memory_base,
                             .memory_size = c.memory_size,
                             .blob = 0,
                             .blob_offset = 0,
                             .data_size = c.data_size,
                             .aux = 0});
    const std::string map = text_map(tile, {});
    EXPECT_NE(map.find("|" + c.bar + "|"), std::string::npos) << c.name << "\n" << map;
  }
}

}  // namespace
}  // namespace zem::toolkit::pages
