// zem-make-docs: writes what is made from zem-package's table of subcommands
// at build time, each from its hand-written frame:
//
//   zem-make-docs man FRAME PROSE_DIRECTORY VERSION OUTPUT
//   zem-make-docs bash|zsh|fish FRAME OUTPUT
//
// The man page takes each subcommand's prose from PROSE_DIRECTORY/NAME.roff.
// The output is written beside its place and renamed into it, so a failed
// run leaves no half-written file for the build to take as made.

#include <fmt/format.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "toolkit/commands/subcommand_table.hpp"
#include "toolkit/docs/completion_scripts.hpp"
#include "toolkit/docs/man_page.hpp"

namespace {

namespace fs = std::filesystem;
namespace tk = zem::toolkit;
using tk::Failure;
using tk::Outcome;

Outcome<std::string> read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in) return std::unexpected(Failure{fmt::format("cannot read {}", path.string())});
  return text.str();
}

Outcome<void> write_text(const fs::path& path, const std::string& text) {
  fs::path partial = path;
  partial += ".partial";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) return std::unexpected(Failure{fmt::format("cannot write {}", partial.string())});
  }
  std::error_code error;
  fs::rename(partial, path, error);
  if (error) {
    return std::unexpected(
        Failure{fmt::format("cannot rename {}: {}", partial.string(), error.message())});
  }
  return {};
}

Outcome<std::string> man_page(const fs::path& frame, const fs::path& prose_directory,
                              std::string_view version) {
  tk::ManPageProse prose;
  ZEM_ASSIGN_OR_RETURN(prose.frame, read_text(frame));
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(prose_directory, error)) {
    if (entry.path().extension() != ".roff") continue;
    ZEM_ASSIGN_OR_RETURN(prose.subcommands[entry.path().stem().string()], read_text(entry.path()));
  }
  if (error) {
    return std::unexpected(
        Failure{fmt::format("cannot list {}: {}", prose_directory.string(), error.message())});
  }
  return tk::man_page(tk::subcommand_table, prose, version);
}

Outcome<std::string> completion(std::string_view shell, const fs::path& frame) {
  ZEM_RETURN_IF_ERROR(tk::check_completion_names(tk::subcommand_table));
  ZEM_ASSIGN_OR_RETURN(const std::string text, read_text(frame));
  if (shell == "bash") return tk::fill_frame(text, tk::bash_completion(tk::subcommand_table));
  if (shell == "zsh") return tk::fill_frame(text, tk::zsh_completion(tk::subcommand_table));
  return tk::fill_frame(text, tk::fish_completion(tk::subcommand_table));
}

Outcome<void> run(std::span<char*> arguments) {
  const std::vector<std::string> args(arguments.begin(), arguments.end());
  if (args.size() == 6 && args[1] == "man") {
    ZEM_ASSIGN_OR_RETURN(const std::string page, man_page(args[2], args[3], args[4]));
    return write_text(args[5], page);
  }
  if (args.size() == 4 && (args[1] == "bash" || args[1] == "zsh" || args[1] == "fish")) {
    ZEM_ASSIGN_OR_RETURN(const std::string script, completion(args[1], args[2]));
    return write_text(args[3], script);
  }
  return std::unexpected(
      Failure{"usage: zem-make-docs man FRAME PROSE_DIRECTORY VERSION OUTPUT\n"
              "       zem-make-docs bash|zsh|fish FRAME OUTPUT"});
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Outcome<void> done = run({argv, static_cast<std::size_t>(argc > 0 ? argc : 0)});
    if (done) return 0;
    fmt::print(stderr, "zem-make-docs: {}\n", done.error().message);
  } catch (const std::exception& e) {
    fmt::print(stderr, "zem-make-docs: {}\n", e.what());
  }
  return 1;
}
