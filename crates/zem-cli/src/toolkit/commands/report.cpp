// `report`: `verify --json` documents of one package, from shards of a
// fleet or from runs over time, merged into one report.

#include <fmt/format.h>

#include <array>
#include <cstdio>
#include <utility>

#include "toolkit/commands/subcommand_table.hpp"
#include "toolkit/files.hpp"
#include "toolkit/package/package_input.hpp"
#include "toolkit/report/fleet_report.hpp"
#include "toolkit/report/verify_documents.hpp"
#include "toolkit/verify/junit_xml.hpp"

namespace zem::toolkit {
namespace {

struct ReportOptions {
  std::vector<std::string> documents;
  bool json = false;
  std::optional<std::string> html;
  std::optional<std::string> junit;
  bool force = false;
};

constexpr std::array<OptionSyntax, 4> option_syntax = {{
    {"--json", "", "", "Write one JSON document instead of lines"},
    {"--html", "", "FILE", "Also write the report as a page to FILE"},
    {"--junit", "", "FILE", "Also write JUnit XML to FILE: a test suite per device"},
    {"--force", "", "", "Write over the --html or --junit FILE if it exists"},
}};
constexpr std::array<OperandSyntax, 1> operand_syntax = {{
    {"FILE.json", Arity::one_or_more, "Documents that verify --json wrote"},
}};
constexpr std::array<std::string_view, 2> help_details = {
    "Reads documents that verify --json wrote, from shards of one fleet or from\n"
    "runs over time, and merges them into one report: each device's counts of\n"
    "statuses and of hint kinds, the fleet's total, and the tiles that do not\n"
    "match on some device side by side, a column per device, with the tiles\n"
    "that fail on every device and those that fail on one device only. The\n"
    "documents must be of one package (the same build digest) and of the\n"
    "format this zem-package writes; each device may be in one document only.\n",
    "--html writes the report as one self-contained HTML page, --junit as JUnit\n"
    "XML (a testsuite per device, a testcase per tile, as verify --junit). Their\n"
    "directories must exist; an existing FILE is kept unless --force.\n",
};
constexpr std::string_view exit_statuses =
    "Exit status: 0 every tile of every device matches; 1 one does not; 2 any\n"
    "other failure (bad usage, a document that cannot be read, is not a verify\n"
    "document or is of another package, a device in two documents).\n";

Outcome<ExitStatus> run(const ReportOptions& options, unsigned threads) {
  ZEM_ASSIGN_OR_RETURN(std::vector<VerifyDocument> documents,
                       read_verify_documents(options.documents, threads));
  ZEM_ASSIGN_OR_RETURN(const FleetReport report, merge_documents(std::move(documents)));
  fmt::print(stdout, "{}", options.json ? json_text(report_json(report)) : report_text(report));
  if (options.html) {
    ZEM_RETURN_IF_ERROR(write_text_file(*options.html, report_page(report), options.force));
  }
  if (options.junit) {
    ZEM_RETURN_IF_ERROR(write_text_file(
        *options.junit, junit_xml("zem-package report", report_junit(report)), options.force));
  }
  return report.all_match() ? ExitStatus::success : ExitStatus::negative;
}

Outcome<SubcommandRun> prepare(const ParsedArguments& arguments) {
  ReportOptions options;
  const std::span<const std::string> documents = arguments.operands("FILE.json");
  options.documents.assign(documents.begin(), documents.end());
  options.json = arguments.given("--json");
  options.force = arguments.given("--force");
  ZEM_ASSIGN_OR_RETURN(options.html, output_file_value(arguments, "--html"));
  ZEM_ASSIGN_OR_RETURN(options.junit, output_file_value(arguments, "--junit"));
  for (const auto& [option, file] :
       {std::pair{"--html", options.html}, {"--junit", options.junit}}) {
    if (file == standard_input_argument) {
      return std::unexpected(Failure{fmt::format(
          "{} needs a file name: standard output holds the lines or the JSON", option)});
    }
    if (file) ZEM_RETURN_IF_ERROR(check_output_place(*file, option, options.force));
  }
  if (options.force && !options.html && !options.junit) {
    return std::unexpected(Failure{"--force needs --html FILE or --junit FILE"});
  }
  if (options.html && options.junit && *options.html == *options.junit) {
    return std::unexpected(Failure{"--html and --junit name the same file"});
  }
  return [options = std::move(options)](unsigned threads) { return run(options, threads); };
}

}  // namespace

constinit const Subcommand report_subcommand{
    .name = "report",
    .summary = "Merge verify --json documents of a fleet into one report",
    .syntax = {option_syntax, operand_syntax},
    .details = help_details,
    .exit_status = exit_statuses,
    .prepare = prepare,
};

}  // namespace zem::toolkit
