// `diff`: a device record against a tile's patched template, word by word.

#include <fmt/format.h>

#include <array>

#include "common/setup_line.hpp"
#include "format/record_json.hpp"
#include "toolkit/commands/help_paragraphs.hpp"
#include "toolkit/commands/subcommand_table.hpp"
#include "toolkit/files.hpp"
#include "toolkit/package/package_input.hpp"
#include "toolkit/tile/record_diff.hpp"
#include "toolkit/tile/record_input.hpp"
#include "toolkit/tile/tile_argument.hpp"
#include "toolkit/tile/tile_template.hpp"
#include "zem_package/address_owners.hpp"
#include "zem_package/device_check.hpp"

namespace zem::toolkit {
namespace {

// Version of the JSON document that `diff --json` writes: 2 since its words
// are explained, and its offsets and words written as everywhere else; 3
// since a word's file offset is a decimal string, as every file offset is;
// 4 since a long record's hint says how many of its extra words were read.
constexpr int diff_json_format = 4;

struct DiffOptions {
  std::string package;
  std::uint32_t tile = 0;
  std::string record;
  std::size_t max = 20;
  bool json = false;
};

constexpr std::array<OptionSyntax, 2> option_syntax = {{
    {"--max", "", "N", "Show at most N differing words (20)"},
    {"--json", "", "", "Write one JSON document instead of a table"},
}};
constexpr std::array<OperandSyntax, 3> operand_syntax = {{
    {"PACKAGE", Arity::one, "Package file"},
    {"TILE", Arity::one, "Physical tile number"},
    {"RECORD", Arity::one, "Device record file"},
}};
constexpr std::array<std::string_view, 4> help_details = {
    "Compares the record with the tile's template as patched, as the verifier\n"
    "does, and explains each differing word: its region, offset and address, the\n"
    "record's and the expected value and their xor, the word before patching and\n"
    "the patch that changed it (group.entry), and what the package puts at its\n"
    "address: the segment, the blob and the offset in its contents (and in the\n"
    "file, for a blob stored plain), the bindings that cover it. Then the hints\n"
    "that hold for the record: short, long, byte-swapped, half-swapped, shifted,\n"
    "truncated, unpatched, all-zeros, all-ones, record-of-tile (another tile's\n"
    "record, as it is, with one bit wrong or byte-swapped), stuck-bit (every\n"
    "differing word differs in the same bit, with the same value there) and\n"
    "single-bit (grouped by bit). When a hint says what every differing word\n"
    "holds, the words are counted, not listed.\n",
    record_help,
    valid_package_help,
    threads_help,
};
constexpr std::string_view exit_statuses =
    "Exit status: 0 the record matches; 1 it differs; 2 any other failure (bad\n"
    "usage, a file that cannot be read, an invalid package, an unknown tile, no\n"
    "template setup).\n";

Outcome<ExitStatus> run(const DiffOptions& options, unsigned threads) {
  if (options.package == standard_input_argument && options.record == standard_input_argument) {
    return std::unexpected(Failure{"standard input (-) can be read only once"});
  }
  // A record given where the package goes may mean the two were swapped.
  ZEM_ASSIGN_OR_RETURN(const Package package,
                       read_valid_package(options.package, threads, "diff PACKAGE TILE RECORD"));
  ZEM_ASSIGN_OR_RETURN(const TileTemplate found,
                       find_tile_template(package, options.package, options.tile));
  // The setup is shown before the patching, which may fail on it.
  if (!options.json) {
    fmt::print(stdout, "{}\n", cli::template_setup_line(options.tile, found.setup));
  }
  ZEM_ASSIGN_OR_RETURN(const ExpectedRecord expected, expected_record_of(found, options.package));

  // The words it holds past the expected ones are shown, as far as they go.
  ZEM_ASSIGN_OR_RETURN(
      const DeviceRecord record,
      read_record_argument(options.record, std::uint64_t{expected.size()} * 4 + record_slack));
  const AddressOwners owners(package.model());
  const RecordDiff diff = diff_record(expected, record, {options.max, &owners, nullptr});
  if (options.json) {
    Json document{
        {"format", diff_json_format}, {"package", options.package}, {"record", options.record}};
    document.update(tile_diff_json(expected, diff, package.model(), options.max));
    fmt::print(stdout, "{}", json_text(document));
  } else {
    fmt::print(stdout, "{}{}\n", record_diff_text(diff, package.model(), options.max),
               record_diff_summary(diff));
  }
  return diff.matches() ? ExitStatus::success : ExitStatus::negative;
}

Outcome<SubcommandRun> prepare(const ParsedArguments& arguments) {
  DiffOptions options{arguments.operand("PACKAGE"), 0, arguments.operand("RECORD")};
  ZEM_ASSIGN_OR_RETURN(options.tile, physical_tile_argument(arguments.operand("TILE"), "TILE"));
  options.json = arguments.given("--json");
  if (const std::optional<std::string>& max = arguments.value("--max")) {
    ZEM_ASSIGN_OR_RETURN(options.max, count_value(*max, "--max"));
  }
  return [options = std::move(options)](unsigned threads) { return run(options, threads); };
}

// `diff A B` is most likely meant to compare two packages.
std::string usage_hint(std::span<const std::string> operands) {
  if (operands.size() >= 2 && !operands[1].empty() &&
      !physical_tile_argument(operands[1], "TILE")) {
    return "; to compare two packages, use zem-package compare";
  }
  return "";
}

}  // namespace

constinit const Subcommand diff_subcommand{
    .name = "diff",
    .summary = "Compare a device record with a tile's template",
    .syntax = {option_syntax, operand_syntax},
    .details = help_details,
    .exit_status = exit_statuses,
    .prepare = prepare,
    .usage_hint = usage_hint,
};

}  // namespace zem::toolkit
