#include "read_completion.hpp"

#include <algorithm>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "validation.hpp"
#include "zem_package/events.hpp"

namespace zem {
ReadResult<void> complete_model(const Application& model, std::span<const std::uint64_t> blob_sizes,
                                const ReadResult<std::vector<std::uint8_t>>& stored_build_digest) {
  // Validation first: a package that breaks a rule reports the rule, even
  // when its digest is wrong too.
  if (auto valid = validate_model(model, blob_sizes); !valid) {
    return std::unexpected(std::move(valid).error());
  }

  if (!stored_build_digest) return std::unexpected(stored_build_digest.error());
  const Digest computed = model.build_digest();
  if (!std::ranges::equal(*stored_build_digest, computed)) {
    return std::unexpected(ReadFailure{
        PackageError::invalid("build digest mismatch"),
        ReadStage::build_digest,
        "buildDigest",
        {{"stored", fmt::format("{:02x} ({} bytes)", fmt::join(*stored_build_digest, ""),
                                stored_build_digest->size())},
         {"computed", fmt::format("{:02x}", fmt::join(computed, ""))}}});
  }

  if (events::enabled(events::Level::info)) {
    events::emit(events::Level::info, "application package read",
                 {{"tiles", std::uint64_t{model.tiles.size()}},
                  {"blobs", std::uint64_t{model.blobs.size()}},
                  {"compiler", model.compiler}});
  }
  return {};
}

}  // namespace zem
