#include "toolkit/package/check_report.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "damaged_packages.hpp"
#include "format/hex.hpp"
#include "toolkit/package/failure_report.hpp"

namespace zem::toolkit {
namespace {

namespace zt = zem::testing;
namespace dv = detail_value;
using F = PackageField;

ReadResult<Package> survey(std::span<const std::uint8_t> bytes) {
  return Package::read(bytes, {.mode = ReadMode::survey});
}

CheckReport check_bytes(std::span<const std::uint8_t> bytes) {
  return check_package(survey(bytes));
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
  EXPECT_EQ(first.element.to_string(), damaged.element);
  EXPECT_EQ(first.error.to_string(), zt::read_result(bytes));
  const bool surveyed = damaged.stage == ReadStage::blobs;
  for (const ReadStage stage : all_read_stages) {
    const StageState expected = stage < damaged.stage                       ? StageState::passed
                                : stage == damaged.stage                    ? StageState::failed
                                : surveyed && stage == ReadStage::structure ? StageState::passed
                                                                            : StageState::not_run;
    EXPECT_EQ(report.state(stage), expected) << stage_name(stage);
  }
}

std::string case_name(const ::testing::TestParamInfo<zt::DamagedPackage>& c) {
  return std::string(c.param.name);
}

INSTANTIATE_TEST_SUITE_P(Packages, DamagedPackageTest, ::testing::ValuesIn(zt::damaged_packages()),
                         case_name);

// The failing blob's row holds where it failed; its context every detail in
// full, the digest its contents have, and the segments that take bytes from
// it (not one of no data that names it). A survey reads the structure past
// it and goes on to report a second failure there.
TEST(CheckTest, LinesLocateEveryFailureWithItsContext) {
  const std::vector<std::uint8_t> bytes = zt::tweaked([](auto root) {
    root.getBlobs()[1].getDigest()[0] ^= 1U;
    root.getTiles()[1].getSegments()[1].setDataSize(0);
    root.getEntryPoints()[1].setName(capnp::Text::Reader("\xff", 1));
  });
  const auto surveyed = survey(bytes);
  ASSERT_TRUE(surveyed);
  const CheckReport report = check_package(surveyed);
  ASSERT_EQ(report.failures.size(), 2U);
  Digest stored = zt::example_application().blobs[1].digest;
  stored[0] ^= 1U;
  const std::string lines = check_lines(report, &surveyed->model(), {});
  EXPECT_EQ(
      lines,
      "framing       ok\n"
      "header        ok\n"
      "blobs         failed at blobs[1].digest: Invalid(\"blob digest mismatch\")\n"
      "                compression      none\n"
      "                stored size      256\n"
      "                stored digest    " +
          hex_bytes(stored) + "\n" + "                computed digest  " +
          hex_bytes(zt::example_application().blobs[1].digest) + "\n" +
          "                file offset      " +
          detail_text(report.failures[0].details.back().value) + "\n" +
          "                used by          tile 3 (tiles[0].segments[0])\n"
          "structure     failed at entryPoints[1].name: Utf8(invalid utf-8 sequence of 1 bytes "
          "from index 0)\n"
          "validation    skipped\n"
          "build digest  skipped\n");
}

// A failing blob's users: the first eight segments that take bytes from it,
// in the model's order, then a count of the rest; a segment of no data that
// names the blob takes nothing and is not one of them.
TEST(CheckTest, NamesAFailingBlobsFirstUsersAndCountsTheRest) {
  const ReadFailure failure{
      PackageError::invalid("blob digest mismatch"), ReadStage::blobs, {{F::blobs, 1}}, {}};
  const struct {
    std::uint32_t users;
    std::string ending;  // of the "used by" line
  } cases[] = {
      {0, "no segment"},
      {1, "tile 0 (tiles[1].segments[1])"},
      {8, "tile 7 (tiles[8].segments[1])"},
      {9, "tile 7 (tiles[8].segments[1]), and 1 more segment"},
      {10, "tile 7 (tiles[8].segments[1]), and 2 more segments"},
  };
  for (const auto& c : cases) {
    PackageModel model;
    model.blobs.resize(2);
    model.tiles.push_back(TileImage{100, 0, 0, 0, {Segment{0x4c000, 16, 1, 0, 0, 0}}});
    for (std::uint32_t t = 0; t < c.users; ++t) {
      model.tiles.push_back(TileImage{
          t, 0, 0, 0, {Segment{0x4c000, 16, 0, 0, 16, 0}, Segment{0x4d000, 16, 1, 0, 16, 0}}});
    }
    const std::vector<ContextLine> context = failure_context(failure, &model);
    ASSERT_FALSE(context.empty());
    EXPECT_EQ(context.back().name, "used by");
    const std::string& used_by = context.back().value;
    EXPECT_TRUE(used_by.ends_with(c.ending)) << used_by;
    EXPECT_EQ(std::ranges::count(used_by, '('), std::min(c.users, 8U)) << used_by;
  }
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
  const auto surveyed = survey(bytes);
  ASSERT_TRUE(surveyed);
  EXPECT_TRUE(check_package(surveyed).valid());
  const std::vector<Note> notes = package_notes(*surveyed, 3);
  EXPECT_EQ(notes_text(notes),
            "note: blobs[0] declares 8192 bytes uncompressed but holds 4096\n"
            "note: 3 bytes follow the message and are not part of the package\n"
            "note: blobs[2] (" +
                short_digest(model.blobs[2].digest) +
                ") is used by no segment\n"
                "note: tiles[2] (physical tile 5) has no segments\n");
  EXPECT_TRUE(package_notes(*survey(zt::example_bytes()), 0).empty());

  // Past ten of a kind, the rest are counted: here 12 tiles without segments.
  Application crowded = zt::example_application();
  for (std::uint32_t t = 0; t < 12; ++t) crowded.tiles.push_back(TileImage{100 + t, 0, 0, 0, {}});
  const std::string crowded_notes =
      notes_text(package_notes(*survey(zt::build_package(crowded, zt::example_options())), 0));
  EXPECT_EQ(std::ranges::count(crowded_notes, '\n'), 11);
  EXPECT_TRUE(
      crowded_notes.ends_with("note: tiles[11] (physical tile 109) has no segments\n"
                              "note: and 2 more tiles without segments\n"))
      << crowded_notes;
}

// One line says where: stage, element, details, error. A digest of a blob
// is shortened, what merely looks like one is not.
TEST(CheckTest, FailureLinesSayWhere) {
  const std::vector<std::uint8_t> digest(32, 0xaa);
  const std::string digits(64, 'a');
  const struct {
    ReadFailure failure;
    std::string line;
  } cases[] = {
      {{PackageError::capnp("failed", "premature end of file"), ReadStage::framing, {}, {}},
       "framing failed: Capnp(failed: premature end of file)"},
      {{PackageError::invalid("blob digest mismatch"),
        ReadStage::blobs,
        {{F::blobs, 17}, {F::digest}},
        {{"stored size", dv::Number{256}},
         {"stored digest", dv::Digest{digest, false}},
         {"file offset", dv::Address{0x190}}}},
       "blobs failed at blobs[17].digest (stored size 256, stored digest aaaaaaaaaaaa, file "
       "offset 0x190): Invalid(\"blob digest mismatch\")"},
      {{PackageError::invalid("build digest mismatch"),
        ReadStage::build_digest,
        {{F::build_digest}},
        {{"stored", dv::Digest{digest, true}}}},
       "build digest failed at buildDigest (stored aaaaaaaaaaaa (32 bytes)): "
       "Invalid(\"build digest mismatch\")"},
      {{PackageError::invalid("build digest mismatch"),
        ReadStage::build_digest,
        {{F::build_digest}},
        {{"stored", dv::Digest{std::vector<std::uint8_t>(2, 0xaa), true}}}},
       "build digest failed at buildDigest (stored aaaa (2 bytes)): "
       "Invalid(\"build digest mismatch\")"},
      {{PackageError::invalid("duplicate binding name"),
        ReadStage::validation,
        {{F::bindings3, 0}},
        {{"name", dv::Text{digits, false}}, {"earlier binding", ElementPath{{F::bindings1, 0}}}}},
       "validation failed at bindings3[0] (name " + digits +
           ", earlier binding bindings1[0]): Invalid(\"duplicate binding name\")"},
  };
  for (const auto& c : cases) EXPECT_EQ(failure_line(c.failure), c.line);
}

}  // namespace
}  // namespace zem::toolkit
