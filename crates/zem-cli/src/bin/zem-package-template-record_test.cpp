// End-to-end tests of zem-package-template-record: each case writes a package
// and a device record into a fresh directory, runs the real binary there and
// checks its exit status, standard output and standard error.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "package_builder.hpp"

namespace {

namespace zt = zem::testing;

constexpr int kFailureStatus = 101;
constexpr std::string_view kSuccessLine = "templateRecordWords=10 transition=1 status=match\n";
// Named as a record path where no file exists: a failure before the record is
// read must be the one reported.
constexpr std::string_view kAbsentRecord = "absent.record";
constexpr std::string_view kRecordOpenFailure = "cannot open device record";

struct RunResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
};

[[noreturn]] void throw_errno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

// An anonymous file that receives one of the child's output streams.
class Capture {
 public:
  explicit Capture(const char* name) : fd_(::memfd_create(name, MFD_CLOEXEC)) {
    if (fd_ < 0) throw_errno("memfd_create");
  }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;
  ~Capture() { ::close(fd_); }
  [[nodiscard]] int fd() const { return fd_; }

  [[nodiscard]] std::string contents() const {
    std::string text;
    char buffer[4096];
    for (off_t offset = 0;;) {
      const ssize_t n = ::pread(fd_, buffer, sizeof buffer, offset);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw_errno("pread");
      if (n == 0) return text;
      text.append(buffer, static_cast<std::size_t>(n));
      offset += n;
    }
  }

 private:
  int fd_;
};

// Runs the verifier in `directory` with `args` passed as raw bytes, an empty
// environment and standard input from /dev/null, and waits for it.
RunResult run_verifier(const std::vector<std::string>& args, const std::string& directory) {
  std::vector<std::string> storage{ZEM_VERIFIER_PATH};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : storage) argv.push_back(arg.data());
  argv.push_back(nullptr);
  char* environment[] = {nullptr};

  const Capture out("stdout");
  const Capture err("stderr");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out.fd(), 1);
  posix_spawn_file_actions_adddup2(&actions, err.fd(), 2);
  posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  pid_t pid = 0;
  const int spawned =
      ::posix_spawn(&pid, ZEM_VERIFIER_PATH, &actions, nullptr, argv.data(), environment);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::system_error(spawned, std::generic_category(), "posix_spawn");

  int wait_status = 0;
  while (::waitpid(pid, &wait_status, 0) < 0) {
    if (errno != EINTR) throw_errno("waitpid");
  }
  RunResult run;
  run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  run.out = out.contents();
  run.err = err.contents();
  return run;
}

// A fresh directory for one test, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zem-verifier-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw_errno("mkdtemp");
    path_ = pattern;
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  [[nodiscard]] const std::string& path() const { return path_; }

 private:
  std::string path_;
};

testing::AssertionResult succeeded(const RunResult& run) {
  if (run.status != 0 || run.out != kSuccessLine) {
    return testing::AssertionFailure() << "status " << run.status << ", stdout \"" << run.out
                                       << "\", stderr \"" << run.err << '"';
  }
  return testing::AssertionSuccess();
}

// Status 101, nothing on standard output, and `message` on standard error.
testing::AssertionResult failed_with(const RunResult& run, std::string_view message) {
  if (run.status != kFailureStatus || !run.out.empty() ||
      run.err.find(message) == std::string::npos) {
    return testing::AssertionFailure() << "expected \"" << message << "\"; got status "
                                       << run.status << ", stdout \"" << run.out
                                       << "\", stderr \"" << run.err << '"';
  }
  return testing::AssertionSuccess();
}

