// End-to-end tests of zem-package: each case writes packages and records into
// a fresh directory, runs the real binary there and checks its exit status,
// standard output and standard error.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "toolkit/hex.hpp"
#include "damaged_packages.hpp"
#include "program_run.hpp"

namespace {

namespace zt = zem::testing;
namespace test = zem::testing;
using zem::toolkit::hex_bytes;
using Stage = zem::ReadStage;
using Json = nlohmann::ordered_json;

constexpr int kSuccess = 0;
constexpr int kNegative = 1;
constexpr int kFailure = 2;

using RunResult = zt::ProgramRun;

// Runs zem-package in `directory` with an empty environment, or the one
// given. Standard output is captured, or goes to the file `stdout_path` when
// one is named.
RunResult run_tool(const std::vector<std::string>& args, const std::string& directory,
                   const std::optional<std::string>& stdout_path = std::nullopt,
                   const std::vector<std::string>& environment = {}) {
  return zt::run_program(ZEM_PACKAGE_TOOL_PATH, args,
                         zt::RunSettings{directory, environment, stdout_path, {}});
}

std::string stage_key(Stage stage) {
  return stage == Stage::build_digest ? "buildDigest" : std::string(stage_name(stage));
}

// The model of a package: what every subcommand's output is compared with.
const zem::Application& model() {
  static const zem::Application application = zt::example_application();
  return application;
}

class ZemPackageTest : public ::testing::Test {
 public:
  std::string write(const std::string& name, std::span<const std::uint8_t> bytes) const {
    zt::write_file(dir_.path() + "/" + name, bytes);
    return name;
  }
  std::string package(const std::string& name = "package.zpkg") const {
    return write(name, test::example_bytes());
  }
  std::string record(std::span<const std::uint32_t> words,
                     const std::string& name = "device.record") const {
    return write(name, zt::words_to_bytes(words));
  }
  [[nodiscard]] std::vector<std::uint8_t> read(const std::string& name) const {
    std::ifstream in(dir_.path() + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  [[nodiscard]] const std::string& dir() const { return dir_.path(); }
  [[nodiscard]] bool exists(const std::string& name) const {
    return std::filesystem::exists(dir_.path() + "/" + name);
  }
  [[nodiscard]] RunResult run(const std::vector<std::string>& args,
                              const std::optional<std::string>& stdout_path = std::nullopt) const {
    return run_tool(args, dir_.path(), stdout_path);
  }

 private:
  zt::ScratchDirectory dir_;
};

// Status 2, nothing on standard output, and exactly one error line.
::testing::AssertionResult failed_with(const RunResult& run, std::string_view message) {
  const std::string line = "zem-package: error: " + std::string(message) + "\n";
  if (run.status != kFailure || !run.out.empty() || run.err != line) {
    return ::testing::AssertionFailure()
           << "expected \"" << line << "\"; got status " << run.status << ", stdout \"" << run.out
           << "\", stderr \"" << run.err << '"';
  }
  return ::testing::AssertionSuccess();
}

std::vector<std::uint8_t> as_bytes(const std::string& text) { return {text.begin(), text.end()}; }

// --- the command line ------------------------------------------------------------

TEST_F(ZemPackageTest, VersionNamesThePackageFormat) {
  const RunResult result = run({"--version"});
  EXPECT_EQ(result.status, kSuccess);
  EXPECT_EQ(result.out, "zem-package 0.1.0 (reads package format version 2)\n");
  EXPECT_EQ(result.err, "");
}

// Help names every argument and fits in 80 columns.
TEST_F(ZemPackageTest, EverySubcommandHasHelp) {
  for (const std::string usage :
       {"inspect [OPTIONS] PACKAGE", "check [OPTIONS] PACKAGE...", "compare [OPTIONS] FIRST SECOND",
        "extract [OPTIONS] PACKAGE [TILE]", "diff [OPTIONS] PACKAGE TILE RECORD",
        "template [OPTIONS] PACKAGE [TILE]", "--help"}) {
    const std::string name = usage.substr(0, usage.find(' '));
    const RunResult result = run(name == "--help" ? std::vector<std::string>{name}
                                                  : std::vector<std::string>{name, "--help"});
    EXPECT_EQ(result.status, kSuccess) << name;
    EXPECT_NE(result.out.find(name == "--help" ? "Usage: zem-package [OPTIONS] SUBCOMMAND"
                                               : "Usage: zem-package " + usage),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("Exit status: 0"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("TEXT"), std::string::npos) << result.out;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80U) << line;
  }
}

TEST_F(ZemPackageTest, UsageErrorsAreOneLine) {
  EXPECT_TRUE(failed_with(run({}),
                          "missing subcommand: expected inspect, check, compare, extract, diff or "
                          "template (see zem-package --help)"));
  EXPECT_TRUE(failed_with(run({"--foo"}), "unknown option \"--foo\" (see zem-package --help)"));
  EXPECT_TRUE(failed_with(run({"check", package(), "--foo"}),
                          "check: unknown option \"--foo\" (see zem-package --help)"));
  EXPECT_TRUE(failed_with(run({"diff", package(), "7"}),
                          "diff: RECORD is required (see zem-package --help)"));
}

TEST_F(ZemPackageTest, FilesThatCannotBeReadAreNamed) {
  for (const std::string subcommand : {"inspect", "check"}) {
    EXPECT_TRUE(failed_with(run({subcommand, "absent.zpkg"}),
                            "absent.zpkg: No such file or directory (os error 2)"));
  }
  EXPECT_TRUE(failed_with(run({"inspect", "--json", "absent.zpkg"}),
                          "absent.zpkg: No such file or directory (os error 2)"));
  EXPECT_TRUE(failed_with(run({"check", "."}), ".: Is a directory (os error 21)"));
  EXPECT_TRUE(failed_with(run({"extract", "/dev/null", "7"}), "/dev/null: not a regular file"));
  EXPECT_TRUE(failed_with(run({"check", "line\nbreak"}),
                          "\"line\\nbreak\": No such file or directory (os error 2)"));
}

// --- inspect ----------------------------------------------------------------------

TEST_F(ZemPackageTest, InspectShowsThePackage) {
  const RunResult result = run({"inspect", package()});
  EXPECT_EQ(result.status, kSuccess);
  EXPECT_EQ(result.err, "");
  for (const std::string line : {
           "package       package.zpkg\n",
           "check         valid\n",
           "blobs: 2\n",
           "  tile 7: load base 0x4c000, image 8704 bytes, aux 1 2 3, segments 2\n",
           "    0  0x4c000  0x4d000    4096     0            0  4096    0\n",
           "  weights     7  0x4c400  0x4c418      24       0\n",
           "host exchange: startup page 1 at offset 0, aux 0\n",
           "device configuration writes: 2\n",
       }) {
    EXPECT_NE(result.out.find(line), std::string::npos) << line << "in:\n" << result.out;
  }
}

// The JSON goes through a parser and back, and every value is the model's.
TEST_F(ZemPackageTest, InspectJsonRoundTrip) {
  const RunResult result = run({"inspect", package(), "--json"});
  ASSERT_EQ(result.status, kSuccess) << result.err;
  const Json document = Json::parse(result.out);
  EXPECT_EQ(Json::parse(document.dump()), document);
  EXPECT_EQ(document["format"], 2);
  EXPECT_EQ(document["package"], "package.zpkg");
  EXPECT_EQ(document["valid"], true);
  EXPECT_EQ(document["compiler"], model().compiler);

  ASSERT_EQ(document["blobs"].size(), model().blobs.size());
  for (std::size_t i = 0; i < model().blobs.size(); ++i) {
    EXPECT_EQ(document["blobs"][i]["digest"], hex_bytes(model().blobs[i].digest));
    EXPECT_EQ(document["blobs"][i]["uncompressedSize"],
              std::to_string(model().blobs[i].data.size()));
  }
  ASSERT_EQ(document["tiles"].size(), model().tiles.size());
  for (std::size_t t = 0; t < model().tiles.size(); ++t) {
    const zem::TileImage& tile = model().tiles[t];
    const Json& shown = document["tiles"][t];
    EXPECT_EQ(shown["physicalTile"], tile.physical_tile);
    EXPECT_EQ(shown["imageSize"], model().tile_image(tile.physical_tile)->size());
    ASSERT_EQ(shown["segments"].size(), tile.segments.size());
    for (std::size_t s = 0; s < tile.segments.size(); ++s) {
      const zem::Segment& segment = tile.segments[s];
      EXPECT_EQ(shown["segments"][s]["address"], fmt::format("0x{:x}", segment.address));
      EXPECT_EQ(shown["segments"][s]["memorySize"], segment.memory_size);
      EXPECT_EQ(shown["segments"][s]["blob"], segment.blob);
      EXPECT_EQ(shown["segments"][s]["blobOffset"], std::to_string(segment.blob_offset));
      EXPECT_EQ(shown["segments"][s]["dataSize"], segment.data_size);
    }
  }
  EXPECT_EQ(document["bindings"][1]["name"], model().bindings_2[0].name);
  EXPECT_EQ(document["hostExchange"]["calls"][0]["invocations"],
            model().host_exchange.calls[0].invocations);
  EXPECT_EQ(document["entryPoints"][1]["externalSyncs"], model().entry_points[1].external_syncs);
  EXPECT_EQ(document["deviceConfigWrites"][0]["address"], "0x100");
  EXPECT_EQ(document["buildDigest"]["stored"], hex_bytes(model().build_digest()));
  EXPECT_EQ(document["buildDigest"]["matches"], true);
}

class DamagedPackageTest : public ZemPackageTest,
                           public ::testing::WithParamInterface<test::DamagedPackage> {};

// Whatever is wrong with a package, `inspect --json` writes one document that
// parses, with the failing stage, element and the library's error, and the
// contents whenever the framing and header could be read; it exits with 1.
TEST_P(DamagedPackageTest, InspectJsonParses) {
  const test::DamagedPackage& damaged = GetParam();
  const RunResult result = run({"inspect", "--json", write("bad.zpkg", damaged.bytes())});
  EXPECT_EQ(result.status, kNegative) << result.err;
  EXPECT_EQ(result.err, "");
  const Json document = Json::parse(result.out);
  EXPECT_EQ(document["valid"], false);
  EXPECT_EQ(document["error"]["stage"], stage_key(damaged.stage));
  EXPECT_EQ(document["error"]["element"],
            damaged.element.empty() ? Json() : Json(std::string(damaged.element)));
  const std::string message = document["error"]["message"];
  EXPECT_TRUE(message.starts_with(damaged.error_start)) << message;
  EXPECT_EQ(document["checks"][stage_key(damaged.stage)], "failed");
  EXPECT_EQ(document.contains("tiles"), damaged.stage >= Stage::blobs);
}

TEST_P(DamagedPackageTest, CheckReportsTheFailingStage) {
  const test::DamagedPackage& damaged = GetParam();
  const RunResult result = run({"check", write("bad.zpkg", damaged.bytes())});
  EXPECT_EQ(result.status, kNegative) << result.err;
  EXPECT_EQ(result.err, "");
  const std::string name(stage_name(damaged.stage));
  const std::string where = damaged.element.empty() ? "" : " at " + std::string(damaged.element);
  const std::string line = name + std::string(14 - name.size(), ' ') + "failed" + where + ": " +
                           std::string(damaged.error_start);
  EXPECT_NE(("\n" + result.out).find("\n" + line), std::string::npos) << result.out;
  EXPECT_TRUE(result.out.starts_with(damaged.stage == Stage::framing ? "framing       failed"
                                                                     : "framing       ok\n"))
      << result.out;
  EXPECT_EQ(result.out.ends_with("skipped\n"), damaged.stage != Stage::build_digest) << result.out;
}

TEST_P(DamagedPackageTest, ExtractAndDiffRefuseIt) {
  const test::DamagedPackage& damaged = GetParam();
  const std::string bad = write("bad.zpkg", damaged.bytes());
  const std::string records = record(zt::make_template_tile().record);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"extract", bad, "7", "-o", "image.bin"},
        std::vector<std::string>{"diff", bad, "7", records}}) {
    const RunResult result = run(args);
    EXPECT_EQ(result.status, kFailure) << args[0];
    EXPECT_TRUE(result.out.empty()) << args[0];
    // One line: the stage, the element, then the library's error.
    const std::string start =
        "zem-package: error: bad.zpkg: invalid package: " + std::string(stage_name(damaged.stage)) +
        " failed";
    EXPECT_TRUE(result.err.starts_with(start)) << result.err;
    EXPECT_NE(result.err.find(damaged.element), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(": " + std::string(damaged.error_start)), std::string::npos)
        << result.err;
    EXPECT_EQ(std::ranges::count(result.err, '\n'), 1) << result.err;
  }
  EXPECT_FALSE(exists("image.bin"));
}

