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

Words each(Words words, std::uint32_t (*change)(std::uint32_t)) {
  for (std::uint32_t& w : words) w = change(w);
  return words;
}

TEST(HintsTest, EachKindHoldsWhereItShould) {
  RecordIndex others;
  const Words tile_9{0x99, 0x98};
  const Words tile_12{0x1000, 0x2000, 0x3000, 0x4000, 0x5000, 0x6000};
  others.add(9, tile_9);
  others.add(12, tile_12);
  Words tile_12_one_bit = tile_12;
  tile_12_one_bit[2] ^= 1U << 3;
  using hint::RecordChange;
  const struct {
    const char* name;
    Words record;
    std::vector<Hint> hints;
    bool explained;  // the hints say what every differing word holds
  } cases[] = {
      {"short", {0x11, 0x22, 0x33, 0x44}, {hint::Short{2, {{4, 0x55}, {5, 0x66}}}}, false},
      {"long",
       {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77},
       {hint::Long{1, false, {{6, 0x77}}}},
       false},
      {"byte-swapped", swapped(expected), {hint::ByteSwapped{}}, true},
      {"half-swapped",
       each(expected, [](std::uint32_t w) { return std::rotl(w, 16); }),
       {hint::HalfSwapped{}},
       true},
      {"one word late", {0x0, 0x11, 0x22, 0x33, 0x44, 0x55}, {hint::Shifted{1}}, false},
      {"two words early", {0x33, 0x44, 0x55, 0x66, 0x7, 0x8}, {hint::Shifted{-2}}, false},
      {"cut short, zeros after", {0x11, 0x22, 0, 0, 0, 0}, {hint::Truncated{2, 0}}, true},
      // Two words of fill are the fewest that say the record was cut short.
      {"cut short, two words left", {0x11, 0x22, 0x33, 0x44, 0, 0}, {hint::Truncated{4, 0}}, true},
      {"the last word zero", {0x11, 0x22, 0x33, 0x44, 0x55, 0}, {}, false},
      {"cut short, ones after",
       {0x11, 0xffffffff, 0xffffffff, 0xffffffff, 0xffffffff, 0xffffffff},
       {hint::Truncated{1, 0xffffffff}},
       true},
      {"unpatched",
       gathered,
       {hint::Unpatched{}, hint::SingleBit{1, {1}}, hint::SingleBit{2, {3}}},
       true},
      {"all zeros", Words(6, 0), {hint::AllZeros{}}, true},
      {"all ones", Words(6, 0xffffffff), {hint::AllOnes{}}, true},
      {"another tile's record",
       tile_9,
       {hint::Short{4, {{2, 0x33}, {3, 0x44}, {4, 0x55}, {5, 0x66}}}, hint::RecordOfTile{9}},
       true},
      {"another tile's record, one bit wrong",
       tile_12_one_bit,
       {hint::RecordOfTile{12, RecordChange::one_bit, 2, 3}},
       true},
      {"another tile's record, byte-swapped",
       swapped(tile_12),
       {hint::RecordOfTile{12, RecordChange::byte_swapped}},
       true},
      {"a data line stuck at 1",
       each(expected, [](std::uint32_t w) { return w | 0x100U; }),
       {hint::StuckBit{8, 1, 6}},
       true},
      {"a bit flipped",
       {0x11, 0x22, 0x33, 0x44 ^ 0x100, 0x55, 0x66},
       {hint::SingleBit{8, {3}}},
       false},
      {"bits flipped either way, grouped by bit",
       {0x10, 0x22, 0x33, 0x54, 0x55, 0x67},
       {hint::SingleBit{0, {0, 5}}, hint::SingleBit{4, {3}}},
       false},
      {"a bit flipped beside a word that differs more",
       {0x10, 0x22, 0x3c, 0x44, 0x55, 0x66},
       {hint::SingleBit{0, {0}}},
       false},
      {"nothing in common", {0x11, 0x2f, 0x3f, 0x44, 0x55, 0x66}, {}, false},
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
    EXPECT_EQ(hints_explain(hints), c.explained) << c.name;
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
