#include "zem_package/utf8.hpp"

#include <gtest/gtest.h>

#include <string>

namespace zem {
namespace {

std::optional<Utf8Fault> check(std::string_view text) {
  return check_utf8({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

struct Case {
  const char* name;
  std::string text;
  bool valid;
  std::size_t valid_up_to;
  std::optional<std::uint8_t> error_len;
};

TEST(Utf8Test, FaultGivesValidPrefixAndBadSequenceLength) {
  const Case cases[] = {
      {"ascii", "zem21", true, 0, {}},
      {"embedded nul", std::string("a\0b", 3), true, 0, {}},
      {"every width", "\x7f\xc2\x80\xe2\x82\xac\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf", true, 0, {}},
      {"stray byte", "a\xff", false, 1, 1},
      {"lone continuation", "ab\x80", false, 2, 1},
      {"overlong two bytes", "\xc0\x80", false, 0, 1},
      {"overlong three bytes", "\xe0\x80\x80", false, 0, 1},
      {"overlong four bytes", "\xf0\x80\x80\x80", false, 0, 1},
      {"surrogate", "x\xed\xa0\x80", false, 1, 1},
      {"above U+10FFFF", "\xf4\x90\x80\x80", false, 0, 1},
      {"lead F5", "\xf5\x80\x80\x80", false, 0, 1},
      {"bad second of three", "\xe2\x28\xa1", false, 0, 1},
      {"bad third of three", "\xe2\x82\x28", false, 0, 2},
      {"bad fourth of four", "\xf0\x9f\x98\x28", false, 0, 3},
      {"ends after lead", "abc\xe2", false, 3, std::nullopt},
      {"ends inside three", "\xe2\x82", false, 0, std::nullopt},
      {"ends inside four", "ok\xf0\x9f\x98", false, 2, std::nullopt},
      {"bad byte before the end", "\xe2\x28", false, 0, 1},
  };
  for (const Case& c : cases) {
    const std::optional<Utf8Fault> fault = check(c.text);
    if (c.valid) {
      EXPECT_FALSE(fault.has_value()) << c.name;
      continue;
    }
    ASSERT_TRUE(fault.has_value()) << c.name;
    EXPECT_EQ(fault->valid_up_to, c.valid_up_to) << c.name;
    EXPECT_EQ(fault->error_len, c.error_len) << c.name;
  }
}

// The lowest and the highest second byte that each lead byte allows, and one
// past each; third and fourth bytes are always 80 to BF.
TEST(Utf8Test, EveryLeadBytesRangeAtItsEdges) {
  const struct {
    std::string text;
    std::optional<std::uint8_t> error_len;  // none: valid
  } cases[] = {
      {"\x7f", {}},
      {"\x80", 1},       // a continuation byte cannot lead
      {"\xc1\xbf", 1},   // would be an overlong U+007F
      {"\xc2\x80", {}},  // U+0080
      {"\xc2\x7f", 1},
      {"\xc2\xc0", 1},
      {"\xdf\xbf", {}},      // U+07FF
      {"\xe0\xa0\x80", {}},  // U+0800
      {"\xe0\x9f\xbf", 1},   // would be an overlong U+07FF
      {"\xe0\xbf\xbf", {}},
      {"\xe0\xc0\x80", 1},
      {"\xe1\x80\x80", {}},
      {"\xe1\x7f\x80", 1},
      {"\xec\xbf\xbf", {}},
      {"\xec\xc0\x80", 1},
      {"\xed\x80\x80", {}},  // U+D000
      {"\xed\x9f\xbf", {}},  // U+D7FF, the last before the surrogates
      {"\xed\xa0\x80", 1},   // U+D800, a surrogate
      {"\xed\x7f\xbf", 1},
      {"\xee\x80\x80", {}},  // U+E000
      {"\xee\x7f\x80", 1},
      {"\xef\xbf\xbf", {}},  // U+FFFF
      {"\xef\xc0\x80", 1},
      {"\xe1\x80\x7f", 2},
      {"\xe1\x80\xc0", 2},
      {"\xf0\x90\x80\x80", {}},  // U+10000
      {"\xf0\x8f\xbf\xbf", 1},   // would be an overlong U+FFFF
      {"\xf0\xbf\xbf\xbf", {}},
      {"\xf0\xc0\x80\x80", 1},
      {"\xf1\x80\x80\x80", {}},
      {"\xf1\x7f\x80\x80", 1},
      {"\xf3\xbf\xbf\xbf", {}},
      {"\xf3\xc0\x80\x80", 1},
      {"\xf4\x80\x80\x80", {}},
      {"\xf4\x8f\xbf\xbf", {}},  // U+10FFFF
      {"\xf4\x90\x80\x80", 1},   // above U+10FFFF
      {"\xf4\x7f\x80\x80", 1},
      {"\xf1\x80\x80\x7f", 3},
      {"\xf1\x80\x80\xc0", 3},
      {"\xf5\x80\x80\x80", 1},
      {"\xff", 1},
  };
  for (const auto& c : cases) {
    const std::optional<Utf8Fault> fault = check(c.text);
    ASSERT_EQ(fault.has_value(), c.error_len.has_value()) << testing::PrintToString(c.text);
    if (!fault) continue;
    EXPECT_EQ(fault->valid_up_to, 0U) << testing::PrintToString(c.text);
    EXPECT_EQ(fault->error_len, c.error_len) << testing::PrintToString(c.text);
  }
}

TEST(Utf8Test, NextCodePointDecodesEveryWidth) {
  std::string_view text = "a\u00e9\u20ac\U0001f600";
  EXPECT_EQ(next_code_point(text), U'a');
  EXPECT_EQ(next_code_point(text), U'\u00e9');
  EXPECT_EQ(next_code_point(text), U'\u20ac');
  EXPECT_EQ(next_code_point(text), U'\U0001f600');
  EXPECT_TRUE(text.empty());

  // Bytes that are not UTF-8 are outside its contract; it still moves on by
  // one byte each, and never past the end of the text.
  for (const std::string_view bad : {"\x80z", "\xffz", "\xe2\x82"}) {
    std::string_view rest = bad;
    static_cast<void>(next_code_point(rest));
    EXPECT_EQ(rest, bad.substr(1)) << testing::PrintToString(std::string(bad));
  }
}

}  // namespace
}  // namespace zem