std::string case_name(const ::testing::TestParamInfo<test::DamagedPackage>& c) {
  return std::string(c.param.name);
}

INSTANTIATE_TEST_SUITE_P(Packages, DamagedPackageTest,
                         ::testing::ValuesIn(test::damaged_packages()), case_name);

// A package that fails is shown as far as it reads: past a failing blob the
// rest of the table and the structure, the failing element marked.
TEST_F(ZemPackageTest, InspectShowsABrokenPackageAsFarAsItReads) {
  const RunResult invalid =
      run({"inspect",
           write("bad.zpkg", test::with_model([](auto& m) { m.tiles[0].physical_tile = 7; }))});
  EXPECT_EQ(invalid.status, kNegative);
  EXPECT_NE(invalid.out.find("check         validation failed at tiles[1] (earlier tile "
                             "tiles[0]): Invalid(\"duplicate physical tile 7\")\n"),
            std::string::npos)
      << invalid.out;
  EXPECT_NE(invalid.out.find("tiles: 2\n"), std::string::npos) << invalid.out;

  const RunResult broken = run({"inspect", write("broken.zpkg", test::tweaked([](auto root) {
                                                   root.getBlobs()[0].getDigest()[0] ^= 1U;
                                                 }))});
  EXPECT_EQ(broken.status, kNegative);
  EXPECT_EQ(broken.err, "");
  for (const std::string line : {
           "blobs: 2, 0 checked\n",
           "! 0  -       zstd",
           "  1  -       none",
           "! blobs failed at blobs[0].digest (compression zstd, declared size 4096, stored size ",
           "tiles: 2\n",
           "device configuration writes: 2\n",
       }) {
    EXPECT_NE(broken.out.find(line), std::string::npos) << line << " in:\n" << broken.out;
  }
}

