#include "toolkit/tile/record_diff.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "damaged_packages.hpp"
#include "package_builder.hpp"
#include "package_reads.hpp"
#include "zem_package/device_check.hpp"
#include "zem_package/expected_record.hpp"

namespace zem::toolkit {
namespace {

namespace zt = zem::testing;

class RecordDiffTextTest : public ::testing::Test {
 protected:
  RecordDiffTextTest()
      : package_(zt::read_checked(zt::example_bytes()).value()),
        owners_(package_.model()),
        expected_(expected_record(package_.tile_memory(7).value()).value().value()) {}

  // The text of `record`, of which only `kept` bytes were read (all of them
  // when unset), as a check reads a record a little past its length.
  std::string text(const std::vector<std::uint8_t>& bytes, std::size_t max,
                   std::optional<std::size_t> kept = std::nullopt) const {
    const DeviceRecord input = device_record(bytes, kept.value_or(bytes.size()));
    const RecordDiff diff = diff_record(expected_, input, {max, &owners_, nullptr});
    return record_diff_text(diff, package_.model(), max, "  ") + record_diff_summary(diff) + "\n";
  }

  Package package_;
  AddressOwners owners_;
  ExpectedRecord expected_;
};

TEST_F(RecordDiffTextTest, WordsOwnersLengthsAndHints) {
  const std::vector<std::uint32_t> good = zt::make_template_tile().record;
  std::vector<std::uint32_t> changed = good;
  changed[1] = 200;       // the long delta 0x100 was not applied
  changed[7] ^= 1U << 2;  // secondary region, one bit
  std::vector<std::uint32_t> stuck = good;
  for (std::uint32_t& word : stuck) word |= 1U << 31;
  std::vector<std::uint8_t> odd = zt::words_to_bytes(good);
  odd.push_back(0);
  std::vector<std::uint8_t> one_more = zt::words_to_bytes(good);
  one_more.resize(one_more.size() + 4, 0);
  // A mebibyte appended: a check reads only the slack past the expected
  // length, and says so.
  std::vector<std::uint8_t> appended = zt::words_to_bytes(good);
  appended.resize(appended.size() + (std::size_t{1} << 20), 0);
  const struct {
    const char* name;
    std::vector<std::uint8_t> record;
    std::size_t max;
    const char* text;
    std::optional<std::size_t> kept = std::nullopt;
  } cases[] = {
      {"match", zt::words_to_bytes(good), 8,
       "templateRecordWords=10 recordWords=10 differingWords=0 status=match\n"},
      {"two words", zt::words_to_bytes(changed), 8,
       "  word  region     offset  address  actual      expected    xor         unpatched   patch\n"
       "     1  primary         4  0x4c404  0x000000c8  0x000001c8  0x00000100  0x000000c8  0.1\n"
       "     7  secondary       4  0x4c804  0x00000009  0x0000000d  0x00000004  0x00000008  1.0\n"
       "  word 1: segment 0 (0x4c000..0x4d000), blob 0 2db03c286234 at offset 1028; bindings1[0] "
       "weights, slice 0\n"
       "  word 7: segment 0 (0x4c000..0x4d000), blob 0 2db03c286234 at offset 2052\n"
       "  hint: single-bit: word 7 differs in bit 2 only\n"
       "  hint: single-bit: word 1 differs in bit 8 only\n"
       "templateRecordWords=10 recordWords=10 differingWords=2 status=differ\n"},
      // No word listed, but every hint given: they are found from the whole
      // record.
      {"none shown", zt::words_to_bytes(changed), 0,
       "  ... and 2 more differing words\n"
       "  hint: single-bit: word 7 differs in bit 2 only\n"
       "  hint: single-bit: word 1 differs in bit 8 only\n"
       "templateRecordWords=10 recordWords=10 differingWords=2 status=differ\n"},
      // A hint that says what every word holds stands for them all.
      {"a data line stuck at 1", zt::words_to_bytes(stuck), 8,
       "  10 differing words, each explained by the hint below\n"
       "  hint: stuck-bit: every differing word (10) differs in bit 31 alone and holds 1 there: a "
       "data line stuck at 1\n"
       "templateRecordWords=10 recordWords=10 differingWords=10 status=differ\n"},
      {"one word more, none listed", one_more, 0,
       "  device record length 44 does not match expected length 40\n"
       "  hint: long: the record is 1 word longer than expected; extra: 1 word, none listed\n"
       "templateRecordWords=10 recordWords=11 differingWords=0 status=differ\n"},
      {"a mebibyte appended", appended, 1,
       "  device record length 1048616 does not match expected length 40\n"
       "  hint: long: the record is 262144 words longer than expected; the first 1024 of them were "
       "read: word 10 (0x00000000), and 1023 more; the other 261120 were not read\n"
       "templateRecordWords=10 recordWords=262154 differingWords=0 status=differ\n",
       40 + record_slack},
      {"a byte more", odd, 8,
       "  device record length 41 does not match expected length 40\n"
       "  device record length 41 is not a multiple of 4: its last 1 byte is not compared\n"
       "templateRecordWords=10 recordWords=10 differingWords=0 status=differ\n"},
      {"empty",
       {},
       1,
       "  device record length 0 does not match expected length 40\n"
       "  hint: short: the record is 10 words short; missing: word 0 (0x00000062), and 9 more\n"
       "templateRecordWords=10 recordWords=0 differingWords=0 status=differ\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(text(c.record, c.max, c.kept), c.text) << c.name;
}

// Words that differ in one bit are listed up to --max, the last after
// "and", the rest counted.
TEST(HintTextTest, SingleBitWordsAreListed) {
  const struct {
    std::vector<std::size_t> words;
    std::size_t max;
    const char* text;
  } cases[] = {
      {{4}, 8, "single-bit: word 4 differs in bit 3 only"},
      {{4, 9}, 8, "single-bit: words 4 and 9 differ in bit 3 only"},
      {{4, 9, 12}, 8, "single-bit: words 4, 9 and 12 differ in bit 3 only"},
      {{4, 9, 12}, 2, "single-bit: words 4, 9 and 1 more differ in bit 3 only"},
      {{4, 9, 12}, 0, "single-bit: 3 words differ in bit 3 only"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(hint_text(hint::SingleBit{3, c.words}, c.max), c.text) << c.max;
  }
}

// An owner's blob is named by its digest only when the model holds it.
TEST_F(RecordDiffTextTest, NamesAnOwnersBlobByDigestOnlyWhenTheModelHoldsIt) {
  std::vector<std::uint32_t> changed = zt::make_template_tile().record;
  changed[7] ^= 1U;
  const DeviceRecord input = device_record(zt::words_to_bytes(changed), changed.size() * 4);
  RecordDiff diff = diff_record(expected_, input, {8, &owners_, nullptr});
  ASSERT_EQ(diff.differences.size(), 1U);
  std::optional<BlobByte>& data = diff.differences[0].owner.segment->data;
  ASSERT_TRUE(data);
  const auto& blobs = package_.model().blobs;
  for (const std::size_t blob : {blobs.size() - 1, blobs.size()}) {
    data->blob = blob;
    const std::string named = fmt::format("blob {} at offset", blob);
    const bool held = blob < blobs.size();
    EXPECT_EQ(record_diff_text(diff, package_.model(), 8, "").find(named) == std::string::npos,
              held)
        << blob;
  }
}

}  // namespace
}  // namespace zem::toolkit
