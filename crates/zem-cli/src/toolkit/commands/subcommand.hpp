#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "toolkit/command_line/arguments.hpp"
#include "toolkit/tool_error.hpp"

namespace zem::toolkit {

// A subcommand's run, its arguments checked. It is given the threads that
// may check a package's blobs; it writes its result on standard output (and
// some a note on standard error) and returns the exit status. A failure to
// do its job comes back as a Failure, which `main` prints.
using SubcommandRun = std::function<Outcome<ExitStatus>(unsigned threads)>;

// One subcommand of zem-package: its name, its arguments, its help and its
// run. Each is defined in a file of its own under commands/, named after it,
// and listed in the table that CMake generates from ZEM_PACKAGE_SUBCOMMANDS.
struct Subcommand {
  std::string_view name;
  std::string_view summary;  // one line, for the tool's help
  Syntax syntax;
  // The paragraphs of its help after the options: what "-" means, what a
  // RECORD is, ZEM_THREADS. Each ends in a newline; no line is longer than
  // 80 columns.
  std::span<const std::string_view> details;
  // Its exit statuses, as its help ends: "Exit status: 0 ...".
  std::string_view exit_status;
  // Checks the arguments as a whole (what the syntax cannot say: options that
  // exclude each other, the form of a value) and makes the run of them; a
  // failure is a usage error, said with the subcommand's name.
  Outcome<SubcommandRun> (*prepare)(const ParsedArguments& arguments) = nullptr;
  // What may have been meant by arguments that could not be parsed, given
  // their operands ("; to compare two packages, use zem-package compare"),
  // or nothing. May be null.
  std::string (*usage_hint)(std::span<const std::string> operands) = nullptr;
};

}  // namespace zem::toolkit
