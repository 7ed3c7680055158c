#include "read_completion.hpp"

#include <algorithm>

#include "zem_package/events.hpp"

namespace zem {

Result<void> complete_read(const Application& application, schema::Application::Reader root) {
  // Validation first: a package that breaks a rule reports the rule, even
  // when its digest is wrong too.
  ZEM_TRY(application.validate());

  const capnp::Data::Reader stored = root.getBuildDigest();
  const Digest computed = application.build_digest();
  if (!std::ranges::equal(std::span<const std::uint8_t>(stored.begin(), stored.size()), computed)) {
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
