#include "toolkit/command_line.hpp"

#include <fmt/format.h>

// g++ 12 warns falsely of a null dereference inside CLI11's string
// splitting once optimization inlines a vector's growth into it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnull-dereference"
#include <CLI/CLI.hpp>
#pragma GCC diagnostic pop

#include <algorithm>
#include <array>

#include "template_record/tile_number.hpp"
#include "toolkit/package_file.hpp"
#include "zem_package/application.hpp"

#ifndef ZEM_VERSION
#error "ZEM_VERSION must name the project's version"
#endif

namespace zem::toolkit {
namespace {

constexpr std::array subcommand_names = {"inspect", "check", "compare",
                                         "extract", "diff",  "template"};
constexpr std::string_view expected_subcommands =
    "expected inspect, check, compare, extract, diff or template";

// Help is written to fit in 80 columns: option names in the first 24, their
// descriptions after.
constexpr std::size_t help_name_width = 24;

constexpr std::string_view exit_statuses =
    "Exit status: 0 success (a valid package, a matching record, equal packages,\n"
    "bytes written); 1 an invalid package (inspect, check), a differing record\n"
    "(diff) or differing packages (compare); 2 any other failure.";

Failure usage_error(std::string_view what) {
  return {fmt::format("{} (see zem-package --help)", what)};
}

// "--max N": a whole number with the grammar of a tile argument (decimal, one
// optional "+", leading zeros allowed, at most 4294967295), so that "-1",
// "x" or "1e3" are refused with a message naming the option.
Outcome<std::size_t> parse_count(const std::string& text, std::string_view option) {
  auto value = template_record::parse_physical_tile(text);
  if (!value) {
    return std::unexpected(usage_error(
        fmt::format("invalid value {} for {}: expected a whole number from 0 to 4294967295",
                    quote_escaped(text), option)));
  }
  return *value;
}

// An argument left over after parsing: an option the subcommand does not
// have, or one argument too many.
Failure stray_argument(std::string_view subcommand, std::string_view argument) {
  const bool option = argument.size() > 1 && argument.starts_with('-');
  return usage_error(fmt::format("{}: {} {}", subcommand,
                                 option ? "unknown option" : "unexpected argument",
                                 quote_escaped(argument)));
}

// Every subcommand's help ends with the exit statuses; arguments are shown by
// their names alone.
CLI::App* add_subcommand(CLI::App& app, std::string name, std::string description) {
  CLI::App* command = app.add_subcommand(std::move(name), std::move(description));
  command->allow_extras();
  return command;
}

CLI::Option* add_package(CLI::App* command, std::string& package) {
  return command->add_option("PACKAGE", package, "Package file")->required()->type_name("");
}

CLI::Option* add_json(CLI::App* command, bool& json) {
  return command->add_flag("--json", json, "Write one JSON document");
}

}  // namespace

std::string version_text() {
  return fmt::format("zem-package {} (reads package format version {})", ZEM_VERSION,
                     format_version);
}

Outcome<Invocation> parse_command_line(std::span<char* const> arguments) {
  // CLI11 reports a missing or unknown subcommand or an unknown option before
  // it as a missing subcommand; these are said plainly instead.
  if (arguments.size() < 2) {
    return std::unexpected(
        usage_error(fmt::format("missing subcommand: {}", expected_subcommands)));
  }
  const std::string_view first = arguments[1];
  if (first.starts_with('-')) {
    if (first != "-h" && first != "--help" && first != "--version") {
      return std::unexpected(usage_error(fmt::format("unknown option {}", quote_escaped(first))));
    }
  } else if (std::ranges::find(subcommand_names, first) == subcommand_names.end()) {
    return std::unexpected(usage_error(
        fmt::format("unknown subcommand {}: {}", quote_escaped(first), expected_subcommands)));
  }

  CLI::App app{"Inspects, checks, compares and extracts from application packages.", "zem-package"};
  app.set_version_flag("--version", version_text());
  app.require_subcommand(1);
  app.footer(std::string(exit_statuses));
  app.get_formatter()->column_width(help_name_width);

  InspectOptions inspect;
  CLI::App* inspect_command =
      add_subcommand(app, "inspect", "Show what a package holds, as far as it can be read");
  add_package(inspect_command, inspect.package);
  add_json(inspect_command, inspect.json);

  CheckOptions check;
  CLI::App* check_command =
      add_subcommand(app, "check", "Read and check packages, one line per stage");
  check_command->add_option("PACKAGE", check.packages, "Package files")
      ->required()
      ->expected(1, -1)
      ->type_name("");
  add_json(check_command, check.json);

  CompareOptions compare;
  CLI::App* compare_command =
      add_subcommand(app, "compare", "Show what differs between two packages");
  compare_command->add_option("FIRST", compare.first, "First package file")
      ->required()
      ->type_name("");
  compare_command->add_option("SECOND", compare.second, "Second package file")
      ->required()
      ->type_name("");
  add_json(compare_command, compare.json);

  ExtractOptions extract;
  std::string tile;
  std::string blob;
  std::string output;
  CLI::App* extract_command =
      add_subcommand(app, "extract", "Write a tile's memory image or a blob's bytes");
  add_package(extract_command, extract.package);
  CLI::Option* tile_option =
      extract_command->add_option("TILE", tile, "Physical tile number")->type_name("");
  CLI::Option* blob_option =
      extract_command->add_option("--blob", blob, "Write the blob whose digest starts with DIGEST");
  blob_option->type_name("DIGEST");
  CLI::Option* output_option =
      extract_command->add_option("-o,--output", output, "Write to FILE (- standard output)");
  output_option->type_name("FILE");

  DiffOptions diff;
  std::string max = "20";
  CLI::App* diff_command =
      add_subcommand(app, "diff", "Compare a device record with a tile's template");
  add_package(diff_command, diff.package);
  diff_command->add_option("TILE", diff.tile, "Physical tile number")->required()->type_name("");
  diff_command->add_option("RECORD", diff.record, "Device record file")->required()->type_name("");
  diff_command->add_option("--max", max, "Show at most N differing words (20)")->type_name("N");
  add_json(diff_command, diff.json);

  TemplateOptions templates;
  std::string template_tile;
  std::string template_output;
  CLI::App* template_command =
      add_subcommand(app, "template", "Show template setups, or the record a tile expects");
  add_package(template_command, templates.package);
  CLI::Option* template_tile_option =
      template_command
          ->add_option("TILE", template_tile, "Physical tile number; every tile when left out")
          ->type_name("");
  CLI::Option* template_output_option = template_command->add_option(
      "-o,--output", template_output, "Write the tile's record to FILE (- standard output)");
  template_output_option->type_name("FILE");
  add_json(template_command, templates.json);

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
    std::string message = named.empty() ? std::string(e.what())
                                        : fmt::format("{}: {}", named.back()->get_name(), e.what());
    // `diff A B` is most likely meant to compare two packages.
    if (diff_command->parsed() && !diff.tile.empty() &&
        !template_record::parse_physical_tile(diff.tile)) {
      message += "; to compare two packages, use zem-package compare";
    }
    return std::unexpected(usage_error(message));
  }

