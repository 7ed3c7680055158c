// The device view's shape by default: the smallest square that holds every
// tile, so a square count of tiles fills it exactly.

#include "toolkit/pages/device_grid.hpp"

#include <gtest/gtest.h>

namespace zem::toolkit::pages {
namespace {

TEST(DeviceGridTest, DefaultColumnsAreTheSideOfTheSmallestSquareHoldingAll) {
  const struct {
    std::size_t cells;
    std::size_t columns;
  } cases[] = {{0, 1}, {1, 1}, {2, 2}, {4, 2}, {5, 3}, {9, 3}, {10, 4}, {1024, 32}};
  for (const auto& c : cases) EXPECT_EQ(default_columns(c.cells), c.columns) << c.cells;
}

}  // namespace
}  // namespace zem::toolkit::pages
