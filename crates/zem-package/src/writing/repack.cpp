// Repacking: a package stored anew. Without leaving blobs out, each blob is
// stored anew while the read checks it, from the contents it has at hand,
// and written as soon as every blob before it is: its contents are
// decompressed and hashed once. Leaving blobs out needs the tiles, which a
// read takes after the blobs, so then the read comes first and the blobs
// kept are stored after it.

#include <fmt/format.h>

#include <atomic>
#include <map>
#include <mutex>
#include <new>
#include <optional>

#include "blobs/blob_check.hpp"
#include "errors/try.hpp"
#include "writing/checked_read.hpp"
#include "writing/package_assembly.hpp"
#include "zem_package/repacking.hpp"

namespace zem {
namespace {

// A blob a read has checked, stored as `options` say: its payload kept as it
// is, its contents stored plain, or compressed anew.
WriteResult<PreparedBlob> restore(std::size_t index, const CheckedBlob& blob,
                                  std::span<const std::uint8_t> contents,
                                  const RepackOptions& options, BlobWorkshop& workshop) {
  switch (options.storage) {
    case BlobRestorage::keep: {
      PreparedBlob kept;
      kept.digest = blob.digest;
      kept.size = blob.size;
      kept.compression = blob.storage.compression;
      kept.declared_size = blob.storage.declared_size;
      kept.payload = blob.payload;  // in the message, which outlives the write
      return kept;
    }
    case BlobRestorage::plain: {
      auto prepared = prepare_blob(index, contents, StorePlain{}, workshop, blob.digest);
      // The contents are the read's, and gone after this: stored from a copy.
      if (prepared) {
        prepared->owned = ByteBuffer::copy_of(contents);
        prepared->payload = prepared->owned.bytes();
      }
      return prepared;
    }
    case BlobRestorage::zstd:
      return prepare_blob(index, contents, StoreZstd{options.level, std::nullopt}, workshop,
                          blob.digest);
  }
  return std::unexpected(WriteFailure::unstorable("", "unknown storage"));
}

// Stores each blob anew as the read checks it, and hands them to the
// assembler in table order. The first failure in table order is kept;
// after one, nothing more is done.
class RestoringObserver final : public BlobObserver {
 public:
  RestoringObserver(PackageAssembler& assembler, const RepackOptions& options,
                    std::vector<BlobWorkshop>& workshops)
      : assembler_(assembler), options_(options), workshops_(workshops) {}

  void checked(unsigned worker, std::size_t index, const CheckedBlob& blob,
               std::span<const std::uint8_t> contents) noexcept override {
    if (failed_.load(std::memory_order_relaxed)) return;
    WriteResult<PreparedBlob> prepared = std::unexpected(WriteFailure{});
    try {
      prepared = restore(index, blob, contents, options_, workshops_[worker]);
    } catch (const std::bad_alloc&) {
      prepared = std::unexpected(WriteFailure::unstorable("", "memory allocation failed"));
    }
    const std::scoped_lock lock(mutex_);
    if (!prepared) {
      fail(index, std::move(prepared).error());
      return;
    }
    ready_.emplace(index, std::move(*prepared));
  }

  void accepted(std::size_t index) noexcept override {
    std::optional<PreparedBlob> blob;
    {
      const std::scoped_lock lock(mutex_);
      if (failure_) return;
      const auto found = ready_.find(index);
      if (found == ready_.end()) return;
      blob = std::move(found->second);
      ready_.erase(found);
    }
    // Accepted blobs come one at a time, in order: the assembler is theirs.
    if (auto added = assembler_.add_blob(*blob); !added) {
      const std::scoped_lock lock(mutex_);
      fail(index, std::move(added).error());
    }
  }

  [[nodiscard]] std::optional<WriteFailure> take_failure() && { return std::move(failure_); }

 private:
  // Keeps the failure first in table order; guarded by `mutex_`.
  void fail(std::size_t index, WriteFailure failure) {
    if (!failure_ || index < failed_index_) {
      failure_ = std::move(failure);
      failed_index_ = index;
    }
    failed_.store(true, std::memory_order_relaxed);
    ready_.clear();
  }

