#pragma once

// Making a blob's stored bytes from its contents: its digest, its
// compression, and the checks a read would make of what is stored.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "blobs/blob_contents.hpp"
#include "zem_package/byte_buffer.hpp"
#include "zem_package/package_model.hpp"
#include "zem_package/package_writer.hpp"
#include "zem_package/read_failure.hpp"
#include "zem_package/write_failure.hpp"

struct ZSTD_CCtx_s;

namespace zem {

// One blob ready to be stored.
struct PreparedBlob {
  Digest digest{};         // of its contents
  std::uint64_t size = 0;  // bytes of its contents
  std::uint16_t compression = compression_none;
  std::uint64_t declared_size = 0;        // 0 for a plain blob, as a read ignores it
  std::span<const std::uint8_t> payload;  // the bytes stored
  ByteBuffer owned;                       // holds `payload` when it was made here
};

// What one thread keeps from blob to blob to prepare them.
class BlobWorkshop {
 public:
  // Throws std::bad_alloc when the compression context cannot be had.
  BlobWorkshop();
  BlobWorkshop(BlobWorkshop&& other) noexcept = default;
  BlobWorkshop& operator=(BlobWorkshop&&) = delete;
  BlobWorkshop(const BlobWorkshop&) = delete;
  BlobWorkshop& operator=(const BlobWorkshop&) = delete;
  ~BlobWorkshop() = default;

  // `contents` in one Zstandard frame at `level`, with their size in its
  // header; the same bytes for the same contents and level, on any thread.
  [[nodiscard]] WriteResult<ByteBuffer> compress(std::span<const std::uint8_t> contents, int level);

  // The contents of a blob a read has checked, stored as `storage` says in
  // `payload`: the payload itself, or its decompression, valid until the
  // next call.
  [[nodiscard]] Result<std::span<const std::uint8_t>> contents_of(
      std::span<const std::uint8_t> payload, const BlobStorage& storage);

 private:
  struct FreeContext {
    void operator()(ZSTD_CCtx_s* context) const noexcept;
  };
  std::unique_ptr<ZSTD_CCtx_s, FreeContext> context_;
  Decompressor decompressor_;
  ScratchBuffer scratch_;
};

// Refuses a level the writer does not compress at, for blob `index`.
[[nodiscard]] WriteResult<void> check_level(std::size_t index, int level);

// Blob `index` with `contents`, stored as `choice` says. The digest is
// computed from the contents, unless `known_digest` gives it (for contents a
// read has checked against it). A frame is checked as a read checks it:
// that it decompresses, within its declared size, to contents of that
// digest; a declared size other than the contents' is checked the same way.
[[nodiscard]] WriteResult<PreparedBlob> prepare_blob(std::size_t index,
                                                     std::span<const std::uint8_t> contents,
                                                     const BlobStorageChoice& choice,
                                                     BlobWorkshop& workshop,
                                                     const std::optional<Digest>& known_digest);

// What a read reports of blob `index`, stored as `blob` is but with the
// digest `stored` instead of its own: "blob digest mismatch", in its words.
[[nodiscard]] ReadFailure digest_mismatch(std::size_t index, const PreparedBlob& blob,
                                          const Digest& stored);

}  // namespace zem
