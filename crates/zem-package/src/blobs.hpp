#pragma once

#include <cstdint>
#include <span>

#include "zem_package/application.capnp.h"
#include "zem_package/application.hpp"

namespace zem {

class BlobMemory;

// The contents of a Zstandard-compressed payload, decompressed in one call
// into one buffer of at most `uncompressed_size` bytes, taken from `memory`.
[[nodiscard]] Result<ByteBuffer> decompress_blob(std::span<const std::uint8_t> payload,
                                                 std::uint64_t uncompressed_size,
                                                 BlobMemory& memory);

// Reads the blob table into `application.blobs` and `blobs_by_digest`:
// each blob decompressed, hashed, checked against its stored digest and
// refused if its digest was seen before. Runs inside a Cap'n Proto boundary.
[[nodiscard]] Result<void> read_blobs(capnp::List<schema::Blob>::Reader blobs,
                                      Application& application);

}  // namespace zem
