#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
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

// A package read from its file, every blob checked against its digest.
//
// `Package::read` is the one way in, from a path, from bytes or from an open
// file. A strict read (`ReadMode::strict`, the default) passes every check or
// fails with the first one that does not hold: its package is valid. A
// survey (`ReadMode::survey`) reads what it can of a package that may be
// broken, says for every part and every stage whether it was read, and
// lists the failures it met; its package is valid when it met none.
//
// A package holds its message in memory instead of its blobs' contents: a
// blob's contents are decompressed again from the message when they are
// asked for. So a package costs the memory of its file, however much the
// blobs hold.
class ZEM_PACKAGE_API Package {
 public:
  // Reads the package file at `path`, which must be a regular file: a FIFO
  // or a device could block the read or never end. A file that cannot be
  // opened or read fails with `FailureSubject::file`.
  [[nodiscard]] static ReadResult<Package> read(const std::filesystem::path& path,
                                                const ReadOptions& options = {});

  // Reads the package from bytes in memory, which are copied.
  [[nodiscard]] static ReadResult<Package> read(std::span<const std::uint8_t> bytes,
                                                const ReadOptions& options = {});

  // Reads the package from an open file (standard input, a pipe), from its
  // current position, and closes the file on every path. Bytes after the
  // message are never read.
  [[nodiscard]] static ReadResult<Package> read(io::FileDescriptor file,
                                                const ReadOptions& options = {});

  Package(Package&&) noexcept;
  Package& operator=(Package&&) noexcept;
  ~Package();

  // Whether every check passed: always for a strict read, for a survey when
  // it met no failure.
  [[nodiscard]] bool valid() const noexcept;

  // How it was read.
  [[nodiscard]] const ReadOptions& options() const noexcept;

  // The model. For a survey that met failures, each part holds what was read
  // of it; a blob that failed its checks keeps its place, marked unchecked.
  [[nodiscard]] const PackageModel& model() const noexcept;

  // How each blob of the table is stored, as far as the table could be
  // followed: all of them, unless a survey met a broken pointer there.
  [[nodiscard]] std::span<const BlobStorage> stored_blobs() const noexcept;

  // Every failure met, in read order; empty for a valid package. The first
  // is what a strict read reports.
  [[nodiscard]] std::span<const ReadFailure> failures() const noexcept;

  [[nodiscard]] PartState part_state(PackagePart part) const noexcept;
  // The failures met in the part, in read order. A survey checks every blob
  // and lists each one that fails, up to `most_blob_failures_listed`.
  [[nodiscard]] std::span<const ReadFailure> part_failures(PackagePart part) const noexcept;
  // Failures of the part met past the most listed: counted, not kept.
  [[nodiscard]] std::uint64_t unlisted_failures(PackagePart part) const noexcept;
  [[nodiscard]] StageState stage_state(ReadStage stage) const noexcept;

  // The message's bytes, its framing included, as the file holds them:
  // reading them again gives the same package. What follows the message in
  // a file is not part of the package.
  [[nodiscard]] std::span<const std::uint8_t> message_bytes() const noexcept;
  [[nodiscard]] std::uint64_t message_size() const noexcept { return message_bytes().size(); }

  // The build digest stored in the package, or the failure met following its
  // pointer, which a completion reports in its turn.
  [[nodiscard]] const ReadResult<std::vector<std::uint8_t>>& stored_build_digest() const noexcept;

  // The contents of blob `blob`, decompressed again from the message in one
  // call, exactly as the read checked them. A blob that failed its checks
  // has none: its failure is given.
  [[nodiscard]] ReadResult<ByteBuffer> blob_contents(std::size_t blob) const;

  // The memory of one tile: see `TileMemory`. A tile the package does not
  // have, or one without segments, fails with `FailureSubject::unknown_tile`
  // or `tile_without_segments`. The model need not be valid: a segment
  // outside tile memory, outside its blob, taking bytes from a blob that
  // failed its checks or overlapping another is refused.
  [[nodiscard]] ReadResult<TileMemory> tile_memory(std::uint32_t physical_tile) const;

  // The full model, every blob's contents decompressed: what
  // `Application::read` returns for the same package. A package that is not
  // valid gives its first failure.
  [[nodiscard]] ReadResult<Application> application() const;

  struct State;

 private:
  explicit Package(std::unique_ptr<State> state) noexcept;
  friend struct PackageAccess;

  std::unique_ptr<State> state_;
};

}  // namespace zem
