#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "zem_package/application.capnp.h"
#include "message/pointer_bounds.hpp"
#include "zem_package/package_error.hpp"
#include "zem_package/package_model.hpp"

namespace zem {

// One blob as its message stores it: views into the message's memory, which
// must outlive it.
struct StoredBlob {
  std::span<const std::uint8_t> payload;  // `data`, as stored
  std::uint16_t compression = 0;          // the raw code, checked when the blob is
  std::uint64_t declared_size = 0;        // `uncompressedSize`
  std::span<const std::uint8_t> digest;   // the stored digest
  // A pointer of the blob that could not be followed. A read meets the
  // payload's pointer before anything else of the blob, and the digest's only
  // after the contents, so the two are told apart.
  std::optional<PackageError> payload_error;
  std::optional<PackageError> digest_error;
  // Where the payload starts in the message's bytes, for a payload that is
  // not empty.
  std::optional<std::uint64_t> file_offset;

  [[nodiscard]] BlobStorage storage() const noexcept {
    return BlobStorage{compression, payload.size(), declared_size, file_offset.value_or(0)};
  }
};

// Follows the pointers of the blobs from `first` on, at most `count` of
// them, in list order, exactly as a read of the table does, so that the
// message's traversal budget is spent in the same order. Stops after the
// first blob with a pointer that cannot be followed: a read never gets past
// it. Everything else about the blobs (contents, digests, duplicates) is
// checked afterwards, away from the message's readers, which are not safe to
// share between threads.
//
// `message` is the message's bytes, which the payloads lie in; `bounds`,
// when given, checks each pointer before it is followed.
[[nodiscard]] std::vector<StoredBlob> read_blob_table(capnp::List<schema::Blob>::Reader blobs,
                                                      std::span<const std::uint8_t> message,
                                                      std::size_t first, std::size_t count,
                                                      const PointerBounds* bounds = nullptr);

}  // namespace zem
