// End-to-end tests of `zem-package diff`.

#include <gtest/gtest.h>

#include "toolkit_fixture.hpp"

namespace zem::testing {
namespace {

TEST_F(ZemPackageTest, DiffOfAMatchingRecord) {
  const ProgramRun result = run({"diff", package(), "7", record(make_template_tile().record)});
  EXPECT_EQ(result.status, tool_success) << result.err;
  EXPECT_EQ(result.out,
            std::string(example_setup_line) +
                "templateRecordWords=10 recordWords=10 differingWords=0 status=match\n");
  EXPECT_EQ(result.err, "");
}

TEST_F(ZemPackageTest, DiffOfARecordWithSeveralDifferences) {
  std::vector<std::uint32_t> words = make_template_tile().record;
  words[1] = 200;  // the long delta 0x100 was not applied
  words[3] = 400;  // the long delta -1 was not applied
  words[4] = 0;    // not a patched word
  words[7] = 8;    // secondary region, short delta 5 not applied
  const std::string recorded = record(words);

  const ProgramRun all = run({"diff", package(), "7", recorded});
  EXPECT_EQ(all.status, tool_negative) << all.err;
  EXPECT_EQ(all.err, "");
  EXPECT_EQ(
      all.out,
      std::string(example_setup_line) +
          "word  region     offset  address  actual      expected    xor         unpatched   "
          "patch\n"
          "   1  primary         4  0x4c404  0x000000c8  0x000001c8  0x00000100  0x000000c8  0.1\n"
          "   3  primary        12  0x4c40c  0x00000190  0x0000018f  0x0000001f  0x00000190  0.2\n"
          "   4  primary        16  0x4c410  0x00000000  0x000001f4  0x000001f4  0x000001f4  -\n"
          "   7  secondary       4  0x4c804  0x00000008  0x0000000d  0x00000005  0x00000008  1.0\n"
          "word 1: segment 0 (0x4c000..0x4d000), blob 0 2db03c286234 at offset 1028; "
          "bindings1[0] weights, slice 0\n"
          "word 3: segment 0 (0x4c000..0x4d000), blob 0 2db03c286234 at offset 1036; "
          "bindings1[0] weights, slice 0\n"
          "word 4: segment 0 (0x4c000..0x4d000), blob 0 2db03c286234 at offset 1040; "
          "bindings1[0] weights, slice 0\n"
          "word 7: segment 0 (0x4c000..0x4d000), blob 0 2db03c286234 at offset 2052\n"
          "hint: single-bit: word 1 differs in bit 8 only\n"
          "templateRecordWords=10 recordWords=10 differingWords=4 status=differ\n");

  // At most --max words are explained; the hints still weigh every word.
  const ProgramRun limited = run({"diff", package(), "7", recorded, "--max", "2"});
  EXPECT_EQ(limited.status, tool_negative);
  EXPECT_EQ(
      limited.out,
      std::string(example_setup_line) +
          "word  region   offset  address  actual      expected    xor         unpatched   "
          "patch\n"
          "   1  primary       4  0x4c404  0x000000c8  0x000001c8  0x00000100  0x000000c8  0.1\n"
          "   3  primary      12  0x4c40c  0x00000190  0x0000018f  0x0000001f  0x00000190  0.2\n"
          "word 1: segment 0 (0x4c000..0x4d000), blob 0 2db03c286234 at offset 1028; "
          "bindings1[0] weights, slice 0\n"
          "word 3: segment 0 (0x4c000..0x4d000), blob 0 2db03c286234 at offset 1036; "
          "bindings1[0] weights, slice 0\n"
          "... and 2 more differing words\n"
          "hint: single-bit: word 1 differs in bit 8 only\n"
          "templateRecordWords=10 recordWords=10 differingWords=4 status=differ\n");
}

TEST_F(ZemPackageTest, DiffJson) {
  std::vector<std::uint32_t> words = make_template_tile().record;
  words[7] = 8;
  // The word lies in a slice of the second list and one of the third.
  const std::string bound =
      write("bound.zpkg", with_model([](Application& m) {
              m.bindings_2.push_back(Binding{"b2", "", {}, {RegionSlice{7, 0x4c800, 0, 8}}});
              m.bindings_3.push_back(Binding{"b3", "", {}, {RegionSlice{7, 0x4c804, 0, 4}}});
            }));
  const ProgramRun result = run({"diff", "--json", bound, "7", record(words)});
  EXPECT_EQ(result.status, tool_negative) << result.err;
  const ToolJson document = ToolJson::parse(result.out);
  EXPECT_EQ(document["format"], 4);
  EXPECT_EQ(document["setup"]["secondary"], "0x4c800");
  EXPECT_EQ(document["recordBytes"], 40);
  EXPECT_EQ(document["differences"][0], ToolJson::parse(R"({
      "word": 7, "region": "secondary", "regionOffset": 4, "address": "0x4c804",
      "actual": "0x00000008", "expected": "0x0000000d", "xor": "0x00000005",
      "unpatched": "0x00000008", "patched": true,
      "patch": {"group": 1, "entry": 0, "delta": "0x00000005"},
      "segment": {"index": 0, "start": "0x4c000", "end": "0x4d000"},
      "blob": {"index": 0, "digest": "2db03c286234", "offset": "2052", "fileOffset": null},
      "bindings": [{"name": "b2", "list": 2, "binding": 1, "slice": 0},
                   {"name": "b3", "list": 3, "binding": 0, "slice": 0}]})"));
  EXPECT_EQ(document["status"], "differ");
}

TEST_F(ZemPackageTest, DiffOfARecordOfAnotherLength) {
  const std::vector<std::uint32_t> words = make_template_tile().record;
  const ProgramRun result =
      run({"diff", package(), "7", record(std::span(words).first(9), "short.record")});
  EXPECT_EQ(result.status, tool_negative);
  EXPECT_EQ(result.out, std::string(example_setup_line) +
                            "device record length 36 does not match expected length 40\n"
                            "hint: short: the record is 1 word short; missing: word 9 "
                            "(0x0000000a)\n"
                            "templateRecordWords=10 recordWords=9 differingWords=0 "
                            "status=differ\n");
}

TEST_F(ZemPackageTest, DiffFailures) {
  const std::string good = package();
  const std::string recorded = record(make_template_tile().record);
  EXPECT_TRUE(failed_with(run({"diff", good, "3", recorded}),
                          "package.zpkg: tile 3: template setup was not found",
                          {"tile 7 has a template setup"}));
  EXPECT_TRUE(failed_with(run({"diff", good, "9", recorded}),
                          "package.zpkg: no tile has physical tile number 9",
                          {"the package has tiles 3, 7"}));
  // The record where the package goes, and the package where the record goes.
  const ProgramRun swapped = run({"diff", recorded, "7", good});
  EXPECT_EQ(swapped.status, tool_failure);
  EXPECT_TRUE(swapped.err.starts_with(
      "zem-package: error: device.record: invalid package: framing failed: Capnp("))
      << swapped.err;
  EXPECT_TRUE(swapped.err.ends_with(
      ")\nzem-package: hint: looks like a device record (10 words), not a package\n"
      "zem-package: hint: the arguments may be swapped: zem-package diff PACKAGE TILE RECORD\n"))
      << swapped.err;
  EXPECT_TRUE(failed_with(run({"diff", good, "-7", recorded}),
                          "diff: invalid TILE \"-7\": a physical tile number is a whole number "
                          "from 0 to 4294967295 (see zem-package diff --help)"));
  EXPECT_TRUE(failed_with(run({"diff", good, "4294967296", recorded}),
                          "diff: TILE 4294967296 is too large: a physical tile number is at most "
                          "4294967295 (see zem-package diff --help)"));
  EXPECT_TRUE(
      failed_with(run({"diff", "-", "7", "-"}), "standard input (-) can be read only once"));
  EXPECT_TRUE(failed_with(run({"diff", good, "7", recorded, "--max", "many"}),
                          "diff: invalid value \"many\" for --max: expected a whole number from 0 "
                          "to 4294967295 (see zem-package diff --help)"));
  // The template was read before the record is looked for.
  const ProgramRun missing = run({"diff", good, "7", "absent.record"});
  EXPECT_EQ(missing.status, tool_failure);
  EXPECT_EQ(missing.out, example_setup_line);
  EXPECT_EQ(missing.err,
            "zem-package: error: absent.record: No such file or directory (os error 2)\n");
}

// Standard input holds the package or the record, as `check -` and
// `verify --records -` read it.
TEST_F(ZemPackageTest, DiffReadsThePackageOrTheRecordFromStandardInput) {
  const std::string good = package();
  const std::string recorded = record(make_template_tile().record);
  for (const std::string& command : {std::string(" diff - 7 ") + recorded + " < " + good,
                                     std::string(" diff ") + good + " 7 - < " + recorded}) {
    const ProgramRun piped =
        run_program("/bin/sh", {"-c", std::string(ZEM_PACKAGE_TOOL_PATH) + command},
                    RunSettings{dir(), {}, std::nullopt, {}});
    EXPECT_EQ(piped.status, tool_success) << command << ": " << piped.err;
    EXPECT_EQ(piped.out, std::string(example_setup_line) +
                             "templateRecordWords=10 recordWords=10 differingWords=0 "
                             "status=match\n")
        << command;
  }
}

}  // namespace
}  // namespace zem::testing
