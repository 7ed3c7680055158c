#include "zem_package/reader.hpp"

#include <algorithm>

#include "zem_package/events.hpp"

namespace zem {

Result<void> complete_read(const PackageContents& contents) {
  const Application& application = contents.application;
  // Validation first: a package that breaks a rule reports the rule, even
  // when its digest is wrong too.
  ZEM_TRY(application.validate());

  if (!contents.stored_build_digest) {
    return std::unexpected(contents.stored_build_digest.error());
  }
  const Digest computed = application.build_digest();
  if (!std::ranges::equal(*contents.stored_build_digest, computed)) {
    return std::unexpected(PackageError::invalid("build digest mismatch"));
  }

  if (events::enabled(events::Level::info)) {
    events::emit(events::Level::info, "application package read",
                 {{"tiles", std::uint64_t{application.tiles.size()}},
                  {"blobs", std::uint64_t{application.blobs.size()}},
                  {"compiler", application.compiler}});
  }
  return {};
}

}  // namespace zem
