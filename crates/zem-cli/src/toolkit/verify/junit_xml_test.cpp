// JUnit XML's escaping: whatever a name or a reason holds, the document
// stays well-formed XML 1.0.

#include "toolkit/verify/junit_xml.hpp"

#include <gtest/gtest.h>

namespace zem::toolkit {
namespace {

TEST(JunitXml, EscapesEveryText) {
  const struct {
    std::string_view text;
    std::string_view escaped;
  } cases[] = {
      {"dump/tile{tile}.rec", "dump/tile{tile}.rec"},
      {"a<b>&\"c'", "a&lt;b&gt;&amp;&quot;c&apos;"},
      {"line\nnext\ttab\r", "line&#10;next&#9;tab&#13;"},
      // Control characters XML 1.0 does not allow, and U+FFFE.
      {std::string_view("a\0b\x1b", 4),
       "a\xef\xbf\xbd"
       "b\xef\xbf\xbd"},
      {"\xef\xbf\xbe", "\xef\xbf\xbd"},
      // The edges of the ranges XML 1.0 allows: U+001F and U+FFFF are
      // replaced; U+0020, U+D7FF, U+E000, U+FFFD, U+10000 and U+10FFFF kept.
      {"\x1f \xef\xbf\xbf", "\xef\xbf\xbd \xef\xbf\xbd"},
      {"\xed\x9f\xbf\xee\x80\x80\xef\xbf\xbd", "\xed\x9f\xbf\xee\x80\x80\xef\xbf\xbd"},
      {"\xf0\x90\x80\x80\xf4\x8f\xbf\xbf", "\xf0\x90\x80\x80\xf4\x8f\xbf\xbf"},
      // Bytes that are not UTF-8: a lone continuation byte, a sequence cut
      // short at the end, an overlong form.
      {"x\x80y", "x\xef\xbf\xbdy"},
      {"x\xe2\x82", "x\xef\xbf\xbd"},
      {"\xc0\xaf", "\xef\xbf\xbd\xef\xbf\xbd"},
      {"caf\xc3\xa9 \xf0\x9f\x98\x80", "caf\xc3\xa9 \xf0\x9f\x98\x80"},
  };
  for (const auto& c : cases) EXPECT_EQ(xml_escape(c.text), c.escaped) << c.text;
}

TEST(JunitXml, CountsEachSuite) {
  const std::vector<JunitSuite> suites = {
      {"a<",
       {{"tile 3", JunitCase::Outcome::skipped, "no template setup", ""},
        {"tile 7", JunitCase::Outcome::failure, "differ", "hint: x\n"},
        {"tile 8", JunitCase::Outcome::passed, "", ""}}},
      {"b", {{"tile 7", JunitCase::Outcome::passed, "", ""}}},
  };
  const std::string xml = junit_xml("run", suites);
  EXPECT_NE(xml.find("<testsuites name=\"run\" tests=\"4\" failures=\"1\" errors=\"0\" "
                     "skipped=\"1\">"),
            std::string::npos)
      << xml;
  EXPECT_NE(xml.find("<testsuite name=\"a&lt;\" tests=\"3\" failures=\"1\" errors=\"0\" "
                     "skipped=\"1\">"),
            std::string::npos)
      << xml;
  EXPECT_NE(xml.find("<failure message=\"differ\">hint: x&#10;</failure>"), std::string::npos)
      << xml;
}

}  // namespace
}  // namespace zem::toolkit
