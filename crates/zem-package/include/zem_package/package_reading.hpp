#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <vector>

#include "zem_package/application.hpp"
#include "zem_package/byte_buffer.hpp"
#include "zem_package/read_failure.hpp"
#include "zem_package/read_options.hpp"
#include "zem_package/tile_memory.hpp"

namespace zem {

// Codes of a blob's `compression` field that the format defines.
inline constexpr std::uint16_t compression_none = 0;
inline constexpr std::uint16_t compression_zstd = 1;

// How a blob is stored in its file.
struct BlobStorage {
  std::uint16_t compression = compression_none;
  std::uint64_t stored_size = 0;    // bytes of the payload as stored
  std::uint64_t declared_size = 0;  // `uncompressedSize`, the contents' upper bound for zstd

  friend bool operator==(const BlobStorage&, const BlobStorage&) = default;
};

// What a reading keeps of a checked blob in place of its contents.
struct BlobInfo {
  Digest digest{};
  std::uint64_t size = 0;  // bytes of its contents
  BlobStorage storage;

  friend bool operator==(const BlobInfo&, const BlobInfo&) = default;
};

// A package read from its message, every blob checked against its digest,
// but not yet validated and its build digest not yet compared.
//
// It holds the package's message in memory instead of its blobs' contents:
// a blob's contents are decompressed again from the message when they are
// asked for. So a reading costs the memory of its file, however much the
// blobs hold. The model is the one `Application::read` gives, except that
// its blobs carry their digests and no contents; `blobs()` tells each blob's
// size and storage.
class PackageReading {
 public:
  // Reads the package from an open file, from its current position. Takes
  // over `fd` and closes it on every path. Bytes after the message are never
  // read.
  [[nodiscard]] static ReadResult<PackageReading> read(int fd, const ReadOptions& options = {});

  // Reads the package from bytes in memory, which are copied.
  [[nodiscard]] static ReadResult<PackageReading> read(std::span<const std::uint8_t> bytes,
                                                       const ReadOptions& options = {});

  // Reads what can be read of a package that may be broken, for tools that
  // show it. Fails only when the message's framing or header cannot be
  // read. Otherwise it goes on past a failure wherever the parts that follow
  // do not depend on the part that failed: the blobs after a failing blob
  // are not checked, but how they are stored is taken as far as the table
  // can be followed; a part of the structure (tiles, each binding list, the
  // host exchange, entry points, writes) that fails keeps the elements before
  // the failing one, and the next part is read on its own. `failures()` lists
  // what went wrong, in read order; the first is what `read` reports.
  [[nodiscard]] static ReadResult<PackageReading> survey(int fd, const ReadOptions& options = {});
  [[nodiscard]] static ReadResult<PackageReading> survey(std::span<const std::uint8_t> bytes,
                                                         const ReadOptions& options = {});

  PackageReading(PackageReading&&) noexcept;
  PackageReading& operator=(PackageReading&&) noexcept;
  ~PackageReading();

  // The model; its blobs hold their digests and empty contents.
  [[nodiscard]] const Application& model() const noexcept;

  // Each blob's digest, size and storage, in file order. For a survey that
  // met a failing blob, the blobs before it.
  [[nodiscard]] std::span<const BlobInfo> blobs() const noexcept;

  // How each blob of the table is stored, as far as the table could be
  // followed: all of them, unless a survey met a broken pointer there.
  [[nodiscard]] std::span<const BlobStorage> stored_blobs() const noexcept;

  // The failures a survey met, in read order; empty for a reading that
  // passed every step before completion.
  [[nodiscard]] std::span<const ReadFailure> failures() const noexcept;

  // Bytes of the message in the file, its framing included; what follows it
  // in a file is not part of the package.
  [[nodiscard]] std::uint64_t message_size() const noexcept;

  // The build digest stored in the package, or the failure met following its
  // pointer, which a completed read reports in its turn.
  [[nodiscard]] const ReadResult<std::vector<std::uint8_t>>& stored_build_digest() const noexcept;

  // The contents of blob `blob`, decompressed again from the message in one
  // call, exactly as the read checked them.
  [[nodiscard]] Result<ByteBuffer> blob_contents(std::size_t blob) const;

  // The memory of one tile: see `TileMemory`. The model need not be valid:
  // a segment outside tile memory or outside its blob is refused.
  [[nodiscard]] TileMemoryResult tile_memory(std::uint32_t physical_tile) const;

  // Completes the read: validation, then the comparison of the stored build
  // digest with the model's, then the event "application package read". A
  // survey that met failures cannot be completed: the first is reported.
  [[nodiscard]] ReadResult<void> complete() const;

  struct State;

 private:
  explicit PackageReading(std::unique_ptr<State> state) noexcept;
  friend struct PackageReadingAccess;

  std::unique_ptr<State> state_;
};

// A package that passed every check of a read: what `Application::read`
// accepts, kept as a `PackageReading` instead of a full model.
class CheckedPackage {
 public:
  [[nodiscard]] static ReadResult<CheckedPackage> read(int fd, const ReadOptions& options = {});
  [[nodiscard]] static ReadResult<CheckedPackage> read(std::span<const std::uint8_t> bytes,
                                                       const ReadOptions& options = {});

  // Completes `reading` and keeps it when it passes.
  [[nodiscard]] static ReadResult<CheckedPackage> complete(PackageReading reading);

  [[nodiscard]] const PackageReading& reading() const noexcept { return reading_; }
  [[nodiscard]] const Application& model() const noexcept { return reading_.model(); }
  [[nodiscard]] std::span<const BlobInfo> blobs() const noexcept { return reading_.blobs(); }
  [[nodiscard]] Result<ByteBuffer> blob_contents(std::size_t blob) const {
    return reading_.blob_contents(blob);
  }
  [[nodiscard]] TileMemoryResult tile_memory(std::uint32_t physical_tile) const {
    return reading_.tile_memory(physical_tile);
  }

  // The full model, every blob's contents decompressed: what
  // `Application::read` returns for the same package.
  [[nodiscard]] Result<Application> application() const;

 private:
  explicit CheckedPackage(PackageReading reading) noexcept : reading_(std::move(reading)) {}

  PackageReading reading_;
};

}  // namespace zem
