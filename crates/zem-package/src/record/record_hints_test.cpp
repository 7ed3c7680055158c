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

// The words of `record` that differ from `wanted`'s, as a check lists them.
std::vector<RecordWord> differing_words(const Words& record, const Words& wanted) {
  std::vector<RecordWord> differing;
  for (std::size_t n = 0; n < std::min(record.size(), wanted.size()); ++n) {
    if (record[n] != wanted[n]) differing.push_back({n, record[n] ^ wanted[n]});
  }
  return differing;
}

TEST(HintsTest, EachKindHoldsWhereItShould) {
  RecordIndex others;
  const Words tile_9{0x99, 0x98};
  const Words tile_12{0x1000, 0x2000, 0x3000, 0x4000, 0x5000, 0x6000};
  // Two tiles one bit from the same record; the higher one is met first.
  const Words near{0xa0, 0xa1, 0xa2, 0xa3, 0xa4, 0xa5};
  Words tile_30 = near;
  tile_30[0] ^= 1U;
  Words tile_20 = near;
  tile_20[5] ^= 1U << 3;
  others.add(9, tile_9);
  others.add(12, tile_12);
  others.add(30, tile_30);
  others.add(20, tile_20);
  // The tile's own record, which is never another tile's.
  others.add(4, expected);
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
      {"the lowest tile of two, one bit from each",
       near,
       {hint::RecordOfTile{20, RecordChange::one_bit, 5, 3}},
       true},
      {"another tile's record, byte-swapped",
       swapped(tile_12),
       {hint::RecordOfTile{12, RecordChange::byte_swapped}},
       true},
      {"a data line stuck at 1",
       each(expected, [](std::uint32_t w) { return w | 0x100U; }),
       {hint::StuckBit{8, 1, 6}},
       true},
      // Two words are the fewest that show a stuck line.
      {"a data line stuck at 0 in two words",
       {0x11, 0x20, 0x31, 0x44, 0x55, 0x66},
       {hint::StuckBit{1, 0, 2}},
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
    const std::vector<RecordWord> differing = differing_words(c.record, expected);
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
  const Words tile_12{0x1000, 0x2000, 0x3000, 0x4000, 0x5000, 0x6000};
  RecordIndex others;
  others.add(12, tile_12);
  for (const Words& record : {Words(6, 0xffffffff), swapped(expected), tile_12}) {
    HintInputs inputs;
    inputs.expected = expected;
    inputs.gathered = gathered;
    inputs.record = record;
    inputs.record_words = 1030;
    inputs.record_words_at_least = true;
    inputs.trailing = true;
    inputs.physical_tile = 4;
    inputs.others = &others;
    const std::vector<Hint> hints = find_hints(inputs, differing_words(record, expected));
    EXPECT_EQ(hints, std::vector<Hint>{(hint::Long{1024, true, {}})}) << record[0];
  }
}

// The costly searches go as far as their limits and no farther: a shift of
// `max_shift` words either way, and another tile's record one bit away in
// records of `max_one_bit_words` words.
TEST(HintsTest, SearchesReachTheirLimitsAndStopThere) {
  Words longer(max_shift + 4);
  for (std::size_t n = 0; n < longer.size(); ++n) {
    longer[n] = static_cast<std::uint32_t>(0x9e3779b9ULL * (n + 1));
  }
  const auto moved = [&](std::int64_t shift) {
    Words record(longer.size());
    for (std::size_t n = 0; n < record.size(); ++n) {
      const std::int64_t from = static_cast<std::int64_t>(n) - shift;
      record[n] = from >= 0 && from < static_cast<std::int64_t>(longer.size())
                      ? longer[static_cast<std::size_t>(from)]
                      : 0xdead0000U + static_cast<std::uint32_t>(n);
    }
    return record;
  };
  const auto limit = static_cast<std::int64_t>(max_shift);
  for (const std::int64_t shift : {limit, -limit, limit + 1, -limit - 1}) {
    const Words record = moved(shift);
    HintInputs inputs;
    inputs.expected = longer;
    inputs.gathered = longer;
    inputs.record = record;
    inputs.record_words = record.size();
    const std::vector<Hint> hints = find_hints(inputs, differing_words(record, longer));
    EXPECT_EQ(hints, std::abs(shift) <= limit ? std::vector<Hint>{hint::Shifted{shift}}
                                              : std::vector<Hint>{})
        << shift;
  }

  for (const std::size_t size :
       {RecordIndex::max_one_bit_words, RecordIndex::max_one_bit_words + 1}) {
    const Words record(size, 0x5a5a5a5a);
    Words other = record;
    other.back() ^= 1U << 31U;
    RecordIndex index;
    index.add(9, other);
    const std::optional<hint::RecordOfTile> found = index.tile_one_bit_from(record, 4);
    if (size <= RecordIndex::max_one_bit_words) {
      EXPECT_EQ(found, (hint::RecordOfTile{9, hint::RecordChange::one_bit, size - 1, 31}));
    } else {
      EXPECT_EQ(found, std::nullopt);
    }
  }
}

}  // namespace
}  // namespace zem