TEST_F(ZemPackageTest, OutputThatCannotBeWrittenIsAFailure) {
  const RunResult result = run({"inspect", package()}, "/dev/full");
  EXPECT_EQ(result.status, kFailure);
  EXPECT_EQ(result.err, "zem-package: error: cannot write to standard output\n");
}

// --- check --------------------------------------------------------------------------

TEST_F(ZemPackageTest, CheckPassesEveryStage) {
  const RunResult result = run({"check", package()});
  EXPECT_EQ(result.status, kSuccess);
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
  std::vector<std::uint8_t> trailing = test::example_bytes();
  trailing.insert(trailing.end(), {1, 2, 3});
  const std::string piped = write("piped.zpkg", trailing);
  const std::string bad = write(
      "bad.zpkg", test::with_model([](auto& m) { m.device_config_writes[1].address = 0x106; }));
  const RunResult result = zt::run_program(
      ZEM_PACKAGE_TOOL_PATH, {piped, "check", package(), "-", bad, "absent.zpkg"},
      zt::RunSettings{dir(),
                      {},
                      std::nullopt,
                      {"/bin/sh", "-c", "f=$1; shift; /bin/cat \"$f\" | \"$0\" \"$@\""}});
  EXPECT_EQ(result.status, kFailure);
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

  const RunResult json = run({"check", "--json", package(), bad});
  EXPECT_EQ(json.status, kNegative);
  const Json document = Json::parse(json.out);
  EXPECT_EQ(document["format"], 1);
  EXPECT_EQ(document["valid"], false);
  EXPECT_EQ(document["packages"][0]["valid"], true);
  EXPECT_EQ(document["packages"][1]["checks"]["validation"], "failed");
  EXPECT_EQ(document["packages"][1]["error"]["element"], "deviceConfigWrites[1]");
  EXPECT_EQ(document["packages"][1]["error"]["details"][0],
            Json::parse(R"({"name": "address", "value": "0x106"})"));
}

