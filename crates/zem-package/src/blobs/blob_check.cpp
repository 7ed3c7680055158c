#include "blobs/blob_check.hpp"

#include <algorithm>
#include <iterator>
#include <string_view>
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
#include "zem_package/package.hpp"

namespace zem {

// One thread's blob checker, with the memory it keeps from blob to blob.
class BlobWorker {
 public:
  explicit BlobWorker(KeepContents keep) : keep_(keep) {}

  [[nodiscard]] std::expected<CheckedBlob, BlobFault> check(const StoredBlob& blob) {
    const auto fault = [](PackageError error, std::vector<FailureDetail> details = {}) {
      return std::unexpected(BlobFault{std::move(error), std::move(details)});
    };
    last_contents_ = {};
    if (blob.payload_error) return fault(*blob.payload_error);
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
        if (!decompressed) {
          std::vector<FailureDetail> details;
          // The capacity is the declared size unless the payload can produce
          // less; only then is the declared size what was too small.
          if (decompressor_.output_was_too_small() && capacity_was_declared_) {
            details.push_back(
                {"explanation",
                 detail_value::Text{fmt::format(
                     "the contents are larger than the declared uncompressed size of {} bytes",
                     blob.declared_size)}});
          }
          return fault(std::move(decompressed).error(), std::move(details));
        }
        contents = *decompressed;
        break;
      }
      default:
        return fault(PackageError::schema_enum(blob.compression));
    }

