#include "toolkit/tile/record_diff.hpp"

#include <gtest/gtest.h>

#include "package_builder.hpp"
#include "template_record/patching.hpp"

namespace zem::toolkit {
namespace {

namespace zt = zem::testing;
namespace tr = zem::template_record;

// The template tile's setup and its words before and after patching.
struct Template {
  tr::TemplateSetup setup;
  std::vector<std::uint32_t> unpatched;
  std::vector<std::uint32_t> patched;
};

Template template_tile() {
  const zt::TemplateTile tile = zt::make_template_tile();
  Template t;
  t.setup = tr::locate_template_setup(tile.image).value();
  t.unpatched = tr::template_words(tile.image, tile.load_base, t.setup).value();
  t.patched = tr::patched_template_words(tile.image, tile.load_base, t.setup).value();
  return t;
}

RecordDiff diff_of(const Template& t, const std::vector<std::uint32_t>& record_words) {
  const std::vector<std::uint8_t> record = zt::words_to_bytes(record_words);
  return diff_record(t.setup, t.unpatched, t.patched, record, record.size());
}

TEST(DiffTest, UnpatchedWordsAreTheRegionsAsStored) {
  const Template t = template_tile();
  EXPECT_EQ(t.unpatched, (std::vector<std::uint32_t>{100, 200, 300, 400, 500, 600, 7, 8, 9, 10}));
  EXPECT_EQ(t.patched, zt::make_template_tile().record);
}

TEST(DiffTest, MatchingRecordHasNoDifferences) {
  const Template t = template_tile();
  const RecordDiff diff = diff_of(t, t.patched);
  EXPECT_TRUE(diff.matches());
  EXPECT_EQ(diff_text(diff, 20),
            "templateRecordWords=10 recordWords=10 differingWords=0 status=match\n");
}

TEST(DiffTest, ReportsEveryDifferingWordWithItsPlace) {
  const Template t = template_tile();
  std::vector<std::uint32_t> record = t.patched;
  record[0] = 100;         // primary, patched: the patch's effect is missing
  record[2] = 0x80000000;  // primary, unpatched
  record[7] = 8;           // secondary, patched
  record[9] = 0;           // secondary, unpatched
  const RecordDiff diff = diff_of(t, record);
  EXPECT_FALSE(diff.matches());
  const std::vector<WordDifference> expected = {
      {0, {Region::primary, 0x0, 0x4c400}, 100, 98, true},
      {2, {Region::primary, 0x8, 0x4c408}, 0x80000000, 300, false},
      {7, {Region::secondary, 0x4, 0x4c804}, 8, 13, true},
      {9, {Region::secondary, 0xc, 0x4c80c}, 0, 10, false},
  };
  EXPECT_EQ(diff.differences, expected);
  EXPECT_EQ(diff_text(diff, 20),
            "word  region     offset  address  actual      expected    patched\n"
            "   0  primary       0x0  0x4c400  0x00000064  0x00000062  yes\n"
            "   2  primary       0x8  0x4c408  0x80000000  0x0000012c  no\n"
            "   7  secondary     0x4  0x4c804  0x00000008  0x0000000d  yes\n"
            "   9  secondary     0xc  0x4c80c  0x00000000  0x0000000a  no\n"
            "templateRecordWords=10 recordWords=10 differingWords=4 status=differ\n");
  EXPECT_EQ(diff_text(diff, 1),
            "word  region   offset  address  actual      expected    patched\n"
            "   0  primary     0x0  0x4c400  0x00000064  0x00000062  yes\n"
            "... and 3 more differing words\n"
            "templateRecordWords=10 recordWords=10 differingWords=4 status=differ\n");
  EXPECT_EQ(diff_text(diff, 0),
            "... and 4 more differing words\n"
            "templateRecordWords=10 recordWords=10 differingWords=4 status=differ\n");
  // JSON shows as many words, with the sizes that can exceed 2^53 as strings.
  EXPECT_EQ(diff_json(diff, 1), Json::parse(R"({
      "templateRecordWords": 10, "recordBytes": "40", "recordWords": "10",
      "differingWords": 4,
      "differences": [{"word": 0, "region": "primary", "offset": "0x0", "address": "0x4c400",
                       "actual": 100, "expected": 98, "patched": true}],
      "status": "differ"})"));
}

// A record of another length is compared over the words both hold, and
// never matches.
TEST(DiffTest, RecordOfAnotherLengthDiffers) {
  const Template t = template_tile();
  const struct {
    std::string_view name;
    std::vector<std::uint8_t> record;
    std::string_view text;
  } cases[] = {
      {"short", zt::words_to_bytes(std::span(t.patched).first(9)),
       "device record length 36 does not match expected length 40\n"
       "templateRecordWords=10 recordWords=9 differingWords=0 status=differ\n"},
      {"long", zt::words_to_bytes(std::vector<std::uint32_t>(11, 98)),
       "word  region   offset  address  actual      expected    patched\n"
       "   1  primary     0x4  0x4c404  0x00000062  0x000001c8  yes\n"
       "... and 8 more differing words\n"
       "device record length 44 does not match expected length 40\n"
       "templateRecordWords=10 recordWords=11 differingWords=9 status=differ\n"},
      {"empty",
       {},
       "device record length 0 does not match expected length 40\n"
       "templateRecordWords=10 recordWords=0 differingWords=0 status=differ\n"},
  };
  for (const auto& c : cases) {
    const RecordDiff diff = diff_record(t.setup, t.unpatched, t.patched, c.record, c.record.size());
    EXPECT_FALSE(diff.matches()) << c.name;
    EXPECT_EQ(diff_text(diff, 1), c.text) << c.name;
  }
  // A tail of 1 to 3 bytes is not a word, but it is part of the length, and
  // said to be left out.
  std::vector<std::uint8_t> odd = zt::words_to_bytes(t.patched);
  odd.push_back(0);
  const RecordDiff diff = diff_record(t.setup, t.unpatched, t.patched, odd, odd.size());
  EXPECT_TRUE(diff.differences.empty());
  EXPECT_FALSE(diff.matches());
  EXPECT_EQ(diff_text(diff, 1),
            "device record length 41 does not match expected length 40\n"
            "device record length 41 is not a multiple of 4: its last 1 byte is not compared\n"
            "templateRecordWords=10 recordWords=10 differingWords=0 status=differ\n");
}

// Only the bytes kept are compared; the length is the file's.
TEST(DiffTest, LengthIsTheFilesNotTheBytesKept) {
  const Template t = template_tile();
  const std::vector<std::uint8_t> kept = zt::words_to_bytes(t.patched);
  const RecordDiff diff = diff_record(t.setup, t.unpatched, t.patched, kept, 1U << 30);
  EXPECT_FALSE(diff.matches());
  EXPECT_TRUE(diff.differences.empty());
}

}  // namespace
}  // namespace zem::toolkit
