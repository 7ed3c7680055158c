// `inspect`: everything a package holds, as far as it can be read.

#include <fmt/format.h>

#include <array>

#include "toolkit/commands/help_paragraphs.hpp"
#include "toolkit/commands/subcommand_table.hpp"
#include "toolkit/inspect/inspection_json.hpp"
#include "toolkit/inspect/inspection_text.hpp"
#include "toolkit/package/check_report.hpp"
#include "toolkit/package/package_input.hpp"
#include "toolkit/package/package_notes.hpp"

namespace zem::toolkit {
namespace {

struct InspectOptions {
  std::string package;
  bool json = false;
};

constexpr std::array<OptionSyntax, 1> option_syntax = {{
    {"--json", "", "", "Write one JSON document instead of tables"},
}};
constexpr std::array<OperandSyntax, 1> operand_syntax = {{
    {"PACKAGE", Arity::one, "Package file, or - for standard input"},
}};
constexpr std::array<std::string_view, 3> help_details = {
    "A package that fails a check is shown as far as it could be read, the line\n"
    "of each element that failed marked with ! in the margin.\n",
    standard_input_help,
    threads_help,
};
constexpr std::string_view exit_statuses =
    "Exit status: 0 the package is valid; 1 it is not; 2 any other failure (bad\n"
    "usage, a file that cannot be opened or read).\n";

Outcome<ExitStatus> run(const InspectOptions& options, unsigned threads) {
  ZEM_ASSIGN_OR_RETURN(const PackageInput input,
                       read_package(options.package, {threads, ReadMode::survey}));
  Inspection inspection;
  inspection.path = options.package;
  inspection.check = check_package(input.package);
  inspection.check.hints = input.hints;
  if (input.package) {
    inspection.package = &*input.package;
    inspection.notes = package_notes(*input.package, input.trailing_bytes);
  }
  const std::string text =
      options.json ? json_text(inspection_json(inspection)) : inspection_text(inspection);
  fmt::print(stdout, "{}", text);
  return inspection.check.valid() ? ExitStatus::success : ExitStatus::negative;
}

Outcome<SubcommandRun> prepare(const ParsedArguments& arguments) {
  const InspectOptions options{arguments.operand("PACKAGE"), arguments.given("--json")};
  return [options](unsigned threads) { return run(options, threads); };
}

}  // namespace

constinit const Subcommand inspect_subcommand{
    .name = "inspect",
    .summary = "Show what a package holds, as far as it can be read",
    .syntax = {option_syntax, operand_syntax},
    .details = help_details,
    .exit_status = exit_statuses,
    .prepare = prepare,
};

}  // namespace zem::toolkit
