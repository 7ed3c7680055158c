#pragma once

#include <span>
#include <string>
#include <variant>

#include "toolkit/commands.hpp"
#include "toolkit/tool_error.hpp"

namespace zem::toolkit {

// Text to print on standard output before exiting with status 0: the help of
// the tool or of a subcommand, or the version.
struct Information {
  std::string text;
};

using Invocation = std::variant<Information, InspectOptions, CheckOptions, CompareOptions,
                                ExtractOptions, DiffOptions, TemplateOptions>;

// "zem-package 0.1.0 (reads package format version 2)".
[[nodiscard]] std::string version_text();

// Parses the arguments (the program name first) into the subcommand to run
// and its options, or the information asked for. Arguments are taken as the
// system gives them: paths need not be text. Every usage error is one
// message ending in "(see zem-package --help)".
[[nodiscard]] Outcome<Invocation> parse_command_line(std::span<char* const> arguments);

}  // namespace zem::toolkit
