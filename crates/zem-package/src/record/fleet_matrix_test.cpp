// Devices side by side: one table of fleets, each with the rows, cells,
// legend and statements its matrix must have.

#include "zem_package/fleet_matrix.hpp"

#include <gtest/gtest.h>

namespace zem {
namespace {

using enum TileStatus;

TileOutcome tile(std::uint32_t number, TileStatus status, std::vector<std::string> hints = {}) {
  return {number, status, std::move(hints)};
}

// Each row's codes joined by spaces ("" for a tile a device did not verify,
// shown as "-").
std::vector<std::string> row_codes(const FleetMatrix& matrix) {
  std::vector<std::string> rows;
  for (const MatrixRow& row : matrix.rows) {
    std::string text = std::to_string(row.physical_tile) + ":";
    for (const MatrixCell& cell : row.cells) text += " " + (cell.verified ? cell.code : "-");
    rows.push_back(text);
  }
  return rows;
}

std::vector<std::string> legend_codes(const FleetMatrix& matrix) {
  std::vector<std::string> codes;
  for (const LegendEntry& entry : matrix.legend) codes.push_back(entry.code + "=" + entry.meaning);
  return codes;
}

TEST(FleetMatrixTest, FleetsSideBySide) {
  struct Case {
    const char* what;
    std::vector<DeviceOutcome> devices;
    std::vector<std::string> rows;
    std::vector<std::string> legend;
    std::vector<std::uint32_t> on_every_device;
    std::vector<OneDeviceTile> on_one_device;
  };
  const std::vector<Case> cases = {
      {"every tile matches", {{"a", {tile(0, match)}}, {"b", {tile(0, match)}}}, {}, {}, {}, {}},
      {"one device: rows, no statements",
       {{"a", {tile(0, match), tile(1, differ, {"single-bit", "all-zeros"}), tile(2, missing)}}},
       {"1: D:00", "2: M"},
       {"D=differ", "M=missing", "00=all-zeros"},
       {},
       {}},
      {"a tile on every device, another on one device, the strongest hint shown",
       {{"a", {tile(3, differ, {"single-bit"}), tile(5, match), tile(9, failed)}},
        {"b",
         {tile(3, differ, {"stuck-bit", "record-of-tile"}), tile(5, unreadable), tile(9, failed)}},
        {"c", {tile(9, failed), tile(3, missing), tile(5, match)}}},
       {"3: D:1b D:rt M", "5: . U .", "9: F F F"},
       {".=match", "D=differ", "M=missing", "U=unreadable", "F=failed", "rt=record-of-tile",
        "1b=single-bit"},
       {3, 9},
       {{5, 1}}},
      {"a tile one device did not verify: on neither list; an unknown kind kept",
       {{"a", {tile(4, differ, {"new-kind"}), tile(6, differ)}},
        {"b", {tile(4, differ, {"byte-swapped"})}}},
       {"4: D:new-kind D:bs", "6: D -"},
       {"D=differ", "bs=byte-swapped", "new-kind=new-kind"},
       {4},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const FleetMatrix matrix = fleet_matrix(c.devices);
    EXPECT_EQ(matrix.devices.size(), c.devices.size());
    EXPECT_EQ(row_codes(matrix), c.rows);
    EXPECT_EQ(legend_codes(matrix), c.legend);
    EXPECT_EQ(matrix.on_every_device, c.on_every_device);
    EXPECT_EQ(matrix.on_one_device, c.on_one_device);
  }
}

TEST(FleetMatrixTest, TalliesCountTilesPerStatusAndHintKind) {
  const DeviceOutcome device{
      "a",
      {tile(0, differ, {"all-zeros"}), tile(1, differ, {"all-zeros", "single-bit", "single-bit"}),
       tile(2, missing), tile(3, match), tile(4, differ, {"unknown"})}};
  const DeviceTally tally = device_tally(device);
  EXPECT_EQ(tally.statuses.of(differ), 3U);
  EXPECT_EQ(tally.statuses.of(missing), 1U);
  EXPECT_EQ(tally.statuses.tiles(), 5U);
  EXPECT_EQ(tally.hints.of("all-zeros"), 2U);
  EXPECT_EQ(tally.hints.of("single-bit"), 1U);
  EXPECT_EQ(tally.hints.of("unknown"), 0U);
}

}  // namespace
}  // namespace zem
