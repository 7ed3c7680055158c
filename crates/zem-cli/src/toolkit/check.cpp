#include "toolkit/check.hpp"

#include <fmt/format.h>

namespace zem::toolkit {
namespace {

// Widest stage name plus two spaces: the statuses line up.
constexpr std::size_t status_column = 14;

}  // namespace

StageStatus CheckReport::status(ReadStage stage) const noexcept {
  if (!failure || stage < failure->stage) return StageStatus::ok;
  return stage == failure->stage ? StageStatus::failed : StageStatus::skipped;
}

CheckReport check_package(const ReadResult<PackageReading>& reading) {
  if (!reading) return {reading.error()};
  if (auto completed = reading->complete(); !completed) return {std::move(completed).error()};
  return {};
}

std::string check_lines(const CheckReport& report) {
  std::string lines;
  for (const ReadStage stage : all_stages) {
    const std::string_view name = stage_name(stage);
    switch (report.status(stage)) {
      case StageStatus::ok:
        lines += fmt::format("{:<{}}ok\n", name, status_column);
        break;
      case StageStatus::failed:
        lines += fmt::format("{:<{}}failed: {}\n", name, status_column,
                             report.failure->error.to_string());
        break;
      case StageStatus::skipped:
        lines += fmt::format("{:<{}}skipped\n", name, status_column);
        break;
    }
  }
  return lines;
}

}  // namespace zem::toolkit
