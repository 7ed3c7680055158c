#include "blobs/blob_check.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "blobs/blob_contents.hpp"
#include "blobs/blob_memory.hpp"
#include "message/capnp_boundary.hpp"
#include "blobs/ordered_work.hpp"
#include "blobs/sha256.hpp"
#include "zem_package/package_reading.hpp"

namespace zem {

// One thread's blob checker, with the memory it keeps from blob to blob.
class BlobWorker {
 public:
  explicit BlobWorker(KeepContents keep) : keep_(keep) {}

  [[nodiscard]] Result<CheckedBlob> check(const StoredBlob& blob) {
    if (blob.payload_error) return std::unexpected(*blob.payload_error);
    CheckedBlob checked;
    std::span<const std::uint8_t> contents;
    switch (blob.compression) {
      case compression_none:
        if (keep_ == KeepContents::yes) {
          std::optional<ByteBuffer> copy = memory_.take(blob.payload.size());
          if (!copy) throw std::bad_alloc();
          if (!blob.payload.empty()) {
            std::memcpy(copy->data(), blob.payload.data(), blob.payload.size());
          }
          checked.contents = std::move(*copy);
          contents = checked.contents.bytes();
        } else {
          contents = blob.payload;
        }
        break;
      case compression_zstd: {
        auto decompressed = decompress_blob(blob, checked.contents);
        if (!decompressed) return std::unexpected(std::move(decompressed).error());
        contents = *decompressed;
        break;
      }
      default:
        return std::unexpected(PackageError::schema_enum(blob.compression));
    }

    checked.digest = sha256(contents);
    checked.size = contents.size();
    checked.storage = blob.storage();
    checked.payload = blob.payload;
    // The stored digest is only looked at once the contents are known.
    if (blob.digest_error) return std::unexpected(*blob.digest_error);
    if (!std::ranges::equal(blob.digest, checked.digest)) {
      return std::unexpected(PackageError::invalid("blob digest mismatch"));
    }
    return checked;
  }

 private:
  // Decompresses into a buffer of its own, in `kept`, when the contents are
  // kept, and into the reused scratch buffer otherwise.
  [[nodiscard]] Result<std::span<const std::uint8_t>> decompress_blob(const StoredBlob& blob,
                                                                      ByteBuffer& kept) {
    auto capacity = decompression_capacity(blob.payload, blob.declared_size);
    if (!capacity) return std::unexpected(std::move(capacity).error());
    std::span<std::uint8_t> out;
    if (keep_ == KeepContents::yes) {
      std::optional<ByteBuffer> buffer = memory_.take(*capacity);
      if (!buffer) return std::unexpected(cannot_allocate_contents(*capacity));
      kept = std::move(*buffer);
      out = kept.bytes();
    } else {
      auto scratch = scratch_.take(*capacity);
      if (!scratch) return std::unexpected(std::move(scratch).error());
      out = *scratch;
    }
    auto written = decompressor_.decompress(blob.payload, out);
    if (!written) return std::unexpected(std::move(written).error());
    if (keep_ == KeepContents::no) return out.first(*written);
    // Giving back the unused rest may move the contents.
    memory_.shrink_last(kept, *written);
    return kept.bytes();
  }