  const CLI::App* named = app.get_subcommands().back();
  if (const std::vector<std::string> stray = named->remaining(); !stray.empty()) {
    return std::unexpected(stray_argument(named->get_name(), stray.front()));
  }
  // Standard input holds one package.
  const auto stdin_twice = [](const std::vector<std::string>& packages) {
    return std::ranges::count(packages, standard_input_argument) > 1;
  };
  // An output option names a file, or "-".
  const auto empty_output = [](std::string_view subcommand) {
    return usage_error(fmt::format(
        "{}: invalid value \"\" for --output: expected a file name, or - for standard output",
        subcommand));
  };

  if (inspect_command->parsed()) return inspect;
  if (check_command->parsed()) {
    if (stdin_twice(check.packages)) {
      return std::unexpected(usage_error("check: standard input (-) can be read only once"));
    }
    return check;
  }
  if (compare_command->parsed()) {
    if (stdin_twice({compare.first, compare.second})) {
      return std::unexpected(usage_error("compare: standard input (-) can be read only once"));
    }
    return compare;
  }
  if (extract_command->parsed()) {
    if ((tile_option->count() == 0) == (blob_option->count() == 0)) {
      return std::unexpected(usage_error("extract: give a TILE or --blob DIGEST"));
    }
    if (output_option->count() > 0 && output.empty()) {
      return std::unexpected(empty_output("extract"));
    }
    if (tile_option->count() > 0) extract.tile = tile;
    if (blob_option->count() > 0) extract.blob = blob;
    if (output_option->count() > 0) extract.output = output;
    return extract;
  }
  if (template_command->parsed()) {
    if (template_output_option->count() > 0) {
      if (template_output.empty()) return std::unexpected(empty_output("template"));
      if (template_tile_option->count() == 0) {
        return std::unexpected(usage_error("template: --output needs a TILE"));
      }
      if (templates.json) {
        return std::unexpected(usage_error("template: --output writes no JSON; give one of them"));
      }
      templates.output = template_output;
    }
    if (template_tile_option->count() > 0) templates.tile = template_tile;
    return templates;
  }
  auto count = parse_count(max, "--max");
  if (!count) return std::unexpected(std::move(count).error());
  diff.max = *count;
  return diff;
}

}  // namespace zem::toolkit
