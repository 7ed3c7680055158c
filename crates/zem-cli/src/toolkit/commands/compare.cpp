// `compare`: what differs between two packages.

#include <fmt/format.h>

#include <array>

#include "toolkit/commands/help_paragraphs.hpp"
#include "toolkit/commands/subcommand_table.hpp"
#include "toolkit/compare/comparison.hpp"
#include "toolkit/compare/comparison_report.hpp"
#include "toolkit/package/package_input.hpp"

namespace zem::toolkit {
namespace {

struct CompareOptions {
  std::string first;
  std::string second;
  bool json = false;
};

constexpr std::array<OptionSyntax, 1> option_syntax = {{
    {"--json", "", "", "Write one JSON document instead of lines"},
}};
constexpr std::array<OperandSyntax, 2> operand_syntax = {{
    {"FIRST", Arity::one, "First package file, or - for standard input"},
    {"SECOND", Arity::one, "Second package file, or - for standard input"},
}};
constexpr std::array<std::string_view, 3> help_details = {
    "Both packages are read up to the end of their structure; one that fails\n"
    "validation or its build digest is compared as read, with a note. What\n"
    "differs only in how a package is stored is no difference.\n",
    standard_input_help,
    threads_help,
};
constexpr std::string_view exit_statuses =
    "Exit status: 0 the packages are equal; 1 they differ; 2 any other failure\n"
    "(bad usage, a file that cannot be read, a package that cannot be read up to\n"
    "the end of its structure).\n";

// A package read for comparison, and its completion's failure.
struct ReadForComparison {
  PackageInput input;
  std::optional<ReadFailure> completion_failure;
};

// A package to compare, surveyed: one whose blobs or structure could not be
// read cannot be compared, its first failure being what a strict read
// reports; one that fails validation or its build digest is compared as read.
Outcome<ReadForComparison> read_for_comparison(const std::string& argument, unsigned threads) {
  ZEM_ASSIGN_OR_RETURN(PackageInput input, read_package(argument, {threads, ReadMode::survey}));
  if (!input.package) return std::unexpected(invalid_package(argument, input.package.error()));
  const Package& reading = *input.package;
  if (reading.failures().empty()) return ReadForComparison{std::move(input), std::nullopt};
  const ReadFailure& first = reading.failures().front();
  if (reading.stage_state(ReadStage::blobs) == StageState::failed ||
      reading.stage_state(ReadStage::structure) == StageState::failed) {
    return std::unexpected(invalid_package(argument, first));
  }
  ReadFailure completion = first;
  return ReadForComparison{std::move(input), std::move(completion)};
}

Outcome<ExitStatus> run(const CompareOptions& options, unsigned threads) {
  ZEM_ASSIGN_OR_RETURN(const ReadForComparison first, read_for_comparison(options.first, threads));
  ZEM_ASSIGN_OR_RETURN(const ReadForComparison second,
                       read_for_comparison(options.second, threads));
  const auto compared = [](const std::string& argument, const ReadForComparison& read) {
    return ComparedPackage{argument, &*read.input.package, read.completion_failure,
                           read.input.trailing_bytes};
  };
  const Comparison comparison =
      compare_packages(compared(options.first, first), compared(options.second, second));
  const std::string text =
      options.json ? json_text(comparison_json(comparison, options.first, options.second))
                   : comparison_text(comparison, options.first, options.second);
  fmt::print(stdout, "{}", text);
  return comparison.equal() ? ExitStatus::success : ExitStatus::negative;
}

Outcome<SubcommandRun> prepare(const ParsedArguments& arguments) {
  CompareOptions options{arguments.operand("FIRST"), arguments.operand("SECOND"),
                         arguments.given("--json")};
  if (options.first == standard_input_argument && options.second == standard_input_argument) {
    return std::unexpected(Failure{"standard input (-) can be read only once"});
  }
  return [options = std::move(options)](unsigned threads) { return run(options, threads); };
}

}  // namespace

constinit const Subcommand compare_subcommand{
    .name = "compare",
    .summary = "Show what differs between two packages",
    .syntax = {option_syntax, operand_syntax},
    .details = help_details,
    .exit_status = exit_statuses,
    .prepare = prepare,
};

}  // namespace zem::toolkit
