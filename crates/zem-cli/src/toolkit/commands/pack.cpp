// `pack`: a package built from a manifest and its blobs' files.

#include <fmt/format.h>

#include <array>
#include <cstdio>

#include "toolkit/commands/help_paragraphs.hpp"
#include "toolkit/commands/subcommand_table.hpp"
#include "format/hex.hpp"
#include "toolkit/package/failure_report.hpp"
#include "toolkit/package/write_report.hpp"
#include "zem_package/manifest.hpp"
#include "zem_package/package_directory.hpp"

namespace zem::toolkit {
namespace {

struct PackCommand {
  std::string directory;
  std::string output;
  PackOptions options;
};

constexpr std::array<OptionSyntax, 3> option_syntax = {{
    {"--output", "-o", "PACKAGE", "Write the package to PACKAGE (required)"},
    {"--force", "", "", "Replace PACKAGE when it exists"},
    {"--update-digests", "", "", "Take each blob's digest from its file"},
}};
constexpr std::array<OperandSyntax, 1> operand_syntax = {{
    {"DIR", Arity::one, "Directory that holds manifest.json and the blobs' files"},
}};
constexpr std::array<std::string_view, 3> help_details = {
    "Builds the package that DIR/manifest.json describes, as unpack writes it, each\n"
    "blob from the file it names: a package that pack wrote comes back byte for\n"
    "byte. A blob's digest is its file's; a manifest digest that differs is\n"
    "refused unless --update-digests, which says what it changed. A compressed\n"
    "blob keeps its stored frame when the frame holds the blob's contents, and is\n"
    "compressed anew at its level (3 when none) otherwise, with a note.\n",
    "Nothing is written when the manifest is not one, a file cannot be read, or\n"
    "the package would be invalid: it is written beside PACKAGE under another\n"
    "name and renamed into place when whole. A PACKAGE that exists is kept unless\n"
    "--force; standard error gets a line that says what was written.\n",
    threads_help,
};
constexpr std::string_view exit_statuses =
    "Exit status: 0 the package was written; 2 any failure (bad usage, a manifest\n"
    "or blob file that cannot be read or is wrong, a package that would be\n"
    "invalid, a PACKAGE that exists or cannot be written).\n";

Outcome<ExitStatus> run(PackCommand command, unsigned threads) {
  command.options.threads = threads;
  const std::string manifest = command.directory + "/" + std::string(manifest_file_name);
  auto report = pack_directory(command.directory, command.output, command.options);
  if (!report)
    return std::unexpected(write_failure(report.error(), WriteInput::manifest, manifest));
  for (const DigestUpdate& update : report->updated_digests) {
    fmt::print(stderr, "note: blobs[{}].digest: {} is now {}, the digest of {}\n", update.blob,
               short_digest(update.stated), short_digest(update.found), display_path(update.file));
  }
  for (const FrameReplacement& frame : report->replaced_frames) {
    fmt::print(stderr,
               "note: blobs[{}]: {} does not hold the blob's contents ({}); compressed anew at "
               "level {}\n",
               frame.blob, display_path(frame.frame), failure_line(frame.reason), frame.level);
  }
  fmt::print(stderr, "blobs={} bytes={} buildDigest={} package={}\n", report->package.blobs.size(),
             report->package.size, hex_bytes(report->package.build_digest),
             display_path(command.output));
  return ExitStatus::success;
}

Outcome<SubcommandRun> prepare(const ParsedArguments& arguments) {
  PackCommand command{arguments.operand("DIR"), arguments.value("--output").value_or(""), {}};
  if (!arguments.given("--output")) return std::unexpected(Failure{"give -o PACKAGE"});
  if (command.output.empty() || command.output == "-") {
    return std::unexpected(Failure{
        fmt::format("invalid value \"{}\" for --output: expected a file name", command.output)});
  }
  command.options.replace_existing = arguments.given("--force");
  command.options.update_digests = arguments.given("--update-digests");
  return [command = std::move(command)](unsigned threads) { return run(command, threads); };
}

}  // namespace

constinit const Subcommand pack_subcommand{
    .name = "pack",
    .summary = "Build a package from a manifest and its blobs' files",
    .syntax = {option_syntax, operand_syntax},
    .details = help_details,
    .exit_status = exit_statuses,
    .prepare = prepare,
};

}  // namespace zem::toolkit
