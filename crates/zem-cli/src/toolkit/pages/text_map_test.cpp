// A segment's bar in the text map: # over its data, - over its zero fill and
// nothing past its end, wherever the end falls on a column. A slice's name
// fills its column, cut with an ellipsis where it is longer.

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
    std::uint32_t address = tile_memory_base;
  } cases[] = {
      {"data ending inside a column", 1000, 1000, "#" + dots(39)},
      {"data ending at a column's edge", column, column, "#" + dots(39)},
      {"data, then zero fill to an edge", 2 * column - 1, column, "#-" + dots(38)},
      {"zero fill only", column, 0, "-" + dots(39)},
      {"empty", 0, 0, "#" + dots(39)},
      // Past the end of tile memory (a model that fails validation): drawn
      // in the last column.
      {"outside", 16, 16, dots(39) + "#", tile_memory_end},
  };
  for (const auto& c : cases) {
    TileImage tile;
    tile.segments.push_back({.address = c.address,
                             .memory_size = c.memory_size,
                             .blob = 0,
                             .blob_offset = 0,
                             .data_size = c.data_size,
                             .aux = 0});
    const std::string map = text_map(tile, {});
    EXPECT_NE(map.find("|" + c.bar + "|"), std::string::npos) << c.name << "\n" << map;
  }
}

// The name column is 16 display columns: a binding's name, cut to what the
// slice's index leaves, then the index; a character of several bytes counts
// once.
TEST(TextMapTest, ASlicesNameIsCutToItsColumn) {
  const std::string e = "\u00e9";  // two bytes, one column
  const auto times = [](const std::string& text, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += text;
    return out;
  };
  const struct {
    std::string name;
    std::string column;
  } cases[] = {
      {"weights", "weights[0]      "},
      {"abcdefghijklm", "abcdefghijklm[0]"},
      {"abcdefghijklmn", "abcdefghijkl\u2026[0]"},
      {times(e, 13), times(e, 13) + "[0]"},
      {times(e, 14), times(e, 12) + "\u2026[0]"},
  };
  for (const auto& c : cases) {
    const Binding binding{c.name, "", {}, {RegionSlice{5, tile_memory_base, 0, 16}}};
    const SliceRef slice{PackageField::bindings1, 1, &binding, 0};
    const std::string map = text_map(TileImage{5, 0, 0, 0, {}}, {&slice, 1});
    EXPECT_NE(map.find("\n" + c.column + " |"), std::string::npos) << c.name << "\n" << map;
  }
}

}  // namespace
}  // namespace zem::toolkit::pages
