#pragma once

// How the writer lays a package's message out: one segment, whose words are
//
//   - the root pointer;
//   - every blob's stored bytes, in table order, each from a word boundary;
//   - the root struct, then everything it holds, field by field in schema
//     order, each list followed by what its elements hold.
//
// The blobs come first so that each can be written as soon as it is made:
// where one starts depends only on the sizes of those before it, and the
// structure after them is laid out once every blob is known. The layout is
// a function of the model and the stored bytes alone, so the same package
// is always the same file.

#include <cstdint>
#include <span>

#include <capnp/common.h>

#include "zem_package/package_model.hpp"
#include "zem_package/write_failure.hpp"

namespace zem {

// The most words one segment holds, and so one package's message.
inline constexpr std::uint64_t max_message_words = (std::uint64_t{1} << 29U) - 1;
// The most elements one list holds; a text holds one fewer bytes (its NUL).
inline constexpr std::uint64_t max_list_elements = (std::uint64_t{1} << 29U) - 1;
// The framing in front of a message of one segment: the segment count less
// one, and the segment's size in words.
inline constexpr std::uint64_t framing_bytes = 8;
// The root pointer, before the first blob.
inline constexpr std::uint64_t root_pointer_words = 1;

[[nodiscard]] constexpr std::uint64_t words_for_bytes(std::uint64_t bytes) noexcept {
  return bytes / 8 + (bytes % 8 != 0 ? 1 : 0);
}

// Where the stored bytes of a blob start in the file when the blobs before
// it take `words_before` words.
[[nodiscard]] constexpr std::uint64_t payload_file_offset(std::uint64_t words_before) noexcept {
  return framing_bytes + 8 * (root_pointer_words + words_before);
}

// The words the structure after the blobs takes for `model`, or the element
// that holds more than one list can (a blob's payload is checked as it is
// made: see `check_payload_size`).
[[nodiscard]] WriteResult<std::uint64_t> structure_words(const PackageModel& model);

// Refuses a payload larger than one data field holds.
[[nodiscard]] WriteResult<void> check_payload_size(std::size_t blob, std::uint64_t size);

// Builds the message into `words`, zeroed and exactly as long as the message:
// the blobs' places are reserved, in order, but their bytes are not written
// (whoever stored them did); the rest is written in full. Each blob of
// `model` says how it is stored (`storage.stored_size`, compression, declared
// size) and must start at its `storage.file_offset`.
[[nodiscard]] WriteResult<void> build_message(std::span<capnp::word> words,
                                              const PackageModel& model,
                                              const Digest& build_digest);

}  // namespace zem