bool contains(const std::string& text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

std::string diagnostic_line() { return zt::make_template_tile().diagnostic_line + "\n"; }

// Tile 7 of the example as the only tile: one plain blob holding `image`, one
// segment at the template tile's load base.
zem::Application single_segment_model(std::span<const std::uint8_t> image) {
  zem::Application model;
  model.blobs.push_back(zt::make_blob(image));
  zt::index_blobs(model);
  const auto size = static_cast<std::uint32_t>(image.size());
  const std::uint32_t base = zt::make_template_tile().load_base;
  model.tiles.push_back(zem::TileImage{7, 0, 0, 0, {zem::Segment{base, size, 0, 0, size, 0}}});
  return model;
}

void put_word(std::vector<std::uint8_t>& image, std::size_t offset, std::uint32_t word) {
  for (std::size_t k = 0; k < 4; ++k) {
    image.at(offset + k) = static_cast<std::uint8_t>(word >> (8 * k));
  }
}

class VerifierTest : public testing::Test {
 public:
  // Writes `bytes` to `name` in the test directory and returns `name`, which
  // is the path the verifier sees: it runs in that directory.
  std::string write(const std::string& name, std::span<const std::uint8_t> bytes) const {
    zt::write_file(dir_.path() + "/" + name, bytes);
    return name;
  }
  std::string write_package(const zem::Application& model, const zt::PackageOptions& options,
                            const std::string& name = "package.zpkg") const {
    return write(name, zt::build_package(model, options));
  }
  std::string example_package(const std::string& name = "example.zpkg") const {
    return write_package(zt::example_application(), zt::example_options(), name);
  }
  std::string record(std::span<const std::uint32_t> words,
                     const std::string& name = "device.record") const {
    return write(name, zt::words_to_bytes(words));
  }
  std::string example_record(const std::string& name = "device.record") const {
    return record(zt::make_template_tile().record, name);
  }
  std::string make_directory(const std::string& name) const {
    std::filesystem::create_directory(dir_.path() + "/" + name);
    return name;
  }
  [[nodiscard]] RunResult run(const std::vector<std::string>& args) const {
    return run_verifier(args, dir_.path());
  }

 private:
  TempDir dir_;
};

template <class Case>
class VerifierTableTest : public VerifierTest, public testing::WithParamInterface<Case> {};

template <class Case>
std::string case_name(const testing::TestParamInfo<Case>& info) {
  return std::string(info.param.name);
}

// --- success ---------------------------------------------------------------

TEST_F(VerifierTest, ExampleRecordMatches) {
  const RunResult result = run({example_package(), "7", example_record()});
  EXPECT_TRUE(succeeded(result));
  EXPECT_EQ(result.err, diagnostic_line());
}

TEST_F(VerifierTest, PathsAreTakenAsRawBytes) {
  const RunResult result =
      run({example_package("package-\xff.zpkg"), "7", example_record("record-\xfe\xff")});
  EXPECT_TRUE(succeeded(result));
  EXPECT_EQ(result.err, diagnostic_line());
}

// --- the physical tile argument ----------------------------------------------

struct TileCase {
  std::string_view name;
  std::string tile;
  std::string_view failure;  // empty: the run must succeed on tile 7
};

using TileArgumentTest = VerifierTableTest<TileCase>;

TEST_P(TileArgumentTest, ParsesOrNamesTheProblem) {
  const TileCase& c = GetParam();
  const RunResult result = run({example_package(), c.tile, example_record()});
  if (c.failure.empty()) {
    EXPECT_TRUE(succeeded(result));
    EXPECT_EQ(result.err, diagnostic_line());
  } else {
    EXPECT_TRUE(failed_with(result, c.failure));
    EXPECT_FALSE(contains(result.err, "physicalTile="));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, TileArgumentTest,
    testing::Values(TileCase{"Plain", "7", ""}, TileCase{"LeadingPlus", "+7", ""},
                    TileCase{"LeadingZeros", "0007", ""},
                    TileCase{"Minus", "-7", "InvalidDigit"},
                    TileCase{"LeadingSpace", " 7", "InvalidDigit"},
                    TileCase{"TrailingSpace", "7 ", "InvalidDigit"},
                    TileCase{"Hexadecimal", "0x7", "InvalidDigit"},
                    TileCase{"LonePlus", "+", "InvalidDigit"},
                    TileCase{"LoneMinus", "-", "InvalidDigit"},
                    TileCase{"TwoPluses", "++7", "InvalidDigit"},
                    TileCase{"Empty", "", "Empty"},
                    TileCase{"JustAboveMax", "4294967296", "PosOverflow"},
                    TileCase{"FarAboveMax", "99999999999", "PosOverflow"},
                    TileCase{"OverflowBeforeBadDigit", "99999999999x", "PosOverflow"},
                    TileCase{"BadDigitBeforeOverflow", "429496729x", "InvalidDigit"},
                    // The largest value parses; no tile has it.
                    TileCase{"Max", "4294967295", "no tile has physical tile number 4294967295"},
                    TileCase{"InvalidByte", "\xff", "physical tile argument is not valid UTF-8"},
                    TileCase{"CutOffSequence", "7\xe2\x82",
                             "physical tile argument is not valid UTF-8"}),
    case_name<TileCase>);

// --- argument count ----------------------------------------------------------

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

INSTANTIATE_TEST_SUITE_P(
    Arguments, ArgumentCountTest,
    testing::Values(
        ArgumentsCase{"None", {}, "missing package", "missing physical tile"},
        ArgumentsCase{"PackageOnly", {"absent.zpkg"}, "missing physical tile", "os error"},
        ArgumentsCase{"NoRecord", {"absent.zpkg", "7"}, "missing device record", "os error"},
        // The number is parsed before the third argument is looked for.
        ArgumentsCase{"NoRecordBadTile", {"absent.zpkg", "7x"}, "InvalidDigit", "missing"},
        ArgumentsCase{"NoRecordEmptyTile", {"absent.zpkg", ""}, "Empty", "missing"},
        ArgumentsCase{"FourArguments",
                      {"absent.zpkg", "7", "absent.record", "extra"},
                      "assertion failed: arguments.next().is_none()",
                      "os error"},
        ArgumentsCase{"EmptyFourthArgument",
                      {"absent.zpkg", "7", "absent.record", ""},
                      "assertion failed: arguments.next().is_none()",
                      "os error"},
        ArgumentsCase{"FiveArguments",
                      {"absent.zpkg", "7", "absent.record", "-", "-"},
                      "assertion failed: arguments.next().is_none()",
                      "os error"}),
    case_name<ArgumentsCase>);

// --- the package file ----------------------------------------------------------

TEST_F(VerifierTest, PackageFileThatCannotBeRead) {
  // A leading dash is a path like any other, never an option.
  for (const std::string package : {"absent.zpkg", "-h"}) {
    SCOPED_TRACE(package);
    EXPECT_TRUE(failed_with(run({package, "7", example_record()}),
                            "No such file or directory (os error 2)"));
  }
  EXPECT_TRUE(
      failed_with(run({make_directory("package.d"), "7", example_record()}), "Is a directory"));
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
        PackageCase{"FormatVersion3",
                    tweaked([](auto root) { root.setFormatVersion(3); }),
                    R"(Invalid("incompatible package header"))"},
        PackageCase{"WrongBuildDigest",
                    tweaked([](auto root) { root.getBuildDigest()[0] ^= 1U; }),
                    R"(Invalid("build digest mismatch"))"},
        PackageCase{"DuplicateQuotedBindingName",
                    [] {
                      zem::Application model = zt::example_application();
                      model.bindings_1.at(0).name = "a\"b";
                      model.bindings_2.at(0).name = "a\"b";
                      return zt::build_package(model, zt::example_options());
                    },
                    R"(Invalid("empty or duplicate binding a\"b"))"},
        PackageCase{"CompressionCode7",
                    tweaked([](auto root) {
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

// --- choosing the tile -----------------------------------------------------------

TEST_F(VerifierTest, TileStagesFailBeforeTheRecordIsRead) {
  zem::Application model = zt::example_application();
  model.tiles.push_back(zem::TileImage{5, 0, 0, 0, {}});
  const std::string package = write_package(model, zt::example_options());
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
    const RunResult result = run({package, c.tile, std::string(kAbsentRecord)});
    EXPECT_TRUE(failed_with(result, c.failure));
    EXPECT_FALSE(contains(result.err, c.never)) << result.err;
    EXPECT_FALSE(contains(result.err, kRecordOpenFailure)) << result.err;
  }
}

// --- patching ----------------------------------------------------------------------

struct ImageCase {
  std::string_view name;
  std::size_t offset;  // image offset of the word to replace
  std::uint32_t word;
  std::string_view failure;  // empty: the run must succeed
};

using PatchingTest = VerifierTableTest<ImageCase>;

// The template tile's layout: the setup at 0x40, the table start pointer at
// 0xc00 and the second patch group at 0xf18; the image is 0x1000 bytes.
TEST_P(PatchingTest, ReportsTheFirstBadAccess) {
  const ImageCase& c = GetParam();
  std::vector<std::uint8_t> image = zt::make_template_tile().image;
  put_word(image, c.offset, c.word);
  const std::string package = write_package(single_segment_model(image), {});
  if (c.failure.empty()) {
    const RunResult result = run({package, "7", example_record()});
    EXPECT_TRUE(succeeded(result));
    EXPECT_EQ(result.err, diagnostic_line());
    return;
  }
  // Patching fails before the record file is looked for.
  const RunResult result = run({package, "7", std::string(kAbsentRecord)});
  EXPECT_TRUE(failed_with(result, c.failure));
  EXPECT_TRUE(contains(result.err, "physicalTile=7 ")) << result.err;
  EXPECT_FALSE(contains(result.err, kRecordOpenFailure)) << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    Images, PatchingTest,
    testing::Values(
        ImageCase{"Unchanged", 0xc00, 0x4cf00, ""},
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

// --- the device record -------------------------------------------------------------

struct RecordCase {
  std::string_view name;
  std::function<std::string(const VerifierTest&)> record;  // writes it, returns its path
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

std::vector<std::uint8_t> example_record_bytes() {
  return zt::words_to_bytes(zt::make_template_tile().record);
}

INSTANTIATE_TEST_SUITE_P(
    Records, RecordTest,
    testing::Values(
        RecordCase{"WordDiffers",
                   [](const VerifierTest& test) {
                     std::vector<std::uint32_t> words = zt::make_template_tile().record;
                     words.at(1) += 1;  // 456 expected
                     words.at(4) += 1;  // a later difference is not reported
                     return test.record(words);
                   },
                   "device record differs at word 1: actual=0x000001c9, expected=0x000001c8\n"},
        RecordCase{"BigEndianWords",
                   [](const VerifierTest& test) {
                     std::vector<std::uint8_t> bytes = example_record_bytes();
                     for (std::size_t i = 0; i < bytes.size(); i += 4) {
                       std::swap(bytes.at(i), bytes.at(i + 3));
                       std::swap(bytes.at(i + 1), bytes.at(i + 2));
                     }
                     return test.write("device.record", bytes);
                   },
                   "device record differs at word 0: actual=0x62000000, expected=0x00000062\n"},
        RecordCase{"OneByteTooLong",
                   [](const VerifierTest& test) {
                     std::vector<std::uint8_t> bytes = example_record_bytes();
                     bytes.push_back(0);
                     return test.write("device.record", bytes);
                   },
                   "device record length 41 does not match expected length 40"},
        RecordCase{"Empty",
                   [](const VerifierTest& test) { return test.write("device.record", {}); },
                   "device record length 0 does not match expected length 40"},
        RecordCase{"Missing", [](const VerifierTest&) { return std::string(kAbsentRecord); },
                   "cannot open device record: No such file or directory (os error 2)"},
        RecordCase{"Directory",
                   [](const VerifierTest& test) { return test.make_directory("record.d"); },
                   "Is a directory (os error 21)"}),
    case_name<RecordCase>);

}  // namespace
