// `diff`: a device record against a tile's patched template, word by word.

#include <fmt/format.h>

#include <array>

#include "template_record/template_setup.hpp"
#include "toolkit/commands/help_paragraphs.hpp"
#include "toolkit/commands/subcommand_table.hpp"
#include "toolkit/files.hpp"
#include "toolkit/package/package_input.hpp"
#include "toolkit/tile/record_diff.hpp"
#include "toolkit/tile/tile_argument.hpp"
#include "toolkit/tile/tile_template.hpp"

namespace zem::toolkit {
namespace {

// Version of the JSON document that `diff --json` writes.
constexpr int diff_json_format = 1;

struct DiffOptions {
  std::string package;
  std::string tile;
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
    "does, and shows each differing word: its region, offset and address, the\n"
    "record's and the template's value, and whether the patch table changed it.\n",
    record_help,
    valid_package_help,
    threads_help,
};
constexpr std::string_view exit_statuses =
    "Exit status: 0 the record matches; 1 it differs; 2 any other failure (bad\n"
    "usage, a file that cannot be read, an invalid package, an unknown tile, no\n"
    "template setup).\n";

Outcome<ExitStatus> run(const DiffOptions& options, unsigned threads) {
  namespace tr = template_record;
  ZEM_ASSIGN_OR_RETURN(const std::uint32_t tile, physical_tile_argument(options.tile));
  ZEM_ASSIGN_OR_RETURN(const CheckedPackage package, read_valid_package(options.package, threads));
  ZEM_ASSIGN_OR_RETURN(const TileTemplate found,
                       find_tile_template(package, options.package, tile));
  // The setup is shown before the patching, which may fail on it.
  if (!options.json) fmt::print(stdout, "{}\n", tr::template_setup_line(tile, found.setup));
  ZEM_ASSIGN_OR_RETURN(const TemplateWords words, stored_and_patched_words(found, options.package));

  ZEM_ASSIGN_OR_RETURN(const cli::DeviceRecord record,
                       read_record(options.record, std::uint64_t{words.patched.size()} * 4));
  const RecordDiff diff =
      diff_record(found.setup, words.stored, words.patched, record.bytes, record.size);
  if (options.json) {
    Json document{{"format", diff_json_format},
                  {"package", options.package},
                  {"physicalTile", tile},
                  {"record", options.record},
                  {"setup", setup_json(found.setup)}};
    document.update(diff_json(diff, options.max));
    fmt::print(stdout, "{}", json_text(document));
  } else {
    fmt::print(stdout, "{}", diff_text(diff, options.max));
  }
  return diff.matches() ? ExitStatus::success : ExitStatus::negative;
}

Outcome<SubcommandRun> prepare(const ParsedArguments& arguments) {
  DiffOptions options{arguments.operand("PACKAGE"), arguments.operand("TILE"),
                      arguments.operand("RECORD")};
  options.json = arguments.given("--json");
  if (const std::optional<std::string>& max = arguments.value("--max")) {
    ZEM_ASSIGN_OR_RETURN(options.max, count_value(*max, "--max"));
  }
  return [options = std::move(options)](unsigned threads) { return run(options, threads); };
}

// `diff A B` is most likely meant to compare two packages.
std::string usage_hint(std::span<const std::string> operands) {
  if (operands.size() >= 2 && !operands[1].empty() && !physical_tile_argument(operands[1])) {
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
