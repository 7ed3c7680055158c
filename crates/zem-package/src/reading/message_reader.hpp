#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

#include "blobs/blob_check.hpp"
#include "message/framing.hpp"
#include "zem_package/package_model.hpp"
#include "zem_package/package.hpp"

namespace zem {

// What a read takes from a package's message.
struct MessageContents {
  // Blobs hold their digests, sizes and storage.
  PackageModel model;
  // Each checked blob's contents, when they were kept.
  std::vector<ByteBuffer> kept_contents;
  std::unordered_map<Digest, std::size_t, DigestHash> blobs_by_digest;
  // Each checked blob's payload as stored, in the message's memory.
  std::vector<std::span<const std::uint8_t>> payloads;
  // The stored build digest, or the failure met following its pointer.
  ReadResult<std::vector<std::uint8_t>> stored_build_digest;
  // How each blob of the table is stored, as far as it could be followed;
  // `model.blobs` holds the ones that were checked.
  std::vector<BlobStorage> stored_blobs;
  // The failures met, in read order; empty for a strict read that passed.
  std::vector<ReadFailure> failures;
  // What became of each part, and where its failures stand in `failures`
  // (which are in read order, and so grouped by part).
  struct Part {
    PartState state = PartState::not_read;
    std::size_t first_failure = 0;
    std::size_t failure_count = 0;
    std::uint64_t unlisted_failures = 0;  // met past the most listed
  };
  std::array<Part, all_package_parts.size()> parts{};
};

// A package's message and what a read took from it.
struct ReadPackage {
  FramedMessage message;
  MessageContents contents;
};

// Every step of a read but its completion: the event "reading application
// package", the framing (read by `frame`), then the message: the header, the
// compiler, the blobs (each checked, on up to `options.threads` threads;
// contents kept or not), the structure and the stored build digest. The
// first failure in read order is reported, placed.
//
// A survey fails only when the framing or the header cannot be read;
// otherwise its contents hold every part that could be read and the failures
// it met. A strict read hands each blob it checks to `observer`, when given.
[[nodiscard]] ReadResult<ReadPackage> read_package(
    const std::function<Result<FramedMessage>()>& frame, const ReadOptions& options,
    KeepContents keep, BlobObserver* observer = nullptr);

}  // namespace zem
