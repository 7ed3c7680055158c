#include "toolkit/check.hpp"

#include <gtest/gtest.h>

#include "toolkit/test_packages.hpp"

namespace zem::toolkit {
namespace {

namespace zt = zem::testing;

Result<PackageContents> contents_of(std::span<const std::uint8_t> bytes) {
  return read_package_contents(zt::memory_file(bytes));
}

// The text of the error with which the library's full read refuses `bytes`.
std::string library_error(std::span<const std::uint8_t> bytes) {
  const Result<Application> read = Application::read(zt::memory_file(bytes));
  return read ? "no error" : read.error().to_string();
}

TEST(CheckTest, ExamplePassesEveryStage) {
  const std::vector<std::uint8_t> bytes = test::example_bytes();
  const CheckReport report = check_package(contents_of(bytes), bytes);
  EXPECT_TRUE(report.valid());
  EXPECT_EQ(check_lines(report),
            "framing       ok\n"
            "header        ok\n"
            "blobs         ok\n"
            "structure     ok\n"
            "validation    ok\n"
            "build digest  ok\n");
}

class DamagedPackageTest : public ::testing::TestWithParam<test::DamagedPackage> {};

// Each damaged package fails at its stage with exactly the library's error;
// the stages before it passed and the ones after it were skipped.
TEST_P(DamagedPackageTest, FailsAtItsStageWithTheLibraryError) {
  const test::DamagedPackage& damaged = GetParam();
  const std::vector<std::uint8_t> bytes = damaged.bytes();
  const CheckReport report = check_package(contents_of(bytes), bytes);
  ASSERT_FALSE(report.valid());
  EXPECT_EQ(stage_name(report.failure->stage), stage_name(damaged.stage));
  const std::string error = report.failure->error.to_string();
  EXPECT_EQ(error, library_error(bytes));
  EXPECT_TRUE(error.starts_with(damaged.error_start)) << error;
  for (const Stage stage : all_stages) {
    const StageStatus expected = stage < damaged.stage    ? StageStatus::ok
                                 : stage == damaged.stage ? StageStatus::failed
                                                          : StageStatus::skipped;
    EXPECT_EQ(report.status(stage), expected) << stage_name(stage);
  }
}

std::string case_name(const ::testing::TestParamInfo<test::DamagedPackage>& c) {
  return std::string(c.param.name);
}

INSTANTIATE_TEST_SUITE_P(Packages, DamagedPackageTest,
                         ::testing::ValuesIn(test::damaged_packages()), case_name);

TEST(CheckTest, LinesShowTheFailureAndSkipTheRest) {
  const std::vector<std::uint8_t> bytes =
      test::tweaked([](auto root) { root.getBlobs()[1].getDigest()[0] ^= 1U; });
  EXPECT_EQ(check_lines(check_package(contents_of(bytes), bytes)),
            "framing       ok\n"
            "header        ok\n"
            "blobs         failed: Invalid(\"blob digest mismatch\")\n"
            "structure     skipped\n"
            "validation    skipped\n"
            "build digest  skipped\n");
}

// A message error is placed by where the message breaks, whatever its text.
TEST(CheckTest, MessageErrorsArePlacedByTheMessage) {
  const PackageError capnp = PackageError::capnp("failed", "anything");
  const PackageError utf8 = PackageError::utf8(1, 1);
  for (const PackageError& error : {capnp, utf8}) {
    EXPECT_EQ(read_failure_stage(error, {}), Stage::framing);
    EXPECT_EQ(read_failure_stage(error, test::out_of_bounds_pointer(1)), Stage::header);
    EXPECT_EQ(read_failure_stage(error, test::out_of_bounds_pointer(2)), Stage::blobs);
    EXPECT_EQ(read_failure_stage(error, test::out_of_bounds_pointer(4)), Stage::structure);
  }
}

}  // namespace
}  // namespace zem::toolkit
