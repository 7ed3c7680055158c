#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "blobs/blob_observer.hpp"
#include "blobs/blob_table.hpp"
#include "zem_package/application.hpp"
#include "zem_package/package_model.hpp"
#include "zem_package/read_failure.hpp"

namespace zem {

// A blob that passed its checks; or, in a survey, one that did not, kept in
// its place with what its table entry says.
struct CheckedBlob {
  Digest digest{};         // the stored digest, for a blob that did not pass
  std::uint64_t size = 0;  // bytes of its contents; 0 for a blob that did not pass
  BlobStorage storage;
  std::span<const std::uint8_t> payload;  // as stored, in the message
  ByteBuffer contents;                    // empty unless the contents were kept
  bool passed = true;
};

struct CheckedBlobs {
  std::vector<CheckedBlob> blobs;  // in file order
  std::unordered_map<Digest, std::size_t, DigestHash> by_digest;
};

enum class KeepContents : bool { no, yes };

class BlobWorker;

// Why one blob failed its checks: the error a read reports, and what the
// check learnt that the stored blob does not say (the digest its contents
// have; why they did not fit).
struct BlobFault {
  PackageError error;
  std::vector<FailureDetail> details;
};

// Checks the blobs of a table as a read does, one blob after the other: its
// compression code, its contents (the payload, or its decompression), their
// SHA-256 against the stored digest, and no digest twice. The first blob in
// file order that fails is reported, with the blob's place in the file and
// how it is stored.
//
// The table is checked in batches, each taken from the message just before it
// is checked, so that a table that declares a vast number of empty blobs
// costs no memory before its first duplicate is found. Within a batch, blobs
// are checked on up to `threads` threads, the calling one included; the
// outcome does not depend on it. Contents that are not kept go into one
// buffer per thread, reused from blob to blob, so that checking takes no
// more memory than its largest blob per thread, however many blobs there are.
class BlobChecker {
 public:
  // `observer`, when given, is handed each blob that passes (see
  // BlobObserver); a check that lists every failure hands over none.
  BlobChecker(unsigned threads, KeepContents keep, BlobObserver* observer = nullptr);
  BlobChecker(const BlobChecker&) = delete;
  BlobChecker& operator=(const BlobChecker&) = delete;
  ~BlobChecker();

  // How many blobs the next batch should hold.
  [[nodiscard]] std::size_t next_batch_size() const noexcept { return batch_size_; }

  // Checks `batch`, the blobs that follow those checked so far, up to its
  // first failure.
  [[nodiscard]] std::expected<void, ReadFailure> check(std::span<const StoredBlob> batch);

  // Checks every blob of `batch`, the blobs that follow those looked at so
  // far, and adds each failure to `failures`, in file order; the first is
  // the one `check` would report. Every blob keeps its place among the
  // checked ones: one that passes as checked, one that fails marked as not
  // passed. Once `failures` holds `most_listed`, further failures are only
  // counted in `unlisted`.
  void check_all(std::span<const StoredBlob> batch, std::vector<ReadFailure>& failures,
                 std::size_t most_listed, std::uint64_t& unlisted);

  // The blobs checked so far, in file order.
  [[nodiscard]] CheckedBlobs take() && { return std::move(checked_); }

  // Checks one blob on its own, as blob `index` of a table, exactly as a
  // read checks it; says why it fails in the read's words and at its place,
  // or nothing when it passes. A writer checks a stored frame it is given
  // this way.
  [[nodiscard]] static std::optional<ReadFailure> check_one(std::size_t index,
                                                            const StoredBlob& blob);

 private:
  // The failure of blob `index` of the table: `fault` when its own checks
  // failed, otherwise that its digest is the one of blob `duplicate_of`.
  [[nodiscard]] static ReadFailure blob_failure(std::size_t index, const StoredBlob& blob,
                                                std::optional<BlobFault> fault,
                                                std::size_t duplicate_of);

  unsigned threads_;
  BlobObserver* observer_;
  std::vector<BlobWorker> workers_;
  CheckedBlobs checked_;
  // Blobs looked at so far, checked or failed.
  std::size_t looked_at_ = 0;
  std::size_t batch_size_;
};

// What could be taken from a blob table that may be broken.
struct BlobTableSurvey {
  // The blobs checked, in file order: up to the first failure, or past it
  // every blob whose pointers could be followed, each marked as passed or
  // not.
  CheckedBlobs checked;
  // How each blob is stored, as far as the table could be followed.
  std::vector<BlobStorage> storage;
  // The failures in file order, the first as a strict read reports it: only
  // that one, unless the table was checked past it.
  std::vector<ReadFailure> failures;
  // Failures past the most that are listed, counted only.
  std::uint64_t unlisted_failures = 0;
};

// Takes the blobs of `blobs` from the message batch by batch and checks them
// with `checker`, up to the first failure; with `past_failure`, goes on
// checking every blob after it, as far as their pointers can be followed,
// and lists every failure, at most `most_listed` of them. `message` is the
// message's bytes, which the payloads lie in.
[[nodiscard]] BlobTableSurvey check_blob_table(capnp::List<schema::Blob>::Reader blobs,
                                               std::span<const std::uint8_t> message,
                                               BlobChecker& checker, bool past_failure,
                                               const PointerBounds* bounds = nullptr,
                                               std::size_t most_listed = 1);

}  // namespace zem
