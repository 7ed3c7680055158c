// The shells' completion of zem-package, made from the table of
// subcommands, tried in bash, zsh and fish on the same command lines; and
// the hidden subcommand that gives them a package's tile numbers.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "program_run.hpp"

namespace zem::testing {
namespace {

namespace fs = std::filesystem;

// The example package (tiles 3 and 7), a record, a copy of the package whose
// name starts with '-', and files that are no package to read for a
// completion: a FIFO, and the package grown past the size that is read
// (bytes after a package's message are not part of it, so only that size
// keeps its tiles from being listed).
class CompletionFiles {
 public:
  CompletionFiles() {
    const fs::path examples = ZEM_EXAMPLES_DIR;
    fs::copy_file(examples / "example.zpkg", path("example.zpkg"));
    fs::copy_file(examples / "example.record", path("example.record"));
    fs::copy_file(examples / "example.zpkg", path("-x.zpkg"));
    fs::copy_file(examples / "example.zpkg", path("huge.zpkg"));
    fs::resize_file(path("huge.zpkg"), (std::uintmax_t{64} << 20U) + 1);
    EXPECT_EQ(::mkfifo(path("fifo.zpkg").c_str(), 0600), 0);
  }
  [[nodiscard]] const std::string& directory() const { return scratch_.path(); }
  [[nodiscard]] std::string path(const std::string& name) const {
    return scratch_.path() + "/" + name;
  }

 private:
  ScratchDirectory scratch_;
};

// The tool is found as `zem-package` on the PATH, as the scripts are
// registered for that name.
std::vector<std::string> environment(const CompletionFiles& files) {
  const std::string tools = fs::path(ZEM_PACKAGE_TOOL_PATH).parent_path().string();
  return {"PATH=" + tools + ":/usr/bin:/bin", "HOME=" + files.directory(), "TERM=dumb",
          "LC_ALL=C.UTF-8"};
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> found;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    found.push_back(text.substr(start, end - start));
  }
  std::ranges::sort(found);
  return found;
}

struct Shell {
  const char* name;
  const char* program;                 // empty when the shell is not installed
  std::vector<std::string> arguments;  // before the line to complete
};

// Tests are named after the shell; so are their parameters.
void PrintTo(const Shell& shell, std::ostream* out) { *out << shell.name; }

class ShellCompletionTest : public ::testing::TestWithParam<Shell> {};

TEST_P(ShellCompletionTest, CompletesFromTheTable) {
  const Shell& shell = GetParam();
  if (std::string(shell.program).empty()) GTEST_SKIP() << shell.name << " is not installed";
  struct Case {
    std::string line;
    std::vector<std::string> expected;  // sorted
  };
  const std::vector<Case> cases = {
      {"zem-package ch", {"check"}},
      {"zem-package --v", {"--version"}},
      {"zem-package diff --m", {"--max"}},
      {"zem-package extract --", {"--blob", "--help", "--output"}},
      // A TILE: the tiles of the package named before it, past options and
      // their values, and past "--".
      {"zem-package extract example.zpkg ", {"3", "7"}},
      {"zem-package extract -o out.bin example.zpkg ", {"3", "7"}},
      {"zem-package map -- -x.zpkg ", {"3", "7"}},
      // Files where a file goes, the last operand of check repeating.
      {"zem-package diff example.zpkg 7 example.r", {"example.record"}},
      {"zem-package check example.zpkg exa", {"example.record", "example.zpkg"}},
      // Nothing for a count, nor for packages that cannot be read.
      {"zem-package map --columns ", {}},
      {"zem-package extract missing.zpkg ", {}},
      {"zem-package extract fifo.zpkg ", {}},
      {"zem-package extract huge.zpkg ", {}},
      {"zem-package extract example.record ", {}},
  };
  const CompletionFiles files;
  for (const Case& c : cases) {
    std::vector<std::string> args = shell.arguments;
    args.push_back(c.line);
    const ProgramRun run =
        run_program(shell.program, args, {files.directory(), environment(files), {}, {}});
    EXPECT_EQ(run.status, 0) << shell.name << " '" << c.line << "': " << run.err;
    EXPECT_EQ(lines(run.out), c.expected) << shell.name << " '" << c.line << "'";
    EXPECT_EQ(run.err, "") << shell.name << " '" << c.line << "'";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Shells, ShellCompletionTest,
    ::testing::Values(
        Shell{"bash",
              ZEM_BASH_PATH,
              {ZEM_COMPLETION_DRIVERS "/complete_bash.sh", ZEM_COMPLETION_DIR "/bash/zem-package"}},
        Shell{"zsh",
              ZEM_ZSH_PATH,
              {"-f", ZEM_COMPLETION_DRIVERS "/complete_zsh.zsh", ZEM_COMPLETION_DIR "/zsh"}},
        Shell{"fish",
              ZEM_FISH_PATH,
              {"--no-config", ZEM_COMPLETION_DRIVERS "/complete_fish.fish",
               ZEM_COMPLETION_DIR "/fish/zem-package.fish"}}),
    [](const ::testing::TestParamInfo<Shell>& shell) { return std::string(shell.param.name); });

// The hidden subcommand lists a package's tiles, and for anything it cannot
// read prints nothing, not even an error, at once.
TEST(TileCompletionTest, ListsTilesOrNothing) {
  const CompletionFiles files;
  struct Case {
    std::string package;
    std::string out;
  };
  for (const Case& c : std::vector<Case>{{"example.zpkg", "3\n7\n"},
                                         {"-x.zpkg", "3\n7\n"},
                                         {"missing.zpkg", ""},
                                         {"fifo.zpkg", ""},
                                         {"huge.zpkg", ""},
                                         {"example.record", ""},
                                         {".", ""}}) {
    const ProgramRun run = run_program(ZEM_PACKAGE_TOOL_PATH, {"complete-tiles", "--", c.package},
                                       {files.directory(), environment(files), {}, {}});
    EXPECT_EQ(run.status, 0) << c.package;
    EXPECT_EQ(run.out, c.out) << c.package;
    EXPECT_EQ(run.err, "") << c.package;
  }
}

}  // namespace
}  // namespace zem::testing
