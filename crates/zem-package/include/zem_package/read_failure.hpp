#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "zem_package/api.hpp"
#include "zem_package/element_path.hpp"
#include "zem_package/io.hpp"
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

inline constexpr std::array all_read_stages = {ReadStage::framing,    ReadStage::header,
                                               ReadStage::blobs,      ReadStage::structure,
                                               ReadStage::validation, ReadStage::build_digest};

// "framing", "header", "blobs", "structure", "validation", "build digest".
[[nodiscard]] ZEM_PACKAGE_API std::string_view stage_name(ReadStage stage) noexcept;

// The kinds of value a failure detail holds. Each is shown one way, by
// `detail_text`; the tools format a value only where they show it.
namespace detail_value {

// A count, a size, an offset or a number: shown in decimal.
struct Number {
  std::uint64_t value = 0;
  friend bool operator==(const Number&, const Number&) = default;
};
// An address, or a size the rule states in hex: shown "0x4c102".
struct Address {
  std::uint64_t value = 0;
  friend bool operator==(const Address&, const Address&) = default;
};
// A text of the package (a name) or of the library: shown as it is, or
// quoted and escaped when `quoted`.
struct Text {
  std::string value;
  bool quoted = false;
  friend bool operator==(const Text&, const Text&) = default;
};
// A blob's compression code: shown "none", "zstd" or "code 7".
struct Compression {
  std::uint16_t code = 0;
  friend bool operator==(const Compression&, const Compression&) = default;
};
// A digest as stored or computed, of any length (a stored one need not have
// 32 bytes): shown in lower-case hex, followed by " (N bytes)" when
// `length_shown`.
struct Digest {
  std::vector<std::uint8_t> bytes;
  bool length_shown = false;
  friend bool operator==(const Digest&, const Digest&) = default;
};

}  // namespace detail_value

using DetailValue = std::variant<detail_value::Number, detail_value::Address, detail_value::Text,
                                 detail_value::Compression, detail_value::Digest, ElementPath>;

// The value as the tools show it: "17", "0x4c102", "host_print",
// "\"zem22\"", "zstd", "d9c7...e82", "tiles[0].segments[1]".
[[nodiscard]] ZEM_PACKAGE_API std::string detail_text(const DetailValue& value);

// One value that broke a rule, or that identifies what broke it: an address,
// a size, or another element ("earlier write", `deviceConfigWrites[1]`).
struct FailureDetail {
  std::string name;
  DetailValue value;

  friend bool operator==(const FailureDetail&, const FailureDetail&) = default;
};

// What a failure is about, for callers that answer each in a way of their
// own: an operating system error, a lookup, or what the package holds.
enum class FailureSubject : std::uint8_t {
  package,                // what the package holds broke a rule, or could not be read
  file,                   // its file could not be opened or read: see `file_error`
  unknown_tile,           // a tile was asked for that the package does not have
  tile_without_segments,  // a tile was asked for that has no segments, and so no memory
};

// Why and where a read failed. `error` is exactly the error the read
// reports; the rest says where it happened.
struct ReadFailure {
  ReadFailure() = default;
  ReadFailure(PackageError error_, ReadStage stage_, ElementPath element_ = {},
              std::vector<FailureDetail> details_ = {})
      : error(std::move(error_)), stage(stage_), element(element_), details(std::move(details_)) {}

  PackageError error;
  ReadStage stage = ReadStage::framing;
  // The element of the package that failed: `blobs[17].digest`,
  // `tiles[3].segments[1]`, `hostExchange.calls[2].name`. Empty when the
  // message as a whole could not be read.
  ElementPath element;
  // What identifies the element (a tile's number, a binding's name, how a
  // blob is stored) and, for a failed rule, the values that broke it where
  // the message does not already give them.
  std::vector<FailureDetail> details;
  FailureSubject subject = FailureSubject::package;
  // How the file failed, for `FailureSubject::file`: the step, the system's
  // error number, what the path names when it is not a regular file.
  std::optional<io::FileError> file_error;

  friend bool operator==(const ReadFailure&, const ReadFailure&) = default;
};

template <class T>
using ReadResult = std::expected<T, ReadFailure>;

}  // namespace zem