// --- compare ------------------------------------------------------------------------

TEST_F(ZemPackageTest, CompareTwoBuilds) {
  const std::string first = package("first.zpkg");
  // The same package, its blobs stored plain: equal, with notes.
  const std::string plain = write("plain.zpkg", zt::build_package(model(), {}));
  const RunResult equal = run({"compare", first, plain});
  EXPECT_EQ(equal.status, kSuccess) << equal.err;
  EXPECT_NE(equal.out.find("note: blob "), std::string::npos) << equal.out;
  EXPECT_TRUE(equal.out.ends_with("differingSections=0 status=equal\n")) << equal.out;

  const std::string changed =
      write("changed.zpkg", test::with_model([](auto& m) { m.entry_points[0].aux = 5; }));
  const RunResult differ = run({"compare", first, changed, "--json"});
  EXPECT_EQ(differ.status, kNegative) << differ.err;
  const Json document = Json::parse(differ.out);
  EXPECT_EQ(document["equal"], false);
  EXPECT_EQ(document["entryPoints"][0]["name"], "main");
  EXPECT_EQ(document["entryPoints"][0]["fields"]["aux"],
            Json::parse(R"({"first": 0, "second": 5})"));

  // A package that cannot be read up to its structure cannot be compared.
  const std::string broken = write(
      "broken.zpkg", test::tweaked([](auto root) { root.getBlobs()[1].getDigest()[0] ^= 1U; }));
  const RunResult failed = run({"compare", first, broken});
  EXPECT_EQ(failed.status, kFailure);
  EXPECT_TRUE(
      failed.err.starts_with("zem-package: error: broken.zpkg: invalid package: blobs "
                             "failed at blobs[1].digest (compression none"))
      << failed.err;
}

