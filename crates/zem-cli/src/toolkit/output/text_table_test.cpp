#include "toolkit/output/text_table.hpp"

#include <gtest/gtest.h>

namespace zem::toolkit {
namespace {

using Align = TextTable::Align;

TEST(TextTableTest, AlignsColumnsAndTrimsTrailingSpaces) {
  TextTable table({{"#", Align::right}, {"name"}, {"size", Align::right}, {"note"}});
  table.add_row({"0", "weights", "4096", ""});
  table.add_row({"12", "x", "7", "long note"});
  table.add_row({"3"});  // short rows are padded
  EXPECT_EQ(table.render("  "),
            "   #  name     size  note\n"
            "   0  weights  4096\n"
            "  12  x           7  long note\n"
            "   3\n");
}

TEST(TextTableTest, WidthCountsCodePoints) {
  TextTable table({{"name"}, {"n", Align::right}});
  table.add_row({"\xc3\xa9t\xc3\xa9", "1"});  // "été": 5 bytes, 3 columns
  table.add_row({"abcd", "2"});
  EXPECT_EQ(table.render(),
            "name  n\n"
            "\xc3\xa9t\xc3\xa9   1\n"
            "abcd  2\n");
  EXPECT_EQ(display_width("\xc3\xa9t\xc3\xa9"), 3U);
}

TEST(TextTableTest, CellTextQuotesWhatWouldNotShow) {
  const struct {
    std::string_view text;
    std::string_view cell;
  } cases[] = {
      {"weights", "weights"},
      {"a\"b", "a\"b"},  // printable: as it is
      {"", "\"\""},
      {"two\nlines", "\"two\\nlines\""},
      {" padded", "\" padded\""},
      {"padded ", "\"padded \""},
      {"tab\there", "\"tab\\there\""},
      {"no\u00a0break", "\"no\\u{a0}break\""},  // the library's table decides
      {"\u202eright to left", "\"\\u{202e}right to left\""},
      {"caf\xc3", "\"caf\\xc3\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(cell_text(c.text), c.cell) << c.text;
  }
}

}  // namespace
}  // namespace zem::toolkit
