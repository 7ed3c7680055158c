#pragma once

#include <array>
#include <string>
#include <vector>

#include "toolkit/package_notes.hpp"
#include "zem_package/package_reading.hpp"

namespace zem::toolkit {

// The stages of reading and checking a package, in the order they run.
inline constexpr std::array all_stages = {ReadStage::framing,    ReadStage::header,
                                          ReadStage::blobs,      ReadStage::structure,
                                          ReadStage::validation, ReadStage::build_digest};

enum class StageStatus { ok, failed, skipped };

// The outcome of reading and checking one package, stage by stage.
//
// A package is surveyed: past a failing blob or part of the structure, the
// parts that do not depend on it are still read, so the blobs and the
// structure can each pass or fail whatever the other did. Validation and the
// build digest need everything before them, and are skipped after any
// failure; so is every stage after a failing framing or header.
struct CheckReport {
  // The failures in read order; the first is exactly what a strict read of
  // the package reports.
  std::vector<ReadFailure> failures;

  [[nodiscard]] bool valid() const noexcept { return failures.empty(); }
  [[nodiscard]] StageStatus status(ReadStage stage) const noexcept;
};

// Checks a package surveyed by the library: the survey's failures, or when
// it met none, the completion's (validation, then the build digest).
[[nodiscard]] CheckReport check_package(const ReadResult<PackageReading>& survey);

// `check`'s text: one line per stage, "framing       ok", "blobs         failed
// at blobs[1].digest: Invalid(\"blob digest mismatch\")" with the failure's
// context indented under it, "validation    skipped"; then the notes, one
// "note: ..." line each. Every line ends in a newline. `model` is the
// surveyed package's, when its message could be read.
[[nodiscard]] std::string check_lines(const CheckReport& report, const Application* model,
                                      const std::vector<Note>& notes);

}  // namespace zem::toolkit
