#pragma once

#include <array>
#include <optional>
#include <string>

#include "zem_package/package_reading.hpp"

namespace zem::toolkit {

// The stages of reading and checking a package, in the order they run.
inline constexpr std::array all_stages = {ReadStage::framing,    ReadStage::header,
                                          ReadStage::blobs,      ReadStage::structure,
                                          ReadStage::validation, ReadStage::build_digest};

enum class StageStatus { ok, failed, skipped };

// The outcome of reading and checking one package, stage by stage: every
// stage before the failing one passed, the ones after it did not run.
struct CheckReport {
  std::optional<ReadFailure> failure;  // exactly what the library reports

  [[nodiscard]] bool valid() const noexcept { return !failure; }
  [[nodiscard]] StageStatus status(ReadStage stage) const noexcept;
};

// Checks a package as the library reads and completes it: the read's own
// stages, then validation and the build digest.
[[nodiscard]] CheckReport check_package(const ReadResult<PackageReading>& reading);

// One line per stage, each ending in a newline:
// "framing       ok", "blobs         failed: Invalid(\"blob digest mismatch\")",
// "validation    skipped".
[[nodiscard]] std::string check_lines(const CheckReport& report);

}  // namespace zem::toolkit