  KeepContents keep_;
  Decompressor decompressor_;
  BlobMemory memory_;      // buffers for kept contents
  ScratchBuffer scratch_;  // contents that are not kept, one blob at a time
};

namespace {

// Where a failing blob stands and how it is stored.
std::vector<FailureDetail> blob_details(const StoredBlob& blob) {
  std::vector<FailureDetail> details{{"compression", detail_value::Compression{blob.compression}}};
  if (blob.compression == compression_zstd) {
    details.push_back({"declared size", detail_value::Number{blob.declared_size}});
  }
  if (!blob.payload_error) {
    details.push_back({"stored size", detail_value::Number{blob.payload.size()}});
    if (!blob.digest_error) {
      details.push_back(
          {"stored digest", detail_value::Digest{{blob.digest.begin(), blob.digest.end()}}});
    }
    if (!blob.payload.empty() && blob.file_offset) {
      details.push_back({"file offset", detail_value::Address{*blob.file_offset}});
    }
  }
  return details;
}

// The field a blob's failure is about.
ElementPath failing_field(std::size_t index, const StoredBlob& blob, const PackageError& error) {
  const ElementPath element{{PackageField::blobs, index}};
  if (blob.payload_error) return element.then(PackageField::data);
  if (std::holds_alternative<PackageError::SchemaEnum>(error.value)) {
    return element.then(PackageField::compression);
  }
  if (std::holds_alternative<PackageError::Io>(error.value)) {
    return element.then(PackageField::data);
  }
  return element.then(PackageField::digest);
}

}  // namespace

// Batches start small, so that a table that fails early costs little, and
// grow, so that many small blobs do not start threads for each few of them.
constexpr std::size_t first_batch_size = 256;
constexpr std::size_t largest_batch_size = 8192;

BlobChecker::BlobChecker(unsigned threads, KeepContents keep)
    : threads_(std::max(threads, 1U)), batch_size_(first_batch_size) {
  workers_.reserve(threads_);
  for (unsigned i = 0; i < threads_; ++i) workers_.emplace_back(keep);
}

BlobChecker::~BlobChecker() = default;

std::expected<void, ReadFailure> BlobChecker::check(std::span<const StoredBlob> batch) {
  const std::size_t first = checked_.blobs.size();
  std::vector<Result<CheckedBlob>> results(batch.size());
  std::optional<std::size_t> duplicate_of;

  const auto work = [&](unsigned worker, std::size_t index) noexcept {
    try {
      results[index] = workers_[worker].check(batch[index]);
    } catch (const std::bad_alloc&) {
      results[index] = std::unexpected(out_of_memory_error());
    }
    return results[index].has_value();
  };
  // In file order: a digest seen before makes the later blob a duplicate.
  const auto accept = [&](std::size_t index) noexcept {
    const auto [at, inserted] =
        checked_.by_digest.try_emplace(results[index]->digest, first + index);
    if (!inserted) duplicate_of = at->second;
    return inserted;
  };

  const std::optional<std::size_t> failed = run_in_order(batch.size(), threads_, work, accept);
  if (failed) {
    // The blobs before the failing one passed: they stay checked.
    for (std::size_t i = 0; i < *failed; ++i) checked_.blobs.push_back(std::move(*results[i]));
    const std::size_t index = first + *failed;
    const StoredBlob& blob = batch[*failed];
    ReadFailure failure{PackageError::invalid("duplicate package blob digest"), ReadStage::blobs,
                        ElementPath{{PackageField::blobs, index}}, blob_details(blob)};
    if (!results[*failed]) {
      failure.error = std::move(results[*failed]).error();
      failure.element = failing_field(index, blob, failure.error);
    } else if (duplicate_of) {
      failure.details.push_back(
          {"same digest as", ElementPath{{PackageField::blobs, *duplicate_of}}});
    }
    return std::unexpected(std::move(failure));
  }

  checked_.blobs.reserve(first + batch.size());
  for (Result<CheckedBlob>& result : results) checked_.blobs.push_back(std::move(*result));
  batch_size_ = std::min(batch_size_ * 2, largest_batch_size);
  return {};
}

}  // namespace zem

namespace zem {

BlobTableSurvey check_blob_table(capnp::List<schema::Blob>::Reader blobs,
                                 std::span<const std::uint8_t> message, BlobChecker& checker,
                                 bool past_failure, const PointerBounds* bounds) {
  BlobTableSurvey survey;
  std::size_t next = 0;
  for (;;) {
    auto batch = capnp_boundary([&]() -> Result<std::vector<StoredBlob>> {
      return read_blob_table(blobs, message, next, checker.next_batch_size(), bounds);
    });
    if (!batch) {
      if (!survey.failure) {
        survey.failure = ReadFailure{std::move(batch).error(),
                                     ReadStage::blobs,
                                     ElementPath{{PackageField::blobs, next}},
                                     {}};
      }
      break;
    }
    if (batch->empty()) break;
    for (const StoredBlob& blob : *batch) {
      survey.storage.push_back(blob.storage());
    }
    if (!survey.failure) {
      if (auto checked = checker.check(*batch); !checked) {
        survey.failure = std::move(checked).error();
        if (!past_failure) break;
      }
    }
    next += batch->size();
    // A pointer that cannot be followed ends the table.
    if (batch->back().payload_error || batch->back().digest_error) break;
  }
  survey.checked = std::move(checker).take();
  return survey;
}

}  // namespace zem

namespace zem {

std::size_t DigestHash::operator()(const Digest& digest) const noexcept {
  // A digest is already uniformly distributed: its first bytes are a hash.
  std::size_t hash = 0;
  std::memcpy(&hash, digest.data(), sizeof hash);
  return hash;
}

}  // namespace zem