// --- extract ------------------------------------------------------------------------

TEST_F(ZemPackageTest, ExtractWritesTheTileImage) {
  const std::vector<std::uint8_t> image = *model().tile_image(7);
  const std::string line = "physicalTile=7 loadBase=0x4c000 imageBytes=8704\n";

  const RunResult to_stdout = run({"extract", package(), "7"});
  EXPECT_EQ(to_stdout.status, kSuccess) << to_stdout.err;
  EXPECT_EQ(as_bytes(to_stdout.out), image);
  EXPECT_EQ(to_stdout.err, line);

  const RunResult to_file = run({"extract", package(), "+07", "-o", "image.bin"});
  EXPECT_EQ(to_file.status, kSuccess) << to_file.err;
  EXPECT_EQ(to_file.out, "");
  EXPECT_EQ(to_file.err, line);
  EXPECT_EQ(read("image.bin"), image);
}

TEST_F(ZemPackageTest, ExtractWritesABlob) {
  const zem::Blob& blob = model().blobs[0];
  const std::string digest = hex_bytes(blob.digest);
  for (const std::string& name : {digest, digest.substr(0, 6)}) {
    const RunResult result = run({"extract", package(), "--blob", name, "-o", "blob.bin"});
    EXPECT_EQ(result.status, kSuccess) << result.err;
    EXPECT_EQ(result.err, "blob=0 digest=" + digest + " bytes=4096\n");
    EXPECT_EQ(read("blob.bin"),
              std::vector<std::uint8_t>(blob.data.bytes().begin(), blob.data.bytes().end()));
  }
}

TEST_F(ZemPackageTest, ExtractFailures) {
  const std::string good = package();
  EXPECT_TRUE(
      failed_with(run({"extract", good, "9"}), "package.zpkg: no tile has physical tile number 9"));
  EXPECT_TRUE(failed_with(run({"extract", good, "7x"}),
                          "invalid physical tile number: InvalidDigit (argument \"7x\")"));
  EXPECT_TRUE(failed_with(run({"extract", good, "--blob", "00ff"}),
                          "package.zpkg: no blob has a digest starting with 00ff"));
  EXPECT_TRUE(failed_with(run({"extract", good, "7", "-o", "missing/image.bin"}),
                          "missing/image.bin: No such file or directory (os error 2)"));
  EXPECT_TRUE(failed_with(run({"extract", good, "7", "-o", "/dev/full"}),
                          "/dev/full: No space left on device (os error 28)"));
  EXPECT_TRUE(failed_with(run({"extract", good}),
                          "extract: give a TILE or --blob DIGEST (see zem-package --help)"));
}

