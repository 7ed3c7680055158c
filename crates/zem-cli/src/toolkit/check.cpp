#include "toolkit/check.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "toolkit/failure_report.hpp"

namespace zem::toolkit {
namespace {

// Widest stage name plus two spaces: the statuses line up.
constexpr std::size_t status_column = 14;
// The context of a failure stands two columns right of its status.
constexpr std::size_t context_column = status_column + 2;

// A survey reads the blobs and the structure each on its own.
[[nodiscard]] bool read_on_its_own(ReadStage stage) noexcept {
  return stage == ReadStage::blobs || stage == ReadStage::structure;
}

std::string context_lines(const ReadFailure& failure, const Application* model) {
  const std::vector<FailureDetail> context = failure_context(failure, model);
  std::size_t width = 0;
  for (const FailureDetail& detail : context) width = std::max(width, detail.name.size());
  std::string lines;
  for (const FailureDetail& detail : context) {
    lines += fmt::format("{:{}}{:<{}}  {}\n", "", context_column, detail.name, width, detail.value);
  }
  return lines;
}

}  // namespace

StageStatus CheckReport::status(ReadStage stage) const noexcept {
  if (failures.empty()) return StageStatus::ok;
  if (std::ranges::any_of(failures, [stage](const ReadFailure& f) { return f.stage == stage; })) {
    return StageStatus::failed;
  }
  const ReadStage first = failures.front().stage;
  if (stage < first) return StageStatus::ok;
  return read_on_its_own(stage) && read_on_its_own(first) ? StageStatus::ok : StageStatus::skipped;
}

CheckReport check_package(const ReadResult<PackageReading>& survey) {
  if (!survey) return {{survey.error()}};
  const std::span<const ReadFailure> failures = survey->failures();
  if (!failures.empty()) return {{failures.begin(), failures.end()}};
  if (auto completed = survey->complete(); !completed) return {{std::move(completed).error()}};
  return {};
}

std::string check_lines(const CheckReport& report, const Application* model,
                        const std::vector<Note>& notes) {
  std::string lines;
  for (const ReadStage stage : all_stages) {
    const std::string_view name = stage_name(stage);
    switch (report.status(stage)) {
      case StageStatus::ok:
        lines += fmt::format("{:<{}}ok\n", name, status_column);
        break;
      case StageStatus::failed: {
        bool first = true;
        for (const ReadFailure& failure : report.failures) {
          if (failure.stage != stage) continue;
          lines +=
              fmt::format("{:<{}}{}\n", first ? name : "", status_column, failure_status(failure));
          lines += context_lines(failure, model);
          first = false;
        }
        break;
      }
      case StageStatus::skipped:
        lines += fmt::format("{:<{}}skipped\n", name, status_column);
        break;
    }
  }
  return lines + notes_text(notes);
}

}  // namespace zem::toolkit
