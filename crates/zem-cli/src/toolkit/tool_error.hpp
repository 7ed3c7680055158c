#pragma once

#include <string>
#include <string_view>

#include "common/failure.hpp"

namespace zem::toolkit {

// Exit statuses of zem-package.
enum class ExitStatus : int {
  // The subcommand did its job and the answer is yes: the package is valid,
  // the record matches, the bytes were written.
  success = 0,
  // The subcommand did its job and the answer is no: `check` or `inspect`
  // found the package invalid, `compare` found the packages different,
  // `diff` found the record different.
  negative = 1,
  // The subcommand could not do its job: bad usage, a file that cannot be
  // read or written, an unknown tile or blob, no template setup, or (for
  // `extract` and `diff`) a package that is not valid.
  failure = 2,
};

[[nodiscard]] constexpr int to_int(ExitStatus status) noexcept { return static_cast<int>(status); }

// Why a subcommand could not do its job. The tool prints it as one line,
// "zem-package: error: <message>" (and a line for each hint), and exits with
// status 2; subcommands never
// print errors or exit themselves.
using cli::Failure;
using cli::Outcome;

// A path as it may appear inside a one-line message: as it is when it is
// UTF-8 of printable characters only, otherwise quoted and escaped, so a path
// with a line feed or a direction override in it cannot garble the line.
[[nodiscard]] std::string display_path(std::string_view path);

// "<path>: <what went wrong>", the path shown with `display_path`.
[[nodiscard]] Failure file_error(std::string_view path, std::string_view what);

// "<path>: <operating system text> (os error <n>)".
[[nodiscard]] Failure file_os_error(std::string_view path, int errnum);

// The line the tool prints for `error`, without a newline.
[[nodiscard]] std::string error_line(const Failure& error);

// The lines the tool prints for `error`: its error line, then one
// "zem-package: hint: <hint>" line for each of its hints; each line ends in
// a newline.
[[nodiscard]] std::string error_lines(const Failure& error);

// Prints `error`'s lines on standard error, after what standard output holds
// so far. `main` reports the failure that ends a run this way; `check`
// reports a package it cannot read and goes on with the next one.
void report(const Failure& error);

}  // namespace zem::toolkit
