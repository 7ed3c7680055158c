// The device view's shape by default: the smallest square that holds every
// tile, so a square count of tiles fills it exactly; and its colours, one
// for each kind of cell.

#include "toolkit/pages/device_grid.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <string_view>

#include "toolkit/pages/palette.hpp"
#include "zem_package/device_check.hpp"

namespace zem::toolkit::pages {
namespace {

TEST(DeviceGridTest, DefaultColumnsAreTheSideOfTheSmallestSquareHoldingAll) {
  const struct {
    std::size_t cells;
    std::size_t columns;
  } cases[] = {{0, 1}, {1, 1}, {2, 2}, {4, 2}, {5, 3}, {9, 3}, {10, 4}, {1024, 32}};
  for (const auto& c : cases) EXPECT_EQ(default_columns(c.cells), c.columns) << c.cells;
}

// Relative luminance of "#rrggbb", 0 for black to 1 for white, from the
// sRGB channels as screens show them.
double luminance(std::string_view colour) {
  const auto channel = [&](std::size_t at) {
    const double c = std::stoi(std::string(colour.substr(at, 2)), nullptr, 16) / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(1) + 0.7152 * channel(3) + 0.0722 * channel(5);
}

// A cell's colour is all that tells its kind apart: no two kinds share one.
// A tile without a template setup was not checked at all: it stays a pale
// background under its hatching, and every verified status stands out
// from it in a strong colour.
TEST(DeviceGridTest, EveryKindOfCellHasAColourOfItsOwn) {
  std::set<std::string_view> colours{status_colour(no_setup_status)};
  EXPECT_GT(luminance(status_colour(no_setup_status)), 0.7);
  for (const TileStatus status : all_tile_statuses) {
    const std::string_view colour = status_colour(status_name(status));
    EXPECT_TRUE(colours.insert(colour).second) << status_name(status);
    EXPECT_LT(luminance(colour), 0.5) << status_name(status);
  }
}

}  // namespace
}  // namespace zem::toolkit::pages
