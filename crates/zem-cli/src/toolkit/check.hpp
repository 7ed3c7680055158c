#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "toolkit/stage.hpp"
#include "zem_package/reader.hpp"

namespace zem::toolkit {

enum class StageStatus { ok, failed, skipped };

// The outcome of reading and checking one package, stage by stage: every
// stage before the failing one passed, the ones after it did not run.
struct CheckReport {
  struct Failure {
    Stage stage;
    PackageError error;  // exactly the library's error
  };
  std::optional<Failure> failure;

  [[nodiscard]] bool valid() const noexcept { return !failure; }
  [[nodiscard]] StageStatus status(Stage stage) const noexcept;
};

// The stage at which a read of the package's contents failed with `error`.
// Rule failures and blob errors name their stage by themselves; an error on
// the message itself (`Capnp`, `Utf8`) is placed by walking `package` to the
// first part that cannot be read.
[[nodiscard]] Stage read_failure_stage(const PackageError& error,
                                       std::span<const std::uint8_t> package);

// Checks a package whose contents were read (or not) from `package`: the
// read's own stages, then validation and the build digest, exactly as the
// library completes a read.
[[nodiscard]] CheckReport check_package(const Result<PackageContents>& contents,
                                        std::span<const std::uint8_t> package);

// One line per stage, each ending in a newline:
// "framing       ok", "blobs         failed: Invalid(\"blob digest mismatch\")",
// "validation    skipped".
[[nodiscard]] std::string check_lines(const CheckReport& report);

}  // namespace zem::toolkit
