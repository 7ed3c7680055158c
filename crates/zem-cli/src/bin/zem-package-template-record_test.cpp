// End-to-end tests of zem-package-template-record: each case writes a package
// and a device record into a fresh directory, runs the real binary there and
// checks its exit status, standard output and standard error.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "package_builder.hpp"
#include "verifier_fixture.hpp"

namespace {

namespace zt = zem::testing;
using zem::testing::RunResult;
using zem::testing::VerifierTest;

constexpr std::string_view kSuccessLine = "templateRecordWords=10 transition=1 status=match\n";
// A record path where no file exists: a failure of an earlier stage must be
// reported instead of the record's absence.
constexpr std::string_view kAbsentRecord = "absent.record";
constexpr std::string_view kRecordOpenFailure = "cannot open device record";
bool contains(const std::string& text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

std::string diagnostic_line() { return zt::make_template_tile().diagnostic_line + "\n"; }

testing::AssertionResult report(const RunResult& run, std::string_view expected) {
  return testing::AssertionFailure()
         << "expected " << expected << "; got status " << run.status << ", stdout \"" << run.out
         << "\", stderr \"" << run.err << '"';
}

// Status 0, the success line, and on standard error the diagnostic line alone.
testing::AssertionResult matched(const RunResult& run) {
  if (run.status != 0 || run.out != kSuccessLine || run.err != diagnostic_line()) {
    return report(run, "a match");
  }
  return testing::AssertionSuccess();
}

// Status 101, nothing on standard output, and `message` on standard error.
testing::AssertionResult failed_with(const RunResult& run, std::string_view message) {
  if (run.status != 101 || !run.out.empty() || !contains(run.err, message)) {
    return report(run, "\"" + std::string(message) + "\"");
  }
  return testing::AssertionSuccess();
}

// Tile 7 as the only tile: one plain blob holding `image` and one segment at
// the template tile's load base.
zem::Application single_segment_model(std::span<const std::uint8_t> image) {
  zem::Application model;
  model.blobs.push_back(zt::make_blob(image));
  zt::index_blobs(model);
  const auto size = static_cast<std::uint32_t>(image.size());
  const std::uint32_t base = zt::make_template_tile().load_base;
  model.tiles.push_back(zem::TileImage{7, 0, 0, 0, {zem::Segment{base, size, 0, 0, size, 0}}});
  return model;
}

std::vector<std::uint8_t> example_record_bytes() {
  return zt::words_to_bytes(zt::make_template_tile().record);
}

template <class Case>
class VerifierTableTest : public VerifierTest, public testing::WithParamInterface<Case> {};

template <class Case>
std::string case_name(const testing::TestParamInfo<Case>& info) {
  return std::string(info.param.name);
}

// --- success and output --------------------------------------------------------

TEST_F(VerifierTest, ExampleRecordMatches) {
  EXPECT_TRUE(matched(run({example_package(), "7", example_record()})));
}

// ZEM_THREADS chooses the threads that check blobs and changes nothing else
// (set but empty, it is unset); a value that is not a thread count ends the
// run.
TEST_F(VerifierTest, ZemThreadsChangesNothingButTheThreads) {
  const std::string package = example_package();
  const std::string record = example_record();
  for (const char* threads :
       {"ZEM_THREADS=1", "ZEM_THREADS=2", "ZEM_THREADS=7", "ZEM_THREADS=+03", "ZEM_THREADS="}) {
    EXPECT_TRUE(matched(run({package, "7", record}, ".stdout", {}, {threads}))) << threads;
  }
  EXPECT_TRUE(
      failed_with(run({package, "7", record}, ".stdout", {}, {"ZEM_THREADS=0"}),
                  "invalid ZEM_THREADS value \"0\": expected a whole number from 1 to 256"));
}

TEST_F(VerifierTest, PathsAreTakenAsRawBytes) {
  EXPECT_TRUE(
      matched(run({example_package("package-\xff.zpkg"), "7", example_record("record-\xfe\xff")})));
}

// A match whose line cannot be written must not look like success.
TEST_F(VerifierTest, UnwritableSuccessLineIsAFailure) {
  const RunResult result = run({example_package(), "7", example_record()}, "/dev/full");
  EXPECT_TRUE(failed_with(result, "cannot write to standard output: No space left on device"));
}

// --- command line ----------------------------------------------------------------

struct TileCase {
  std::string_view name;
  std::string tile;
  std::string_view failure;  // empty: the run must match on tile 7
};

using TileArgumentTest = VerifierTableTest<TileCase>;

TEST_P(TileArgumentTest, ParsesOrNamesTheProblem) {
  const TileCase& c = GetParam();
  const RunResult result = run({example_package(), c.tile, example_record()});
  if (c.failure.empty()) {
    EXPECT_TRUE(matched(result));
  } else {
    EXPECT_TRUE(failed_with(result, c.failure));
    EXPECT_FALSE(contains(result.err, "physicalTile="));
  }
}

constexpr std::string_view kNotUtf8 = "physical tile argument is not valid UTF-8";

INSTANTIATE_TEST_SUITE_P(
    Arguments, TileArgumentTest,
    testing::Values(TileCase{"Plain", "7", ""}, TileCase{"LeadingPlus", "+7", ""},
                    TileCase{"LeadingZeros", "0007", ""}, TileCase{"Minus", "-7", "InvalidDigit"},
                    TileCase{"LeadingSpace", " 7", "InvalidDigit"},
                    TileCase{"TrailingSpace", "7 ", "InvalidDigit"},
                    TileCase{"Hexadecimal", "0x7", "InvalidDigit"},
                    TileCase{"LonePlus", "+", "InvalidDigit"},
                    TileCase{"LoneMinus", "-", "InvalidDigit"},
                    TileCase{"TwoPluses", "++7", "InvalidDigit"}, TileCase{"Empty", "", "Empty"},
                    TileCase{"JustAboveMax", "4294967296", "PosOverflow"},
                    TileCase{"FarAboveMax", "99999999999", "PosOverflow"},
                    TileCase{"OverflowBeforeBadDigit", "99999999999x", "PosOverflow"},
                    TileCase{"BadDigitBeforeOverflow", "429496729x", "InvalidDigit"},
                    // The largest value parses; no tile has it.
                    TileCase{"Max", "4294967295", "no tile has physical tile number 4294967295"},
                    TileCase{"InvalidByte", "\xff", kNotUtf8},
                    TileCase{"CutOffSequence", "7\xe2\x82", kNotUtf8}),
    case_name<TileCase>);

struct ArgumentsCase {
  std::string_view name;
  std::vector<std::string> args;  // "absent.zpkg" names no file
  std::string_view failure;
  std::string_view never;  // must not appear on standard error
};

using ArgumentCountTest = VerifierTableTest<ArgumentsCase>;

TEST_P(ArgumentCountTest, FailsBeforeOpeningThePackage) {
  const ArgumentsCase& c = GetParam();
  const RunResult result = run(c.args);
  EXPECT_TRUE(failed_with(result, c.failure));
  EXPECT_FALSE(contains(result.err, c.never)) << result.err;
}

constexpr std::string_view kExtraArgument = "assertion failed: arguments.next().is_none()";

INSTANTIATE_TEST_SUITE_P(
    Arguments, ArgumentCountTest,
    testing::Values(
        ArgumentsCase{"None", {}, "missing package", "missing physical tile"},
        ArgumentsCase{"PackageOnly", {"absent.zpkg"}, "missing physical tile", "os error"},
        ArgumentsCase{"NoRecord", {"absent.zpkg", "7"}, "missing device record", "os error"},
        // The number is parsed before the third argument is looked for.
        ArgumentsCase{"NoRecordBadTile", {"absent.zpkg", "7x"}, "InvalidDigit", "missing"},
        ArgumentsCase{"NoRecordEmptyTile", {"absent.zpkg", ""}, "Empty", "missing"},
        ArgumentsCase{"FourArguments", {"absent.zpkg", "7", "r", "x"}, kExtraArgument, "os error"},
        ArgumentsCase{"EmptyFourth", {"absent.zpkg", "7", "r", ""}, kExtraArgument, "os error"}),
    case_name<ArgumentsCase>);

// --- reading the package -----------------------------------------------------------

TEST_F(VerifierTest, PackageFileThatCannotBeRead) {
  // A leading dash is a path like any other, never an option.
  for (const std::string name : {"absent.zpkg", "-h"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(
        failed_with(run({name, "7", example_record()}), "No such file or directory (os error 2)"));
  }
  EXPECT_TRUE(
      failed_with(run({make_directory("package.d"), "7", example_record()}), "Is a directory"));
  EXPECT_TRUE(failed_with(run({make_fifo("package.fifo"), "7", example_record()}),
                          "cannot read package: not a regular file"));
}

struct PackageCase {
  std::string_view name;
  std::function<std::vector<std::uint8_t>()> bytes;
  std::string_view failure;
};

// The example package with `tweak` applied to its message.
std::function<std::vector<std::uint8_t>()> tweaked(
    std::function<void(zem::schema::Application::Builder)> tweak) {
  return [tweak] {
    zt::PackageOptions options = zt::example_options();
    options.tweak = tweak;
    return zt::build_package(zt::example_application(), options);
  };
}

using PackageErrorTest = VerifierTableTest<PackageCase>;

TEST_P(PackageErrorTest, ShowsTheLibraryError) {
  const PackageCase& c = GetParam();
  const RunResult result = run({write("bad.zpkg", c.bytes()), "7", std::string(kAbsentRecord)});
  EXPECT_TRUE(failed_with(result, c.failure));
  EXPECT_FALSE(contains(result.err, "physicalTile="));
  EXPECT_FALSE(contains(result.err, kRecordOpenFailure));
}

INSTANTIATE_TEST_SUITE_P(
    Packages, PackageErrorTest,
    testing::Values(
        PackageCase{"FormatVersion3", tweaked([](auto root) { root.setFormatVersion(3); }),
                    R"(Invalid("incompatible package header"))"},
        PackageCase{"WrongBuildDigest", tweaked([](auto root) { root.getBuildDigest()[0] ^= 1U; }),
                    R"(Invalid("build digest mismatch"))"},
        PackageCase{"DuplicateQuotedBindingName",
                    [] {
                      zem::Application model = zt::example_application();
                      model.bindings_1.at(0).name = "a\"b";
                      model.bindings_2.at(0).name = "a\"b";
                      return zt::build_package(model, zt::example_options());
                    },
                    R"(Invalid("empty or duplicate binding a\"b"))"},
        PackageCase{"CompressionCode7", tweaked([](auto root) {
                      root.getBlobs()[0].setCompression(static_cast<zem::schema::Compression>(7));
                    }),
                    "SchemaEnum(NotInSchema(7))"},
        PackageCase{"CompilerNotUtf8",
                    tweaked([](auto root) { root.setCompiler(capnp::Text::Reader("1.\xff", 3)); }),
                    "Utf8("},
        PackageCase{"EmptyFile", [] { return std::vector<std::uint8_t>{}; }, "Capnp("},
        PackageCase{"Truncated",
                    [] {
                      std::vector<std::uint8_t> bytes =
                          zt::build_package(zt::example_application(), zt::example_options());
                      bytes.resize(bytes.size() / 2);
                      return bytes;
                    },
                    "Capnp("}),
    case_name<PackageCase>);

// --- choosing the tile and patching -------------------------------------------------

TEST_F(VerifierTest, TileStagesFailBeforeTheRecordIsRead) {
  zem::Application model = zt::example_application();
  model.tiles.push_back(zem::TileImage{5, 0, 0, 0, {}});
  const std::string path = package(model, zt::example_options());
  struct Case {
    std::string tile;
    std::string_view failure;
    std::string_view never;  // the library's wording for the same condition
  };
  const Case cases[] = {
      {"3", "template setup was not found", "physicalTile="},
      {"9", "no tile has physical tile number 9", "unknown tile"},
      {"5", "tile 5 has no segments", "loadable segments"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tile);
    const RunResult result = run({path, c.tile, std::string(kAbsentRecord)});
    EXPECT_TRUE(failed_with(result, c.failure));
    EXPECT_FALSE(contains(result.err, c.never)) << result.err;
    EXPECT_FALSE(contains(result.err, kRecordOpenFailure)) << result.err;
  }
}

// The template tile loaded from its offset 0x40 on, with an empty segment at
// 0x4c000 listed last: the load base is still 0x4c000, where the library places
// byte 0 of the image, so every address resolves as in the template tile.
TEST_F(VerifierTest, LoadBaseIsTheLowestSegmentAddress) {
  zem::Application model = single_segment_model(zt::make_template_tile().image);
  model.tiles.at(0).segments = {zem::Segment{0x4c040, 0xfc0, 0, 0x40, 0xfc0, 0},
                                zem::Segment{0x4c000, 0, 0, 0, 0, 0}};
  EXPECT_TRUE(matched(run({package(model, {}), "7", example_record()})));
}

struct ImageCase {
  std::string_view name;
  std::size_t offset;  // image offset of the word to replace
  std::uint32_t word;
  std::string_view failure;  // empty: the run must match
};

using PatchingTest = VerifierTableTest<ImageCase>;

// The template tile's layout: the setup at 0x40, the table start pointer at
// 0xc00 and the second patch group at 0xf18; the image is 0x1000 bytes.
TEST_P(PatchingTest, ReportsTheFirstBadAccess) {
  const ImageCase& c = GetParam();
  std::vector<std::uint8_t> image = zt::make_template_tile().image;
  for (std::size_t k = 0; k < 4; ++k) {
    image.at(c.offset + k) = static_cast<std::uint8_t>(c.word >> (8 * k));
  }
  const std::string path = package(single_segment_model(image), {});
  if (c.failure.empty()) {
    EXPECT_TRUE(matched(run({path, "7", example_record()})));
    return;
  }
  const RunResult result = run({path, "7", std::string(kAbsentRecord)});
  EXPECT_TRUE(failed_with(result, c.failure));
  EXPECT_TRUE(contains(result.err, "physicalTile=7 ")) << result.err;
  EXPECT_FALSE(contains(result.err, kRecordOpenFailure)) << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    Images, PatchingTest,
    testing::Values(ImageCase{"Unchanged", 0xc00, 0x4cf00, ""},
                    ImageCase{"TableStartAtImageEnd", 0xc00, 0x4d000,
                              "index 0 out of range for slice of length 0"},
                    ImageCase{"TableStartBeyondImageEnd", 0xc00, 0x4e000,
                              "index 0 out of range for slice of length 0"},
                    ImageCase{"LastPatchWordCutOff", 0xc00, 0x4cffe,
                              "range end index 4098 out of range for slice of length 4096"},
                    ImageCase{"PrimaryBelowLoadBase", 0x44, 0x1944b000,
                              "index 4294963200 out of range for slice of length 4096"},
                    ImageCase{"SecondaryRunsPastImage", 0x48, 0x1954cffc,
                              "range end index 4100 out of range for slice of length 4096"},
                    ImageCase{"SecondPositionBeyondTarget", 0xf18, 0x00010004,
                              "index 4 out of range for slice of length 4"}),
    case_name<ImageCase>);

// --- the device record ---------------------------------------------------------------

struct RecordCase {
  std::string_view name;
  std::function<std::string(const VerifierTest&)> record;  // makes it, returns its path
  std::string_view failure;
};

using RecordTest = VerifierTableTest<RecordCase>;

TEST_P(RecordTest, ReportsTheDifference) {
  const RecordCase& c = GetParam();
  const RunResult result = run({example_package(), "7", c.record(*this)});
  EXPECT_TRUE(failed_with(result, c.failure));
  // The record is read after the template setup has been reported.
  EXPECT_TRUE(contains(result.err, diagnostic_line())) << result.err;
}

// The example record with `change` applied to its bytes.
std::function<std::string(const VerifierTest&)> changed(
    std::function<void(std::vector<std::uint8_t>&)> change) {
  return [change](const VerifierTest& test) {
    std::vector<std::uint8_t> bytes = example_record_bytes();
    change(bytes);
    return test.write("device.record", bytes);
  };
}

INSTANTIATE_TEST_SUITE_P(
    Records, RecordTest,
    testing::Values(
        // Word 1 should be 456; word 4 differs too but comes later.
        RecordCase{"WordDiffers", changed([](auto& bytes) {
                     bytes.at(4) = 0xc9;
                     bytes.at(16) = 0;
                   }),
                   "device record differs at word 1: actual=0x000001c9, expected=0x000001c8\n"},
        RecordCase{"BigEndianWords", changed([](auto& bytes) {
                     for (std::size_t i = 0; i < bytes.size(); i += 4) {
                       std::swap(bytes.at(i), bytes.at(i + 3));
                       std::swap(bytes.at(i + 1), bytes.at(i + 2));
                     }
                   }),
                   "device record differs at word 0: actual=0x62000000, expected=0x00000062\n"},
        RecordCase{"OneByteTooLong", changed([](auto& bytes) { bytes.push_back(0); }),
                   "device record length 41 does not match expected length 40"},
        RecordCase{"Empty", changed([](auto& bytes) { bytes.clear(); }),
                   "device record length 0 does not match expected length 40"},
        RecordCase{"Missing", [](const VerifierTest&) { return std::string(kAbsentRecord); },
                   "cannot open device record: No such file or directory (os error 2)"},
        RecordCase{"Directory",
                   [](const VerifierTest& test) { return test.make_directory("record.d"); },
                   "Is a directory (os error 21)"},
        // A FIFO with no writer would block a plain read forever.
        RecordCase{"Fifo", [](const VerifierTest& test) { return test.make_fifo("record.fifo"); },
                   "not a regular file: it is a FIFO"}),
    case_name<RecordCase>);

}  // namespace
