#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <vector>

#include "zem_package/api.hpp"
#include "zem_package/application.hpp"
#include "zem_package/byte_buffer.hpp"
#include "zem_package/io.hpp"
#include "zem_package/package_model.hpp"
#include "zem_package/read_failure.hpp"
#include "zem_package/read_options.hpp"
#include "zem_package/tile_memory.hpp"

namespace zem {

// The parts of a package that a read takes in turn after its header, each
// one root field of the message. (The stored build digest is looked at only
// by the completion: see `stored_build_digest`.)
enum class PackagePart : std::uint8_t {
  blobs,
  tiles,
  bindings1,
  bindings2,
  bindings3,
  host_exchange,
  entry_points,
  device_config_writes,
};

inline constexpr std::array all_package_parts = {
    PackagePart::blobs,        PackagePart::tiles,
    PackagePart::bindings1,    PackagePart::bindings2,
    PackagePart::bindings3,    PackagePart::host_exchange,
    PackagePart::entry_points, PackagePart::device_config_writes};

// The stage that reads the part, and the root field that holds it.
[[nodiscard]] ZEM_PACKAGE_API ReadStage stage_of(PackagePart part) noexcept;
[[nodiscard]] ZEM_PACKAGE_API PackageField field_of(PackagePart part) noexcept;

// The most failing blobs a survey lists. A table may declare a vast number
// of empty blobs at almost no cost in the file, each of them a duplicate of
// the first; their failures past this many are counted instead of kept.
inline constexpr std::size_t most_blob_failures_listed = 1024;

// What a reading made of one part.
enum class PartState : std::uint8_t {
  read,      // read whole
  failed,    // read up to a failure: the elements before it are in the model
  not_read,  // not read at all
};

// How far one stage of a read got.
enum class StageState : std::uint8_t {
  passed,
  failed,
  not_run,  // an earlier failure stopped it, or the read was not completed yet
};

// A package read from its message, every blob checked against its digest.
//
// A strict reading (`ReadMode::strict`) passed every step of a read but
// its completion: validation and the build digest comparison, which
// `CheckedPackage::complete` makes. A survey (`ReadMode::survey`) holds what
// could be read of a package that may be broken, says for every part and
// every stage whether it was read, and has made the completion itself when
// nothing before it failed.
//
// It holds the package's message in memory instead of its blobs' contents:
// a blob's contents are decompressed again from the message when they are
// asked for. So a reading costs the memory of its file, however much the
// blobs hold.
class ZEM_PACKAGE_API PackageReading {
 public:
  // Reads the package from an open file, from its current position, and
  // closes the file on every path. Bytes after the message are never read.
  [[nodiscard]] static ReadResult<PackageReading> read(io::FileDescriptor file,
                                                       const ReadOptions& options = {});

  // Reads the package from bytes in memory, which are copied.
  [[nodiscard]] static ReadResult<PackageReading> read(std::span<const std::uint8_t> bytes,
                                                       const ReadOptions& options = {});

  PackageReading(PackageReading&&) noexcept;
  PackageReading& operator=(PackageReading&&) noexcept;
  ~PackageReading();

  // The model. For a survey that met failures, each part holds what was read
  // of it, and the blobs are those checked before the first failing one.
  [[nodiscard]] const PackageModel& model() const noexcept;

  // How each blob of the table is stored, as far as the table could be
  // followed: all of them, unless a survey met a broken pointer there.
  [[nodiscard]] std::span<const BlobStorage> stored_blobs() const noexcept;

  // Every failure met, in read order; empty for a strict reading. The first
  // is what a strict read reports.
  [[nodiscard]] std::span<const ReadFailure> failures() const noexcept;

  [[nodiscard]] PartState part_state(PackagePart part) const noexcept;
  // The failures met in the part, in read order. A survey checks every blob
  // and lists each one that fails, up to `most_blob_failures_listed`.
  [[nodiscard]] std::span<const ReadFailure> part_failures(PackagePart part) const noexcept;
  // Failures of the part met past the most listed: counted, not kept.
  [[nodiscard]] std::uint64_t unlisted_failures(PackagePart part) const noexcept;
  [[nodiscard]] StageState stage_state(ReadStage stage) const noexcept;

  // Bytes of the message in the file, its framing included; what follows it
  // in a file is not part of the package.
  [[nodiscard]] std::uint64_t message_size() const noexcept;

  // The build digest stored in the package, or the failure met following its
  // pointer, which a completion reports in its turn.
  [[nodiscard]] const ReadResult<std::vector<std::uint8_t>>& stored_build_digest() const noexcept;

  // The contents of checked blob `blob`, decompressed again from the message
  // in one call, exactly as the read checked them.
  [[nodiscard]] Result<ByteBuffer> blob_contents(std::size_t blob) const;

  // The memory of one tile: see `TileMemory`. The model need not be valid:
  // a segment outside tile memory, outside its blob or overlapping another
  // is refused.
  [[nodiscard]] TileMemoryResult tile_memory(std::uint32_t physical_tile) const;

  struct State;

 private:
  explicit PackageReading(std::unique_ptr<State> state) noexcept;
  friend struct PackageReadingAccess;

  std::unique_ptr<State> state_;
};

// Rebuilds the memory of many tiles of one reading, as a whole-device check
// does: a blob that several tiles take bytes from is decompressed once, when
// the first of them needs it, and kept for the others, as long as the kept
// blobs fit in `budget` bytes; any other blob is decompressed for each tile
// that needs it. `tile_memory` may be called from several threads at once.
// The reading must outlive the source.
class ZEM_PACKAGE_API TileMemorySource {
 public:
  static constexpr std::uint64_t default_budget = std::uint64_t{32} << 20U;

  explicit TileMemorySource(const PackageReading& reading, std::uint64_t budget = default_budget);
  TileMemorySource(const TileMemorySource&) = delete;
  TileMemorySource& operator=(const TileMemorySource&) = delete;
  ~TileMemorySource();

  // What `PackageReading::tile_memory` gives.
  [[nodiscard]] TileMemoryResult tile_memory(std::uint32_t physical_tile) const;

  struct Cache;

 private:
  const PackageReading* reading_;
  std::unique_ptr<Cache> cache_;
};

// A package that passed every check of a read: what `Application::read`
// accepts, kept as a `PackageReading` instead of a full model.
class ZEM_PACKAGE_API CheckedPackage {
 public:
  // Completes `reading`: validation, then the comparison of the stored build
  // digest with the model's, then the event "application package read"; and
  // keeps it when it passes. A survey that met failures is not completed:
  // its first failure is reported.
  [[nodiscard]] static ReadResult<CheckedPackage> complete(PackageReading reading);

  [[nodiscard]] const PackageReading& reading() const noexcept { return reading_; }
  [[nodiscard]] const PackageModel& model() const noexcept { return reading_.model(); }
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
