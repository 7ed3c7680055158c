#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "format/json_values.hpp"
#include "zem_package/package.hpp"

namespace zem::toolkit {

// One value of a package as a comparison shows it: its text, and its JSON
// value (a number, or a string for an address, a digest or a 64-bit size;
// null for a value that is not there, which its text says). Two values are
// equal when both are: two nulls of different texts differ.
struct Shown {
  std::string text;
  Json json;

  friend bool operator==(const Shown& a, const Shown& b) {
    return a.json == b.json && a.text == b.text;
  }
};

// Named values: the fields of an element, or what identifies it.
using Values = std::vector<std::pair<std::string, Shown>>;

// One field that differs: its value in the first package and in the second.
struct FieldChange {
  std::string field;
  Shown first;
  Shown second;
};

// How the rebuilt images of a tile that both packages hold compare.
struct ImageComparison {
  std::uint64_t first_size = 0;
  std::uint64_t second_size = 0;
  // The lowest address whose byte differs, or that one image holds and the
  // other does not; none when the images are equal.
  std::optional<std::uint64_t> first_difference;
  std::uint64_t differing_bytes = 0;
  // Why an image could not be rebuilt, in which case nothing is compared.
  std::optional<std::string> error;
};

// One element that differs between the packages.
struct Change {
  enum class Kind { added, removed, changed, reordered };
  Kind kind = Kind::changed;
  std::string label;  // "tile 7", "segment at 0x4e000", "blobs[1]"
  Values identity;    // what identifies it in JSON: {"physicalTile": 7}
  // An added or removed element: what it holds. A changed one: the fields
  // that differ.
  Values held;
  std::vector<FieldChange> fields;
  std::vector<Change> parts;             // changes within it: a tile's segments
  std::optional<ImageComparison> image;  // a changed tile's image
};

// One part of the packages and what differs in it, in a fixed order:
// compiler, blobs, tiles, bindings, host exchange, entry points, device
// configuration writes.
struct Section {
  std::string key;    // "deviceConfigWrites"
  std::string title;  // "device configuration writes"
  std::vector<Change> changes;
};

// One package as compared: read up to the end of its structure; a package
// that fails validation or its build digest is compared all the same.
struct ComparedPackage {
  std::string argument;  // the path as given, "-" for standard input
  const Package* package = nullptr;
  std::optional<ReadFailure> completion_failure;  // validation's or the build digest's
  std::optional<std::uint64_t> trailing_bytes;
};

// Something that is no difference between the packages but worth knowing.
struct ComparisonNote {
  enum class Kind {
    not_valid,       // a package fails validation or its build digest
    storage,         // a blob is stored otherwise (compression, stored size)
    declared_size,   // a compressed blob declares another uncompressed size
    trailing_bytes,  // bytes follow a package's message
  };
  Kind kind = Kind::storage;
  std::string message;
};

struct Comparison {
  // The header is the same in every package that can be read; the compiler
  // text is each package's own.
  std::string first_compiler;
  std::string second_compiler;
  std::vector<Section> sections;
  Digest first_digest{};  // each package's computed build digest
  Digest second_digest{};
  // What differs only in how the packages are stored, and packages that are
  // not valid; never a difference.
  std::vector<ComparisonNote> notes;

  // Equal in everything the build digest covers.
  [[nodiscard]] bool equal() const noexcept { return first_digest == second_digest; }
};

// What differs between two packages, section by section. Blobs are matched
// by digest, tiles by physical tile number, segments by address, bindings,
// host calls and entry points by name, host pages by id, device
// configuration writes by address; slices and page references by position.
// Each tile whose segments differ has its image rebuilt in both packages.
[[nodiscard]] Comparison compare_packages(const ComparedPackage& first,
                                          const ComparedPackage& second);

}  // namespace zem::toolkit
