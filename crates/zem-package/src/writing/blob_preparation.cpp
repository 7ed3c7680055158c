#include "writing/blob_preparation.hpp"

#include <zstd.h>

#include <fmt/format.h>

#include <new>
#include <utility>

#include "blobs/blob_check.hpp"
#include "blobs/sha256.hpp"
#include "writing/message_layout.hpp"

namespace zem {
namespace {

template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};
// Written out for clang 16, which does not deduce it from the aggregate.
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

// The blob as a read takes it from the table.
StoredBlob stored_blob(const PreparedBlob& blob, const Digest& digest) {
  StoredBlob stored;
  stored.payload = blob.payload;
  stored.compression = blob.compression;
  stored.declared_size = blob.declared_size;
  stored.digest = digest;
  return stored;
}

// Checks the stored bytes as a read would, the blob's digest the one stored.
WriteResult<void> check_as_read(std::size_t index, const PreparedBlob& blob) {
  if (std::optional<ReadFailure> failure =
          BlobChecker::check_one(index, stored_blob(blob, blob.digest))) {
    return std::unexpected(WriteFailure::invalid_package(std::move(*failure)));
  }
  return {};
}

}  // namespace

BlobWorkshop::BlobWorkshop() : context_(ZSTD_createCCtx()) {
  if (context_ == nullptr) throw std::bad_alloc();
}

void BlobWorkshop::FreeContext::operator()(ZSTD_CCtx_s* context) const noexcept {
  ZSTD_freeCCtx(context);
}

Result<std::span<const std::uint8_t>> BlobWorkshop::contents_of(
    std::span<const std::uint8_t> payload, const BlobStorage& storage) {
  if (storage.compression == compression_none) return payload;
  auto capacity = decompression_capacity(payload, storage.declared_size);
  if (!capacity) return std::unexpected(std::move(capacity).error());
  auto out = scratch_.take(*capacity);
  if (!out) return std::unexpected(std::move(out).error());
  auto written = decompressor_.decompress(payload, *out);
  if (!written) return std::unexpected(std::move(written).error());
  return std::span<const std::uint8_t>(out->first(*written));
}

WriteResult<ByteBuffer> BlobWorkshop::compress(std::span<const std::uint8_t> contents, int level) {
  const std::size_t bound = ZSTD_compressBound(contents.size());
  std::optional<ByteBuffer> out = ByteBuffer::allocate(bound);
  if (!out) {
    return std::unexpected(WriteFailure::unstorable(
        "", fmt::format("no memory to compress {} bytes", contents.size())));
  }
  const std::size_t size = ZSTD_compressCCtx(context_.get(), out->data(), out->size(),
                                             contents.data(), contents.size(), level);
  if (ZSTD_isError(size) != 0) {
    return std::unexpected(WriteFailure::unstorable(
        "", fmt::format("compression failed: {}", ZSTD_getErrorName(size))));
  }
  out->truncate(size);
  return std::move(*out);
}

WriteResult<void> check_level(std::size_t index, int level) {
  if (level >= min_zstd_level && level <= max_zstd_level) return {};
  return std::unexpected(
      WriteFailure::unstorable(ElementPath{{PackageField::blobs, index}}.to_string(),
                               fmt::format("Zstandard level {} is not one of {} to {}", level,
                                           min_zstd_level, max_zstd_level)));
}

WriteResult<PreparedBlob> prepare_blob(std::size_t index, std::span<const std::uint8_t> contents,
                                       const BlobStorageChoice& choice, BlobWorkshop& workshop,
                                       const std::optional<Digest>& known_digest) {
  PreparedBlob blob;
  blob.digest = known_digest ? *known_digest : sha256(contents);
  blob.size = contents.size();
  // Whether the stored bytes need the check a read makes: a frame the
  // writer did not make, or a declared size other than the contents'.
  bool check = false;
  WriteResult<void> made =
      std::visit(Overloaded{
                     [&](const StorePlain&) -> WriteResult<void> {
                       blob.payload = contents;
                       return {};
                     },
                     [&](const StoreZstd& zstd) -> WriteResult<void> {
                       if (auto level = check_level(index, zstd.level); !level) return level;
                       auto frame = workshop.compress(contents, zstd.level);
                       if (!frame) return std::unexpected(std::move(frame).error());
                       blob.owned = std::move(*frame);
                       blob.payload = blob.owned.bytes();
                       blob.compression = compression_zstd;
                       blob.declared_size = zstd.declared_size.value_or(blob.size);
                       check = blob.declared_size != blob.size;
                       return {};
                     },
                     [&](const StoreFrame& frame) -> WriteResult<void> {
                       blob.payload = frame.frame.bytes();
                       blob.compression = compression_zstd;
                       blob.declared_size = frame.declared_size.value_or(blob.size);
                       check = true;
                       return {};
                     },
                 },
                 choice);
  if (!made) return std::unexpected(std::move(made).error());
  if (auto fits = check_payload_size(index, blob.payload.size()); !fits) {
    return std::unexpected(std::move(fits).error());
  }
  if (check) {
    if (auto read = check_as_read(index, blob); !read)
      return std::unexpected(std::move(read).error());
  }
  return blob;
}

ReadFailure digest_mismatch(std::size_t index, const PreparedBlob& blob, const Digest& stored) {
  std::vector<FailureDetail> details{{"compression", detail_value::Compression{blob.compression}}};
  if (blob.compression == compression_zstd) {
    details.push_back({"declared size", detail_value::Number{blob.declared_size}});
  }
  details.push_back({"stored size", detail_value::Number{blob.payload.size()}});
  details.push_back({"stored digest", detail_value::Digest{{stored.begin(), stored.end()}}});
  details.push_back(
      {"computed digest", detail_value::Digest{{blob.digest.begin(), blob.digest.end()}}});
  return ReadFailure{PackageError::invalid("blob digest mismatch"), ReadStage::blobs,
                     ElementPath{{PackageField::blobs, index}, {PackageField::digest}},
                     std::move(details)};
}

}  // namespace zem
