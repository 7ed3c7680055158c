#include "zem_package/template_setup.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace zem {
namespace {

// A setup with primary 0x4c100 (16 words), secondary
// 0x4c200 (8 words), patch table 0x4d000; the untested words are arbitrary.
std::array<std::uint32_t, 12> example_setup() {
  return {0x22bbffe0, 0x1944c100, 0x1954c200, 0x19600010, 0x19700008, 0x11111111,
          0x22222222, 0x33333333, 0x44444444, 0x1920001b, 0x4fb2f004, 0x0004d000};
}

constexpr TemplateSetup kExampleParameters{.primary = 0x4c100,
                                           .secondary = 0x4c200,
                                           .primary_words = 16,
                                           .secondary_words = 8,
                                           .patch_table = 0x4d000};

void append_words(std::vector<std::uint8_t>& bytes, std::span<const std::uint32_t> words) {
  for (const std::uint32_t word : words) {
    for (unsigned shift = 0; shift < 32; shift += 8) {
      bytes.push_back(static_cast<std::uint8_t>(word >> shift));
    }
  }
}

std::vector<std::uint8_t> image_of(std::span<const std::uint32_t> words) {
  std::vector<std::uint8_t> bytes;
  append_words(bytes, words);
  return bytes;
}

std::optional<TemplateSetup> setup_of(std::span<const std::uint8_t> image) {
  const std::optional<FoundSetup> found = find_template_setup(image);
  if (!found) return std::nullopt;
  return found->setup;
}

TEST(LocateTemplateSetupTest, FindsTheExample) {
  const auto words = example_setup();
  const std::optional<TemplateSetup> found = setup_of(image_of(words));
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(*found, kExampleParameters);
}

TEST(LocateTemplateSetupTest, TooShortImagesHaveNoSetup) {
  EXPECT_FALSE(find_template_setup({}));
  // 47 bytes are 11 whole words, even though they begin like a setup.
  std::vector<std::uint8_t> image = image_of(example_setup());
  image.pop_back();
  EXPECT_FALSE(setup_of(image));
}

TEST(LocateTemplateSetupTest, OnlyWordAlignedWindowsAreConsidered) {
  for (std::size_t shift = 1; shift < 4; ++shift) {
    std::vector<std::uint8_t> image(shift, 0);
    append_words(image, example_setup());
    image.resize(image.size() + 4 - shift, 0);  // whole words again, setup still misaligned
    EXPECT_FALSE(setup_of(image)) << "shift " << shift;
  }
}

TEST(LocateTemplateSetupTest, FindsASetupEndingAtTheLastWholeWordDespiteATail) {
  for (std::size_t tail = 0; tail < 4; ++tail) {
    std::vector<std::uint8_t> image = image_of(std::array<std::uint32_t, 3>{7, 8, 9});
    append_words(image, example_setup());
    image.resize(image.size() + tail, 0xff);
    const std::optional<TemplateSetup> found = setup_of(image);
    ASSERT_TRUE(found.has_value()) << "tail " << tail;
    EXPECT_EQ(*found, kExampleParameters);
  }
}

TEST(LocateTemplateSetupTest, TheFirstOfTwoSetupsWins) {
  auto second = example_setup();
  second[1] = 0x19400001;
  second[3] = 0x19600002;
  std::vector<std::uint8_t> image = image_of(std::array<std::uint32_t, 2>{0, 0x22bbffe0});
  append_words(image, example_setup());
  append_words(image, second);
  const std::optional<FoundSetup> found = find_template_setup(image);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->setup, kExampleParameters);
  EXPECT_EQ(found->offset, 8U);

  // With word 9 of the first spoiled, the second one is found.
  image[(2 + 9) * 4] ^= 1;
  const std::optional<FoundSetup> later = find_template_setup(image);
  ASSERT_TRUE(later.has_value());
  EXPECT_EQ(later->offset, 8U + template_setup_bytes);
  EXPECT_EQ(later->setup.primary, 1U);
  EXPECT_EQ(later->setup.primary_words, 2U);
}

TEST(LocateTemplateSetupTest, UntestedWordsMayHoldAnyValueAndPatchTableKeepsLow20Bits) {
  auto words = example_setup();
  for (std::size_t i = 5; i <= 8; ++i) words[i] = 0x22bbffe0;
  words[11] = 0xfff4d000;
  const std::optional<TemplateSetup> found = setup_of(image_of(words));
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(*found, kExampleParameters);
}

TEST(LocateTemplateSetupTest, ParameterWordsAcceptTheirWholeLow20BitRange) {
  auto words = example_setup();
  words[1] = 0x19400000;
  words[2] = 0x195fffff;
  words[3] = 0x19600000;
  words[4] = 0x197fffff;
  words[11] = 0;
  const std::optional<TemplateSetup> found = setup_of(image_of(words));
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(*found, (TemplateSetup{.primary = 0,
                                   .secondary = 0xfffff,
                                   .primary_words = 0,
                                   .secondary_words = 0xfffff,
                                   .patch_table = 0}));
}

struct BrokenWordCase {
  std::string_view name;
  friend void PrintTo(const BrokenWordCase& c, std::ostream* os) { *os << c.name; }
  std::size_t index;
  std::uint32_t value;
};

class BrokenSetupTest : public testing::TestWithParam<BrokenWordCase> {};

TEST_P(BrokenSetupTest, AnyFailedTestRejectsTheWindow) {
  auto words = example_setup();
  words[GetParam().index] = GetParam().value;
  EXPECT_FALSE(setup_of(image_of(words)));
}

INSTANTIATE_TEST_SUITE_P(EachTestedWord, BrokenSetupTest,
                         testing::Values(BrokenWordCase{"FirstWord", 0, 0x22bbffe1},
                                         BrokenWordCase{"PrimaryBelowTag", 1, 0x193fffff},
                                         BrokenWordCase{"PrimaryAboveTag", 1, 0x19500000},
                                         BrokenWordCase{"SecondaryTag", 2, 0x1944c200},
                                         BrokenWordCase{"PrimaryWordsTag", 3, 0x19700010},
                                         BrokenWordCase{"SecondaryWordsTag", 4, 0x19600008},
                                         BrokenWordCase{"NinthWord", 9, 0x1920001a},
                                         BrokenWordCase{"TenthWord", 10, 0x4fb2f005}),
                         [](const testing::TestParamInfo<BrokenWordCase>& case_info) {
                           return std::string(case_info.param.name);
                         });

}  // namespace
}  // namespace zem