// Binary data never goes to a terminal, and a package is never awaited from
// one.
TEST_F(ZemPackageTest, TerminalsAreRefused) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const std::string terminal = ::ptsname(master);
  const RunResult output = run({"extract", package(), "7"}, terminal);
  const RunResult input = zt::run_program(
      ZEM_PACKAGE_TOOL_PATH, {terminal, "check", "-"},
      zt::RunSettings{
          dir(), {}, std::nullopt, {"/bin/sh", "-c", "t=$1; shift; exec \"$0\" \"$@\" < \"$t\""}});
  ::close(master);
  EXPECT_EQ(output.status, kFailure);
  EXPECT_EQ(output.err,
            "zem-package: error: refusing to write binary data to a terminal; name a file with "
            "-o or redirect standard output\n");
  EXPECT_TRUE(failed_with(input,
                          "refusing to read a package from a terminal; redirect standard input "
                          "or name a file"));
}

// --- diff ---------------------------------------------------------------------------

constexpr std::string_view kSetupLine =
    "physicalTile=7 primary=0x4c400 primaryWords=6 secondary=0x4c800 secondaryWords=4 "
    "patchTable=0x4cc00\n";

TEST_F(ZemPackageTest, DiffOfAMatchingRecord) {
  const RunResult result = run({"diff", package(), "7", record(zt::make_template_tile().record)});
  EXPECT_EQ(result.status, kSuccess) << result.err;
  EXPECT_EQ(result.out,
            std::string(kSetupLine) +
                "templateRecordWords=10 recordWords=10 differingWords=0 status=match\n");
  EXPECT_EQ(result.err, "");
}

TEST_F(ZemPackageTest, DiffOfARecordWithSeveralDifferences) {
  std::vector<std::uint32_t> words = zt::make_template_tile().record;
  words[1] = 200;  // the long delta 0x100 was not applied
  words[3] = 400;  // the long delta -1 was not applied
  words[4] = 0;    // not a patched word
  words[7] = 8;    // secondary region, short delta 5 not applied
  const std::string recorded = record(words);

  const RunResult all = run({"diff", package(), "7", recorded});
  EXPECT_EQ(all.status, kNegative) << all.err;
  EXPECT_EQ(all.err, "");
  EXPECT_EQ(all.out, std::string(kSetupLine) +
                         "word  region     offset  address  actual      expected    patched\n"
                         "   1  primary       0x4  0x4c404  0x000000c8  0x000001c8  yes\n"
                         "   3  primary       0xc  0x4c40c  0x00000190  0x0000018f  yes\n"
                         "   4  primary      0x10  0x4c410  0x00000000  0x000001f4  no\n"
                         "   7  secondary     0x4  0x4c804  0x00000008  0x0000000d  yes\n"
                         "templateRecordWords=10 recordWords=10 differingWords=4 status=differ\n");

  const RunResult limited = run({"diff", package(), "7", recorded, "--max", "2"});
  EXPECT_EQ(limited.status, kNegative);
  EXPECT_EQ(limited.out, std::string(kSetupLine) +
                             "word  region   offset  address  actual      expected    patched\n"
                             "   1  primary     0x4  0x4c404  0x000000c8  0x000001c8  yes\n"
                             "   3  primary     0xc  0x4c40c  0x00000190  0x0000018f  yes\n"
                             "... and 2 more differing words\n"
                             "templateRecordWords=10 recordWords=10 differingWords=4 "
                             "status=differ\n");
}

