// `inspect` and `check`: what a package holds and whether it is valid, as
// far as it can be read.

#include <fmt/format.h>

#include <algorithm>

#include "toolkit/check.hpp"
#include "toolkit/commands.hpp"
#include "toolkit/failure_report.hpp"
#include "toolkit/json_values.hpp"
#include "toolkit/package_file.hpp"
#include "toolkit/package_json.hpp"
#include "toolkit/package_notes.hpp"
#include "toolkit/package_tables.hpp"

namespace zem::toolkit {
namespace {

// Version of the JSON document that `check --json` writes.
constexpr int check_json_format = 1;
// The name in the "package" line that heads each of several packages'
// blocks starts where the stages' statuses do.
constexpr std::size_t name_column = 14;

ExitStatus verdict(const CheckReport& report) {
  return report.valid() ? ExitStatus::success : ExitStatus::negative;
}

// The notes on a package whose message could be read; none otherwise.
std::vector<Note> notes_of(const PackageInput& input) {
  if (!input.reading) return {};
  return package_notes(*input.reading, input.trailing_bytes);
}

const Application* model_of(const PackageInput& input) {
  return input.reading ? &input.reading->model() : nullptr;
}

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
              {"notes", Json::array()}};
}

}  // namespace

Outcome<ExitStatus> run_inspect(const InspectOptions& options, const ReadOptions& read) {
  ZEM_ASSIGN_OR_RETURN(const PackageInput input,
                       read_package(options.package, read, ReadKind::survey));
  Inspection inspection;
  inspection.path = options.package;
  inspection.check = check_package(input.reading);
  inspection.notes = notes_of(input);
  if (input.reading) inspection.reading = &*input.reading;
  const std::string text =
      options.json ? json_text(inspection_json(inspection)) : inspection_text(inspection);
  fmt::print(stdout, "{}", text);
  return verdict(inspection.check);
}

// Each package in turn: one that cannot be read is reported on standard
// error at once, and the next is checked. The status is the worst of them.
Outcome<ExitStatus> run_check(const CheckOptions& options, const ReadOptions& read) {
  const bool several = options.packages.size() > 1;
  ExitStatus worst = ExitStatus::success;
  Json packages = Json::array();
  bool first_block = true;
  for (const std::string& package : options.packages) {
    const Outcome<PackageInput> input = read_package(package, read, ReadKind::survey);
    if (!input) {
      report(input.error());
      worst = ExitStatus::failure;
      packages.push_back(unreadable_json(package, input.error()));
      continue;
    }
    const CheckReport report = check_package(input->reading);
    const std::vector<Note> notes = notes_of(*input);
    worst = std::max(worst, verdict(report));
    if (options.json) {
      packages.push_back(check_json(package, report, notes));
      continue;
    }
    std::string block;
    if (several) {
      if (!first_block) block += '\n';
      block += fmt::format("{:<{}}{}\n", "package", name_column, package_name(package));
    }
    block += check_lines(report, model_of(*input), notes);
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

}  // namespace zem::toolkit
