// `verify`: every tile of one or more devices against one package, read and
// checked once, every difference explained.

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "record_check/device_check.hpp"
#include "format/record_json.hpp"
#include "toolkit/commands/help_paragraphs.hpp"
#include "toolkit/commands/subcommand_table.hpp"
#include "toolkit/files.hpp"
#include "format/json_values.hpp"
#include "toolkit/package/package_input.hpp"
#include "toolkit/pages/device_grid.hpp"
#include "toolkit/pages/verify_page.hpp"
#include "toolkit/tile/record_diff.hpp"
#include "toolkit/tile/record_pattern.hpp"
#include "toolkit/tile/tile_list.hpp"

namespace zem::toolkit {
namespace {

namespace rc = record_check;

// Version of the JSON document that `verify --json` writes.
constexpr int verify_json_format = 2;

struct VerifyOptions {
  std::string package;
  std::vector<std::string> patterns;  // one per device
  std::vector<std::uint32_t> tiles;   // every tile with a template setup when empty
  std::size_t max = 8;
  bool json = false;
  bool quiet = false;
  std::optional<std::string> html;  // the page's file, when one is asked for
  bool force = false;
};

constexpr std::array<OptionSyntax, 7> option_syntax = {{
    {"--records", "", "PATTERN", "A device's records; {tile} stands for the tile number", true},
    {"--tiles", "", "LIST", "Verify these tiles only: 7, 0-255, 1-4,8"},
    {"--max", "", "N", "Explain at most N differing words per tile (8)"},
    {"--quiet", "", "", "Show only the tiles that do not match, and the summaries"},
    {"--json", "", "", "Write one JSON document instead of lines"},
    {"--html", "", "FILE", "Also write the devices' pictures as a page to FILE"},
    {"--force", "", "", "Write over the --html FILE if it exists"},
}};
constexpr std::array<OperandSyntax, 1> operand_syntax = {{
    {"PACKAGE", Arity::one, "Package file"},
}};
constexpr std::array<std::string_view, 6> help_details = {
    "Reads and checks the package once, then compares the RECORD of every tile\n"
    "that has a template setup (or of the tiles of --tiles) with the record the\n"
    "tile expects, for each device: each --records PATTERN is one device, and\n"
    "{tile} in it stands for the physical tile number in decimal\n"
    "(dump/tile{tile}.rec). Each tile ends in match, differ (its differences\n"
    "explained as diff explains them, with the hints that hold), missing (no\n"
    "file), unreadable (with the system's error) or failed (the template could\n"
    "not be gathered or patched); tiles without a template setup are listed\n"
    "once. A record may be a regular file or a FIFO, or - for standard input\n"
    "when --tiles names one tile; no more than its expected length and 4 KiB is\n"
    "read of it.\n",
    record_help,
    "--html writes one self-contained HTML page beside the lines or the JSON: a\n"
    "section per device with its device view, a cell per tile coloured by its\n"
    "status (or as having no template setup), and the view of every tile that\n"
    "does not match, its differing words marked at their addresses and explained,\n"
    "with the hints that hold. It is at most 2 MiB; the views that do not fit are\n"
    "counted instead. An existing FILE is kept unless --force.\n",
    valid_package_help,
    "ZEM_THREADS sets how many threads check the package's blobs and verify its\n"
    "tiles: 1 to 256, in decimal with an optional + and leading zeros; unset or\n"
    "empty, the processors this process may run on, at most 16.\n",
    "Many devices in one run read the package once. To check a fleet on several\n"
    "machines, give each machine a share of the devices and merge the --json\n"
    "documents, whose shape `format` versions.\n",
};
constexpr std::string_view exit_statuses =
    "Exit status: 0 every verified tile of every device matches; 1 one differs,\n"
    "is missing, unreadable or failed; 2 any other failure (bad usage, a package\n"
    "that cannot be read or is invalid, an unknown tile).\n";

rc::RecordSource source_of(const std::string& pattern) {
  if (pattern == standard_input_argument) {
    return [](std::uint32_t, std::uint64_t limit) { return rc::read_record(STDIN_FILENO, limit); };
  }
  return [pattern](std::uint32_t tile, std::uint64_t limit) {
    return rc::read_record(record_path(pattern, tile), limit);
  };
}

std::string summary_text(std::span<const rc::TileVerdict> verdicts, std::size_t without_setup) {
  std::string text = fmt::format("tiles {}:", verdicts.size());
  bool first = true;
  for (const rc::TileStatus status :
       {rc::TileStatus::match, rc::TileStatus::differ, rc::TileStatus::missing,
        rc::TileStatus::unreadable, rc::TileStatus::failed}) {
    const auto count = std::ranges::count(verdicts, status, &rc::TileVerdict::status);
    if (count == 0) continue;
    text += fmt::format("{} {} {}", first ? "" : ",", count, rc::status_name(status));
    first = false;
  }
  if (first) text += " none verified";
  if (without_setup > 0) {
    text += fmt::format("; {} tile{} no template setup", without_setup,
                        without_setup == 1 ? " has" : "s have");
  }
  return text;
}

// One device's lines: a line per tile in tile number order (the matching
// ones unless quiet), each difference explained under its tile, then the
// summary.
std::string device_text(const VerifyOptions& options, std::string_view pattern,
                        std::span<const rc::TileVerdict> verdicts, std::size_t without_setup,
                        const PackageModel& model) {
  std::size_t width = 0;
  for (const rc::TileVerdict& v : verdicts) {
    width = std::max(width, fmt::format("{}", v.physical_tile).size());
  }
  std::string out;
  for (const rc::TileVerdict& v : verdicts) {
    if (options.quiet && v.status == rc::TileStatus::match) continue;
    out += fmt::format("tile {:<{}}  {}", v.physical_tile, width, rc::status_name(v.status));
    switch (v.status) {
      case rc::TileStatus::match:
        break;
      case rc::TileStatus::differ:
        out +=
            fmt::format("  {} of {} words differ", v.diff->differing_words, v.diff->expected_words);
        break;
      case rc::TileStatus::missing:
        out += fmt::format("  {}", display_path(record_path(pattern, v.physical_tile)));
        break;
      case rc::TileStatus::unreadable:
        out +=
            fmt::format("  {}: {}", display_path(record_path(pattern, v.physical_tile)), v.reason);
        break;
      case rc::TileStatus::failed:
        out += fmt::format("  {}", v.reason);
        break;
    }
    out += '\n';
    if (v.status == rc::TileStatus::differ) {
      out += record_diff_text(*v.diff, model, options.max, "    ");
    }
  }
  return out + summary_text(verdicts, without_setup) + '\n';
}

// The page of the devices' verdicts, one per pattern, to the --html file.
Outcome<void> write_page(const VerifyOptions& options, const Package& package,
                         const rc::DeviceCheck& check,
                         std::span<const std::vector<rc::TileVerdict>> verdicts) {
  std::vector<pages::DeviceVerdicts> devices;
  for (std::size_t d = 0; d < verdicts.size(); ++d) {
    const std::string& pattern = options.patterns[d];
    devices.push_back(pages::DeviceVerdicts{
        display_path(pattern), verdicts[d],
        summary_text(verdicts[d], check.tiles_without_setup().size()),
        [&pattern](std::uint32_t tile) { return display_path(record_path(pattern, tile)); }});
  }
  const std::size_t cells = verdicts.empty() ? 0 : verdicts.front().size();
  const std::string page = pages::verify_page(
      package, package_name(options.package), check.tiles_without_setup(), devices, options.max,
      pages::default_columns(cells + check.tiles_without_setup().size()));
  return write_text_file(*options.html, page, options.force);
}

Outcome<ExitStatus> run(const VerifyOptions& options, unsigned threads) {
  if (std::ranges::count(options.patterns, standard_input_argument) > 0 &&
      ::isatty(STDIN_FILENO) == 1) {
    return std::unexpected(
        Failure{"refusing to read a record from a terminal; redirect standard input"});
  }
  if (options.html) ZEM_RETURN_IF_ERROR(refuse_overwriting(options.html, options.package));
  ZEM_ASSIGN_OR_RETURN(const Package package, read_valid_package(options.package, threads));
  const PackageModel& model = package.model();
  auto check = rc::DeviceCheck::prepare(package, options.tiles, threads);
  if (!check) {
    std::vector<std::uint32_t> tiles;
    for (const TileImage& tile : model.tiles) tiles.push_back(tile.physical_tile);
    return std::unexpected(
        Failure{fmt::format("{}: {} (the package has tiles {})", package_name(options.package),
                            check.error().message, tile_ranges(tiles))});
  }
  const std::span<const std::uint32_t> without_setup = check->tiles_without_setup();

  bool all_match = true;
  std::vector<std::vector<rc::TileVerdict>> all_verdicts;
  Json devices = Json::array();
  std::vector<std::string> device_summaries;
  if (!options.json && !without_setup.empty()) {
    fmt::print(stdout, "no template setup: tile{} {}\n", without_setup.size() == 1 ? "" : "s",
               tile_ranges(without_setup));
  }
  for (const std::string& pattern : options.patterns) {
    const std::vector<rc::TileVerdict> verdicts =
        check->verify(source_of(pattern), options.max, threads);
    all_match = all_match && std::ranges::all_of(verdicts, [](const rc::TileVerdict& v) {
                  return v.status == rc::TileStatus::match;
                });
    if (options.html) all_verdicts.push_back(verdicts);
    if (options.json) {
      devices.push_back(rc::device_json(*check, verdicts, pattern, model, options.max));
      continue;
    }
    std::string block;
    if (options.patterns.size() > 1) block += fmt::format("records {}\n", display_path(pattern));
    block += device_text(options, pattern, verdicts, without_setup.size(), model);
    fmt::print(stdout, "{}", block);
    device_summaries.push_back(
        fmt::format("{}: {}", display_path(pattern), summary_text(verdicts, without_setup.size())));
  }
  if (options.json) {
    Json summary{{"devices", devices.size()}};
    for (const char* key : {"tiles", "match", "differ", "missing", "unreadable", "failed"}) {
      std::uint64_t sum = 0;
      for (const Json& device : devices) sum += device["summary"][key].get<std::uint64_t>();
      summary[key] = sum;
    }
    summary["noTemplateSetup"] = without_setup.size();
    fmt::print(stdout, "{}",
               json_text(Json{{"format", verify_json_format},
                              {"package", options.package},
                              {"noTemplateSetup", rc::tiles_json(without_setup)},
                              {"devices", std::move(devices)},
                              {"summary", std::move(summary)}}));
  } else if (device_summaries.size() > 1) {
    fmt::print(stdout, "devices {}:\n", device_summaries.size());
    for (const std::string& line : device_summaries) fmt::print(stdout, "  {}\n", line);
  }
  if (options.html) {
    ZEM_RETURN_IF_ERROR(write_page(options, package, *check, all_verdicts));
  }
  return all_match ? ExitStatus::success : ExitStatus::negative;
}

Outcome<SubcommandRun> prepare(const ParsedArguments& arguments) {
  VerifyOptions options;
  options.package = arguments.operand("PACKAGE");
  options.json = arguments.given("--json");
  options.quiet = arguments.given("--quiet");
  options.force = arguments.given("--force");
  ZEM_ASSIGN_OR_RETURN(options.html, output_file_value(arguments, "--html"));
  if (options.html == standard_input_argument) {
    return std::unexpected(
        Failure{"--html needs a file name: standard output holds the lines or the JSON"});
  }
  if (options.force && !options.html) return std::unexpected(Failure{"--force needs --html FILE"});
  const std::span<const std::string> patterns = arguments.values("--records");
  options.patterns.assign(patterns.begin(), patterns.end());
  if (options.patterns.empty()) {
    return std::unexpected(Failure{"give at least one --records PATTERN"});
  }
  if (const std::optional<std::string>& max = arguments.value("--max")) {
    ZEM_ASSIGN_OR_RETURN(options.max, count_value(*max, "--max"));
  }
  if (const std::optional<std::string>& tiles = arguments.value("--tiles")) {
    ZEM_ASSIGN_OR_RETURN(options.tiles, tile_list_argument(*tiles));
  }
  // Without {tile}, a pattern names one file: the record of one tile.
  const bool one_tile = options.tiles.size() == 1;
  for (const std::string& pattern : options.patterns) {
    if (pattern.empty()) return std::unexpected(Failure{"--records needs a PATTERN"});
    if (pattern == standard_input_argument && !one_tile) {
      return std::unexpected(
          Failure{"--records - reads standard input: --tiles must name exactly one tile"});
    }
    if (!names_each_tile(pattern) && pattern != standard_input_argument && !one_tile) {
      return std::unexpected(Failure{fmt::format(
          "--records {} has no {{tile}}: every tile would read the same file (or give --tiles "
          "with one tile)",
          quote_escaped(pattern))});
    }
  }
  if (std::ranges::count(options.patterns, standard_input_argument) > 1) {
    return std::unexpected(Failure{"standard input (-) can be read only once"});
  }
  return [options = std::move(options)](unsigned threads) { return run(options, threads); };
}

}  // namespace

constinit const Subcommand verify_subcommand{
    .name = "verify",
    .summary = "Check every tile of devices against a package",
    .syntax = {option_syntax, operand_syntax},
    .details = help_details,
    .exit_status = exit_statuses,
    .prepare = prepare,
};

}  // namespace zem::toolkit
