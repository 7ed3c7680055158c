// End-to-end tests of `zem-package check`.

#include <gtest/gtest.h>

#include "toolkit_fixture.hpp"

namespace zem::testing {
namespace {

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
  EXPECT_EQ(document["format"], 2);
  EXPECT_EQ(document["valid"], false);
  EXPECT_EQ(document["packages"][0]["valid"], true);
  EXPECT_EQ(document["packages"][1]["checks"]["validation"], "failed");
  EXPECT_EQ(document["packages"][1]["error"]["element"], "deviceConfigWrites[1]");
  EXPECT_EQ(document["packages"][1]["error"]["details"][0],
            ToolJson::parse(R"({"name": "address", "address": "0x106"})"));
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
  EXPECT_EQ(result.out.ends_with("skipped\n"), damaged.stage != ReadStage::build_digest)
      << result.out;
}

INSTANTIATE_TEST_SUITE_P(Packages, CheckDamagedTest, ::testing::ValuesIn(damaged_packages()),
                         damaged_case_name);

}  // namespace
}  // namespace zem::testing
