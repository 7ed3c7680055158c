#pragma once

#include <span>
#include <string>
#include <variant>

#include "toolkit/commands/subcommand.hpp"
#include "toolkit/tool_error.hpp"

namespace zem::toolkit {

// Text to print on standard output before exiting with status 0: the help of
// the tool or of a subcommand, or the version.
struct Information {
  std::string text;
};

using Invocation = std::variant<Information, SubcommandRun>;

// "zem-package 0.1.0 (reads package format version 2)".
[[nodiscard]] std::string version_text();

// Parses the arguments (the program name first) into the run of the
// subcommand they name, or the information they ask for. Arguments are taken
// as the system gives them: paths need not be text. A usage error is one
// message that names the subcommand and ends by pointing to its help:
// "diff: --max needs a value (see zem-package diff --help)"; without a
// subcommand, to the tool's: "(see zem-package --help)".
[[nodiscard]] Outcome<Invocation> parse_command_line(std::span<const char* const> arguments);

}  // namespace zem::toolkit