  PackageAssembler& assembler_;
  const RepackOptions& options_;
  std::vector<BlobWorkshop>& workshops_;
  std::atomic<bool> failed_{false};
  std::mutex mutex_;
  std::map<std::size_t, PreparedBlob> ready_;  // checked, not yet accepted
  std::optional<WriteFailure> failure_;
  std::size_t failed_index_ = 0;
};

PackageModel without_blobs(const PackageModel& model) {
  PackageModel structure = model;
  structure.blobs.clear();
  return structure;
}

// The blobs some segment names, in table order, with the positions they
// take when the others are left out.
struct KeptBlobs {
  std::vector<std::size_t> kept;          // positions in the package read
  std::vector<std::size_t> new_position;  // by position read; meaningful for the kept
};

KeptBlobs used_blobs(const PackageModel& model) {
  std::vector<bool> used(model.blobs.size(), false);
  for (const TileImage& tile : model.tiles) {
    for (const Segment& segment : tile.segments) used[segment.blob] = true;  // validated
  }
  KeptBlobs result;
  result.new_position.resize(model.blobs.size(), 0);
  for (std::size_t i = 0; i < used.size(); ++i) {
    if (!used[i]) continue;
    result.new_position[i] = result.kept.size();
    result.kept.push_back(i);
  }
  return result;
}

WriteResult<RepackReport> repack(const PackageOrigin& origin, const std::string& output,
                                 const RepackOptions& options) {
  if (options.storage == BlobRestorage::zstd) ZEM_TRY(check_level(0, options.level));
  if (origin.path) ZEM_TRY(refuse_input_as_output(output, *origin.path, "the package being read"));
  auto sink = FileSink::create(output, options.replace_existing);
  if (!sink) return std::unexpected(std::move(sink).error());
  PackageAssembler assembler(**sink);
  const unsigned threads = std::max(options.threads, 1U);
  std::vector<BlobWorkshop> workshops;
  workshops.reserve(threads);
  for (unsigned i = 0; i < threads; ++i) workshops.emplace_back();

  RepackReport report;
  PackageModel structure;
  if (!options.drop_unused_blobs) {
    RestoringObserver observer(assembler, options, workshops);
    auto read = read_checked(origin, threads, &observer, false);
    if (!read) return std::unexpected(std::move(read).error());
    if (std::optional<WriteFailure> failure = std::move(observer).take_failure()) {
      return std::unexpected(std::move(*failure));
    }
    const PackageModel& model = read->package.contents.model;
    if (assembler.blobs_added() != model.blobs.size()) {
      return std::unexpected(WriteFailure::unstorable("blobs", "not every blob was stored"));
    }
    report.previous_build_digest = model.build_digest();
    structure = without_blobs(model);
  } else {
    auto read = read_checked(origin, threads, nullptr, false);
    if (!read) return std::unexpected(std::move(read).error());
    const MessageContents& contents = read->package.contents;
    const PackageModel& model = contents.model;
    report.previous_build_digest = model.build_digest();
    const KeptBlobs blobs = used_blobs(model);
    for (std::size_t i = 0, k = 0; i < model.blobs.size(); ++i) {
      if (k < blobs.kept.size() && blobs.kept[k] == i) {
        ++k;
      } else {
        report.dropped.push_back(DroppedBlob{i, model.blobs[i].digest});
      }
    }
    ZEM_TRY(
        assemble_blobs(blobs.kept.size(), threads, assembler,
                       [&](BlobWorkshop& workshop, std::size_t index) -> WriteResult<PreparedBlob> {
                         const std::size_t read_index = blobs.kept[index];
                         const BlobInfo& info = model.blobs[read_index];
                         CheckedBlob blob;
                         blob.digest = info.digest;
                         blob.size = info.size;
                         blob.storage = info.storage;
                         blob.payload = contents.payloads[read_index];
                         std::span<const std::uint8_t> bytes;
                         if (options.storage != BlobRestorage::keep) {
                           auto decompressed = workshop.contents_of(blob.payload, blob.storage);
                           if (!decompressed) {
                             return std::unexpected(WriteFailure::invalid_package(
                                 ReadFailure{std::move(decompressed).error(),
                                             ReadStage::blobs,
                                             ElementPath{{PackageField::blobs, read_index}},
                                             {}}));
                           }
                           bytes = *decompressed;
                         }
                         return restore(index, blob, bytes, options, workshop);
                       }));
    structure = without_blobs(model);
    for (TileImage& tile : structure.tiles) {
      for (Segment& segment : tile.segments) {
        segment.blob = blobs.new_position[static_cast<std::size_t>(segment.blob)];
      }
    }
  }
  auto written = assembler.finish(std::move(structure));
  if (!written) return std::unexpected(std::move(written).error());
  ZEM_TRY((*sink)->commit(written->size));
  report.package = std::move(*written);
  return report;
}

}  // namespace

WriteResult<RepackReport> repack_package(const std::string& package_path, const std::string& output,
                                         const RepackOptions& options) {
  try {
    return repack(PackageOrigin{package_path, {}}, output, options);
  } catch (const std::bad_alloc&) {
    return std::unexpected(WriteFailure::file_problem(output, "memory allocation failed"));
  }
}

WriteResult<RepackReport> repack_package(std::span<const std::uint8_t> package_bytes,
                                         const std::string& output, const RepackOptions& options) {
  try {
    return repack(PackageOrigin{std::nullopt, package_bytes}, output, options);
  } catch (const std::bad_alloc&) {
    return std::unexpected(WriteFailure::file_problem(output, "memory allocation failed"));
  }
}

}  // namespace zem
