#pragma once

// Builds application packages in code for tests, the bundled example and the
// benchmarks. A package is described by its model, which the library's
// writer writes, so every package it makes is valid. A test breaks one on
// purpose by changing the valid package's message (`tweak`, or a declared
// size through `BlobEncoding`); the writer never writes a broken one.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "zem_package/application.capnp.h"
#include "zem_package/application.hpp"

namespace zem::testing {

struct BlobEncoding {
  bool compressed = false;
  // Declared upper bound of the contents; the contents' size when unset.
  std::optional<std::uint64_t> uncompressed_size;
  int level = 3;
};

struct PackageOptions {
  // One per blob of the model, by position; blobs beyond the list are plain.
  std::vector<BlobEncoding> blob_encodings;
  // Runs on the written package's message, changed in place (what it adds
  // goes after the rest): the place to break a valid package on purpose.
  std::function<void(schema::Application::Builder)> tweak;
};

// A blob holding `contents`, with its digest.
[[nodiscard]] Blob make_blob(std::span<const std::uint8_t> contents);

// Fills `model.blobs_by_digest` from its blobs, as a read would.
void index_blobs(Application& model);

// The package file's bytes for `model`, written by the library's writer;
// throws std::invalid_argument when the writer refuses the model.
[[nodiscard]] std::vector<std::uint8_t> build_package(const Application& model,
                                                      const PackageOptions& options = {});

// One-shot Zstandard compression.
[[nodiscard]] std::vector<std::uint8_t> compress(std::span<const std::uint8_t> bytes,
                                                 int level = 3);

// An in-memory file holding `bytes`, positioned at its start; the caller owns
// the descriptor.
[[nodiscard]] int memory_file(std::span<const std::uint8_t> bytes);

// Reads `bytes` as a package file: "success", or the error's text form.
// Throws std::logic_error when the library's reads of it do not agree.
[[nodiscard]] std::string read_result(std::span<const std::uint8_t> bytes);

// Writes `bytes` to `path`, replacing the file.
void write_file(const std::string& path, std::span<const std::uint8_t> bytes);

// Little-endian bytes of `words`.
[[nodiscard]] std::vector<std::uint8_t> words_to_bytes(std::span<const std::uint32_t> words);

// A tile image that holds a template setup, its two template regions and a
// patch table whose two groups use short and long deltas, together with the
// record that a device loaded with it holds (worked out by hand).
struct TemplateTile {
  std::uint32_t load_base = 0;
  std::vector<std::uint8_t> image;
  std::vector<std::uint32_t> record;
  std::string diagnostic_line;  // what the verifier prints for physical tile 7
};
[[nodiscard]] TemplateTile make_template_tile();

// A small valid package model: tile 7 carries `make_template_tile()` in one
// compressed blob and one segment, tile 3 a plain blob; a binding, host
// exchange with one call, an entry point and a device configuration write.
[[nodiscard]] Application example_application();

// Encodings for `example_application()`: first blob compressed.
[[nodiscard]] PackageOptions example_options();

}  // namespace zem::testing
