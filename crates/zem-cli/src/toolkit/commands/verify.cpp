// `verify`: every tile of one or more devices against one package, read and
// checked once, every difference explained.

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <utility>

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
#include "toolkit/verify/junit_xml.hpp"
#include "toolkit/verify/progress_line.hpp"
#include "toolkit/verify/verify_junit.hpp"
#include "toolkit/verify/verify_report.hpp"
#include "zem_package/record_pattern.hpp"

namespace zem::toolkit {
namespace {

struct VerifyOptions {
  std::string package;
  std::vector<DeviceRecords> devices;  // in the order given
  std::vector<std::uint32_t> tiles;    // every tile with a template setup when empty
  std::size_t max = 8;
  bool json = false;
  bool quiet = false;
  std::optional<std::string> html;   // the page's file, when one is asked for
  std::optional<std::string> junit;  // the JUnit file, when one is asked for
  bool force = false;
  std::chrono::milliseconds record_timeout = default_pipe_wait;
};

constexpr std::array<OptionSyntax, 9> option_syntax = {{
    {"--records", "", "[NAME=]PATTERN",
     "A device's records, named NAME; {tile} stands for the tile number", true},
    {"--record-timeout", "", "SECONDS",
     "Give up a record that sends nothing for SECONDS, as unreadable (10)"},
    {"--tiles", "", "LIST", "Verify these tiles only: 7, 0-255, 1-4,8"},
    {"--max", "", "N", "Explain at most N differing words per tile (8)"},
    {"--quiet", "", "", "Show only the tiles that do not match, and the summaries"},
    {"--json", "", "", "Write one JSON document instead of lines"},
    {"--html", "", "FILE", "Also write the devices' pictures as a page to FILE"},
    {"--junit", "", "FILE", "Also write JUnit XML to FILE: a test suite per device"},
    {"--force", "", "", "Write over the --html or --junit FILE if it exists"},
}};
constexpr std::array<OperandSyntax, 1> operand_syntax = {{
    {"PACKAGE", Arity::one, "Package file"},
}};
constexpr std::array<std::string_view, 9> help_details = {
    "Reads and checks the package once, then compares the RECORD of every tile\n"
    "that has a template setup (or of the tiles of --tiles) with the record the\n"
    "tile expects, for each device: each --records PATTERN is one device, and\n"
    "{tile} in it stands for the physical tile number in decimal\n"
    "(dump/tile{tile}.rec); {tile:03} pads it with zeros to 3 digits, {tile:x}\n"
    "writes it in hexadecimal and {tile:04x} both (a width of at most 10).\n"
    "Each tile ends in match, differ (its differences explained as diff\n"
    "explains them, with the hints that hold), missing (no file), unreadable\n"
    "(with the system's error) or failed (the template could not be gathered\n"
    "or patched); tiles without a template setup are listed once. A record may\n"
    "be a regular file or a FIFO, or - for standard input when --tiles names\n"
    "one tile; no more than its expected length and 4 KiB is read of it. A\n"
    "FIFO that sends nothing for --record-timeout seconds (10; 0 gives up at\n"
    "once) is unreadable, and the run goes on. --tiles takes numbers and ranges\n"
    "in decimal or after 0x in hexadecimal (0x10-0x1f).\n",
    record_help,
    "--records NAME=PATTERN names the device NAME: every output shows the name\n"
    "(without NAME=, the pattern is the name). The text before the first = is\n"
    "a NAME when it holds no / and no {: write ./a=b{tile}.rec for a pattern\n"
    "with = in it. Two devices with the same name or the same pattern, and an\n"
    "empty NAME, are refused.\n",
    "With several devices, the lines end with the devices side by side: a row\n"
    "for every tile that does not match on some device, a column per device,\n"
    "each cell the code of its status (. match, D differ, M missing, U\n"
    "unreadable, F failed) and after : the code of its strongest hint, with a\n"
    "legend; then the tiles that fail on every device and those that fail on\n"
    "one device only. Each device's summary is followed by how many tiles have\n"
    "each hint, and by what its records say as a whole, each checked against\n"
    "every record read: no-records (no record file for any tile: the directory\n"
    "looked in, and whether it exists), off-by (no record matches its own\n"
    "tile, but each is the expected record of the tile K further on), foreign-\n"
    "records (no record is the expected record of any tile of the package),\n"
    "same-records (the records are byte for byte those of another device).\n"
    "--json holds the same: `acrossDevices`, and per device its `name`, its\n"
    "`deviceHints` and the hint counts of its `summary`.\n",
    "--html writes one self-contained HTML page beside the lines or the JSON: a\n"
    "section per device with its device view, a cell per tile coloured by its\n"
    "status (or hatched as having no template setup), and the view of every tile\n"
    "that does not match, its differing words marked at their addresses and\n"
    "explained, with the hints that hold and the zoomed inset of its template.\n"
    "It is at most 2 MiB; the views that do not fit are counted instead. An\n"
    "existing FILE is kept unless --force.\n",
    "--junit writes JUnit XML for CI: a testsuite per device, a testcase per\n"
    "verified tile (tile 7), failed with its status, hints and first\n"
    "differences unless it matches, and a skipped one per tile without a\n"
    "template setup. The directories of --html and --junit must exist before\n"
    "any tile is verified. On a terminal, a run that takes more than a second\n"
    "shows on standard error how many devices and tiles are done.\n",
    valid_package_help,
    "ZEM_THREADS sets how many threads check the package's blobs and verify its\n"
    "tiles: 1 to 256, in decimal with an optional + and leading zeros; unset or\n"
    "empty, the processors this process may run on, at most 16.\n",
    "Many devices in one run read the package once. To check a fleet on several\n"
    "machines, give each machine a share of the devices and merge the --json\n"
    "documents, whose shape `format` versions, with zem-package report.\n",
};
constexpr std::string_view exit_statuses =
    "Exit status: 0 every verified tile of every device matches; 1 one differs,\n"
    "is missing, unreadable or failed; 2 any other failure (bad usage, a package\n"
    "that cannot be read or is invalid, an unknown tile).\n";

// A day: longer is no time limit but a typo.
constexpr std::uint32_t max_record_timeout = 86400;

// "--records \"t{tile:q}\": {tile:q} is not a tile number's format: give
// {tile}, {tile:03}, {tile:x} or {tile:04x}".
std::string pattern_failure_text(const std::string& pattern, const RecordPatternFailure& failure) {
  const std::string shown = quote_escaped(failure.placeholder);
  switch (failure.error) {
    case RecordPatternError::unknown_format:
      break;
    case RecordPatternError::width_too_large:
      return fmt::format("--records {}: the width of {} is past {} digits", quote_escaped(pattern),
                         shown, max_tile_width);
  }
  return fmt::format(
      "--records {}: {} is not a tile number's format: give {{tile}}, {{tile:03}}, {{tile:x}} or "
      "{{tile:04x}}",
      quote_escaped(pattern), shown);
}

Outcome<ExitStatus> run(const VerifyOptions& options, unsigned threads) {
  if (std::ranges::count(options.devices, standard_input_argument, &DeviceRecords::records) > 0) {
    ZEM_RETURN_IF_ERROR(refuse_terminal_records());
  }
  ZEM_RETURN_IF_ERROR(refuse_overwriting(options.html, options.package));
  ZEM_RETURN_IF_ERROR(refuse_overwriting(options.junit, options.package));
  // The check is prepared as the package is read: each blob decompressed once.
  ZEM_ASSIGN_OR_RETURN(DeviceCheckRead read,
                       read_package_check(options.package, options.tiles, threads));
  const Package& package = **read.package;
  ZEM_ASSIGN_OR_RETURN(
      const DeviceCheck check,
      prepared_check(package, options.package, options.tiles, std::move(read.check)));
  const VerifyReport report = [&] {
    ProgressLine progress(standard_error_is_terminal(), options.devices.size(),
                          check.tiles().size());
    return verify_devices(check, options.package, options.devices, options.max, threads,
                          options.record_timeout, progress.counter());
  }();
  fmt::print(stdout, "{}",
             options.json ? json_text(verify_json(report, package.model()))
                          : verify_text(report, package.model(), options.quiet));
  if (options.html) {
    const std::size_t cells = check.tiles().size() + check.tiles_without_setup().size();
    ZEM_RETURN_IF_ERROR(write_text_file(
        *options.html, pages::verify_page(report, check, pages::default_columns(cells)),
        options.force));
  }
  if (options.junit) {
    ZEM_RETURN_IF_ERROR(write_text_file(
        *options.junit, junit_xml("zem-package verify", verify_junit(report, package.model())),
        options.force));
  }
  return report.all_match() ? ExitStatus::success : ExitStatus::negative;
}

// NAME=PATTERN, or PATTERN alone, which is then the name too. The text
// before the first = is a name when it holds no / and no {.
Outcome<DeviceRecords> device_records(const std::string& value) {
  const std::size_t equals = value.find('=');
  DeviceRecords device{value, value};
  if (equals != std::string::npos && value.find_first_of("/{") > equals) {
    device.name = value.substr(0, equals);
    device.records = value.substr(equals + 1);
    if (device.name.empty()) {
      return std::unexpected(Failure{fmt::format(
          "--records {}: the NAME before = is empty (write ./{} for a file whose name starts "
          "with =)",
          quote_escaped(value), value)});
    }
  }
  if (device.records.empty()) return std::unexpected(Failure{"--records needs a PATTERN"});
  return device;
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
  ZEM_ASSIGN_OR_RETURN(options.junit, output_file_value(arguments, "--junit"));
  if (options.junit == standard_input_argument) {
    return std::unexpected(
        Failure{"--junit needs a file name: standard output holds the lines or the JSON"});
  }
  if (options.force && !options.html && !options.junit) {
    return std::unexpected(Failure{"--force needs --html FILE or --junit FILE"});
  }
  if (options.html && options.junit && *options.html == *options.junit) {
    return std::unexpected(Failure{"--html and --junit name the same file"});
  }
  for (const auto& [option, file] :
       {std::pair{"--html", options.html}, {"--junit", options.junit}}) {
    if (file) ZEM_RETURN_IF_ERROR(check_output_place(*file, option, options.force));
  }
  if (const std::optional<std::string>& timeout = arguments.value("--record-timeout")) {
    ZEM_ASSIGN_OR_RETURN(const std::uint32_t seconds, count_value(*timeout, "--record-timeout"));
    if (seconds > max_record_timeout) {
      return std::unexpected(Failure{fmt::format(
          "--record-timeout {} is too long: at most {} seconds", seconds, max_record_timeout)});
    }
    options.record_timeout = std::chrono::seconds{seconds};
  }
  for (const std::string& value : arguments.values("--records")) {
    ZEM_ASSIGN_OR_RETURN(DeviceRecords device, device_records(value));
    for (const DeviceRecords& other : options.devices) {
      if (other.name == device.name) {
        return std::unexpected(Failure{
            fmt::format("--records: two devices are named {}", quote_escaped(device.name))});
      }
      if (other.records == device.records) {
        return std::unexpected(Failure{fmt::format(
            "--records: two devices read the same records {}", quote_escaped(device.records))});
      }
    }
    options.devices.push_back(std::move(device));
  }
  if (options.devices.empty()) {
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
  for (const DeviceRecords& device : options.devices) {
    const std::string& pattern = device.records;
    if (const auto checked = check_record_pattern(pattern); !checked) {
      return std::unexpected(Failure{pattern_failure_text(pattern, checked.error())});
    }
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
  if (std::ranges::count(options.devices, standard_input_argument, &DeviceRecords::records) > 1) {
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
