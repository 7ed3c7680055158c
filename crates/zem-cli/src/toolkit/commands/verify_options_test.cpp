// End-to-end tests of what `verify` takes and writes beside its lines:
// records named as dumps name them, tiles in hexadecimal, a FIFO that never
// sends, JUnit XML read by a real JUnit reader, and the bad input of each.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>

#include "junit_reader.hpp"
#include "toolkit_fixture.hpp"

namespace zem::testing {
namespace {

using Words = std::vector<std::uint32_t>;

// The example (tile 7 loads the template, tile 3 has no template setup)
// with tile 10 loading the same template: a tile whose number differs in
// decimal and in hexadecimal.
std::vector<std::uint8_t> two_template_tiles() {
  return with_model([](Application& model) {
    model.tiles.push_back(TileImage{10, 0, 0, 0, {Segment{0x4c000, 0x1000, 0, 0, 0x1000, 0}}});
  });
}

class VerifyOptionsTest : public ZemPackageTest {
 protected:
  void SetUp() override { write("two.zpkg", two_template_tiles()); }
};

TEST_F(VerifyOptionsTest, RecordsNamedAsDumpsAreAndTilesInHex) {
  const Words good = make_template_tile().record;
  std::filesystem::create_directory(dir() + "/d");
  const struct {
    const char* pattern;
    std::vector<std::string> files;  // tile 7's, tile 10's
  } cases[] = {
      {"d/tile{tile:03}.rec", {"d/tile007.rec", "d/tile010.rec"}},
      {"d/{tile:x}.rec", {"d/7.rec", "d/a.rec"}},
      {"d/t{tile:04x}", {"d/t0007", "d/t000a"}},
  };
  for (const auto& c : cases) {
    for (const std::string& file : c.files) record(good, file);
    const ProgramRun run = this->run({"verify", "two.zpkg", "--records", c.pattern});
    EXPECT_EQ(run.status, tool_success) << c.pattern << "\n" << run.out << run.err;
  }
  // Tiles in hexadecimal, alone and in ranges, in any case.
  for (const char* tiles : {"0xa", "0x7,0XA", "0xa-10"}) {
    const ProgramRun run =
        this->run({"verify", "two.zpkg", "--tiles", tiles, "--records", "d/t{tile:04x}"});
    EXPECT_EQ(run.status, tool_success) << tiles << "\n" << run.out << run.err;
    EXPECT_NE(run.out.find("tile 10  match\n"), std::string::npos) << tiles << "\n" << run.out;
  }
  const ProgramRun diff = run({"diff", "two.zpkg", "0xA", "d/t000a"});
  EXPECT_EQ(diff.status, tool_success) << diff.out << diff.err;
}

TEST_F(VerifyOptionsTest, AFifoWithoutWriterIsUnreadableAndTheRunGoesOn) {
  std::filesystem::create_directory(dir() + "/f");
  record(make_template_tile().record, "f/tile7.rec");
  ASSERT_EQ(::mkfifo((dir() + "/f/tile10.rec").c_str(), 0600), 0);
  const ProgramRun run =
      this->run({"verify", "two.zpkg", "--records", "f/tile{tile}.rec", "--record-timeout", "1"});
  EXPECT_EQ(run.status, tool_negative) << run.err;
  EXPECT_EQ(run.err, "");  // standard error is no terminal: no progress
  EXPECT_NE(run.out.find("tile 7   match\ntile 10  unreadable  f/tile10.rec: no data arrived "
                         "within the time allowed\n"),
            std::string::npos)
      << run.out;
}

// A FIFO that never sends holds the run for --record-timeout seconds, well
// past the second after which a terminal is shown how far the run has come.
TEST_F(VerifyOptionsTest, ProgressShowsOnATerminalOnly) {
  std::filesystem::create_directory(dir() + "/f");
  record(make_template_tile().record, "f/tile7.rec");
  ASSERT_EQ(::mkfifo((dir() + "/f/tile10.rec").c_str(), 0600), 0);
  const std::vector<std::string> args = {"verify",           "two.zpkg",         "--records",
                                         "f/tile{tile}.rec", "--record-timeout", "3"};
  const std::regex progress("verify: [01] of 1 device, [0-2] of 2 tiles");
  for (const bool terminal : {true, false}) {
    RunSettings settings{dir(), {}, std::nullopt, {}};
    settings.stderr_on_terminal = terminal;
    const ProgramRun run = run_program(ZEM_PACKAGE_TOOL_PATH, args, settings);
    EXPECT_EQ(run.status, tool_negative) << terminal << run.err;
    EXPECT_NE(run.out.find("tile 10  unreadable"), std::string::npos) << run.out;
    if (terminal) {
      EXPECT_TRUE(std::regex_search(run.err, progress)) << run.err;
      // The line is cleared at the end, so that what follows starts clean.
      EXPECT_TRUE(run.err.ends_with('\r')) << run.err;
    } else {
      EXPECT_EQ(run.err, "");
    }
  }
}

TEST_F(VerifyOptionsTest, JunitReadByAJunitReader) {
  const Words good = make_template_tile().record;
  Words bad = good;
  bad[2] ^= 1U << 4;
  std::filesystem::create_directory(dir() + "/a");
  std::filesystem::create_directory(dir() + "/b&<c>");
  record(good, "a/tile7.rec");
  record(good, "a/tile10.rec");
  record(bad, "b&<c>/tile7.rec");  // tile 10's record is missing
  const ProgramRun run = this->run({"verify", "two.zpkg", "--records", "a/tile{tile}.rec",
                                    "--records", "b&<c>/tile{tile}.rec", "--junit", "out.xml"});
  EXPECT_EQ(run.status, tool_negative) << run.err;
  const JunitRead read = read_junit(dir(), "out.xml");
  if (read.status == junit_reader_missing) GTEST_SKIP() << read.err;
  ASSERT_EQ(read.status, 0) << read.err;
  EXPECT_EQ(junit_counts(read.document),
            "a/tile{tile}.rec: 3 0 1 / 3 0 1\n"
            "b&<c>/tile{tile}.rec: 3 2 1 / 3 2 1\n");
  const ToolJson& cases = read.document["suites"][1]["cases"];
  EXPECT_EQ(cases[0]["name"], "tile 3");
  EXPECT_EQ(cases[1]["message"], "differ: 1 of 10 words differ");
  EXPECT_NE(cases[1]["text"].get<std::string>().find("hint: single-bit"), std::string::npos)
      << cases[1];
  EXPECT_EQ(cases[2]["message"], "missing: b&<c>/tile10.rec");

  // An existing file is kept unless --force.
  EXPECT_TRUE(failed_with(
      this->run({"verify", "two.zpkg", "--records", "a/tile{tile}.rec", "--junit", "out.xml"}),
      "verify: out.xml: exists; give --force to overwrite it (see zem-package verify --help)"));
  EXPECT_EQ(this->run({"verify", "two.zpkg", "--records", "a/tile{tile}.rec", "--junit", "out.xml",
                       "--force"})
                .status,
            tool_success);
}

TEST_F(VerifyOptionsTest, BadInput) {
  const auto usage = [](std::string_view message) {
    return "verify: " + std::string(message) + " (see zem-package verify --help)";
  };
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"--records", "t{tile:q}"},
       usage("--records \"t{tile:q}\": \"{tile:q}\" is not a tile number's format: give {tile}, "
             "{tile:03}, {tile:x} or {tile:04x}")},
      {{"--records", "t{tile:011}"},
       usage("--records \"t{tile:011}\": the width of \"{tile:011}\" is past 10 digits")},
      {{"--records", "t{tile}", "--junit", "nowhere/out.xml"},
       usage("--junit nowhere/out.xml: the directory nowhere does not exist")},
      {{"--records", "t{tile}", "--html", "nowhere/out.html"},
       usage("--html nowhere/out.html: the directory nowhere does not exist")},
      {{"--records", "t{tile}", "--junit", "x.xml", "--html", "x.xml"},
       usage("--html and --junit name the same file")},
      {{"--records", "t{tile}", "--record-timeout", "-1"},
       usage("invalid value \"-1\" for --record-timeout: expected a whole number from 0 to "
             "4294967295")},
      {{"--records", "t{tile}", "--record-timeout", "86401"},
       usage("--record-timeout 86401 is too long: at most 86400 seconds")},
      {{"--records", "t{tile}", "--tiles", "0x"},
       usage("invalid tile list \"0x\": \"0x\" is not a tile number or a range of them")},
      {{"--records", "t{tile}", "--tiles", "0x100000000"},
       usage("invalid tile list \"0x100000000\": \"0x100000000\" is not a tile number or a range "
             "of them")},
      // 2^20 tiles are the most a list names, however they are written.
      {{"--records", "t{tile}", "--tiles", "0-1048576"},
       usage("invalid tile list \"0-1048576\": it names more than a million tiles")},
      {{"--records", "t{tile}", "--tiles", "1-1048576,0"},
       usage("invalid tile list \"1-1048576,0\": it names more than a million tiles")},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"verify", "two.zpkg"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_TRUE(failed_with(run(args), c.message)) << c.args[1];
  }
  EXPECT_FALSE(exists("x.xml"));
  // The most tiles a list may name are taken, and the first the package
  // lacks is said.
  EXPECT_TRUE(failed_with(
      run({"verify", "two.zpkg", "--records", "t{tile}", "--tiles", "0-1048575"}),
      "two.zpkg: no tile has physical tile number 0", {"the package has tiles 3, 7, 10"}));
  // Hexadecimal tile numbers, at the edges of each range of digits.
  for (const auto& [list, tile] :
       std::vector<std::pair<std::string, int>>{{"0x9", 9}, {"0xa,0xf", 15}, {"0XA,0XF", 15}}) {
    EXPECT_TRUE(failed_with(run({"verify", "two.zpkg", "--records", "t{tile}", "--tiles", list}),
                            "two.zpkg: no tile has physical tile number " + std::to_string(tile),
                            {"the package has tiles 3, 7, 10"}))
        << list;
  }
}

}  // namespace
}  // namespace zem::testing
