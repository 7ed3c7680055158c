#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "zem_package/package_error.hpp"

namespace zem {

// The stages of a read, in the order they run.
enum class ReadStage : std::uint8_t {
  framing,       // the message framing and its root
  header,        // format version, target, tile memory, compiler
  blobs,         // decompression, digests, duplicates
  structure,     // tiles, bindings, host exchange, entry points, writes
  validation,    // the model's rules
  build_digest,  // the stored build digest against the computed one
};

// "framing", "header", "blobs", "structure", "validation", "build digest".
[[nodiscard]] std::string_view stage_name(ReadStage stage) noexcept;

// One value that broke a rule, or that identifies what broke it: an address
// ("address", "0x4c102"), a size, or another element ("earlier write",
// "deviceConfigWrites[1]"). Addresses are written "0x" and lower-case hex,
// counts and sizes in decimal.
struct FailureDetail {
  std::string name;
  std::string value;

  friend bool operator==(const FailureDetail&, const FailureDetail&) = default;
};

// Why and where a read failed. `error` is exactly the error the read
// reports; the rest says where it happened.
struct ReadFailure {
  PackageError error;
  ReadStage stage = ReadStage::framing;
  // The element of the package that failed, named by its schema path:
  // "blobs[17]", "tiles[3].segments[1]", "bindings2[5].label",
  // "hostExchange.calls[2].name", "deviceConfigWrites[4]". Empty when the
  // message as a whole could not be read.
  std::string element;
  // For a failed rule, the values that broke it where the message does not
  // already give them; empty otherwise.
  std::vector<FailureDetail> details;

  friend bool operator==(const ReadFailure&, const ReadFailure&) = default;
};

template <class T>
using ReadResult = std::expected<T, ReadFailure>;

}  // namespace zem
