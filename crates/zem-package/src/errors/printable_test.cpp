#include <gtest/gtest.h>

#include <fmt/format.h>

#include "errors/nonprintable_table.hpp"
#include "zem_package/package_error.hpp"

namespace zem {
namespace {

std::string utf8_of(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xc0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xe0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  }
  return out;
}

// What quote_escaped makes of `c` alone, given whether it is printable.
std::string quoted(char32_t c, bool printable) {
  switch (c) {
    case U'\0':
      return R"("\0")";
    case U'\t':
      return R"("\t")";
    case U'\n':
      return R"("\n")";
    case U'\r':
      return R"("\r")";
    default:
      return printable ? fmt::format("\"{}\"", utf8_of(c))
                       : fmt::format("\"\\u{{{:x}}}\"", static_cast<std::uint32_t>(c));
  }
}

// Characters whose verdict is known without the table: the space separators
// that are not the ASCII space, controls, format characters, private use and
// noncharacters, each with neighbours that do show.
TEST(PrintableTest, SeparatorsControlsAndFormatCharactersAreEscaped) {
  const struct {
    char32_t c;
    bool printable;
  } cases[] = {
      {0x1f, false},     {0x20, true},      {0x7e, true},      {0x7f, false},   {0x9f, false},
      {0xa0, false},     {0xa1, true},      {0xac, true},      {0xad, false},   {0xae, true},
      {0x377, true},     {0x378, false},    {0x167f, true},    {0x1680, false}, {0x1681, true},
      {0x2000, false},   {0x2005, false},   {0x200a, false},   {0x200b, false}, {0x2010, true},
      {0x2027, true},    {0x2028, false},   {0x2029, false},   {0x202e, false}, {0x202f, false},
      {0x2030, true},    {0x205e, true},    {0x205f, false},   {0x2060, false}, {0x3000, false},
      {0x3001, true},    {0xe000, false},   {0xf8ff, false},   {0xf900, true},  {0xfdd0, false},
      {0xfeff, false},   {0xfffd, true},    {0xfffe, false},   {0x1f600, true}, {0xe0001, false},
      {0x10fffd, false}, {0x10ffff, false}, {0x110000, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(is_printable(c.c), c.printable) << fmt::format("U+{:04X}", std::uint32_t{c.c});
    if (c.c <= 0x10ffff) {
      EXPECT_EQ(quote_escaped(utf8_of(c.c)), quoted(c.c, c.printable));
    }
  }
}

// One character on each side of every boundary of the generated table: the
// lookup must not be off by one anywhere.
TEST(PrintableTest, EveryBoundaryOfTheTableChangesTheVerdict) {
  for (const unicode::CodePointRun& run : unicode::nonprintable_runs) {
    for (const char32_t c : {run.first, run.last}) {
      EXPECT_EQ(quote_escaped(utf8_of(c)), quoted(c, false));
    }
    if (run.first > 0) {
      EXPECT_EQ(quote_escaped(utf8_of(run.first - 1)), quoted(run.first - 1, true));
    }
    if (run.last < 0x10ffff) {
      EXPECT_EQ(quote_escaped(utf8_of(run.last + 1)), quoted(run.last + 1, true));
    }
  }
}

TEST(PrintableTest, TextIsPrintableWhenEveryCharacterIsAndItIsUtf8) {
  EXPECT_TRUE(is_printable(""));
  EXPECT_TRUE(is_printable("caf\u00e9 \"q\" \\ \U0001f600"));
  EXPECT_FALSE(is_printable("two\nlines"));
  EXPECT_FALSE(is_printable("no\u00a0break"));
  EXPECT_FALSE(is_printable("\u202eevil"));
  EXPECT_FALSE(is_printable("caf\xc3"));
  EXPECT_FALSE(is_printable("\xff"));
}

}  // namespace
}  // namespace zem