    checked.digest = sha256(contents);
    checked.size = contents.size();
    last_contents_ = contents;
    checked.storage = blob.storage();
    checked.payload = blob.payload;
    // The stored digest is only looked at once the contents are known.
    if (blob.digest_error) return fault(*blob.digest_error);
    if (!std::ranges::equal(blob.digest, checked.digest)) {
      // Both digests shown tell damaged contents from a damaged digest.
      return fault(PackageError::invalid("blob digest mismatch"),
                   {{"computed digest",
                     detail_value::Digest{{checked.digest.begin(), checked.digest.end()}}}});
    }
    return checked;
  }

  // The contents of the last blob checked, until the next check.
  [[nodiscard]] std::span<const std::uint8_t> last_contents() const noexcept {
    return last_contents_;
  }

 private:
  // Decompresses into a buffer of its own, in `kept`, when the contents are
  // kept, and into the reused scratch buffer otherwise.
  [[nodiscard]] Result<std::span<const std::uint8_t>> decompress_blob(const StoredBlob& blob,
                                                                      ByteBuffer& kept) {
    capacity_was_declared_ = false;
    auto capacity = decompression_capacity(blob.payload, blob.declared_size);
    if (!capacity) return std::unexpected(std::move(capacity).error());
    capacity_was_declared_ = *capacity == blob.declared_size;
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
  std::span<const std::uint8_t> last_contents_;
  Decompressor decompressor_;
  bool capacity_was_declared_ = false;  // of the last decompression
  BlobMemory memory_;                   // buffers for kept contents
  ScratchBuffer scratch_;               // contents that are not kept, one blob at a time
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

BlobChecker::BlobChecker(unsigned threads, KeepContents keep, BlobObserver* observer)
    : threads_(std::max(threads, 1U)), observer_(observer), batch_size_(first_batch_size) {
  workers_.reserve(threads_);
  for (unsigned i = 0; i < threads_; ++i) workers_.emplace_back(keep);
}

BlobChecker::~BlobChecker() = default;

ReadFailure BlobChecker::blob_failure(std::size_t index, const StoredBlob& blob,
                                      std::optional<BlobFault> fault, std::size_t duplicate_of) {
  ReadFailure failure{PackageError::invalid("duplicate package blob digest"), ReadStage::blobs,
                      ElementPath{{PackageField::blobs, index}}, blob_details(blob)};
  if (fault) {
    failure.error = std::move(fault->error);
    failure.element = failing_field(index, blob, failure.error);
    // What the check found stands beside what is stored, before the place.
    const auto place =
        std::ranges::find(failure.details, std::string_view("file offset"), &FailureDetail::name);
    failure.details.insert(place, std::make_move_iterator(fault->details.begin()),
                           std::make_move_iterator(fault->details.end()));
  } else {
    failure.details.push_back({"same digest as", ElementPath{{PackageField::blobs, duplicate_of}}});
  }
  return failure;
}

std::optional<ReadFailure> BlobChecker::check_one(std::size_t index, const StoredBlob& blob) {
  std::expected<CheckedBlob, BlobFault> checked;
  try {
    BlobWorker worker(KeepContents::no);
    checked = worker.check(blob);
  } catch (const std::bad_alloc&) {
    checked = std::unexpected(BlobFault{out_of_memory_error(), {}});
  }
  if (checked) return std::nullopt;
  return blob_failure(index, blob, std::move(checked).error(), 0);
}

std::expected<void, ReadFailure> BlobChecker::check(std::span<const StoredBlob> batch) {
  const std::size_t first = looked_at_;
  std::vector<std::expected<CheckedBlob, BlobFault>> results(batch.size());
  std::size_t duplicate_of = 0;

  const auto work = [&](unsigned worker, std::size_t index) noexcept {
    try {
      results[index] = workers_[worker].check(batch[index]);
    } catch (const std::bad_alloc&) {
      results[index] = std::unexpected(BlobFault{out_of_memory_error(), {}});
    }
    if (observer_ != nullptr && results[index]) {
      observer_->checked(worker, first + index, *results[index], workers_[worker].last_contents());
    }
    return results[index].has_value();
  };
  // In file order: a digest seen before makes the later blob a duplicate.
  const auto accept = [&](std::size_t index) noexcept {
    const auto [at, inserted] =
        checked_.by_digest.try_emplace(results[index]->digest, first + index);
    if (!inserted) duplicate_of = at->second;
    if (inserted && observer_ != nullptr) observer_->accepted(first + index);
    return inserted;
  };

  const std::optional<std::size_t> failed = run_in_order(batch.size(), threads_, work, accept);
  if (failed) {
    // The blobs before the failing one passed: they stay checked.
    for (std::size_t i = 0; i < *failed; ++i) checked_.blobs.push_back(std::move(*results[i]));
    looked_at_ += *failed + 1;
    std::optional<BlobFault> fault;
    if (!results[*failed]) fault = std::move(results[*failed]).error();
    return std::unexpected(
        blob_failure(first + *failed, batch[*failed], std::move(fault), duplicate_of));
  }

  checked_.blobs.reserve(first + batch.size());
  for (auto& result : results) checked_.blobs.push_back(std::move(*result));
  looked_at_ += batch.size();
  batch_size_ = std::min(batch_size_ * 2, largest_batch_size);
  return {};
}

void BlobChecker::check_all(std::span<const StoredBlob> batch, std::vector<ReadFailure>& failures,
                            std::size_t most_listed, std::uint64_t& unlisted) {
  const std::size_t first = looked_at_;
  std::vector<std::expected<CheckedBlob, BlobFault>> results(batch.size());

  // Every blob is worked on, whatever the others give.
  const auto work = [&](unsigned worker, std::size_t index) noexcept {
    try {
      results[index] = workers_[worker].check(batch[index]);
    } catch (const std::bad_alloc&) {
      results[index] = std::unexpected(BlobFault{out_of_memory_error(), {}});
    }
    return true;
  };
  // In file order, as `check` accepts: so the first failure is the same.
  const auto accept = [&](std::size_t index) noexcept {
    const std::size_t position = first + index;
    std::optional<BlobFault> fault;
    std::optional<std::size_t> duplicate_of;
    if (!results[index]) {
      fault = std::move(results[index]).error();
    } else if (const auto seen = checked_.by_digest.find(results[index]->digest);
               seen != checked_.by_digest.end()) {
      duplicate_of = seen->second;
    }
    if (!fault && !duplicate_of) {
      checked_.by_digest.emplace(results[index]->digest, position);
      checked_.blobs.push_back(std::move(*results[index]));
      return true;
    }
    // A blob that fails keeps its place, so that the blobs after it keep
    // theirs, with what its table entry says of it.
    const StoredBlob& stored = batch[index];
    CheckedBlob kept;
    if (stored.digest.size() == kept.digest.size() && !stored.digest_error) {
      std::ranges::copy(stored.digest, kept.digest.begin());
    }
    kept.storage = stored.storage();
    kept.payload = stored.payload;
    kept.passed = false;
    checked_.blobs.push_back(std::move(kept));
    try {
      if (failures.size() < most_listed) {
        failures.push_back(
            blob_failure(position, stored, std::move(fault), duplicate_of.value_or(0)));
        return true;
      }
    } catch (const std::bad_alloc&) {
      // A failure that cannot be listed is still counted.
    }
    ++unlisted;
    return true;
  };

  // Nothing fails: every item is worked on and accepted.
  static_cast<void>(run_in_order(batch.size(), threads_, work, accept));
  looked_at_ += batch.size();
  batch_size_ = std::min(batch_size_ * 2, largest_batch_size);
}

}  // namespace zem

namespace zem {

BlobTableSurvey check_blob_table(capnp::List<schema::Blob>::Reader blobs,
                                 std::span<const std::uint8_t> message, BlobChecker& checker,
                                 bool past_failure, const PointerBounds* bounds,
                                 std::size_t most_listed) {
  BlobTableSurvey survey;
  std::size_t next = 0;
  for (;;) {
    auto batch = capnp_boundary([&]() -> Result<std::vector<StoredBlob>> {
      return read_blob_table(blobs, message, next, checker.next_batch_size(), bounds);
    });
    if (!batch) {
      if (survey.failures.size() < most_listed) {
        survey.failures.push_back(ReadFailure{std::move(batch).error(),
                                              ReadStage::blobs,
                                              ElementPath{{PackageField::blobs, next}},
                                              {}});
      } else {
        ++survey.unlisted_failures;
      }
      break;
    }
    if (batch->empty()) break;
    for (const StoredBlob& blob : *batch) {
      survey.storage.push_back(blob.storage());
    }
    if (past_failure) {
      checker.check_all(*batch, survey.failures, most_listed, survey.unlisted_failures);
    } else if (auto checked = checker.check(*batch); !checked) {
      survey.failures.push_back(std::move(checked).error());
      break;
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
