#pragma once

// The one place where writing meets reading: a package read for unpacking or
// repacking, strictly, with every check of a read and its completion. When
// the reading's entry points change, this is what follows them.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "blobs/blob_observer.hpp"
#include "reading/message_reader.hpp"
#include "zem_package/write_failure.hpp"

namespace zem {

// Where the package comes from: the file at `path`, or else `bytes`.
struct PackageOrigin {
  std::optional<std::string> path;
  std::span<const std::uint8_t> bytes;
};

struct CheckedRead {
  ReadPackage package;
  // The build digest's failure, when `allow_build_digest_failure` let the
  // read pass without it.
  std::optional<ReadFailure> build_digest_failure;
};

// Reads the package strictly on `threads` threads, each blob handed to
// `observer` (when given) as it is checked, and completes the read. A read
// that fails is `invalid_package`; a file that cannot be opened is `file`.
// With `allow_build_digest_failure`, a package that fails only its build
// digest passes, its failure kept.
[[nodiscard]] WriteResult<CheckedRead> read_checked(const PackageOrigin& origin, unsigned threads,
                                                    BlobObserver* observer,
                                                    bool allow_build_digest_failure);

}  // namespace zem
