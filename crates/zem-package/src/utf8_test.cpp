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

TEST(Utf8Test, NextCodePointDecodesEveryWidth) {
  std::string_view text = "a\u00e9\u20ac\U0001f600";
  EXPECT_EQ(next_code_point(text), U'a');
  EXPECT_EQ(next_code_point(text), U'\u00e9');
  EXPECT_EQ(next_code_point(text), U'\u20ac');
  EXPECT_EQ(next_code_point(text), U'\U0001f600');
  EXPECT_TRUE(text.empty());
}

}  // namespace
}  // namespace zem