TEST_F(ZemPackageTest, DiffJson) {
  std::vector<std::uint32_t> words = zt::make_template_tile().record;
  words[7] = 8;
  const RunResult result = run({"diff", "--json", package(), "7", record(words)});
  EXPECT_EQ(result.status, kNegative) << result.err;
  const Json document = Json::parse(result.out);
  EXPECT_EQ(document["format"], 1);
  EXPECT_EQ(document["setup"]["secondary"], "0x4c800");
  EXPECT_EQ(document["recordBytes"], "40");
  EXPECT_EQ(document["differences"][0],
            Json::parse(R"({"word": 7, "region": "secondary", "offset": "0x4",
                            "address": "0x4c804", "actual": 8, "expected": 13,
                            "patched": true})"));
  EXPECT_EQ(document["status"], "differ");
}

TEST_F(ZemPackageTest, DiffOfARecordOfAnotherLength) {
  const std::vector<std::uint32_t> words = zt::make_template_tile().record;
  const RunResult result =
      run({"diff", package(), "7", record(std::span(words).first(9), "short.record")});
  EXPECT_EQ(result.status, kNegative);
  EXPECT_EQ(result.out, std::string(kSetupLine) +
                            "device record length 36 does not match expected length 40\n"
                            "templateRecordWords=10 recordWords=9 differingWords=0 "
                            "status=differ\n");
}

TEST_F(ZemPackageTest, DiffFailures) {
  const std::string good = package();
  const std::string recorded = record(zt::make_template_tile().record);
  EXPECT_TRUE(failed_with(run({"diff", good, "3", recorded}),
                          "package.zpkg: tile 3: template setup was not found"));
  EXPECT_TRUE(failed_with(run({"diff", good, "9", recorded}),
                          "package.zpkg: no tile has physical tile number 9"));
  EXPECT_TRUE(failed_with(run({"diff", good, "-7", recorded}),
                          "invalid physical tile number: InvalidDigit (argument \"-7\")"));
  EXPECT_TRUE(failed_with(run({"diff", good, "7", recorded, "--max", "many"}),
                          "invalid value \"many\" for --max: expected a whole number from 0 to "
                          "4294967295 (see zem-package --help)"));
  // The template was read before the record is looked for.
  const RunResult missing = run({"diff", good, "7", "absent.record"});
  EXPECT_EQ(missing.status, kFailure);
  EXPECT_EQ(missing.out, kSetupLine);
  EXPECT_EQ(missing.err,
            "zem-package: error: absent.record: No such file or directory (os error 2)\n");
}

// --- template -----------------------------------------------------------------------

TEST_F(ZemPackageTest, TemplateListsSetupsAndWritesTheRecord) {
  const std::string good = package();
  const RunResult listing = run({"template", good});
  EXPECT_EQ(listing.status, kSuccess) << listing.err;
  EXPECT_EQ(listing.out, std::string(kSetupLine) + "tilesWithTemplateSetup=1 tiles=2\n");

  const RunResult words = run({"template", good, "7"});
  EXPECT_EQ(words.status, kSuccess) << words.err;
  EXPECT_TRUE(words.out.starts_with(std::string(kSetupLine) +
                                    "word  region     offset  address  stored      expected    "
                                    "patched\n"
                                    "   0  primary       0x0  0x4c400  0x00000064  0x00000062  "
                                    "yes\n"))
      << words.out;
  EXPECT_TRUE(words.out.ends_with("templateRecordWords=10\n")) << words.out;

  // The record a matching device writes, byte for byte.
  const RunResult written = run({"template", good, "7", "-o", "expected.record"});
  EXPECT_EQ(written.status, kSuccess) << written.err;
  EXPECT_EQ(written.out, "");
  EXPECT_EQ(written.err, std::string(kSetupLine) + "templateRecordWords=10\n");
  EXPECT_EQ(read("expected.record"), zt::words_to_bytes(zt::make_template_tile().record));

  EXPECT_TRUE(failed_with(run({"template", good, "3"}),
                          "package.zpkg: tile 3: template setup was not found"));
  EXPECT_TRUE(failed_with(run({"template", good, "7", "-o", "./package.zpkg"}),
                          "./package.zpkg: refusing to write over the package being read"));
  EXPECT_EQ(read(good), test::example_bytes());
}

}  // namespace
