#include "toolkit/command_line.hpp"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <array>
#include <charconv>
#include <sstream>

#include "zem_package/application.hpp"

#ifndef ZEM_VERSION
#error "ZEM_VERSION must name the project's version"
#endif

namespace zem::toolkit {
namespace {

constexpr std::array subcommand_names = {"inspect", "check", "extract", "diff"};

constexpr std::string_view exit_statuses =
    "Exit status: 0 success (valid package, matching record, bytes written); 1 the package is\n"
    "not valid (inspect, check) or the record differs (diff); 2 any other failure.";

Failure usage_error(std::string_view what) {
  return {fmt::format("{} (see zem-package --help)", what)};
}

// "--max N": a whole number, so that "-1", "x" or "1e3" are refused with a
// message naming the option.
Outcome<std::size_t> parse_count(const std::string& text, std::string_view option) {
  std::size_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc{} || stop != end) {
    return std::unexpected(usage_error(fmt::format(
        "invalid value {} for {}: expected a whole number", quote_escaped(text), option)));
  }
  return value;
}

}  // namespace

std::string version_text() {
  return fmt::format("zem-package {} (reads package format version {})", ZEM_VERSION,
                     format_version);
}

Outcome<Invocation> parse_command_line(std::span<char* const> arguments) {
  // CLI11 reports a missing or unknown subcommand as a stray argument; these
  // two are said plainly instead.
  if (arguments.size() < 2) {
    return std::unexpected(
        usage_error("missing subcommand: expected inspect, check, extract or diff"));
  }
  const std::string_view first = arguments[1];
  if (!first.starts_with('-') &&
      std::ranges::find(subcommand_names, first) == subcommand_names.end()) {
    return std::unexpected(usage_error(fmt::format(
        "unknown subcommand {}: expected inspect, check, extract or diff", quote_escaped(first))));
  }

  CLI::App app{"Inspects, checks, extracts from and compares application packages.", "zem-package"};
  app.set_version_flag("--version", version_text());
  app.require_subcommand(1);
  app.footer(std::string(exit_statuses));

  InspectOptions inspect;
  CLI::App* inspect_command =
      app.add_subcommand("inspect", "Show everything a package holds, and whether it is valid.");
  inspect_command->add_option("PACKAGE", inspect.package, "Package file")->required();
  inspect_command->add_flag("--json", inspect.json, "Write one JSON document");

  CheckOptions check;
  CLI::App* check_command =
      app.add_subcommand("check", "Read and fully check a package, one line per stage.");
  check_command->add_option("PACKAGE", check.package, "Package file")->required();

  ExtractOptions extract;
  std::string tile;
  std::string blob;
  std::string output;
  CLI::App* extract_command = app.add_subcommand(
      "extract", "Write a tile's rebuilt memory image, or a blob's uncompressed bytes.");
  extract_command->add_option("PACKAGE", extract.package, "Package file")->required();
  CLI::Option* tile_option =
      extract_command->add_option("TILE", tile, "Physical tile number (decimal)");
  CLI::Option* blob_option = extract_command->add_option(
      "--blob", blob, "Write the blob with this digest (or unambiguous prefix of it) instead");
  tile_option->excludes(blob_option);
  CLI::Option* output_option = extract_command->add_option(
      "-o,--output", output, "Write to FILE instead of standard output");

  DiffOptions diff;
  std::string max = "20";
  CLI::App* diff_command = app.add_subcommand(
      "diff", "Compare a device record with a tile's patched template, word by word.");
  diff_command->add_option("PACKAGE", diff.package, "Package file")->required();
  diff_command->add_option("TILE", diff.tile, "Physical tile number (decimal)")->required();
  diff_command->add_option("RECORD", diff.record, "Device record file")->required();
  diff_command->add_option("--max", max, "Show at most N differing words (default 20)");

  try {
    app.parse(static_cast<int>(arguments.size()), arguments.data());
  } catch (const CLI::CallForHelp&) {
    // The help of the subcommand that was named, or of the tool.
    const auto named = app.get_subcommands();
    return Information{named.empty() ? app.help() : named.back()->help("zem-package")};
  } catch (const CLI::CallForVersion&) {
    return Information{version_text() + "\n"};
  } catch (const CLI::ParseError& e) {
    const auto named = app.get_subcommands();
    const std::string message = named.empty()
                                    ? std::string(e.what())
                                    : fmt::format("{}: {}", named.back()->get_name(), e.what());
    return std::unexpected(usage_error(message));
  }

  if (inspect_command->parsed()) return inspect;
  if (check_command->parsed()) return check;
  if (extract_command->parsed()) {
    if (tile_option->count() == 0 && blob_option->count() == 0) {
      return std::unexpected(usage_error("extract: give a TILE or --blob DIGEST"));
    }
    if (tile_option->count() > 0) extract.tile = tile;
    if (blob_option->count() > 0) extract.blob = blob;
    if (output_option->count() > 0) extract.output = output;
    return extract;
  }
  auto count = parse_count(max, "--max");
  if (!count) return std::unexpected(std::move(count).error());
  diff.max = *count;
  return diff;
}

}  // namespace zem::toolkit
