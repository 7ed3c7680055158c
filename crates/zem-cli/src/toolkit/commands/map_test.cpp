// End-to-end tests of `zem-package map`: the text map against the package's
// model, the output file's rules, and the page's size bound on a package too
// large to draw. What a browser makes of the pages is tested in
// pages/page_browser_test.cpp.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "format/hex.hpp"
#include "text_count.hpp"
#include "toolkit_fixture.hpp"

namespace zem::testing {
namespace {

using zem::hex_address;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::size_t columns(const std::string& line) {
  return static_cast<std::size_t>(std::ranges::count_if(
      line, [](char c) { return (static_cast<unsigned char>(c) & 0xc0U) != 0x80U; }));
}

TEST_F(ZemPackageTest, TextMapHasALinePerSegmentAndSlice) {
  const ProgramRun result = run({"map", package(), "7"});
  ASSERT_EQ(result.status, tool_success) << result.err;
  EXPECT_EQ(result.err, "");
  const std::vector<std::string> lines = lines_of(result.out);
  const TileImage& tile = example_model().tiles[1];
  ASSERT_EQ(tile.physical_tile, 7U);
  // A heading, the axis, the two segments and the one slice on tile 7.
  ASSERT_EQ(lines.size(), 2 + tile.segments.size() + 1) << result.out;
  EXPECT_EQ(lines[0], "tile 7: 2 segments, 4608 of 638976 bytes loaded");
  for (const std::string& line : lines) EXPECT_LE(columns(line), 80U) << line;
  for (std::size_t i = 0; i < tile.segments.size(); ++i) {
    const Segment& s = tile.segments[i];
    const std::string& line = lines[2 + i];
    EXPECT_TRUE(line.starts_with("segment " + std::to_string(i))) << line;
    EXPECT_TRUE(line.ends_with(hex_address(s.address) + ".." +
                               hex_address(std::uint64_t{s.address} + s.memory_size)))
        << line;
  }
  // The first segment starts at the base: the bar's first column is data;
  // the second lies 8 KiB up, still in the first column of 40.
  EXPECT_NE(lines[2].find("|#."), std::string::npos) << lines[2];
  EXPECT_NE(lines[3].find("|#."), std::string::npos) << lines[3];
  EXPECT_TRUE(lines[4].starts_with("weights[0] ")) << lines[4];
  EXPECT_TRUE(lines[4].ends_with("|=" + std::string(39, '.') + "|  0x4c400..0x4c418")) << lines[4];
}

TEST_F(ZemPackageTest, MapOutputFileRules) {
  const std::string good = package();
  const ProgramRun first = run({"map", good, "-o", "device.html"});
  ASSERT_EQ(first.status, tool_success) << first.err;
  EXPECT_EQ(first.out + first.err, "");
  const std::vector<std::uint8_t> page = read("device.html");
  EXPECT_TRUE(std::string(page.begin(), page.end()).starts_with("<!DOCTYPE html>"));

  // An existing file is kept unless --force.
  EXPECT_TRUE(failed_with(run({"map", good, "7", "-o", "device.html"}),
                          "device.html: exists; give --force to overwrite it"));
  EXPECT_EQ(read("device.html"), page);
  const ProgramRun forced = run({"map", good, "7", "-o", "device.html", "--force"});
  EXPECT_EQ(forced.status, tool_success) << forced.err;
  EXPECT_NE(read("device.html"), page);

  const ProgramRun to_stdout = run({"map", good, "-o", "-"});
  EXPECT_EQ(to_stdout.status, tool_success) << to_stdout.err;
  EXPECT_EQ(as_bytes(to_stdout.out), page);

  // An unreadable or invalid package, or an unknown tile: nothing written.
  write("broken.zpkg", std::vector<std::uint8_t>(64, 0xff));
  const ProgramRun broken = run({"map", "broken.zpkg", "-o", "broken.html"});
  EXPECT_EQ(broken.status, tool_failure);
  EXPECT_TRUE(broken.err.starts_with("zem-package: error: broken.zpkg: invalid package: "))
      << broken.err;
  EXPECT_FALSE(exists("broken.html"));
  EXPECT_TRUE(failed_with(run({"map", good, "9", "-o", "nine.html"}),
                          "package.zpkg: no tile has physical tile number 9",
                          {"the package has tiles 3, 7"}));
  EXPECT_FALSE(exists("nine.html"));
  EXPECT_TRUE(failed_with(run({"map", good, "-o", good}),
                          "package.zpkg: refusing to write over the package being read"));

  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"map", good},
            "map: the device view is a page: give -o FILE, or -o - for standard output (or a TILE "
            "for its text map)"},
           {{"map", good, "7", "--force"}, "map: --force needs -o FILE"},
           {{"map", good, "--columns", "0", "-o", "x.html"}, "map: --columns must be at least 1"},
       }) {
    EXPECT_TRUE(failed_with(run(args), message + " (see zem-package map --help)"));
  }
}

// 1,024 tiles of 40 segments each and one of 100,000: far more than a page
// can draw.
std::vector<std::uint8_t> crowded_package() {
  Application model;
  model.blobs.push_back(make_blob(std::vector<std::uint8_t>(64, 0x5a)));
  index_blobs(model);
  for (std::uint32_t t = 0; t < 1024; ++t) {
    TileImage tile{t, 0, 0, 0, {}};
    const std::uint32_t count = t == 5 ? 100'000 : 40;
    for (std::uint32_t i = 0; i < count; ++i) {
      tile.segments.push_back(Segment{tile_memory_base + 4 * i, 4, 0, 0, 2, 0});
    }
    model.tiles.push_back(std::move(tile));
  }
  model.bindings_1.push_back(
      Binding{"b", "", {}, std::vector<RegionSlice>(5000, RegionSlice{5, 0x4c000, 0, 4})});
  model.host_exchange.pages = {HostPage{1, 0x1000}};
  model.host_exchange.startup_page = 1;
  return build_package(model);
}

TEST_F(ZemPackageTest, PagesStayWithinTheirBound) {
  write("crowded.zpkg", crowded_package());
  constexpr std::size_t bound = std::size_t{2} << 20;
  const ProgramRun device = run({"map", "crowded.zpkg", "-o", "-"});
  ASSERT_EQ(device.status, tool_success) << device.err;
  EXPECT_LE(device.out.size(), bound);
  EXPECT_NE(device.out.find("data-tile=\"1023\""), std::string::npos);
  EXPECT_NE(device.out.find("tiles do not fit the page"), std::string::npos);
  // The views on the page and the count of those left out make every tile.
  const std::size_t views = occurrences(device.out, "<section class=\"tile");
  EXPECT_NE(device.out.find(fmt::format("data-omitted=\"{}\"", 1024 - views)), std::string::npos)
      << views << " views";

  const ProgramRun tile = run({"map", "crowded.zpkg", "5", "-o", "-"});
  ASSERT_EQ(tile.status, tool_success) << tile.err;
  EXPECT_LE(tile.out.size(), bound);
  EXPECT_NE(tile.out.find("400 of 100000 segments drawn"), std::string::npos);
  EXPECT_NE(tile.out.find("4800 more binding slices not listed"), std::string::npos);
  EXPECT_NE(tile.out.find("99600 more segments not listed"), std::string::npos);
}

}  // namespace
}  // namespace zem::testing
