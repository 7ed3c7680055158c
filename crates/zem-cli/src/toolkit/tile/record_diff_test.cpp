#include "toolkit/tile/record_diff.hpp"

#include <gtest/gtest.h>

#include "damaged_packages.hpp"
#include "package_builder.hpp"
#include "package_reads.hpp"
#include "record_check/expected_record.hpp"

namespace zem::toolkit {
namespace {

namespace zt = zem::testing;
namespace rc = zem::record_check;

class RecordDiffTextTest : public ::testing::Test {
 protected:
  RecordDiffTextTest()
      : package_(zt::read_checked(zt::example_bytes()).value()),
        owners_(package_.model()),
        expected_(rc::expected_record(package_.tile_memory(7).value()).value()) {}

  std::string text(const std::vector<std::uint8_t>& bytes, std::size_t max) const {
    rc::RecordInput input;
    input.bytes = bytes;
    input.size = bytes.size();
    const rc::RecordDiff diff = rc::diff_record(expected_, input, {max, &owners_, nullptr});
    return record_diff_text(diff, package_.model(), max, "  ") + record_diff_summary(diff) + "\n";
  }

  Package package_;
  AddressOwners owners_;
  rc::ExpectedRecord expected_;
};

TEST_F(RecordDiffTextTest, WordsOwnersLengthsAndHints) {
  const std::vector<std::uint32_t> good = zt::make_template_tile().record;
  std::vector<std::uint32_t> changed = good;
  changed[1] = 200;       // the long delta 0x100 was not applied
  changed[7] ^= 1U << 2;  // secondary region, one bit
  std::vector<std::uint8_t> odd = zt::words_to_bytes(good);
  odd.push_back(0);
  const struct {
    const char* name;
    std::vector<std::uint8_t> record;
    std::size_t max;
    const char* text;
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
       "  hint: single-bit: word 1 differs in bit 8 only\n"
       "  hint: single-bit: word 7 differs in bit 2 only\n"
       "templateRecordWords=10 recordWords=10 differingWords=2 status=differ\n"},
      {"one shown", zt::words_to_bytes(changed), 0,
       "  ... and 2 more differing words\n"
       "templateRecordWords=10 recordWords=10 differingWords=2 status=differ\n"},
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
  for (const auto& c : cases) EXPECT_EQ(text(c.record, c.max), c.text) << c.name;
}

}  // namespace
}  // namespace zem::toolkit
