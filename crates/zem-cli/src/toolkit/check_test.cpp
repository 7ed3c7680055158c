#include "toolkit/check.hpp"

#include <gtest/gtest.h>

#include "damaged_packages.hpp"
#include "toolkit/failure_report.hpp"
#include "toolkit/hex.hpp"

namespace zem::toolkit {
namespace {

namespace zt = zem::testing;

CheckReport check_bytes(std::span<const std::uint8_t> bytes) {
  return check_package(PackageReading::survey(bytes));
}

TEST(CheckTest, ExamplePassesEveryStage) {
  const CheckReport report = check_bytes(zt::example_bytes());
  EXPECT_TRUE(report.valid());
  EXPECT_EQ(check_lines(report, nullptr, {}),
            "framing       ok\n"
            "header        ok\n"
            "blobs         ok\n"
            "structure     ok\n"
            "validation    ok\n"
            "build digest  ok\n");
}

class DamagedPackageTest : public ::testing::TestWithParam<zt::DamagedPackage> {};

// Each damaged package fails first at its stage and element with exactly the
// library's error. The stages before it passed; of those after it, a survey
// still reads the blobs and the structure each on its own, and skips the rest.
TEST_P(DamagedPackageTest, FailsAtItsStageWithTheLibraryError) {
  const zt::DamagedPackage& damaged = GetParam();
  const std::vector<std::uint8_t> bytes = damaged.bytes();
  const CheckReport report = check_bytes(bytes);
  ASSERT_FALSE(report.valid());
  const ReadFailure& first = report.failures.front();
  EXPECT_EQ(stage_name(first.stage), stage_name(damaged.stage));
  EXPECT_EQ(first.element, damaged.element);
  EXPECT_EQ(first.error.to_string(), zt::read_result(bytes));
  const bool surveyed = damaged.stage == ReadStage::blobs;
  for (const ReadStage stage : all_stages) {
    const StageStatus expected = stage < damaged.stage                       ? StageStatus::ok
                                 : stage == damaged.stage                    ? StageStatus::failed
                                 : surveyed && stage == ReadStage::structure ? StageStatus::ok
                                                                             : StageStatus::skipped;
    EXPECT_EQ(report.status(stage), expected) << stage_name(stage);
  }
}

std::string case_name(const ::testing::TestParamInfo<zt::DamagedPackage>& c) {
  return std::string(c.param.name);
}

INSTANTIATE_TEST_SUITE_P(Packages, DamagedPackageTest, ::testing::ValuesIn(zt::damaged_packages()),
                         case_name);

// The failing blob's row holds where it failed; its context every detail in
// full and the segments that take their bytes from it. A survey reads the
// structure past it and goes on to report a second failure there.
TEST(CheckTest, LinesLocateEveryFailureWithItsContext) {
  const std::vector<std::uint8_t> bytes = zt::tweaked([](auto root) {
    root.getBlobs()[1].getDigest()[0] ^= 1U;
    root.getEntryPoints()[1].setName(capnp::Text::Reader("\xff", 1));
  });
  const auto survey = PackageReading::survey(bytes);
  ASSERT_TRUE(survey);
  const CheckReport report = check_package(survey);
  ASSERT_EQ(report.failures.size(), 2U);
  Digest stored = zt::example_application().blobs[1].digest;
  stored[0] ^= 1U;
  const std::string lines = check_lines(report, &survey->model(), {});
  EXPECT_EQ(
      lines,
      "framing       ok\n"
      "header        ok\n"
      "blobs         failed at blobs[1].digest: Invalid(\"blob digest mismatch\")\n"
      "                compression    none\n"
      "                stored size    256\n"
      "                stored digest  " +
          hex_bytes(stored) + "\n" + "                file offset    " +
          report.failures[0].details.back().value + "\n" +
          "                used by        tile 3 (tiles[0].segments[0]), tile 7 "
          "(tiles[1].segments[1])\n"
          "structure     failed at entryPoints[1].name: Utf8(invalid utf-8 sequence of 1 bytes "
          "from index 0)\n"
          "validation    skipped\n"
          "build digest  skipped\n");
}

// Notes never make a package invalid; each kind is found where it is.
TEST(CheckTest, NotesWhatAValidPackageMayHold) {
  Application model = zt::example_application();
  model.blobs.push_back(zt::make_blob(std::vector<std::uint8_t>(16, 9)));  // used by no segment
  zt::index_blobs(model);
  model.tiles.push_back(TileImage{5, 0, 0, 0, {}});
  zt::PackageOptions options = zt::example_options();
  options.blob_encodings[0].uncompressed_size = 8192;
  std::vector<std::uint8_t> bytes = zt::build_package(model, options);
  const auto survey = PackageReading::survey(bytes);
  ASSERT_TRUE(survey);
  EXPECT_TRUE(check_package(survey).valid());
  const std::vector<Note> notes = package_notes(*survey, 3);
  EXPECT_EQ(notes_text(notes),
            "note: blobs[0] declares 8192 bytes uncompressed but holds 4096\n"
            "note: 3 bytes follow the message and are not part of the package\n"
            "note: blobs[2] (" +
                short_digest(model.blobs[2].digest) +
                ") is used by no segment\n"
                "note: tiles[2] (physical tile 5) has no segments\n");
  EXPECT_TRUE(package_notes(*PackageReading::survey(zt::example_bytes()), 0).empty());
}

// One line says where: stage, element, details (a digest shortened), error.
TEST(CheckTest, FailureLinesSayWhere) {
  const std::string digest(64, 'a');
  const struct {
    ReadFailure failure;
    std::string_view line;
  } cases[] = {
      {{PackageError::capnp("failed", "premature end of file"), ReadStage::framing, "", {}},
       "framing failed: Capnp(failed: premature end of file)"},
      {{PackageError::invalid("blob digest mismatch"),
        ReadStage::blobs,
        "blobs[17].digest",
        {{"stored size", "256"}, {"stored digest", digest}, {"file offset", "0x190"}}},
       "blobs failed at blobs[17].digest (stored size 256, stored digest aaaaaaaaaaaa, file "
       "offset 0x190): Invalid(\"blob digest mismatch\")"},
      {{PackageError::invalid("build digest mismatch"),
        ReadStage::build_digest,
        "buildDigest",
        {{"stored", digest + " (32 bytes)"}}},
       "build digest failed at buildDigest (stored aaaaaaaaaaaa (32 bytes)): "
       "Invalid(\"build digest mismatch\")"},
  };
  for (const auto& c : cases) EXPECT_EQ(failure_line(c.failure), c.line);
}

TEST(CheckTest, ElementPathsNest) {
  EXPECT_TRUE(lies_within("tiles[3].segments[1]", "tiles[3]"));
  EXPECT_TRUE(lies_within("tiles[3]", "tiles"));
  EXPECT_TRUE(lies_within("tiles[3]", "tiles[3]"));
  EXPECT_FALSE(lies_within("tiles[30]", "tiles[3]"));
  EXPECT_FALSE(lies_within("tilesX", "tiles"));
  EXPECT_EQ(list_index("blobs[17].data", "blobs"), 17U);
  EXPECT_EQ(list_index("blobs", "blobs"), std::nullopt);
  EXPECT_EQ(list_index("blobs[x]", "blobs"), std::nullopt);
  EXPECT_EQ(list_index("bindings1[2]", "bindings"), std::nullopt);
}

}  // namespace
}  // namespace zem::toolkit
