#pragma once

#include <array>
#include <string>
#include <vector>

#include "format/json_values.hpp"
#include "toolkit/package/package_notes.hpp"
#include "zem_package/package.hpp"

namespace zem::toolkit {

// The outcome of reading and checking one package, stage by stage, as the
// library's survey found it: past a failing blob or part of the structure
// the parts that do not depend on it are still read, so the blobs and the
// structure can each pass or fail whatever the other did; validation and
// the build digest run only when nothing before them failed.
struct CheckReport {
  // The failures in read order; the first is exactly what a strict read of
  // the package reports.
  std::vector<ReadFailure> failures;
  // Each stage's state, in the order of `all_read_stages`.
  std::array<StageState, all_read_stages.size()> stages{};
  // Failing blobs the survey counted past those it lists.
  std::uint64_t unlisted_blob_failures = 0;
  // What may help when the file is no package at all: "looks like a gzip
  // file: decompress it first".
  std::vector<std::string> hints;

  [[nodiscard]] bool valid() const noexcept { return failures.empty(); }
  [[nodiscard]] StageState state(ReadStage stage) const noexcept {
    return stages[static_cast<std::size_t>(stage)];
  }
};

// The check of a package surveyed by the library. A survey that could not
// read the framing or the header passed the stages before the failing one
// and ran none after it.
[[nodiscard]] CheckReport check_package(const ReadResult<Package>& survey);

// "ok", "failed" or "skipped".
[[nodiscard]] std::string_view state_text(StageState state) noexcept;

// `check`'s text: one line per stage, "framing       ok", "blobs         failed
// at blobs[1].digest: Invalid(\"blob digest mismatch\")" with the failure's
// context indented under it (and "and 3 more failing blobs" past those
// listed), "validation    skipped"; then the hints, one "hint: ..." line
// each, and the notes, one "note: ..." line each. Every line ends in a newline. `model` is the
// surveyed package's, when its message could be read.
[[nodiscard]] std::string check_lines(const CheckReport& report, const PackageModel* model,
                                      const std::vector<Note>& notes);

// {"framing": "ok", ..., "buildDigest": "skipped"}.
[[nodiscard]] Json checks_json(const CheckReport& report);

}  // namespace zem::toolkit
