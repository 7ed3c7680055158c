// `repack`: a valid package with its blobs stored anew.

#include <fmt/format.h>

#include <array>
#include <cstdio>

#include "toolkit/commands/help_paragraphs.hpp"
#include "toolkit/commands/subcommand_table.hpp"
#include "format/hex.hpp"
#include "toolkit/package/write_report.hpp"
#include "zem_package/repacking.hpp"

namespace zem::toolkit {
namespace {

struct RepackCommand {
  std::string package;
  std::string output;
  RepackOptions options;
};

constexpr std::array<OptionSyntax, 6> option_syntax = {{
    {"--output", "-o", "OUT", "Write the package to OUT (required)"},
    {"--force", "", "", "Replace OUT when it exists"},
    {"--zstd", "", "LEVEL", "Compress every blob anew at LEVEL (1 to 22)"},
    {"--plain", "", "", "Store every blob uncompressed"},
    {"--keep", "", "", "Keep every blob as it is stored (the default)"},
    {"--drop-unused-blobs", "", "", "Leave out the blobs that no segment uses"},
}};
constexpr std::array<OperandSyntax, 1> operand_syntax = {{
    {"PACKAGE", Arity::one, "Package file"},
}};
constexpr std::array<std::string_view, 3> help_details = {
    "Writes PACKAGE again with its blobs stored as --zstd, --plain or --keep says:\n"
    "the model and the build digest stay as they were, and standard error says\n"
    "so. --drop-unused-blobs leaves out the blobs that no segment uses and says\n"
    "which: the model changes, and with it the build digest, which is said too.\n",
    "Only a valid package is repacked: one that fails a check is a failure. OUT\n"
    "is written beside its place under another name and renamed into place when\n"
    "whole; an OUT that exists is kept unless --force, and OUT may not be PACKAGE.\n",
    threads_help,
};
constexpr std::string_view exit_statuses =
    "Exit status: 0 the package was written; 2 any failure (bad usage, a file\n"
    "that cannot be read or written, an invalid package, an OUT that exists).\n";

Outcome<ExitStatus> run(RepackCommand command, unsigned threads) {
  command.options.threads = threads;
  auto report = repack_package(command.package, command.output, command.options);
  if (!report)
    return std::unexpected(write_failure(report.error(), WriteInput::package, command.package));
  const WrittenPackage& written = report->package;
  fmt::print(stderr, "blobs={} bytes={} buildDigest={} package={}\n", written.blobs.size(),
             written.size, hex_bytes(written.build_digest), display_path(command.output));
  if (report->dropped.empty()) {
    fmt::print(stderr,
               "note: only the storage changed: the model and the build digest are as "
               "they were\n");
    return ExitStatus::success;
  }
  std::string dropped;
  for (const DroppedBlob& blob : report->dropped) {
    dropped += fmt::format("{}blobs[{}] ({})", dropped.empty() ? "" : ", ", blob.blob,
                           short_digest(blob.digest));
  }
  fmt::print(stderr, "note: dropped {} unused blob{}: {}\n", report->dropped.size(),
             report->dropped.size() == 1 ? "" : "s", dropped);
  fmt::print(stderr, "note: the model changed, and so did the build digest: {} before\n",
             hex_bytes(report->previous_build_digest));
  return ExitStatus::success;
}

Outcome<SubcommandRun> prepare(const ParsedArguments& arguments) {
  RepackCommand command{arguments.operand("PACKAGE"), arguments.value("--output").value_or(""), {}};
  if (!arguments.given("--output")) return std::unexpected(Failure{"give -o OUT"});
  if (command.output.empty() || command.output == "-") {
    return std::unexpected(Failure{
        fmt::format("invalid value \"{}\" for --output: expected a file name", command.output)});
  }
  const int storages = int{arguments.given("--zstd")} + int{arguments.given("--plain")} +
                       int{arguments.given("--keep")};
  if (storages > 1) {
    return std::unexpected(Failure{"--zstd, --plain and --keep exclude each other; give one"});
  }
  if (const std::optional<std::string>& level = arguments.value("--zstd")) {
    ZEM_ASSIGN_OR_RETURN(const std::uint32_t value, count_value(*level, "--zstd"));
    if (value < static_cast<std::uint32_t>(min_zstd_level) ||
        value > static_cast<std::uint32_t>(max_zstd_level)) {
      return std::unexpected(
          Failure{fmt::format("invalid value \"{}\" for --zstd: expected a level from {} to {}",
                              *level, min_zstd_level, max_zstd_level)});
    }
    command.options.storage = BlobRestorage::zstd;
    command.options.level = static_cast<int>(value);
  } else if (arguments.given("--plain")) {
    command.options.storage = BlobRestorage::plain;
  }
  command.options.replace_existing = arguments.given("--force");
  command.options.drop_unused_blobs = arguments.given("--drop-unused-blobs");
  return [command = std::move(command)](unsigned threads) { return run(command, threads); };
}

}  // namespace

constinit const Subcommand repack_subcommand{
    .name = "repack",
    .summary = "Write a package again with its blobs stored another way",
    .syntax = {option_syntax, operand_syntax},
    .details = help_details,
    .exit_status = exit_statuses,
    .prepare = prepare,
};

}  // namespace zem::toolkit
