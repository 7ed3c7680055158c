// Hints hold exactly: each kind on a record made to have it, and none on a
// record that differs at random.

#include "record/hint_search.hpp"

#include <gtest/gtest.h>

#include <bit>

namespace zem {
namespace {

using Words = std::vector<std::uint32_t>;

const Words expected{0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
const Words gathered{0x11, 0x20, 0x33, 0x40, 0x55, 0x66};

Words swapped(Words words) {
  for (std::uint32_t& w : words) w = std::byteswap(w);
  return words;
}

TEST(HintsTest, EachKindHoldsWhereItShould) {
  RecordIndex others;
  const Words tile_9{0x99, 0x98};
  others.add(9, tile_9);
  const struct {
    const char* name;
    Words record;
    std::vector<Hint> hints;
  } cases[] = {
      {"short", {0x11, 0x22, 0x33, 0x44}, {hint::Short{2, {{4, 0x55}, {5, 0x66}}}}},
      {"long", {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}, {hint::Long{1, false, {{6, 0x77}}}}},
      {"byte-swapped", swapped(expected), {hint::ByteSwapped{}}},
      {"one word late", {0x0, 0x11, 0x22, 0x33, 0x44, 0x55}, {hint::Shifted{1}}},
      {"two words early", {0x33, 0x44, 0x55, 0x66, 0x7, 0x8}, {hint::Shifted{-2}}},
      {"unpatched", gathered, {hint::Unpatched{}, hint::SingleBit{1, 1}, hint::SingleBit{3, 2}}},
      {"all zeros", Words(6, 0), {hint::AllZeros{}}},
      {"all ones", Words(6, 0xffffffff), {hint::AllOnes{}}},
      {"another tile's record",
       tile_9,
       {hint::Short{4, {{2, 0x33}, {3, 0x44}, {4, 0x55}, {5, 0x66}}}, hint::RecordOfTile{9}}},
      {"a bit flipped", {0x11, 0x22, 0x33, 0x44 ^ 0x100, 0x55, 0x66}, {hint::SingleBit{3, 8}}},
      {"nothing in common", {0x11, 0x2f, 0x3f, 0x44, 0x55, 0x66}, {}},
  };
  for (const auto& c : cases) {
    std::vector<RecordWord> differing;
    for (std::size_t n = 0; n < std::min(c.record.size(), expected.size()); ++n) {
      if (c.record[n] != expected[n]) differing.push_back({n, c.record[n] ^ expected[n]});
    }
    HintInputs inputs;
    inputs.expected = expected;
    inputs.gathered = gathered;
    inputs.record = c.record;
    inputs.record_words = c.record.size();
    inputs.physical_tile = 4;
    inputs.others = &others;
    const std::vector<Hint> hints = find_hints(inputs, differing);
    EXPECT_EQ(hints, c.hints) << c.name;
  }
}

// A record that holds part of a word, or was not read to its end, is not
// the same as its whole words: only its length and its bits are hinted at.
TEST(HintsTest, ARecordWithMoreThanItsWordsIsOnlyLong) {
  HintInputs inputs;
  inputs.expected = expected;
  inputs.gathered = gathered;
  const Words all_ones(6, 0xffffffff);
  inputs.record = all_ones;
  inputs.record_words = 1030;
  inputs.record_words_at_least = true;
  inputs.trailing = true;
  const std::vector<Hint> hints = find_hints(inputs, {});
  ASSERT_EQ(hints.size(), 1U);
  EXPECT_EQ(hint_kind(hints[0]), "long");
  EXPECT_EQ(std::get<hint::Long>(hints[0]).words, 1024U);
  EXPECT_TRUE(std::get<hint::Long>(hints[0]).at_least);
}

}  // namespace
}  // namespace zem
