// `unpack`: a valid package as a manifest and a file per blob.

#include <fmt/format.h>

#include <array>
#include <cstdio>

#include "toolkit/commands/help_paragraphs.hpp"
#include "toolkit/commands/subcommand_table.hpp"
#include "format/hex.hpp"
#include "toolkit/package/write_report.hpp"
#include "zem_package/package_directory.hpp"

namespace zem::toolkit {
namespace {

struct UnpackCommand {
  std::string package;
  std::string directory;
  UnpackOptions options;
};

constexpr std::array<OptionSyntax, 2> option_syntax = {{
    {"--force", "", "", "Write into a DIR that is not empty, replacing its files"},
    {"--ignore-build-digest", "", "", "Unpack a package that fails only its build digest"},
}};
constexpr std::array<OperandSyntax, 2> operand_syntax = {{
    {"PACKAGE", Arity::one, "Package file"},
    {"DIR", Arity::one, "Directory to write, created when missing"},
}};
constexpr std::array<std::string_view, 3> help_details = {
    "Writes DIR/manifest.json, the package's whole model, and DIR/blobs/: N.bin\n"
    "holds blob N's contents and, for a compressed blob, N.zst its stored frame,\n"
    "which pack keeps as it is. zem-package pack DIR -o PACKAGE builds the package\n"
    "again. A DIR that is not empty is refused unless --force; standard error gets\n"
    "a line that says what was written.\n",
    "Only a valid package is unpacked: one that fails a check is a failure, and\n"
    "nothing is written. --ignore-build-digest unpacks a package whose build\n"
    "digest alone is wrong, and says so; pack seals it with the digest its model\n"
    "has.\n",
    threads_help,
};
constexpr std::string_view exit_statuses =
    "Exit status: 0 the package was unpacked; 2 any failure (bad usage, a file\n"
    "that cannot be read or written, a DIR that is not empty, an invalid package).\n";

Outcome<ExitStatus> run(UnpackCommand command, unsigned threads) {
  command.options.threads = threads;
  auto report = unpack_package(command.package, command.directory, command.options);
  if (!report)
    return std::unexpected(write_failure(report.error(), WriteInput::package, command.package));
  fmt::print(stderr, "blobs={} frames={} tiles={} directory={}\n", report->blobs, report->frames,
             report->tiles, display_path(command.directory));
  if (const std::optional<ReadFailure>& ignored = report->ignored_build_digest) {
    std::string digests;
    for (const FailureDetail& detail : ignored->details) {
      digests += fmt::format("{}{} {}", digests.empty() ? "" : ", ", detail.name,
                             detail_text(detail.value));
    }
    fmt::print(stderr,
               "note: {}: the build digest does not match ({}); unpacked as asked: packing "
               "seals the package with its model's digest\n",
               display_path(command.package), digests);
  }
  return ExitStatus::success;
}

Outcome<SubcommandRun> prepare(const ParsedArguments& arguments) {
  UnpackCommand command{arguments.operand("PACKAGE"), arguments.operand("DIR"), {}};
  if (command.directory.empty()) {
    return std::unexpected(Failure{"invalid value \"\" for DIR: expected a directory name"});
  }
  command.options.into_nonempty = arguments.given("--force");
  command.options.ignore_build_digest = arguments.given("--ignore-build-digest");
  return [command = std::move(command)](unsigned threads) { return run(command, threads); };
}

}  // namespace

constinit const Subcommand unpack_subcommand{
    .name = "unpack",
    .summary = "Write a package's manifest and blobs into a directory",
    .syntax = {option_syntax, operand_syntax},
    .details = help_details,
    .exit_status = exit_statuses,
    .prepare = prepare,
};

}  // namespace zem::toolkit
