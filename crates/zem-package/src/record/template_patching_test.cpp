#include "zem_package/template_patching.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace zem {
namespace {

template <class T>
std::string failure_of(const TemplateResult<T>& outcome) {
  return outcome ? "<success>" : to_string(outcome.error());
}

// The patched template words alone.
TemplateResult<std::vector<std::uint32_t>> patched_template_words(
    std::span<const std::uint8_t> image, std::uint32_t load_base, const TemplateSetup& setup) {
  auto patched = patch_template(image, load_base, setup);
  if (!patched) return std::unexpected(patched.error());
  return std::move(patched->words);
}

// --- word_at ---------------------------------------------------------------

struct WordAtCase {
  std::uint32_t address;
  std::string_view expected;  // word in hex, or the failure message
  friend void PrintTo(const WordAtCase& c, std::ostream* os) { *os << "address " << c.address; }
};

class WordAtTest : public testing::TestWithParam<WordAtCase> {};

TEST_P(WordAtTest, ReadsLittleEndianWordsInsideTheImageOnly) {
  const std::vector<std::uint8_t> image{1, 2, 3, 4, 5, 6, 7, 8};
  const TemplateResult<std::uint32_t> word = word_at(image, 0x1000, GetParam().address);
  EXPECT_EQ(word ? fmt::format("{:#x}", *word) : to_string(word.error()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Offsets, WordAtTest,
    testing::Values(WordAtCase{0x1000, "0x4030201"}, WordAtCase{0x1001, "0x5040302"},
                    WordAtCase{0x1004, "0x8070605"},
                    WordAtCase{0x1005, "range end index 9 out of range for slice of length 8"},
                    WordAtCase{0x1008, "range end index 12 out of range for slice of length 8"},
                    WordAtCase{0x1009, "index 9 out of range for slice of length 8"},
                    // Below the load base the offset wraps to a huge value.
                    WordAtCase{0x0fff, "index 4294967295 out of range for slice of length 8"},
                    WordAtCase{0x0ffc, "index 4294967292 out of range for slice of length 8"}));

// --- patch -----------------------------------------------------------------

// A group that patches positions 1 (short delta -2) and 3 (long delta 0x100).
const std::vector<std::uint32_t> kExampleGroup{0x00010001, 0x00000005, 0x00000001, 0x0000fffe,
                                               0x00000100};

TEST(PatchTest, WorkedExample) {
  std::vector<std::uint32_t> target{10, 20, 30, 40};
  std::vector<std::uint32_t> table = kExampleGroup;
  table.push_back(0xdeadbeef);  // words after the group are not part of it
  const TemplateResult<std::size_t> used = patch(target, table);
  ASSERT_TRUE(used.has_value()) << to_string(used.error());
  EXPECT_EQ(*used, 5U);
  EXPECT_EQ(target, (std::vector<std::uint32_t>{10, 18, 30, 296}));
}

struct PatchCase {
  std::string_view name;
  friend void PrintTo(const PatchCase& c, std::ostream* os) { *os << c.name; }
  std::vector<std::uint32_t> target;
  std::vector<std::uint32_t> table;
  std::vector<std::uint32_t> patched;
  std::size_t used;
};

class PatchSuccessTest : public testing::TestWithParam<PatchCase> {};

TEST_P(PatchSuccessTest, PatchesAndCountsTheGroup) {
  const PatchCase& c = GetParam();
  std::vector<std::uint32_t> target = c.target;
  const TemplateResult<std::size_t> used = patch(target, c.table);
  ASSERT_TRUE(used.has_value()) << to_string(used.error());
  EXPECT_EQ(*used, c.used);
  EXPECT_EQ(target, c.patched);
}

// A group with one mask word patching positions 0 to 32 of a 33-word target:
// the 33rd position is governed by bit 0 of the second selector word.
PatchCase second_selector_word_case() {
  PatchCase c{"SecondSelectorWord", std::vector<std::uint32_t>(33, 100), {}, {}, 38};
  c.table = {0x00020000, 0xffffffff, 0x00000001, 0x00000000, 0x00000001, 0x00000005};
  for (std::uint32_t k = 0; k < 32; ++k) c.table.push_back(k);
  for (std::uint32_t k = 0; k < 32; ++k) c.patched.push_back(100 + k);
  c.patched.push_back(105);
  return c;
}

INSTANTIATE_TEST_SUITE_P(
    Groups, PatchSuccessTest,
    testing::Values(
        PatchCase{"HeaderZero", {1, 2}, {0, 0x00010000, 1}, {1, 2}, 1},
        PatchCase{"NoMaskWords", {1, 2}, {0x00000007, 0x1, 0x1}, {1, 2}, 1},
        PatchCase{"ShortDeltaIsSignExtended", {40000}, {0x00010000, 1, 1, 0x00008000}, {7232}, 4},
        PatchCase{"ShortDeltasLowHalfFirst",
                  {10, 10, 10},
                  {0x00010000, 0b111, 0b111, 0x0003fffe, 0x00000007},
                  {8, 13, 17},
                  5},
        PatchCase{"LongDeltaAllOnesSubtractsOne", {5}, {0x00010000, 1, 0, 0xffffffff}, {4}, 4},
        PatchCase{"LongDeltaWraps", {0xffffffff}, {0x00010000, 1, 0, 1}, {0}, 4},
        // Bit 1 of the selector lies beyond the one patched position, yet it
        // adds a short-delta word, which pushes the long delta one word on.
        PatchCase{
            "SelectorBitBeyondPatchedPositions", {1}, {0x00010000, 1, 0b10, 0xdeadbeef, 7}, {8}, 5},
        PatchCase{"FirstPositionAndLaterMaskWord",
                  std::vector<std::uint32_t>(36, 0),
                  {0x00020003, 0, 1, 0, 9},
                  [] {
                    std::vector<std::uint32_t> v(36, 0);
                    v[35] = 9;
                    return v;
                  }(),
                  5},
        second_selector_word_case()),
    [](const testing::TestParamInfo<PatchCase>& case_info) {
      return std::string(case_info.param.name);
    });

struct PatchFailureCase {
  std::string_view name;
  friend void PrintTo(const PatchFailureCase& c, std::ostream* os) { *os << c.name; }
  std::size_t target_length;
  std::vector<std::uint32_t> table;
  std::string_view message;
};

class PatchFailureTest : public testing::TestWithParam<PatchFailureCase> {};

TEST_P(PatchFailureTest, ReportsTheFirstBoundThatFails) {
  const PatchFailureCase& c = GetParam();
  std::vector<std::uint32_t> target(c.target_length, 0);
  EXPECT_EQ(failure_of(patch(target, c.table)), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, PatchFailureTest,
    testing::Values(
        PatchFailureCase{"EmptyTable", 4, {}, "index 0 out of range for slice of length 0"},
        PatchFailureCase{"MaskWordsPastEnd",
                         4,
                         {0x00020000, 1},
                         "range end index 3 out of range for slice of length 2"},
        PatchFailureCase{"SelectorWordsPastEnd",
                         4,
                         {0x00010000, 1},
                         "range end index 3 out of range for slice of length 2"},
        PatchFailureCase{"ShortDeltaWordsPastEnd",
                         4,
                         {0x00010000, 0b11, 0b11},
                         "range end index 4 out of range for slice of length 3"},
        PatchFailureCase{
            "NoLongDelta", 4, {0x00010000, 1, 0}, "index 0 out of range for slice of length 0"},
        PatchFailureCase{"SecondLongDeltaMissing",
                         4,
                         {0x00010000, 0b11, 0, 5},
                         "index 1 out of range for slice of length 1"},
        PatchFailureCase{"PositionBeyondTarget",
                         2,
                         {0x00010002, 1, 1, 5},
                         "index 2 out of range for slice of length 2"},
        PatchFailureCase{"PositionBeyondEmptyTarget",
                         0,
                         {0x00010003, 1, 0, 5},
                         "index 3 out of range for slice of length 0"},
        // Both problems at once: the missing delta is found first.
        PatchFailureCase{"MissingDeltaBeforeBadPosition",
                         1,
                         {0x00010005, 1, 0},
                         "index 0 out of range for slice of length 0"}),
    [](const testing::TestParamInfo<PatchFailureCase>& case_info) {
      return std::string(case_info.param.name);
    });

TEST(PatchTest, LeavesEarlierPositionsPatchedOnFailure) {
  std::vector<std::uint32_t> target{1, 1};
  const std::vector<std::uint32_t> table{0x00010000, 0b101, 0, 7, 7};
  EXPECT_EQ(failure_of(patch(target, table)), "index 2 out of range for slice of length 2");
  EXPECT_EQ(target, (std::vector<std::uint32_t>{8, 1}));
}

// --- the patching stage ----------------------------------------------------

constexpr std::uint32_t kBase = 0x4c000;

// A tile image with primary words [10, 20, 30, 40] at 0x4c100, secondary words
// [100, 200] at 0x4c200, the table start 0x4c400 stored at 0x4c300, and at
// 0x4c400 the example group followed by a group adding 5 to secondary word 1.
// The image ends right after the second group, at offset 1060.
struct Scenario {
  std::vector<std::uint8_t> image = std::vector<std::uint8_t>(0x400 + 9 * 4, 0);
  std::uint32_t load_base = kBase;
  TemplateSetup setup{.primary = 0x4c100,
                      .secondary = 0x4c200,
                      .primary_words = 4,
                      .secondary_words = 2,
                      .patch_table = 0x4c300};

  Scenario() {
    put(0x4c100, {10, 20, 30, 40});
    put(0x4c200, {100, 200});
    put(0x4c300, {0x4c400});
    put(0x4c400, kExampleGroup);
    put(0x4c414, {0x00010000, 0b10, 0b1, 5});
  }

  void put(std::uint32_t address, const std::vector<std::uint32_t>& words) {
    std::size_t offset = address - load_base;
    for (const std::uint32_t word : words) {
      for (unsigned shift = 0; shift < 32; shift += 8) {
        image.at(offset++) = static_cast<std::uint8_t>(word >> shift);
      }
    }
  }

  [[nodiscard]] TemplateResult<std::vector<std::uint32_t>> run() const {
    return patched_template_words(image, load_base, setup);
  }
};

TEST(PatchedTemplateWordsTest, PatchesPrimaryThenSecondaryPart) {
  Scenario s;
  TemplateResult<std::vector<std::uint32_t>> words = s.run();
  ASSERT_TRUE(words.has_value()) << to_string(words.error());
  EXPECT_EQ(*words, (std::vector<std::uint32_t>{10, 18, 30, 296, 100, 205}));

  // Whatever follows the second group is ignored, as long as it is whole words.
  s.image.resize(s.image.size() + 8, 0xee);
  words = s.run();
  ASSERT_TRUE(words.has_value()) << to_string(words.error());
  EXPECT_EQ(*words, (std::vector<std::uint32_t>{10, 18, 30, 296, 100, 205}));
}

// What each group changed is told, with the words as gathered.
TEST(PatchedTemplateWordsTest, TellsTheGatheredWordsAndEveryPatch) {
  const Scenario s;
  const TemplateResult<PatchedTemplate> patched = patch_template(s.image, s.load_base, s.setup);
  ASSERT_TRUE(patched.has_value()) << to_string(patched.error());
  EXPECT_EQ(patched->gathered, (std::vector<std::uint32_t>{10, 20, 30, 40, 100, 200}));
  EXPECT_EQ(patched->words, (std::vector<std::uint32_t>{10, 18, 30, 296, 100, 205}));
  EXPECT_EQ(patched->primary_patches,
            (std::vector<AppliedPatch>{{1, 0, 0xfffffffe}, {3, 1, 0x100}}));
  EXPECT_EQ(patched->secondary_patches, (std::vector<AppliedPatch>{{1, 0, 5}}));
  // The first group's five words at 0x4c400, then the second's four.
  EXPECT_EQ(patched->table_start, 0x4c400U);
  EXPECT_EQ(patched->table_words, 9U);
}

TEST(PatchedTemplateWordsTest, EmptyFirstGroupStartsTheSecondAtWordOne) {
  Scenario s;
  s.put(0x4c400, {0, 0x00010000, 0b10, 0b1, 5});
  const TemplateResult<std::vector<std::uint32_t>> words = s.run();
  ASSERT_TRUE(words.has_value()) << to_string(words.error());
  EXPECT_EQ(*words, (std::vector<std::uint32_t>{10, 20, 30, 40, 100, 205}));
}

TEST(PatchedTemplateWordsTest, NoTemplateWordsAndEmptyGroupsGiveAnEmptyRecord) {
  Scenario s;
  s.setup.primary_words = 0;
  s.setup.secondary_words = 0;
  s.put(0x4c400, {0, 0});
  const TemplateResult<std::vector<std::uint32_t>> words = s.run();
  ASSERT_TRUE(words.has_value()) << to_string(words.error());
  EXPECT_TRUE(words->empty());
}

struct StageFailureCase {
  std::string_view name;
  friend void PrintTo(const StageFailureCase& c, std::ostream* os) { *os << c.name; }
  void (*change)(Scenario&);
  std::string_view message;
};

class PatchedTemplateWordsFailureTest : public testing::TestWithParam<StageFailureCase> {};

TEST_P(PatchedTemplateWordsFailureTest, FailsInTheOrderOfTheWork) {
  Scenario s;
  GetParam().change(s);
  EXPECT_EQ(failure_of(s.run()), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, PatchedTemplateWordsFailureTest,
    testing::Values(StageFailureCase{"PrimaryBelowLoadBase",
                                     [](Scenario& s) { s.setup.primary = kBase - 0x100; },
                                     "index 4294967040 out of range for slice of length 1060"},
                    StageFailureCase{"PrimaryRunsPastImageEnd",
                                     [](Scenario& s) { s.setup.primary = kBase + 1060 - 8; },
                                     "range end index 1064 out of range for slice of length 1060"},
                    StageFailureCase{"UnalignedWordStraddlesImageEnd",
                                     [](Scenario& s) {
                                       s.setup.primary = kBase + 1058;
                                       s.setup.primary_words = 1;
                                     },
                                     "range end index 1062 out of range for slice of length 1060"},
                    StageFailureCase{"PrimaryBeforeSecondaryAndTable",
                                     [](Scenario& s) {
                                       s.setup.primary = kBase + 2000;
                                       s.setup.secondary = kBase - 4;
                                       s.setup.patch_table = kBase - 8;
                                     },
                                     "index 2000 out of range for slice of length 1060"},
                    StageFailureCase{"SecondaryBeforeTable",
                                     [](Scenario& s) {
                                       s.setup.secondary = kBase + 2000;
                                       s.setup.patch_table = kBase - 8;
                                     },
                                     "index 2000 out of range for slice of length 1060"},
                    StageFailureCase{"TableStartWordOutsideImage",
                                     [](Scenario& s) { s.setup.patch_table = kBase + 1060; },
                                     "range end index 1064 out of range for slice of length 1060"},
                    StageFailureCase{"TableStartAtImageEnd",
                                     [](Scenario& s) { s.put(0x4c300, {kBase + 1060}); },
                                     "index 0 out of range for slice of length 0"},
                    StageFailureCase{"TableStartBeyondImageEnd",
                                     [](Scenario& s) { s.put(0x4c300, {0xfffffff0}); },
                                     "index 0 out of range for slice of length 0"},
                    StageFailureCase{"TableStartBelowLoadBase",
                                     [](Scenario& s) { s.put(0x4c300, {kBase - 0x10}); },
                                     "index 4294967280 out of range for slice of length 1060"},
                    // The last patch word reaches 2 bytes past the end, though unused.
                    StageFailureCase{"OddTailAfterTable",
                                     [](Scenario& s) { s.image.resize(1062, 0); },
                                     "range end index 1064 out of range for slice of length 1062"},
                    StageFailureCase{"FirstGroupRunsOutOfLongDeltas",
                                     [](Scenario& s) {
                                       // Positions 1 to 3 take long deltas, but the
                                       // patch words end two words after the selector.
                                       s.put(0x4c400, {0x00010000, 0b1110, 0});
                                       s.image.resize(0x400 + 5 * 4);
                                     },
                                     "index 2 out of range for slice of length 2"},
                    StageFailureCase{"SecondGroupPositionsCountFromSecondaryPart",
                                     [](Scenario& s) {
                                       s.put(0x4c414, {0x00010000, 0b100, 0b1, 5});
                                     },
                                     "index 2 out of range for slice of length 2"},
                    StageFailureCase{"NoTemplateWordsButAPatchedPosition",
                                     [](Scenario& s) {
                                       s.setup.primary_words = 0;
                                       s.setup.secondary_words = 0;
                                       s.put(0x4c400, {0x00010002, 1, 1, 5});
                                     },
                                     "index 2 out of range for slice of length 0"}),
    [](const testing::TestParamInfo<StageFailureCase>& case_info) {
      return std::string(case_info.param.name);
    });

TEST(PatchedTemplateWordsTest, RefusesAnImageReachingPastTheAddressSpace) {
  std::vector<std::uint8_t> image(0x200, 0);
  const TemplateSetup setup{.patch_table = 0xffffff00};
  EXPECT_EQ(failure_of(patched_template_words(image, 0xffffff00, setup)),
            "tile image does not fit in the 32-bit address space: load base 0xffffff00 plus "
            "length 512 exceeds 0xffffffff");
}

TEST(PatchedTemplateWordsTest, RefusesAnImageLongerThan32Bits) {
  // 4 GiB of untouched zero pages: only the table start word is ever read.
  constexpr std::size_t kLength = std::size_t{1} << 32U;
  void* mapping =
      ::mmap(nullptr, kLength, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (mapping == MAP_FAILED) GTEST_SKIP() << "cannot reserve 4 GiB of address space";
  const std::span<const std::uint8_t> image(static_cast<const std::uint8_t*>(mapping), kLength);
  const TemplateResult<std::vector<std::uint32_t>> words =
      patched_template_words(image, 0, TemplateSetup{});
  ::munmap(mapping, kLength);
  EXPECT_EQ(failure_of(words),
            "cannot convert tile image length to 32 bits: 4294967296 is out of range");
}

}  // namespace
}  // namespace zem
