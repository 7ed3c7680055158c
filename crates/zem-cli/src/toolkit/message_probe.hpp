#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "toolkit/stage.hpp"

namespace zem::toolkit {

// How one blob is stored in the file. The library's model keeps only a blob's
// contents and digest, so these come from the message itself.
struct BlobEncoding {
  std::uint64_t stored_size = 0;    // bytes of the payload as stored
  std::uint16_t compression = 0;    // the raw code: 0 none, 1 zstd
  std::uint64_t declared_size = 0;  // `uncompressedSize`, an upper bound for zstd
};

// The storage of every blob, in file order, or nothing when the blob table of
// `package` cannot be traversed.
[[nodiscard]] std::optional<std::vector<BlobEncoding>> read_blob_encodings(
    std::span<const std::uint8_t> package);

// The part of `package` where a read first fails on the message itself (a
// pointer that cannot be followed, a text that is not UTF-8), walking the
// parts in the reader's order: the framing and root, the header texts (target
// and compiler), the blob table, and then the rest of the structure. Only
// `framing`, `header`, `blobs` and `structure` are answered.
[[nodiscard]] Stage locate_message_failure(std::span<const std::uint8_t> package);

}  // namespace zem::toolkit
