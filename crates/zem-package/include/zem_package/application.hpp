#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "zem_package/api.hpp"
#include "zem_package/byte_buffer.hpp"
// Before the fixed values below, whose names the schema fields share.
#include "zem_package/element_path.hpp"
#include "zem_package/package_error.hpp"
#include "zem_package/read_failure.hpp"
#include "zem_package/read_options.hpp"
#include "zem_package/tile_memory.hpp"

namespace zem {

// Fixed values of every package this library accepts.
inline constexpr std::uint32_t format_version = 2;
inline constexpr std::string_view target_name = "zem21";
inline constexpr std::uint32_t tile_memory_base = 0x4c000;
inline constexpr std::uint32_t tile_memory_size = 0x9c000;
inline constexpr std::uint32_t tile_memory_end = tile_memory_base + tile_memory_size;

// A SHA-256 value.
using Digest = std::array<std::uint8_t, 32>;

struct ZEM_PACKAGE_API DigestHash {
  // A digest is already uniformly distributed: its first bytes are a hash.
  std::size_t operator()(const Digest& digest) const noexcept;
};

struct Blob {
  ByteBuffer data;  // contents after decompression
  Digest digest{};  // SHA-256 of `data`

  friend bool operator==(const Blob&, const Blob&) = default;
};

struct Segment {
  std::uint32_t address = 0;
  std::uint32_t memory_size = 0;
  std::uint64_t blob = 0;  // position in Application::blobs
  std::uint64_t blob_offset = 0;
  std::uint32_t data_size = 0;
  std::uint32_t aux = 0;

  friend bool operator==(const Segment&, const Segment&) = default;
};

struct TileImage {
  std::uint32_t physical_tile = 0;
  std::uint32_t aux_1 = 0;
  std::uint32_t aux_2 = 0;
  std::uint32_t aux_3 = 0;
  std::vector<Segment> segments;

  friend bool operator==(const TileImage&, const TileImage&) = default;
};

struct RegionSlice {
  std::uint32_t physical_tile = 0;
  std::uint32_t address = 0;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;

  friend bool operator==(const RegionSlice&, const RegionSlice&) = default;
};

struct Binding {
  std::string name;
  std::string label;
  std::vector<std::uint32_t> values;
  std::vector<RegionSlice> slices;

  friend bool operator==(const Binding&, const Binding&) = default;
};

struct HostPage {
  std::uint32_t id = 0;
  std::uint64_t size = 0;

  friend bool operator==(const HostPage&, const HostPage&) = default;
};

struct HostPageRef {
  std::uint32_t page = 0;
  std::uint64_t offset = 0;
  std::uint64_t aux = 0;
  std::uint64_t length = 0;

  friend bool operator==(const HostPageRef&, const HostPageRef&) = default;
};

struct HostCall {
  std::string name;
  std::uint32_t aux_1 = 0;
  std::uint32_t aux_2 = 0;
  std::uint32_t invocations = 1;
  std::vector<HostPageRef> page_refs_1;
  std::vector<HostPageRef> page_refs_2;

  friend bool operator==(const HostCall&, const HostCall&) = default;
};

struct HostExchange {
  std::uint32_t aux = 0;
  std::uint32_t startup_page = 0;
  std::uint64_t startup_offset = 0;
  std::vector<HostPage> pages;
  std::vector<std::uint32_t> required_pages;
  std::vector<HostCall> calls;

  friend bool operator==(const HostExchange&, const HostExchange&) = default;
};

struct EntryPoint {
  std::string name;
  std::uint32_t aux = 0;
  std::uint32_t external_syncs = 0;

  friend bool operator==(const EntryPoint&, const EntryPoint&) = default;
};

struct DeviceConfigWrite {
  std::uint32_t address = 0;
  std::uint32_t value = 0;

  friend bool operator==(const DeviceConfigWrite&, const DeviceConfigWrite&) = default;
};

// An application package in memory. Plain values: everything is owned, lists
// keep file order, and nothing refers back to the file it was read from.
struct ZEM_PACKAGE_API Application {
  std::string compiler = "0.1.0";
  std::vector<Blob> blobs;
  std::vector<TileImage> tiles;
  std::vector<Binding> bindings_1;
  std::vector<Binding> bindings_2;
  std::vector<Binding> bindings_3;
  HostExchange host_exchange;
  std::vector<EntryPoint> entry_points;
  std::vector<DeviceConfigWrite> device_config_writes;
  std::unordered_map<Digest, std::size_t, DigestHash> blobs_by_digest;

  // Reads, checks and completes a package from an open file, which it takes
  // over and closes on every path: all or nothing, whatever `options.mode`
  // says. It is the strict `Package::read`, with every blob's contents kept
  // as it is checked; `Package::read` also says where a read failed.
  [[nodiscard]] static Result<Application> read(int fd, const ReadOptions& options = {});

  // Checks the model's internal consistency; the first rule that fails is
  // reported.
  [[nodiscard]] Result<void> validate() const;

  // SHA-256 over the fixed serialization of the model.
  [[nodiscard]] Digest build_digest() const;

  // The zero-filled memory image of one tile, starting at its load base.
  [[nodiscard]] Result<std::vector<std::uint8_t>> tile_image(std::uint32_t physical_tile) const;

  // The tile with this number, its load base and its image, with a failure
  // that says which of the three could not be had (see `FailureSubject`).
  [[nodiscard]] ReadResult<TileMemory> tile_memory(std::uint32_t physical_tile) const;

  friend bool operator==(const Application&, const Application&) = default;
};

// The first tile in `tiles` with this physical tile number (a valid package
// has at most one), or null when there is none.
[[nodiscard]] ZEM_PACKAGE_API const TileImage* find_tile(std::span<const TileImage> tiles,
                                                         std::uint32_t physical_tile) noexcept;

// The lowest address among the tile's segments, or nothing for a tile without
// segments. Byte 0 of the tile's image stands at this address.
[[nodiscard]] ZEM_PACKAGE_API std::optional<std::uint32_t> load_base(
    const TileImage& tile) noexcept;

}  // namespace zem
