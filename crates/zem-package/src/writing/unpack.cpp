// Unpacking: a package's blobs written to files while its read checks them,
// then its manifest, all moved into place once the read has passed.

#include <fmt/format.h>

#include <atomic>
#include <mutex>
#include <new>
#include <optional>

#include "blobs/blob_check.hpp"
#include "model/model_structure.hpp"
#include "writing/checked_read.hpp"
#include "writing/directory_stage.hpp"
#include "zem_package/manifest.hpp"
#include "zem_package/package_directory.hpp"

namespace zem {
namespace {

constexpr std::string_view blob_directory = "blobs";

std::string contents_file(std::size_t blob) { return fmt::format("blobs/{}.bin", blob); }
std::string frame_file(std::size_t blob) { return fmt::format("blobs/{}.zst", blob); }

// Writes each blob's files as the read checks it, on the read's threads,
// from the contents the read has at hand. The first failure in table order
// is kept; after one, nothing more is written.
class BlobFileWriter final : public BlobObserver {
 public:
  explicit BlobFileWriter(DirectoryStage& stage) : stage_(stage) {}

  void checked(unsigned /*worker*/, std::size_t index, const CheckedBlob& blob,
               std::span<const std::uint8_t> contents) noexcept override {
    if (failed_.load(std::memory_order_relaxed)) return;
    try {
      WriteResult<void> written = stage_.write_file(contents_file(index), contents);
      if (written && blob.storage.compression != compression_none) {
        written = stage_.write_file(frame_file(index), blob.payload);
      }
      if (!written) fail(index, std::move(written).error());
    } catch (const std::bad_alloc&) {
      fail(index, WriteFailure::file_problem(stage_name(), "memory allocation failed"));
    }
  }
  void accepted(std::size_t /*index*/) noexcept override {}

  [[nodiscard]] std::optional<WriteFailure> take_failure() && { return std::move(failure_); }

 private:
  [[nodiscard]] static std::string stage_name() { return std::string(blob_directory); }

  void fail(std::size_t index, WriteFailure failure) {
    const std::scoped_lock lock(mutex_);
    if (!failure_ || index < failed_index_) {
      failure_ = std::move(failure);
      failed_index_ = index;
    }
    failed_.store(true, std::memory_order_relaxed);
  }

  DirectoryStage& stage_;
  std::atomic<bool> failed_{false};
  std::mutex mutex_;
  std::optional<WriteFailure> failure_;  // guarded by `mutex_`
  std::size_t failed_index_ = 0;
};

// The manifest of a package read: each blob by the files just written.
PackageManifest manifest_of(const PackageModel& model) {
  PackageManifest manifest;
  manifest.compiler = model.compiler;
  manifest.blobs.reserve(model.blobs.size());
  for (std::size_t i = 0; i < model.blobs.size(); ++i) {
    const BlobInfo& blob = model.blobs[i];
    ManifestBlob entry;
    entry.file = contents_file(i);
    entry.digest = blob.digest;
    entry.compression = blob.storage.compression;
    if (blob.storage.compression == compression_zstd) {
      entry.frame = frame_file(i);
      entry.declared_size = blob.storage.declared_size;
    }
    manifest.blobs.push_back(std::move(entry));
  }
  copy_structure(model, manifest);
  return manifest;
}

WriteResult<UnpackReport> unpack(const PackageOrigin& origin, const std::string& directory,
                                 const UnpackOptions& options) {
  auto stage = DirectoryStage::create(directory, options.into_nonempty);
  if (!stage) return std::unexpected(std::move(stage).error());
  if (auto made = (*stage)->make_subdirectory(std::string(blob_directory)); !made) {
    return std::unexpected(std::move(made).error());
  }
  BlobFileWriter writer(**stage);
  auto read = read_checked(origin, options.threads, &writer, options.ignore_build_digest);
  // What is wrong with the package comes before a file that could not be
  // written on the way.
  if (!read) return std::unexpected(std::move(read).error());
  if (std::optional<WriteFailure> failure = std::move(writer).take_failure()) {
    return std::unexpected(std::move(*failure));
  }

  const PackageModel& model = read->package.contents.model;
  const std::string text = manifest_text(manifest_of(model));
  const std::span bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  const std::string manifest(manifest_file_name);
  if (auto written = (*stage)->write_file(manifest, bytes); !written) {
    return std::unexpected(std::move(written).error());
  }
  if (auto committed = (*stage)->commit(manifest); !committed) {
    return std::unexpected(std::move(committed).error());
  }
  UnpackReport report;
  report.blobs = model.blobs.size();
  for (const BlobInfo& blob : model.blobs) {
    if (blob.storage.compression != compression_none) ++report.frames;
  }
  report.tiles = model.tiles.size();
  report.ignored_build_digest = std::move(read->build_digest_failure);
  return report;
}

}  // namespace

WriteResult<UnpackReport> unpack_package(const std::string& package_path,
                                         const std::string& directory,
                                         const UnpackOptions& options) {
  try {
    return unpack(PackageOrigin{package_path, {}}, directory, options);
  } catch (const std::bad_alloc&) {
    return std::unexpected(WriteFailure::file_problem(directory, "memory allocation failed"));
  }
}

WriteResult<UnpackReport> unpack_package(std::span<const std::uint8_t> package_bytes,
                                         const std::string& directory,
                                         const UnpackOptions& options) {
  try {
    return unpack(PackageOrigin{std::nullopt, package_bytes}, directory, options);
  } catch (const std::bad_alloc&) {
    return std::unexpected(WriteFailure::file_problem(directory, "memory allocation failed"));
  }
}

}  // namespace zem
