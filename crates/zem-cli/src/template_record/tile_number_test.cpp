#include "template_record/tile_number.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <variant>

namespace zem::template_record {
namespace {

using Expected = std::variant<std::uint32_t, std::string>;  // value or failure message

struct ParseCase {
  std::string_view text;
  Expected expected;
  friend void PrintTo(const ParseCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }
};

constexpr std::string_view kEmpty = "invalid physical tile number: Empty";
constexpr std::string_view kInvalidDigit = "invalid physical tile number: InvalidDigit";
constexpr std::string_view kPosOverflow = "invalid physical tile number: PosOverflow";

class ParsePhysicalTileTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParsePhysicalTileTest, ParsesOrNamesTheFirstProblem) {
  const ParseCase& c = GetParam();
  const Outcome<std::uint32_t> got = parse_physical_tile(c.text);
  if (const auto* value = std::get_if<std::uint32_t>(&c.expected)) {
    ASSERT_TRUE(got.has_value()) << got.error().message;
    EXPECT_EQ(*got, *value);
  } else {
    ASSERT_FALSE(got.has_value()) << "parsed as " << *got;
    EXPECT_EQ(got.error().message, std::get<std::string>(c.expected));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, ParsePhysicalTileTest,
    testing::Values(
        ParseCase{"7", 7U}, ParseCase{"+7", 7U}, ParseCase{"0007", 7U}, ParseCase{"+007", 7U},
        ParseCase{"0", 0U}, ParseCase{"+0", 0U}, ParseCase{"4294967295", 4294967295U},
        ParseCase{"000004294967295", 4294967295U}, ParseCase{"", std::string(kEmpty)},
        ParseCase{"+", std::string(kInvalidDigit)}, ParseCase{"-", std::string(kInvalidDigit)},
        ParseCase{"-7", std::string(kInvalidDigit)}, ParseCase{"-0", std::string(kInvalidDigit)},
        ParseCase{"++7", std::string(kInvalidDigit)}, ParseCase{" 7", std::string(kInvalidDigit)},
        ParseCase{"7 ", std::string(kInvalidDigit)}, ParseCase{"0x7", std::string(kInvalidDigit)},
        ParseCase{"7+", std::string(kInvalidDigit)},
        // ARABIC-INDIC DIGIT THREE: a digit, but not an ASCII one.
        ParseCase{"\xd9\xa3", std::string(kInvalidDigit)},
        ParseCase{"4294967296", std::string(kPosOverflow)},
        ParseCase{"42949672950", std::string(kPosOverflow)},
        ParseCase{"99999999999", std::string(kPosOverflow)},
        ParseCase{"+99999999999", std::string(kPosOverflow)},
        // Left to right, the first problem decides.
        ParseCase{"99999999999x", std::string(kPosOverflow)},
        ParseCase{"429496729x", std::string(kInvalidDigit)},
        ParseCase{"4294967295x", std::string(kInvalidDigit)}));

struct Utf8Case {
  std::string_view name;
  friend void PrintTo(const Utf8Case& c, std::ostream* os) { *os << c.name; }
  std::string_view bytes;
  bool valid;
};

class Utf8Test : public testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Test, AcceptsExactlyWellFormedText) {
  const Utf8Case& c = GetParam();
  EXPECT_EQ(is_valid_utf8(c.bytes), c.valid);
  const Outcome<std::string_view> text = physical_tile_text(c.bytes);
  if (c.valid) {
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text, c.bytes);
  } else {
    ASSERT_FALSE(text.has_value());
    EXPECT_EQ(text.error().message, "physical tile argument is not valid UTF-8");
  }
}

INSTANTIATE_TEST_SUITE_P(Sequences, Utf8Test,
                         testing::Values(Utf8Case{"Empty", "", true},
                                         Utf8Case{"Ascii", "+0007", true},
                                         Utf8Case{"TwoBytes", "\xc3\xa9", true},
                                         Utf8Case{"ThreeBytes", "\xe2\x82\xac", true},
                                         Utf8Case{"LastBeforeSurrogates", "\xed\x9f\xbf", true},
                                         Utf8Case{"FourBytes", "\xf0\x9f\x98\x80", true},
                                         Utf8Case{"HighestScalar", "\xf4\x8f\xbf\xbf", true},
                                         Utf8Case{"LoneContinuation", "7\x80", false},
                                         Utf8Case{"OverlongTwoBytes", "\xc0\xaf", false},
                                         Utf8Case{"OverlongTwoBytesC1", "\xc1\xbf", false},
                                         Utf8Case{"OverlongThreeBytes", "\xe0\x80\xaf", false},
                                         Utf8Case{"Surrogate", "\xed\xa0\x80", false},
                                         Utf8Case{"OverlongFourBytes", "\xf0\x8f\xbf\xbf", false},
                                         Utf8Case{"AboveHighestScalar", "\xf4\x90\x80\x80", false},
                                         Utf8Case{"LeadF5", "\xf5\x80\x80\x80", false},
                                         Utf8Case{"LeadFF", "\xff", false},
                                         Utf8Case{"TruncatedTwoBytes", "7\xc3", false},
                                         Utf8Case{"TruncatedThreeBytes", "\xe2\x82", false},
                                         Utf8Case{"TruncatedFourBytes", "\xf0\x9f\x98", false},
                                         Utf8Case{"BadSecondByte", "\xe2\x28\xa1", false},
                                         Utf8Case{"BadThirdByte", "\xe2\x82\x28", false},
                                         Utf8Case{"BadFourthByte", "\xf0\x9f\x98\x28", false}),
                         [](const testing::TestParamInfo<Utf8Case>& case_info) {
                           return std::string(case_info.param.name);
                         });

}  // namespace
}  // namespace zem::template_record
