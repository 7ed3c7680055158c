#include "toolkit/check.hpp"

#include <gtest/gtest.h>

#include "damaged_packages.hpp"

namespace zem::toolkit {
namespace {

namespace zt = zem::testing;

CheckReport check_bytes(std::span<const std::uint8_t> bytes) {
  return check_package(PackageReading::read(bytes));
}

TEST(CheckTest, ExamplePassesEveryStage) {
  const CheckReport report = check_bytes(zt::example_bytes());
  EXPECT_TRUE(report.valid());
  EXPECT_EQ(check_lines(report),
            "framing       ok\n"
            "header        ok\n"
            "blobs         ok\n"
            "structure     ok\n"
            "validation    ok\n"
            "build digest  ok\n");
}

class DamagedPackageTest : public ::testing::TestWithParam<zt::DamagedPackage> {};

// Each damaged package fails at its stage with exactly the library's error;
// the stages before it passed and the ones after it were skipped.
TEST_P(DamagedPackageTest, FailsAtItsStageWithTheLibraryError) {
  const zt::DamagedPackage& damaged = GetParam();
  const std::vector<std::uint8_t> bytes = damaged.bytes();
  const CheckReport report = check_bytes(bytes);
  ASSERT_FALSE(report.valid());
  EXPECT_EQ(stage_name(report.failure->stage), stage_name(damaged.stage));
  const std::string error = report.failure->error.to_string();
  EXPECT_EQ(error, zt::read_result(bytes));
  for (const ReadStage stage : all_stages) {
    const StageStatus expected = stage < damaged.stage    ? StageStatus::ok
                                 : stage == damaged.stage ? StageStatus::failed
                                                          : StageStatus::skipped;
    EXPECT_EQ(report.status(stage), expected) << stage_name(stage);
  }
}

std::string case_name(const ::testing::TestParamInfo<zt::DamagedPackage>& c) {
  return std::string(c.param.name);
}

INSTANTIATE_TEST_SUITE_P(Packages, DamagedPackageTest, ::testing::ValuesIn(zt::damaged_packages()),
                         case_name);

TEST(CheckTest, LinesShowTheFailureAndSkipTheRest) {
  const std::vector<std::uint8_t> bytes =
      zt::tweaked([](auto root) { root.getBlobs()[1].getDigest()[0] ^= 1U; });
  EXPECT_EQ(check_lines(check_bytes(bytes)),
            "framing       ok\n"
            "header        ok\n"
            "blobs         failed: Invalid(\"blob digest mismatch\")\n"
            "structure     skipped\n"
            "validation    skipped\n"
            "build digest  skipped\n");
}

}  // namespace
}  // namespace zem::toolkit
