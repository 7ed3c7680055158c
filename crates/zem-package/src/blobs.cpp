#include "blobs.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include <fmt/format.h>
#define ZSTD_STATIC_LINKING_ONLY  // for ZSTD_decompressBound
#include <zstd.h>

#include "blob_memory.hpp"
#include "sha256.hpp"

namespace zem {
namespace {

PackageError decompression_error(std::string description) {
  return PackageError::io("Other", std::move(description));
}

struct FreeDecompressionContext {
  void operator()(ZSTD_DCtx* context) const noexcept { ZSTD_freeDCtx(context); }
};

std::span<const std::uint8_t> bytes_of(capnp::Data::Reader data) {
  return {data.begin(), data.size()};
}

}  // namespace

namespace {

// The most bytes that decompressing `payload` can write before it ends or
// fails. Every block of a frame yields at most 128 KiB and takes at least 3
// bytes of input, whatever its frame header declares; for well-formed frames
// the decompressor's own bound is usually far tighter.
std::uint64_t output_bound(std::span<const std::uint8_t> payload) {
  constexpr std::uint64_t block_size_max = 128 * 1024;
  constexpr std::uint64_t block_header_size = 3;
  const std::uint64_t by_blocks = (payload.size() / block_header_size + 1) * block_size_max;
  const unsigned long long declared = ZSTD_decompressBound(payload.data(), payload.size());
  return declared == ZSTD_CONTENTSIZE_ERROR ? by_blocks
                                            : std::min<std::uint64_t>(declared, by_blocks);
}

// A copy of a payload stored plain.
ByteBuffer plain_contents(std::span<const std::uint8_t> payload, BlobMemory& memory) {
  std::optional<ByteBuffer> buffer = memory.take(payload.size());
  if (!buffer) {
    throw std::bad_alloc();
  }
  if (!payload.empty()) {
    std::memcpy(buffer->data(), payload.data(), payload.size());
  }
  return std::move(*buffer);
}

// The blob's contents: the payload itself, or what it decompresses to.
Result<ByteBuffer> contents_of(schema::Blob::Reader blob, std::span<const std::uint8_t> payload,
                               BlobMemory& memory) {
  const schema::Compression compression = blob.getCompression();
  switch (compression) {
    case schema::Compression::NONE:
      return plain_contents(payload, memory);
    case schema::Compression::ZSTD:
      return decompress_blob(payload, blob.getUncompressedSize(), memory);
  }
  // Cap'n Proto hands an enumerant the schema does not define through as its
  // raw number, so it lands here.
  return std::unexpected(PackageError::schema_enum(static_cast<std::uint16_t>(compression)));
}

}  // namespace

Result<ByteBuffer> decompress_blob(std::span<const std::uint8_t> payload,
                                   std::uint64_t uncompressed_size, BlobMemory& memory) {
  // The declared size is only an upper bound and may be anything up to 2^64-1.
  // Capacity beyond what the payload can produce could never be written, so
  // it is not reserved either; whether the contents fit is decided as with
  // the full declared capacity.
  const std::uint64_t capacity = std::min(uncompressed_size, output_bound(payload));
  std::optional<ByteBuffer> buffer;
  if (capacity <= SIZE_MAX) {
    buffer = memory.take(static_cast<std::size_t>(capacity));
  }
  if (!buffer) {
    return std::unexpected(decompression_error(
        fmt::format("cannot allocate {} bytes for a decompressed blob", capacity)));
  }
  const std::unique_ptr<ZSTD_DCtx, FreeDecompressionContext> context(ZSTD_createDCtx());
  if (!context) {
    return std::unexpected(decompression_error("cannot allocate a decompression context"));
  }
  const std::size_t written = ZSTD_decompressDCtx(context.get(), buffer->data(), buffer->size(),
                                                  payload.data(), payload.size());
  if (ZSTD_isError(written) != 0) {
    return std::unexpected(decompression_error(ZSTD_getErrorName(written)));
  }
  memory.shrink_last(*buffer, written);
  return std::move(*buffer);
}

Result<void> read_blobs(capnp::List<schema::Blob>::Reader blobs, Application& application) {
  application.blobs.reserve(blobs.size());
  application.blobs_by_digest.reserve(blobs.size());
  BlobMemory memory;
  for (const schema::Blob::Reader blob : blobs) {
    const std::span<const std::uint8_t> payload = bytes_of(blob.getData());

    auto contents = contents_of(blob, payload, memory);
    if (!contents) return std::unexpected(std::move(contents).error());

    const Digest digest = sha256(contents->bytes());
    const std::span<const std::uint8_t> stored = bytes_of(blob.getDigest());
    if (!std::ranges::equal(stored, digest)) {
      return std::unexpected(PackageError::invalid("blob digest mismatch"));
    }
    if (!application.blobs_by_digest.try_emplace(digest, application.blobs.size()).second) {
      return std::unexpected(PackageError::invalid("duplicate package blob digest"));
    }
    application.blobs.push_back(Blob{std::move(*contents), digest});
  }
  return {};
}

}  // namespace zem

namespace zem {

std::size_t DigestHash::operator()(const Digest& digest) const noexcept {
  std::size_t hash = 0;
  std::memcpy(&hash, digest.data(), sizeof hash);
  return hash;
}

}  // namespace zem
