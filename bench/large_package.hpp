#pragma once

// A large, realistic application package for the speed benchmarks, generated
// from a seed: the same options always give the same model.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "zem_package/application.hpp"

namespace zem::bench {

// How the tiles of a package hold their bytes.
enum class TileLayout : std::uint8_t {
  // Each tile loads large blobs of its own, three in four a small shared
  // runtime too; one tile, the middle one, holds a template setup.
  own_blobs,
  // Every tile holds a template setup and expects a record of its own: its
  // first segment, a blob of its own, holds its template regions and patch
  // table.
  own_blobs_every_template,
  // Every tile runs one program, a large blob they all share, which holds
  // the template setup; each keeps its data, template regions and patch
  // table in blobs of its own, so that each expects a record of its own.
  shared_program,
};

struct LargePackageOptions {
  std::uint32_t tiles = 256;
  TileLayout layout = TileLayout::own_blobs;
  // Share of the blobs stored Zstandard-compressed, in percent; the rest are
  // stored plain.
  std::uint32_t compressed_percent = 90;
  std::uint64_t seed = 1;
};

struct LargePackageStats {
  std::size_t blobs = 0;
  std::size_t compressed_blobs = 0;
  std::size_t shared_blobs = 0;  // blobs that more than one tile loads
  std::size_t segments = 0;
  std::size_t bindings = 0;
  std::size_t host_pages = 0;
  std::size_t host_calls = 0;
  std::uint64_t blob_bytes = 0;     // all blob contents, uncompressed
  std::uint64_t payload_bytes = 0;  // the blob payloads as the file stores them
  std::uint64_t package_bytes = 0;
};

struct LargePackage {
  std::vector<std::uint8_t> package;  // the package file's bytes
  std::vector<std::uint8_t> record;   // the matching device record of `template_tile`
  std::uint32_t template_tile = 0;    // physical tile that holds the template setup
  // With a template in every tile, each tile's record, by physical tile.
  std::vector<std::vector<std::uint8_t>> records;
  LargePackageStats stats;
};

// Each tile fills most of its memory in a few segments (code, constant tables
// and a data segment whose tail is zero), with gaps between them. Most blobs
// belong to one segment; a few hold a runtime that many tiles load. One tile's
// first segment starts with a template setup, its regions and a patch table,
// and `record` is what a device loaded with it holds. The model also has a few
// thousand bindings and host pages, host calls, entry points and device
// configuration writes. Every package generated passes a full read.
[[nodiscard]] LargePackage make_large_package(const LargePackageOptions& options);

// The model alone, with the compression chosen for each blob.
struct LargeModel {
  Application model;
  std::vector<bool> compressed;  // by blob position
  std::uint32_t template_tile = 0;
  std::vector<std::vector<std::uint32_t>> records;  // by tile, for a template in every tile
};

// "own-blobs", "own-blobs-every-template", "shared-program".
[[nodiscard]] std::string_view layout_name(TileLayout layout) noexcept;
[[nodiscard]] LargeModel make_large_model(const LargePackageOptions& options);

}  // namespace zem::bench
