#include "toolkit/check.hpp"

#include <fmt/format.h>

#include <variant>

#include "toolkit/message_probe.hpp"

namespace zem::toolkit {
namespace {

// Widest stage name plus two spaces: the statuses line up.
constexpr std::size_t status_column = 14;

struct StageOfError {
  std::span<const std::uint8_t> package;

  Stage operator()(const PackageError::Capnp&) const { return locate_message_failure(package); }
  Stage operator()(const PackageError::Utf8&) const { return locate_message_failure(package); }
  // Decompression is the only I/O of a read after the framing.
  Stage operator()(const PackageError::Io&) const { return Stage::blobs; }
  // The only enumeration of a package is a blob's compression.
  Stage operator()(const PackageError::SchemaEnum&) const { return Stage::blobs; }
  Stage operator()(const PackageError::Invalid& invalid) const {
    if (invalid.message == "incompatible package header") return Stage::header;
    if (invalid.message == "blob digest mismatch" ||
        invalid.message == "duplicate package blob digest") {
      return Stage::blobs;
    }
    // The read raises no other rule; completion's rules are placed by
    // `check_package` itself.
    return Stage::structure;
  }
};

}  // namespace

StageStatus CheckReport::status(Stage stage) const noexcept {
  if (!failure || stage < failure->stage) return StageStatus::ok;
  return stage == failure->stage ? StageStatus::failed : StageStatus::skipped;
}

Stage read_failure_stage(const PackageError& error, std::span<const std::uint8_t> package) {
  return std::visit(StageOfError{package}, error.value);
}

CheckReport check_package(const Result<PackageContents>& contents,
                          std::span<const std::uint8_t> package) {
  if (!contents) {
    return {CheckReport::Failure{read_failure_stage(contents.error(), package), contents.error()}};
  }
  // The library completes the read: validation first, then the build digest.
  // Validation alone tells which of the two failed.
  const Result<void> completed = complete_read(*contents);
  if (completed) return {};
  const Stage stage = contents->application.validate() ? Stage::build_digest : Stage::validation;
  return {CheckReport::Failure{stage, completed.error()}};
}

std::string check_lines(const CheckReport& report) {
  std::string lines;
  for (const Stage stage : all_stages) {
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
