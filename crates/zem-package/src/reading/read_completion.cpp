#include "reading/read_completion.hpp"

#include <algorithm>

#include "model/validation.hpp"
#include "zem_package/events.hpp"

namespace zem {

ReadResult<void> complete_model(const PackageModel& model,
                                const ReadResult<std::vector<std::uint8_t>>& stored_build_digest) {
  // Validation first: a package that breaks a rule reports the rule, even
  // when its digest is wrong too.
  if (auto valid = validate_model(model); !valid) {
    return std::unexpected(std::move(valid).error());
  }

  if (!stored_build_digest) return std::unexpected(stored_build_digest.error());
  const Digest computed = model.build_digest();
  if (!std::ranges::equal(*stored_build_digest, computed)) {
    return std::unexpected(
        ReadFailure{PackageError::invalid("build digest mismatch"),
                    ReadStage::build_digest,
                    ElementPath{{PackageField::build_digest}},
                    {{"stored", detail_value::Digest{*stored_build_digest, true}},
                     {"computed", detail_value::Digest{{computed.begin(), computed.end()}}}}});
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
