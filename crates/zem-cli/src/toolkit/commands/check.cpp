// `check`: whether packages are valid, stage by stage.

#include <fmt/format.h>

#include <algorithm>
#include <array>

#include "toolkit/commands/help_paragraphs.hpp"
#include "toolkit/commands/subcommand_table.hpp"
#include "format/json_values.hpp"
#include "toolkit/package/check_report.hpp"
#include "toolkit/package/failure_report.hpp"
#include "toolkit/package/package_input.hpp"
#include "toolkit/package/package_notes.hpp"

namespace zem::toolkit {
namespace {

// Version of the JSON document that `check --json` writes.
constexpr int check_json_format = 3;
// The name in the "package" line that heads each of several packages'
// blocks starts where the stages' statuses do.
constexpr std::size_t name_column = 14;

struct CheckOptions {
  std::vector<std::string> packages;  // at least one
  bool json = false;
};

constexpr std::array<OptionSyntax, 1> option_syntax = {{
    {"--json", "", "", "Write one JSON document instead of lines"},
}};
constexpr std::array<OperandSyntax, 1> operand_syntax = {{
    {"PACKAGE", Arity::one_or_more, "Package files; - for standard input"},
}};
constexpr std::array<std::string_view, 3> help_details = {
    "Each package gets one line per stage (ok, failed at an element, skipped),\n"
    "then notes that never change the status. Several packages get a block each.\n",
    standard_input_help,
    threads_help,
};
constexpr std::string_view exit_statuses =
    "Exit status: 0 every package is valid; 1 one is not; 2 any other failure (bad\n"
    "usage, a package that cannot be opened or read: the others are checked).\n";

// One package of `check --json`.
Json check_json(const std::string& package, const CheckReport& report,
                const std::vector<Note>& notes) {
  Json failures = Json::array();
  for (const ReadFailure& failure : report.failures) failures.push_back(failure_json(failure));
  return Json{{"package", package},
              {"readable", true},
              {"valid", report.valid()},
              {"checks", checks_json(report)},
              {"error", report.failures.empty() ? Json() : failure_json(report.failures.front())},
              {"failures", std::move(failures)},
              {"unlistedBlobFailures", report.unlisted_blob_failures},
              {"hints", report.hints},
              {"notes", notes_json(notes)}};
}

// A package whose file could not be opened or read.
Json unreadable_json(const std::string& package, const Failure& failure) {
  return Json{{"package", package},
              {"readable", false},
              {"valid", false},
              {"checks", nullptr},
              {"error", Json{{"stage", nullptr},
                             {"element", nullptr},
                             {"message", failure.message},
                             {"details", Json::array()}}},
              {"failures", Json::array()},
              {"unlistedBlobFailures", 0},
              {"hints", Json::array()},
              {"notes", Json::array()}};
}

// Each package in turn: one that cannot be read is reported on standard
// error at once, and the next is checked. The status is the worst of them.
Outcome<ExitStatus> run(const CheckOptions& options, unsigned threads) {
  const bool several = options.packages.size() > 1;
  ExitStatus worst = ExitStatus::success;
  Json packages = Json::array();
  bool first_block = true;
  for (const std::string& package : options.packages) {
    const Outcome<PackageInput> input = read_package(package, {threads, ReadMode::survey});
    if (!input) {
      report(input.error());
      worst = ExitStatus::failure;
      packages.push_back(unreadable_json(package, input.error()));
      continue;
    }
    CheckReport report = check_package(input->package);
    report.hints = input->hints;
    std::vector<Note> notes;
    if (input->package) notes = package_notes(*input->package, input->trailing_bytes);
    worst = std::max(worst, report.valid() ? ExitStatus::success : ExitStatus::negative);
    if (options.json) {
      packages.push_back(check_json(package, report, notes));
      continue;
    }
    std::string block;
    if (several) {
      if (!first_block) block += '\n';
      block += fmt::format("{:<{}}{}\n", "package", name_column, package_name(package));
    }
    block += check_lines(report, input->package ? &input->package->model() : nullptr, notes);
    fmt::print(stdout, "{}", block);
    first_block = false;
  }
  if (options.json) {
    const bool all_valid = std::ranges::all_of(
        packages, [](const Json& package) { return package["valid"].get<bool>(); });
    fmt::print(stdout, "{}",
               json_text(Json{{"format", check_json_format},
                              {"valid", all_valid},
                              {"packages", std::move(packages)}}));
  }
  return worst;
}

Outcome<SubcommandRun> prepare(const ParsedArguments& arguments) {
  const std::span<const std::string> packages = arguments.operands("PACKAGE");
  if (std::ranges::count(packages, standard_input_argument) > 1) {
    return std::unexpected(Failure{"standard input (-) can be read only once"});
  }
  CheckOptions options{{packages.begin(), packages.end()}, arguments.given("--json")};
  return [options = std::move(options)](unsigned threads) { return run(options, threads); };
}

}  // namespace

constinit const Subcommand check_subcommand{
    .name = "check",
    .summary = "Read and check packages, one line per stage",
    .syntax = {option_syntax, operand_syntax},
    .details = help_details,
    .exit_status = exit_statuses,
    .prepare = prepare,
};

}  // namespace zem::toolkit
