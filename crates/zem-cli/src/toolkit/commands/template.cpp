// `template`: the template setups of a valid package, or the record a tile
// expects of a device, or those of every tile at once.

#include <fmt/format.h>

#include <array>
#include <cstdio>
#include <filesystem>

#include "common/setup_line.hpp"
#include "format/record_json.hpp"
#include "toolkit/commands/help_paragraphs.hpp"
#include "toolkit/commands/subcommand_table.hpp"
#include "toolkit/files.hpp"
#include "toolkit/package/package_input.hpp"
#include "toolkit/tile/tile_argument.hpp"
#include "toolkit/tile/tile_template.hpp"
#include "zem_package/device_check.hpp"
#include "zem_package/record_pattern.hpp"

namespace zem::toolkit {
namespace {

// Version of the JSON document that `template --json` writes.
constexpr int template_json_format = 2;

struct TemplateOptions {
  std::string package;
  std::optional<std::uint32_t> tile;  // every tile's setup when unset
  // The record's bytes, for a tile ("-" is standard output); with --all a
  // pattern in which {tile} stands for the tile number.
  std::optional<std::string> output;
  bool json = false;
  bool all = false;
  bool force = false;
};

constexpr std::array<OptionSyntax, 4> option_syntax = {{
    {"--output", "-o", "FILE", "Write the tile's record to FILE (- standard output)"},
    {"--all", "", "", "Write every tile's record, to the -o PATTERN of {tile}"},
    {"--force", "", "", "With --all, overwrite records that exist"},
    {"--json", "", "", "Write one JSON document instead of lines"},
}};
constexpr std::array<OperandSyntax, 2> operand_syntax = {{
    {"PACKAGE", Arity::one, "Package file"},
    {"TILE", Arity::optional, "Physical tile number; every tile when left out"},
}};
constexpr std::array<std::string_view, 4> help_details = {
    "Without a TILE, lists the tiles that hold a template setup; with one, shows\n"
    "its setup and template words, stored and patched. --output writes the\n"
    "RECORD that a matching device produces, for a test bench or cmp(1).\n"
    "--all -o PATTERN writes the record of every tile with a template setup, to\n"
    "PATTERN with {tile} standing for the tile number (dump/tile{tile}.rec);\n"
    "nothing is written when a tile's template cannot be patched, or, without\n"
    "--force, when one of the files exists.\n",
    record_help,
    valid_package_help,
    threads_help,
};
constexpr std::string_view exit_statuses =
    "Exit status: 0 the setups, the words or the records were written; 2 any\n"
    "failure (bad usage, a file that cannot be read or written or exists, an\n"
    "invalid package, an unknown tile, no template setup in the tile).\n";

// Every tile's setup, one line each, or as JSON.
Outcome<ExitStatus> list_setups(const TemplateOptions& options, const Package& package,
                                unsigned threads) {
  ZEM_ASSIGN_OR_RETURN(const DeviceCheck check,
                       prepare_check(package, options.package, {}, threads));
  const std::size_t tiles = package.model().tiles.size();
  if (options.json) {
    Json setups = Json::array();
    for (const CheckedTile& t : check.tiles()) {
      setups.push_back(
          Json{{"physicalTile", t.physical_tile}, {"setup", setup_json(t.setup.setup)}});
    }
    fmt::print(stdout, "{}",
               json_text(Json{{"format", template_json_format},
                              {"package", options.package},
                              {"tiles", tiles},
                              {"templateSetups", std::move(setups)}}));
  } else {
    for (const CheckedTile& t : check.tiles()) {
      fmt::print(stdout, "{}\n", cli::template_setup_line(t.physical_tile, t.setup.setup));
    }
    fmt::print(stdout, "tilesWithTemplateSetup={} tiles={}\n", check.tiles().size(), tiles);
  }
  return ExitStatus::success;
}

// Every tile's expected record, to the files of the output pattern: all
// worked out, and every path looked at, before the first is written, so that
// a failure leaves no half-primed bench behind.
Outcome<ExitStatus> write_all_records(const TemplateOptions& options, const Package& package,
                                      unsigned threads) {
  ZEM_ASSIGN_OR_RETURN(const DeviceCheck check,
                       prepare_check(package, options.package, {}, threads));
  struct Written {
    std::uint32_t tile;
    std::string path;
    const ExpectedRecord* record;
  };
  std::vector<Written> records;
  for (const CheckedTile& tile : check.tiles()) {
    if (!tile.expected) {
      return std::unexpected(
          Failure{fmt::format("{}: tile {}: {}", package_name(options.package), tile.physical_tile,
                              to_string(tile.expected.error()))});
    }
    std::string path = record_path(*options.output, tile.physical_tile);
    ZEM_RETURN_IF_ERROR(refuse_overwriting(path, options.package));
    if (!options.force &&
        std::filesystem::symlink_status(path).type() != std::filesystem::file_type::not_found) {
      return std::unexpected(file_error(path, "exists; give --force to overwrite it"));
    }
    records.push_back({tile.physical_tile, std::move(path), &*tile.expected});
  }
  const ExistingFile existing = options.force ? ExistingFile::replace : ExistingFile::refuse;
  for (const Written& w : records) {
    ZEM_RETURN_IF_ERROR(write_output(w.path, record_bytes(w.record->words.words), existing));
    fmt::print(stdout, "tile {} {} templateRecordWords={}\n", w.tile, display_path(w.path),
               w.record->size());
  }
  fmt::print(stdout, "records={} tilesWithoutTemplateSetup={}\n", records.size(),
             check.tiles_without_setup().size());
  return ExitStatus::success;
}

Outcome<ExitStatus> run(const TemplateOptions& options, unsigned threads) {
  ZEM_RETURN_IF_ERROR(refuse_overwriting(options.output, options.package));
  ZEM_ASSIGN_OR_RETURN(const Package package, read_valid_package(options.package, threads));
  if (options.all) return write_all_records(options, package, threads);
  if (!options.tile) return list_setups(options, package, threads);

  ZEM_ASSIGN_OR_RETURN(const TileTemplate found,
                       find_tile_template(package, options.package, *options.tile));
  ZEM_ASSIGN_OR_RETURN(const ExpectedRecord expected, expected_record_of(found, options.package));
  const std::string setup_line = cli::template_setup_line(*options.tile, found.setup);
  if (options.output) {
    ZEM_RETURN_IF_ERROR(write_output(options.output, record_bytes(expected.words.words)));
    fmt::print(stderr, "{}\ntemplateRecordWords={}\n", setup_line, expected.size());
  } else if (options.json) {
    fmt::print(stdout, "{}",
               json_text(Json{{"format", template_json_format},
                              {"package", options.package},
                              {"physicalTile", *options.tile},
                              {"setup", setup_json(found.setup)},
                              {"templateRecordWords", expected.size()},
                              {"words", template_words_json(expected)}}));
  } else {
    fmt::print(stdout, "{}\n{}", setup_line, template_words_text(expected));
  }
  return ExitStatus::success;
}

Outcome<SubcommandRun> prepare(const ParsedArguments& arguments) {
  TemplateOptions options{arguments.operand("PACKAGE"),
                          std::nullopt,
                          std::nullopt,
                          arguments.given("--json"),
                          arguments.given("--all"),
                          arguments.given("--force")};
  ZEM_ASSIGN_OR_RETURN(options.tile,
                       optional_physical_tile_argument(arguments.optional_operand("TILE"), "TILE"));
  ZEM_ASSIGN_OR_RETURN(options.output, output_file_value(arguments, "--output"));
  if (options.all) {
    if (options.tile) return std::unexpected(Failure{"--all and a TILE exclude each other"});
    if (!options.output || !names_each_tile(*options.output)) {
      return std::unexpected(
          Failure{"--all needs -o PATTERN with {tile} in it, a file for each tile"});
    }
    if (options.json) return std::unexpected(Failure{"--all writes no JSON; give one of them"});
  } else if (options.force) {
    return std::unexpected(Failure{"--force goes with --all"});
  }
  if (options.output && !options.tile && !options.all) {
    return std::unexpected(Failure{"--output needs a TILE, or --all"});
  }
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
