// The device view's shape by default: the smallest square that holds every
// tile, so a square count of tiles fills it exactly; and its colours, one
// for each kind of cell.

#include "toolkit/pages/device_grid.hpp"

#include <gtest/gtest.h>

#include <set>
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

// A cell's colour is all that tells its kind apart: no two kinds share one.
TEST(DeviceGridTest, EveryKindOfCellHasAColourOfItsOwn) {
  std::set<std::string_view> colours{status_colour(no_setup_status)};
  for (const TileStatus status : all_tile_statuses) {
    EXPECT_TRUE(colours.insert(status_colour(status_name(status))).second) << status_name(status);
  }
}

}  // namespace
}  // namespace zem::toolkit::pages
