// What a page makes of package text: inert, visible and bounded.

#include "toolkit/pages/html_text.hpp"

#include <gtest/gtest.h>

namespace zem::toolkit::pages {
namespace {

struct ShownCase {
  const char* name;
  std::string text;
  std::size_t max;
  std::string shown;
};

class ShownTextTest : public ::testing::TestWithParam<ShownCase> {};

TEST_P(ShownTextTest, IsEscapedAndBounded) {
  const ShownCase& c = GetParam();
  EXPECT_EQ(shown_text(c.text, c.max), c.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ShownTextTest,
    ::testing::Values(ShownCase{"plain", "weights", 96, "weights"},
                      ShownCase{"markup", "<b>&'x'</b>", 96, "&lt;b&gt;&amp;&#39;x&#39;&lt;/b&gt;"},
                      // A quote in a printable name stays itself, escaped; a name that
                      // is not printable is quoted, its quotes escaped twice over.
                      ShownCase{"quote", "a\"b", 96, "a&quot;b"},
                      ShownCase{"override", "\u202e\"x", 96, "&quot;\\u{202e}\\&quot;x&quot;"},
                      ShownCase{"control", "a\x01", 96, "&quot;a\\u{1}&quot;"},
                      ShownCase{"empty", "", 96, "&quot;&quot;"},
                      ShownCase{"long", std::string(200, 'x'), 8, "xxxxxxxx\u2026"},
                      // Cut on a character boundary: never half of "é".
                      ShownCase{"cut character", "ab\u00e9\u00e9", 3, "ab\u2026"},
                      ShownCase{"escapes grow past the bound", "\x01\x01\x01", 8,
                                "&quot;\\u{1}\\u\u2026"}),
    [](const ::testing::TestParamInfo<ShownCase>& c) {
      std::string name = c.param.name;
      for (char& ch : name) ch = ch == ' ' ? '_' : ch;
      return name;
    });

}  // namespace
}  // namespace zem::toolkit::pages
