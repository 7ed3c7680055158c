#include "toolkit/package/check_report.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "toolkit/package/failure_report.hpp"

namespace zem::toolkit {
namespace {

// Widest stage name plus two spaces: the statuses line up.
constexpr std::size_t status_column = 14;
// The context of a failure stands two columns right of its status.
constexpr std::size_t context_column = status_column + 2;

std::string context_lines(const ReadFailure& failure, const PackageModel* model) {
  const std::vector<ContextLine> context = failure_context(failure, model);
  std::size_t width = 0;
  for (const ContextLine& line : context) width = std::max(width, line.name.size());
  std::string lines;
  for (const ContextLine& line : context) {
    lines += fmt::format("{:{}}{:<{}}  {}\n", "", context_column, line.name, width, line.value);
  }
  return lines;
}

}  // namespace

CheckReport check_package(const ReadResult<Package>& survey) {
  CheckReport report;
  if (!survey) {
    const ReadStage failed = survey.error().stage;
    report.failures = {survey.error()};
    for (const ReadStage stage : all_read_stages) {
      report.stages[static_cast<std::size_t>(stage)] = stage < failed    ? StageState::passed
                                                       : stage == failed ? StageState::failed
                                                                         : StageState::not_run;
    }
    return report;
  }
  report.failures.assign(survey->failures().begin(), survey->failures().end());
  report.unlisted_blob_failures = survey->unlisted_failures(PackagePart::blobs);
  for (const ReadStage stage : all_read_stages) {
    report.stages[static_cast<std::size_t>(stage)] = survey->stage_state(stage);
  }
  return report;
}

std::string_view state_text(StageState state) noexcept {
  switch (state) {
    case StageState::passed:
      return "ok";
    case StageState::failed:
      return "failed";
    case StageState::not_run:
      return "skipped";
  }
  return "unknown";
}

std::string check_lines(const CheckReport& report, const PackageModel* model,
                        const std::vector<Note>& notes) {
  std::string lines;
  for (const ReadStage stage : all_read_stages) {
    const std::string_view name = stage_name(stage);
    const StageState state = report.state(stage);
    if (state != StageState::failed) {
      lines += fmt::format("{:<{}}{}\n", name, status_column, state_text(state));
      continue;
    }
    bool first = true;
    for (const ReadFailure& failure : report.failures) {
      if (failure.stage != stage) continue;
      lines += fmt::format("{:<{}}{}\n", first ? name : "", status_column, failure_status(failure));
      lines += context_lines(failure, model);
      first = false;
    }
    if (stage == ReadStage::blobs && report.unlisted_blob_failures > 0) {
      lines +=
          fmt::format("{:<{}}and {} more failing blob{}\n", "", status_column,
                      report.unlisted_blob_failures, report.unlisted_blob_failures == 1 ? "" : "s");
    }
  }
  for (const std::string& hint : report.hints) lines += fmt::format("hint: {}\n", hint);
  return lines + notes_text(notes);
}

Json checks_json(const CheckReport& report) {
  Json checks = Json::object();
  for (const ReadStage stage : all_read_stages) {
    checks[stage_key(stage)] = std::string(state_text(report.state(stage)));
  }
  return checks;
}

}  // namespace zem::toolkit
