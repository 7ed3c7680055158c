// End-to-end tests of what every subcommand of zem-package shares: the
// command line, files that cannot be read or written, terminals, damaged
// packages refused where only a valid one is read. Each subcommand's own
// tests are in commands/NAME_test.cpp.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "toolkit_fixture.hpp"

namespace zem::testing {
namespace {

class DamagedRefusedTest : public DamagedPackageToolTest {};

TEST_F(ZemPackageTest, VersionNamesThePackageFormat) {
  const ProgramRun result = run({"--version"});
  EXPECT_EQ(result.status, tool_success);
  EXPECT_EQ(result.out, "zem-package 0.1.0 (reads package format version 2)\n");
  EXPECT_EQ(result.err, "");
}

// Help names every argument, says what the exit statuses mean and what the
// environment sets, and fits in 80 columns.
TEST_F(ZemPackageTest, EverySubcommandHasHelp) {
  for (const std::string usage :
       {"inspect [OPTIONS] PACKAGE", "check [OPTIONS] PACKAGE...", "compare [OPTIONS] FIRST SECOND",
        "extract [OPTIONS] PACKAGE [TILE]", "diff [OPTIONS] PACKAGE TILE RECORD",
        "template [OPTIONS] PACKAGE [TILE]", "--help"}) {
    const std::string name = usage.substr(0, usage.find(' '));
    const ProgramRun result = run(name == "--help" ? std::vector<std::string>{name}
                                                   : std::vector<std::string>{name, "--help"});
    EXPECT_EQ(result.status, tool_success) << name;
    EXPECT_NE(result.out.find(name == "--help" ? "Usage: zem-package [OPTIONS] SUBCOMMAND"
                                               : "Usage: zem-package " + usage),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("Exit status: 0"), std::string::npos) << result.out;
    if (name != "--help") {
      EXPECT_NE(result.out.find("ZEM_THREADS"), std::string::npos) << name;
    }
    EXPECT_EQ(result.out.find("TEXT"), std::string::npos) << result.out;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80U) << line;
  }
}

TEST_F(ZemPackageTest, UsageErrorsAreOneLine) {
  EXPECT_TRUE(failed_with(run({}),
                          "missing subcommand: expected inspect, check, compare, extract, diff, "
                          "template, verify, report, map, unpack, pack or repack (see zem-package "
                          "--help)"));
  EXPECT_TRUE(failed_with(run({"--foo"}), "unknown option \"--foo\" (see zem-package --help)"));
  EXPECT_TRUE(failed_with(run({"check", package(), "--foo"}),
                          "check: unknown option \"--foo\" (see zem-package check --help)"));
  EXPECT_TRUE(failed_with(run({"diff", package(), "7"}),
                          "diff: missing RECORD (see zem-package diff --help)"));
}

// After "--" a package may start with "-"; ZEM_THREADS set but empty is
// unset, and is written as a tile number is.
TEST_F(ZemPackageTest, EndOfOptionsAndThreadSettings) {
  const std::string dashed = package("-x.zpkg");
  const ProgramRun after_end = run({"check", "--", dashed});
  EXPECT_EQ(after_end.status, tool_success) << after_end.err;
  EXPECT_TRUE(failed_with(run({"check", dashed}),
                          "check: unknown option \"-x.zpkg\" (see zem-package check --help)"));
  for (const std::string threads : {"", "+2", "004", "1"}) {
    const ProgramRun result = run({"check", package()}, std::nullopt, {"ZEM_THREADS=" + threads});
    EXPECT_EQ(result.status, tool_success) << threads << ": " << result.err;
  }
  EXPECT_TRUE(
      failed_with(run({"check", package()}, std::nullopt, {"ZEM_THREADS=+0"}),
                  "invalid ZEM_THREADS value \"+0\": expected a whole number from 1 to 256"));
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

TEST_F(ZemPackageTest, OutputThatCannotBeWrittenIsAFailure) {
  const ProgramRun result = run({"inspect", package()}, "/dev/full");
  EXPECT_EQ(result.status, tool_failure);
  EXPECT_EQ(result.err, "zem-package: error: cannot write to standard output\n");
}

// Binary data never goes to a terminal, and a package is never awaited from
// one.
TEST_F(ZemPackageTest, TerminalsAreRefused) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const std::string terminal = ::ptsname(master);
  const ProgramRun output = run({"extract", package(), "7"}, terminal);
  const ProgramRun input = run_program(
      ZEM_PACKAGE_TOOL_PATH, {terminal, "check", "-"},
      RunSettings{
          dir(), {}, std::nullopt, {"/bin/sh", "-c", "t=$1; shift; exec \"$0\" \"$@\" < \"$t\""}});
  ::close(master);
  EXPECT_EQ(output.status, tool_failure);
  EXPECT_EQ(output.err,
            "zem-package: error: refusing to write binary data to a terminal; name a file with "
            "-o or redirect standard output\n");
  EXPECT_TRUE(failed_with(input,
                          "refusing to read a package from a terminal; redirect standard input "
                          "or name a file"));
}

// The schema check rejects a document that breaks its schema, naming the
// value: each case breaks one key of a real document.
TEST_F(ZemPackageTest, SchemaCheckRejectsBrokenDocuments) {
  struct Case {
    std::string_view subcommand;
    std::vector<std::string> args;
    std::string_view pointer;  // the value changed, as a JSON pointer
    ToolJson value;            // its new value; a discarded one removes the key
    std::string_view path;     // how the check names it
  };
  const std::string example = package();
  const std::vector<Case> cases = {
      {"inspect",
       {"inspect", "--json", example},
       "/tiles/0/physicalTile",
       "7",
       "tiles[0].physicalTile"},
      {"inspect",
       {"inspect", "--json", example},
       "/blobs/0/storedSize",
       4096,
       "blobs[0].storedSize"},
      {"inspect",
       {"inspect", "--json", example},
       "/tiles/0/segments/0/address",
       "4c000",
       "tiles[0].segments[0].address"},
      {"inspect", {"inspect", "--json", example}, "/checks/blobs", "passed", "checks.blobs"},
      {"check",
       {"check", "--json", example},
       "/packages/0/readable",
       ToolJson(ToolJson::value_t::discarded),
       "packages[0]"},
      {"check", {"check", "--json", example}, "/format", 2, "format"},
      {"compare",
       {"compare", "--json", example, example},
       "/buildDigest/first",
       "0x12",
       "buildDigest.first"},
      {"template",
       {"template", "--json", example, "7"},
       "/words/0/expected",
       "0x1c8",
       "words[0].expected"},
      {"template", {"template", "--json", example, "7"}, "/setup/secondary", 0, "setup.secondary"},
  };
  for (const Case& c : cases) {
    const ProgramRun result = run_tool(c.args, dir());
    ToolJson document = ToolJson::parse(result.out);
    const ToolJson::json_pointer pointer{std::string(c.pointer)};
    if (c.value.is_discarded()) {
      document[pointer.parent_pointer()].erase(pointer.back());
    } else {
      document[pointer] = c.value;
    }
    const ::testing::AssertionResult checked =
        match_schemas({{std::string(c.subcommand), document.dump()}});
    EXPECT_FALSE(checked) << c.pointer;
    EXPECT_NE(std::string(checked.message()).find("at $." + std::string(c.path) + ":"),
              std::string::npos)
        << c.pointer << ": " << checked.message();
  }
}

TEST_P(DamagedRefusedTest, ExtractAndDiffRefuseIt) {
  const DamagedPackage& damaged = GetParam();
  const std::string bad = write("bad.zpkg", damaged.bytes());
  const std::string records = record(make_template_tile().record);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"extract", bad, "7", "-o", "image.bin"},
        std::vector<std::string>{"diff", bad, "7", records}}) {
    const ProgramRun result = run(args);
    EXPECT_EQ(result.status, tool_failure) << args[0];
    EXPECT_TRUE(result.out.empty()) << args[0];
    // One line: the stage, the element, then the library's error.
    const std::string start =
        "zem-package: error: bad.zpkg: invalid package: " + std::string(stage_name(damaged.stage)) +
        " failed";
    EXPECT_TRUE(result.err.starts_with(start)) << result.err;
    EXPECT_NE(result.err.find(damaged.element), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(": " + std::string(damaged.error_start)), std::string::npos)
        << result.err;
    // Then a hint for a file that is no package.
    const std::string hint(damaged.hint);
    EXPECT_EQ(std::ranges::count(result.err, '\n'), hint.empty() ? 1 : 2) << result.err;
    EXPECT_TRUE(hint.empty() || result.err.ends_with("\nzem-package: hint: " + hint + "\n"))
        << result.err;
  }
  EXPECT_FALSE(exists("image.bin"));
}

INSTANTIATE_TEST_SUITE_P(Packages, DamagedRefusedTest, ::testing::ValuesIn(damaged_packages()),
                         damaged_case_name);

}  // namespace
}  // namespace zem::testing
