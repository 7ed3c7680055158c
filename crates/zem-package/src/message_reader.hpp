#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "blob_check.hpp"
#include "framing.hpp"
#include "zem_package/application.hpp"
#include "zem_package/package_reading.hpp"

namespace zem {

// What a read takes from a package's message.
struct MessageContents {
  // Blobs hold their digests, and their contents when they were kept.
  Application model;
  std::vector<BlobInfo> blobs;
  // Each blob's payload as stored, in the message's memory.
  std::vector<std::span<const std::uint8_t>> payloads;
  // The stored build digest, or the failure met following its pointer.
  ReadResult<std::vector<std::uint8_t>> stored_build_digest;
  // How each blob of the table is stored, as far as it could be followed;
  // `blobs` holds the ones that were checked.
  std::vector<BlobStorage> stored_blobs;
  // The failures a survey met, in read order; empty for a read that passed.
  std::vector<ReadFailure> failures;
};

// How a read meets a failure: it stops there, or, as a survey, it goes on
// with every part that does not depend on the one that failed.
enum class ReadMode : bool { strict, survey };

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
// it met.
[[nodiscard]] ReadResult<ReadPackage> read_package(
    const std::function<Result<FramedMessage>()>& frame, const ReadOptions& options,
    KeepContents keep, ReadMode mode = ReadMode::strict);

}  // namespace zem
