// `template`: the template setups of a valid package, or the record a tile
// expects of a device.

#include <fmt/format.h>

#include <array>
#include <cstdio>

#include "record_check/record_diff.hpp"
#include "template_record/template_setup.hpp"
#include "toolkit/commands/help_paragraphs.hpp"
#include "toolkit/commands/subcommand_table.hpp"
#include "toolkit/files.hpp"
#include "toolkit/package/package_input.hpp"
#include "toolkit/tile/tile_argument.hpp"
#include "toolkit/tile/tile_template.hpp"

namespace zem::toolkit {
namespace {

// Version of the JSON document that `template --json` writes.
constexpr int template_json_format = 1;

struct TemplateOptions {
  std::string package;
  std::optional<std::string> tile;    // every tile's setup when unset
  std::optional<std::string> output;  // the record's bytes, for a tile; "-" is standard output
  bool json = false;
};

constexpr std::array<OptionSyntax, 2> option_syntax = {{
    {"--output", "-o", "FILE", "Write the tile's record to FILE (- standard output)"},
    {"--json", "", "", "Write one JSON document instead of lines"},
}};
constexpr std::array<OperandSyntax, 2> operand_syntax = {{
    {"PACKAGE", Arity::one, "Package file"},
    {"TILE", Arity::optional, "Physical tile number; every tile when left out"},
}};
constexpr std::array<std::string_view, 4> help_details = {
    "Without a TILE, lists the tiles that hold a template setup; with one, shows\n"
    "its setup and template words, stored and patched. --output writes the\n"
    "RECORD that a matching device produces, for a test bench or cmp(1).\n",
    record_help,
    valid_package_help,
    threads_help,
};
constexpr std::string_view exit_statuses =
    "Exit status: 0 the setups, the words or the record were written; 2 any\n"
    "failure (bad usage, a file that cannot be read or written, an invalid\n"
    "package, an unknown tile, no template setup in the tile).\n";

// Every tile's setup, one line each, or as JSON.
Outcome<ExitStatus> list_setups(const TemplateOptions& options, const CheckedPackage& package) {
  ZEM_ASSIGN_OR_RETURN(const std::vector<TileSetup> found,
                       all_tile_setups(package, options.package));
  const std::size_t tiles = package.model().tiles.size();
  if (options.json) {
    Json setups = Json::array();
    for (const TileSetup& t : found) {
      setups.push_back(Json{{"physicalTile", t.physical_tile}, {"setup", setup_json(t.setup)}});
    }
    fmt::print(stdout, "{}",
               json_text(Json{{"format", template_json_format},
                              {"package", options.package},
                              {"tiles", tiles},
                              {"templateSetups", std::move(setups)}}));
  } else {
    for (const TileSetup& t : found) {
      fmt::print(stdout, "{}\n", template_record::template_setup_line(t.physical_tile, t.setup));
    }
    fmt::print(stdout, "tilesWithTemplateSetup={} tiles={}\n", found.size(), tiles);
  }
  return ExitStatus::success;
}

Outcome<ExitStatus> run(const TemplateOptions& options, unsigned threads) {
  ZEM_ASSIGN_OR_RETURN(const std::optional<std::uint32_t> tile,
                       optional_physical_tile_argument(options.tile));
  ZEM_RETURN_IF_ERROR(refuse_overwriting(options.output, options.package));
  ZEM_ASSIGN_OR_RETURN(const CheckedPackage package, read_valid_package(options.package, threads));
  if (!tile) return list_setups(options, package);

  ZEM_ASSIGN_OR_RETURN(const TileTemplate found,
                       find_tile_template(package, options.package, *tile));
  ZEM_ASSIGN_OR_RETURN(const record_check::ExpectedRecord expected,
                       expected_record_of(found, options.package));
  const std::string setup_line = template_record::template_setup_line(*tile, found.setup);
  if (options.output) {
    ZEM_RETURN_IF_ERROR(
        write_output(options.output, record_check::record_bytes(expected.words.words)));
    fmt::print(stderr, "{}\ntemplateRecordWords={}\n", setup_line, expected.size());
  } else if (options.json) {
    fmt::print(stdout, "{}",
               json_text(Json{{"format", template_json_format},
                              {"package", options.package},
                              {"physicalTile", *tile},
                              {"setup", setup_json(found.setup)},
                              {"templateRecordWords", expected.size()},
                              {"words", template_words_json(expected)}}));
  } else {
    fmt::print(stdout, "{}\n{}", setup_line, template_words_text(expected));
  }
  return ExitStatus::success;
}

Outcome<SubcommandRun> prepare(const ParsedArguments& arguments) {
  TemplateOptions options{arguments.operand("PACKAGE"), arguments.optional_operand("TILE"),
                          std::nullopt, arguments.given("--json")};
  ZEM_ASSIGN_OR_RETURN(options.output, output_file_value(arguments, "--output"));
  if (options.output && !options.tile) return std::unexpected(Failure{"--output needs a TILE"});
  if (options.output && options.json) {
    return std::unexpected(Failure{"--output writes no JSON; give one of them"});
  }
  return [options = std::move(options)](unsigned threads) { return run(options, threads); };
}

}  // namespace

constinit const Subcommand template_subcommand{
    .name = "template",
    .summary = "Show template setups, or the record a tile expects",
    .syntax = {option_syntax, operand_syntax},
    .details = help_details,
    .exit_status = exit_statuses,
    .prepare = prepare,
};

}  // namespace zem::toolkit
