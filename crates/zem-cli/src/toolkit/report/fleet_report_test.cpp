// The fleet page stays within its bound on a matrix too large to draw: the
// rows it leaves out are counted, and that count is what is missing.

#include "toolkit/report/fleet_report.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <string>

#include "text_count.hpp"

namespace zem::toolkit {
namespace {

using testing::occurrences;

TEST(FleetReportTest, RowsPastThePagesBoundAreCounted) {
  constexpr std::uint32_t tiles = 100'000;
  FleetReport report;
  report.matrix.devices = {"a", "b"};
  const MatrixCell differs{true, TileStatus::differ, "", "D"};
  for (std::uint32_t t = 0; t < tiles; ++t)
    report.matrix.rows.push_back({t, {differs, differs}, 2});
  const std::string page = report_page(report);
  EXPECT_LE(page.size(), std::size_t{2} << 20U);
  const std::size_t shown = occurrences(page, "<tr data-tile=");
  ASSERT_GT(shown, 0U);
  ASSERT_LT(shown, tiles);
  EXPECT_NE(page.find(fmt::format("<tr data-tile=\"{}\">", shown - 1)), std::string::npos);
  EXPECT_EQ(
      occurrences(page, fmt::format("<p>{} more rows do not fit this page.</p>", tiles - shown)),
      1U);
}

}  // namespace
}  // namespace zem::toolkit
