#pragma once

// A large, realistic application package for the speed benchmarks, generated
// from a seed: the same options always give the same model.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "zem_package/application.hpp"

namespace zem::bench {

struct LargePackageOptions {
  std::uint32_t tiles = 256;
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
  std::vector<std::uint8_t> record;   // the matching device record
  std::uint32_t template_tile = 0;    // physical tile that holds the template setup
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
};
[[nodiscard]] LargeModel make_large_model(const LargePackageOptions& options);

}  // namespace zem::bench
