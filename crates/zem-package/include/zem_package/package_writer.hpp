#pragma once

// Writing a package: the inverse of a read. The writer takes a model and its
// blobs' contents, computes each blob's digest from its contents, compresses
// on several threads, lays the message out, computes the build digest and
// stores it. It checks first what a read checks (the blobs against their
// digests, no digest twice, the texts, every rule of validation) and never
// writes a package that a read refuses: it says why in the read's words.
//
// The same input gives the same bytes, whatever the number of threads. A
// file is written under a temporary name beside its target and renamed into
// place once whole, so a failed or interrupted write never leaves a partial
// package under the target's name.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "zem_package/api.hpp"
#include "zem_package/application.hpp"
#include "zem_package/byte_buffer.hpp"
#include "zem_package/package_model.hpp"
#include "zem_package/write_failure.hpp"

namespace zem {

// The Zstandard levels a writer compresses at.
inline constexpr int min_zstd_level = 1;
inline constexpr int max_zstd_level = 22;
inline constexpr int default_zstd_level = 3;

// How one blob is stored in the package written.
//
// The contents as they are.
struct StorePlain {
  friend bool operator==(const StorePlain&, const StorePlain&) = default;
};
// Compressed by the writer into one Zstandard frame at `level`. The
// declared uncompressed size is the contents' size unless given; a read
// accepts any size from the contents' up to 2^63 - 1.
struct StoreZstd {
  int level = default_zstd_level;
  std::optional<std::uint64_t> declared_size;
  friend bool operator==(const StoreZstd&, const StoreZstd&) = default;
};
// A Zstandard frame given as it is and stored unchanged; it must hold the
// blob's contents.
struct StoreFrame {
  ByteBuffer frame;
  std::optional<std::uint64_t> declared_size;
  friend bool operator==(const StoreFrame&, const StoreFrame&) = default;
};
using BlobStorageChoice = std::variant<StorePlain, StoreZstd, StoreFrame>;

struct WriteOptions {
  // Threads that hash and compress blobs, the calling one included; the
  // bytes written are the same on any number.
  unsigned threads = 1;
  // Whether a file already at the target's path is replaced; without it the
  // write fails and leaves the file as it is.
  bool replace_existing = false;
};

// What a write produced.
struct WrittenPackage {
  std::uint64_t size = 0;  // bytes of the file
  Digest build_digest{};
  // Each blob as written: its digest, the size of its contents, and how and
  // where it is stored.
  std::vector<BlobInfo> blobs;
};

// The bytes of the package for `model`, its blob `i` stored as `storage[i]`
// says (plain beyond the list). Each blob's digest must be the SHA-256 of its
// contents, as a read finds it; `blobs_by_digest` is not looked at.
[[nodiscard]] ZEM_PACKAGE_API WriteResult<std::vector<std::uint8_t>> write_package(
    const Application& model, std::span<const BlobStorageChoice> storage = {},
    const WriteOptions& options = {});

// Writes the same package to the file at `path`.
[[nodiscard]] ZEM_PACKAGE_API WriteResult<WrittenPackage> write_package_file(
    const Application& model, std::span<const BlobStorageChoice> storage, const std::string& path,
    const WriteOptions& options = {});

}  // namespace zem
