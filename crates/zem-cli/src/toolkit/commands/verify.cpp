// `verify`: every tile of one or more devices against one package, read and
// checked once, every difference explained.

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "format/json_values.hpp"
#include "toolkit/commands/help_paragraphs.hpp"
#include "toolkit/commands/subcommand_table.hpp"
#include "toolkit/files.hpp"
#include "toolkit/package/package_input.hpp"
#include "toolkit/pages/device_grid.hpp"
#include "toolkit/pages/verify_page.hpp"
#include "toolkit/tile/record_input.hpp"
#include "toolkit/tile/tile_list.hpp"
#include "toolkit/tile/tile_template.hpp"
#include "toolkit/verify/verify_report.hpp"
#include "zem_package/record_pattern.hpp"

namespace zem::toolkit {
namespace {

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

Outcome<ExitStatus> run(const VerifyOptions& options, unsigned threads) {
  if (std::ranges::count(options.patterns, standard_input_argument) > 0) {
    ZEM_RETURN_IF_ERROR(refuse_terminal_records());
  }
  if (options.html) ZEM_RETURN_IF_ERROR(refuse_overwriting(options.html, options.package));
  // The check is prepared as the package is read: each blob decompressed once.
  ZEM_ASSIGN_OR_RETURN(DeviceCheckRead read,
                       read_package_check(options.package, options.tiles, threads));
  const Package& package = **read.package;
  ZEM_ASSIGN_OR_RETURN(
      const DeviceCheck check,
      prepared_check(package, options.package, options.tiles, std::move(read.check)));
  const VerifyReport report =
      verify_devices(check, options.package, options.patterns, options.max, threads);
  fmt::print(stdout, "{}",
             options.json ? json_text(verify_json(report, package.model()))
                          : verify_text(report, package.model(), options.quiet));
  if (options.html) {
    const std::size_t cells = check.tiles().size() + check.tiles_without_setup().size();
    ZEM_RETURN_IF_ERROR(write_text_file(
        *options.html, pages::verify_page(report, check, pages::default_columns(cells)),
        options.force));
  }
  return report.all_match() ? ExitStatus::success : ExitStatus::negative;
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
