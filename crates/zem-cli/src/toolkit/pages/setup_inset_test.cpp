// The span of a tile view's zoomed inset: from the lowest to the highest
// address of the template setup, its regions and the patch table, whichever
// of them stands first or last, plus its margin within tile memory; and
// every range it draws lies on it at a readable width.

#include "toolkit/pages/setup_inset.hpp"

#include <gtest/gtest.h>

#include "format/hex.hpp"

namespace zem::toolkit::pages {
namespace {

TemplateMarks marks(std::uint32_t setup, TemplateSetup s, std::optional<std::uint32_t> table = {},
                    std::size_t words = 0) {
  return TemplateMarks{setup, s, table, words};
}

TEST(SetupInsetTest, SpansEveryRangeWithItsMarginInTileMemory) {
  // TemplateSetup: primary, secondary, primary words, secondary words, patch table.
  const struct {
    const char* name;
    TemplateMarks marks;
    std::uint64_t start;
    std::uint64_t end;
    std::size_t drawn;
  } cases[] = {
      {"setup lowest, secondary highest", marks(0x4c100, {0x4c200, 0x4c400, 16, 8, 0x4c130}),
       0x4c0ce, 0x4c452, 4},
      {"patch words highest", marks(0x4c100, {0x4c200, 0x4c400, 16, 8, 0x4c130}, 0x4d000, 3),
       0x4c010, 0x4d0fc, 5},
      {"patch words lowest", marks(0x4c100, {0x4c200, 0x4c400, 16, 8, 0x4c130}, 0x4c080, 2),
       0x4c046, 0x4c45a, 5},
      {"secondary lowest, primary highest", marks(0x50000, {0x60000, 0x4f000, 1024, 4, 0x50030}),
       0x4de00, 0x62200, 4},
      {"margin stops at the base", marks(0x4c000, {0x4c030, 0x4c038, 2, 2, 0x4c040}), 0x4c000,
       0x4c054, 4},
      {"region clipped at the end", marks(0xe7f00, {0xe7f30, 0xe7f30, 0x100, 0, 0xe7f40}), 0xe7ef0,
       0xe8000, 4},
      {"region outside tile memory", marks(0x4c100, {0x1000, 0x4c200, 4, 4, 0x4c130}), 0x4c0ef,
       0x4c221, 3},
      // Regions that end where tile memory starts and start where it ends.
      {"region ending at the base", marks(0x4c100, {0x4bff0, 0x4c200, 4, 4, 0x4c130}), 0x4c0ef,
       0x4c221, 3},
      {"region starting at the end", marks(0x4c100, {0xe8000, 0x4c200, 4, 4, 0x4c130}), 0x4c0ef,
       0x4c221, 3},
      // An empty region counts where it stands, at the base too.
      {"empty region at the base", marks(0x4c100, {0x4c000, 0x4c200, 0, 4, 0x4c130}), 0x4c000,
       0x4c231, 4},
      {"empty region highest", marks(0x4c100, {0x4c140, 0x4c500, 0, 0, 0x4c130}), 0x4c0c0, 0x4c540,
       4},
  };
  for (const auto& c : cases) {
    const SetupInset inset = setup_inset(c.marks);
    EXPECT_EQ(hex_address(inset.start), hex_address(c.start)) << c.name;
    EXPECT_EQ(hex_address(inset.end), hex_address(c.end)) << c.name;
    EXPECT_EQ(inset.blocks.size(), c.marks.table_start ? 5U : 4U) << c.name;
    std::size_t drawn = 0;
    for (const InsetBlock& b : inset.blocks) {
      if (!b.drawn) continue;
      ++drawn;
      EXPECT_GE(b.x, 0) << c.name << " " << b.range.name;
      EXPECT_GE(b.width, min_inset_block) << c.name << " " << b.range.name;
      EXPECT_LE(b.x + b.width, inset_width + 1e-9) << c.name << " " << b.range.name;
    }
    EXPECT_EQ(drawn, c.drawn) << c.name;
  }
}

}  // namespace
}  // namespace zem::toolkit::pages
