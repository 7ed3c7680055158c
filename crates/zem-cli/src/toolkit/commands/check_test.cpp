// End-to-end tests of `zem-package check`.

#include <gtest/gtest.h>

#include <algorithm>

#include "format/hex.hpp"
#include "toolkit_fixture.hpp"
#include "zem_package/package.hpp"

namespace zem::testing {
namespace {

using zem::hex_bytes;

class CheckDamagedTest : public DamagedPackageToolTest {};

TEST_F(ZemPackageTest, CheckPassesEveryStage) {
  const ProgramRun result = run({"check", package()});
  EXPECT_EQ(result.status, tool_success);
  EXPECT_EQ(result.out,
            "framing       ok\n"
            "header        ok\n"
            "blobs         ok\n"
            "structure     ok\n"
            "validation    ok\n"
            "build digest  ok\n");
  EXPECT_EQ(result.err, "");
}

// Several packages, one of them from a pipe, one that cannot be read: a block
// for each that can, the error line for the other, the worst status.
TEST_F(ZemPackageTest, CheckSeveralPackagesFromFilesAndAPipe) {
  std::vector<std::uint8_t> trailing = example_bytes();
  trailing.insert(trailing.end(), {1, 2, 3});
  const std::string piped = write("piped.zpkg", trailing);
  const std::string bad =
      write("bad.zpkg", with_model([](auto& m) { m.device_config_writes[1].address = 0x106; }));
  const ProgramRun result =
      run_program(ZEM_PACKAGE_TOOL_PATH, {piped, "check", package(), "-", bad, "absent.zpkg"},
                  RunSettings{dir(),
                              {},
                              std::nullopt,
                              {"/bin/sh", "-c", "f=$1; shift; /bin/cat \"$f\" | \"$0\" \"$@\""}});
  EXPECT_EQ(result.status, tool_failure);
  EXPECT_EQ(result.err,
            "zem-package: error: absent.zpkg: No such file or directory (os error 2)\n");
  const std::string ok =
      "framing       ok\nheader        ok\nblobs         ok\nstructure     ok\n"
      "validation    ok\n";
  EXPECT_EQ(result.out,
            "package       package.zpkg\n" + ok + "build digest  ok\n\n" +
                "package       standard input\n" + ok + "build digest  ok\n" +
                "note: 3 bytes follow the message and are not part of the package\n\n" +
                "package       bad.zpkg\n"
                "framing       ok\nheader        ok\nblobs         ok\nstructure     ok\n"
                "validation    failed at deviceConfigWrites[1]: Invalid(\"unaligned or "
                "duplicate device configuration write\")\n"
                "                address  0x106\n"
                "build digest  skipped\n");

  const ProgramRun json = run({"check", "--json", package(), bad});
  EXPECT_EQ(json.status, tool_negative);
  const ToolJson document = ToolJson::parse(json.out);
  EXPECT_EQ(document["format"], 3);
  EXPECT_EQ(document["valid"], false);
  EXPECT_EQ(document["packages"][0]["valid"], true);
  EXPECT_EQ(document["packages"][1]["checks"]["validation"], "failed");
  EXPECT_EQ(document["packages"][1]["error"]["element"], "deviceConfigWrites[1]");
  EXPECT_EQ(document["packages"][1]["error"]["details"][0],
            ToolJson::parse(R"({"name": "address", "address": "0x106"})"));
}

// A file that is no package gets a hint after the stages, in text and JSON,
// and on standard error where a subcommand needs a valid package; a package
// cut short gets none.
TEST_F(ZemPackageTest, CheckHintsWhatAWrongFileLooksLike) {
  std::vector<std::uint8_t> half = example_bytes();
  half.resize(half.size() / 2);
  const struct {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::string hints;
  } cases[] = {
      {"empty", {}, "hint: the file is empty\n"},
      {"gzip",
       {0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 0, 3, 1, 0},
       "hint: looks like a gzip file: decompress it first\n"},
      {"xz",
       {0xfd, 0x37, 0x7a, 0x58, 0x5a, 0, 0, 4, 0xe6, 0xd6, 0xb4, 0x46},
       "hint: looks like an xz file: decompress it first\n"},
      {"zstd", compress(example_bytes()),
       "hint: looks like a Zstandard file: decompress it first\n"},
      {"record", words_to_bytes(make_template_tile().record),
       "hint: looks like a device record (10 words), not a package\n"},
      {"half a package", half, ""},
  };
  for (const auto& c : cases) {
    const ProgramRun result = run({"check", write("wrong.zpkg", c.bytes)});
    EXPECT_EQ(result.status, tool_negative) << c.name;
    EXPECT_TRUE(result.out.starts_with("framing       failed: Capnp(")) << result.out;
    EXPECT_TRUE(result.out.ends_with("build digest  skipped\n" + c.hints)) << result.out;
  }
  const std::string gzip = write("package.zpkg.gz", cases[1].bytes);
  const ToolJson document = ToolJson::parse(run({"check", "--json", gzip}).out);
  EXPECT_EQ(document["packages"][0]["hints"],
            ToolJson::parse(R"(["looks like a gzip file: decompress it first"])"));
  const ProgramRun extracted = run({"extract", gzip, "7"});
  EXPECT_EQ(extracted.status, tool_failure);
  EXPECT_TRUE(extracted.err.ends_with(
      ")\nzem-package: hint: looks like a gzip file: decompress it first\n"))
      << extracted.err;
}

// Every failing blob is listed, each with what its check found; the survey
// goes on past the first, which a strict read stops at.
TEST_F(ZemPackageTest, CheckAndInspectListEveryFailingBlob) {
  const Application& example = example_model();
  const std::string bad = write("bad.zpkg", tweaked([&](auto root) {
                                  root.getBlobs()[0].setUncompressedSize(4095);
                                  root.getBlobs()[1].getDigest()[0] ^= 1U;
                                }));
  const ProgramRun checked = run({"check", bad});
  EXPECT_EQ(checked.status, tool_negative);
  for (const std::string& line : std::vector<std::string>{
           "blobs         failed at blobs[0].data: Io(Other: Destination buffer is too small)\n",
           "                explanation    the contents are larger than the declared "
           "uncompressed size of 4095 bytes\n",
           "              failed at blobs[1].digest: Invalid(\"blob digest mismatch\")\n",
           "                computed digest  " + hex_bytes(example.blobs[1].digest) + "\n",
       }) {
    EXPECT_NE(checked.out.find(line), std::string::npos) << line << " in:\n" << checked.out;
  }
  const ToolJson document = ToolJson::parse(run({"check", "--json", bad}).out);
  const ToolJson& failures = document["packages"][0]["failures"];
  ASSERT_EQ(failures.size(), 2U);
  EXPECT_EQ(failures[1]["element"], "blobs[1].digest");
  EXPECT_NE(std::ranges::find(failures[1]["details"],
                              ToolJson{{"name", "computed digest"},
                                       {"digest", hex_bytes(example.blobs[1].digest)}}),
            failures[1]["details"].end());

  const ProgramRun inspected = run({"inspect", bad});
  EXPECT_NE(inspected.out.find("\n              blobs failed at blobs[1].digest (compression "
                               "none, stored size 256, stored digest "),
            std::string::npos)
      << inspected.out;
  EXPECT_NE(inspected.out.find(", computed digest " +
                               hex_bytes(example.blobs[1].digest).substr(0, 12) + ", file offset "),
            std::string::npos)
      << inspected.out;
}

// Past the failures a report lists, the rest are counted: the count is the
// number of failing blobs left out, in lines and in JSON alike.
TEST_F(ZemPackageTest, CheckAndInspectCountTheFailingBlobsTheyLeaveOut) {
  Application many = example_application();
  for (std::size_t i = 0; i < zem::most_blob_failures_listed + 2; ++i) {
    many.blobs.push_back(many.blobs[1]);  // each copy fails as a duplicate
  }
  const std::string bad = write("many.zpkg", build_package(many, example_options()));
  const std::string more = "and 2 more failing blobs\n";
  EXPECT_NE(run({"check", bad}).out.find("              " + more), std::string::npos);
  EXPECT_NE(run({"inspect", bad}).out.find(more), std::string::npos);
  const ToolJson checked = ToolJson::parse(run({"check", "--json", bad}).out);
  EXPECT_EQ(checked["packages"][0]["unlistedBlobFailures"], 2);
  EXPECT_EQ(checked["packages"][0]["failures"].size(), zem::most_blob_failures_listed);
}

TEST_P(CheckDamagedTest, CheckReportsTheFailingStage) {
  const DamagedPackage& damaged = GetParam();
  const ProgramRun result = run({"check", write("bad.zpkg", damaged.bytes())});
  EXPECT_EQ(result.status, tool_negative) << result.err;
  EXPECT_EQ(result.err, "");
  const std::string name(stage_name(damaged.stage));
  const std::string where = damaged.element.empty() ? "" : " at " + std::string(damaged.element);
  const std::string line = name + std::string(14 - name.size(), ' ') + "failed" + where + ": " +
                           std::string(damaged.error_start);
  EXPECT_NE(("\n" + result.out).find("\n" + line), std::string::npos) << result.out;
  EXPECT_TRUE(result.out.starts_with(damaged.stage == ReadStage::framing ? "framing       failed"
                                                                         : "framing       ok\n"))
      << result.out;
  const std::string hint = damaged.hint.empty() ? "" : "hint: " + std::string(damaged.hint) + "\n";
  EXPECT_TRUE(result.out.ends_with(hint)) << result.out;
  EXPECT_EQ(result.out.ends_with("skipped\n" + hint), damaged.stage != ReadStage::build_digest)
      << result.out;
}

INSTANTIATE_TEST_SUITE_P(Packages, CheckDamagedTest, ::testing::ValuesIn(damaged_packages()),
                         damaged_case_name);

}  // namespace
}  // namespace zem::testing
