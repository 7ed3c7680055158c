#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "format/json_values.hpp"
#include "zem_package/package.hpp"

namespace zem::toolkit {

// Something a valid package may hold that a careful engineer still wants to
// know. A note never makes a package invalid.
struct Note {
  enum class Kind {
    declared_size,         // a compressed blob declares another uncompressed size than it has
    trailing_bytes,        // bytes follow the message in the file
    unused_blob,           // no segment takes bytes from a blob
    tile_without_segments  // a tile loads nothing
  };
  Kind kind = Kind::declared_size;
  ElementPath element;  // `blobs[0]`, `tiles[1]`; empty for the file as a whole
  std::string message;  // "blobs[0] declares 8192 bytes uncompressed but holds 4096"
};

// The notes on what `reading` holds, in the order of the kinds above;
// `trailing_bytes` is how many bytes follow the message, when known. Only
// blobs that were checked are looked at, and unused blobs and empty tiles
// only when the package was read whole.
[[nodiscard]] std::vector<Note> package_notes(const Package& reading,
                                              std::optional<std::uint64_t> trailing_bytes);

// One "note: ..." line per note, each ending in a newline. Past 10 notes of
// one kind the rest are counted on one line.
[[nodiscard]] std::string notes_text(const std::vector<Note>& notes);

// [{"kind": "declaredSize", "element": "blobs[0]", "message": "..."}, ...];
// the element is null for the file as a whole.
[[nodiscard]] Json notes_json(const std::vector<Note>& notes);

}  // namespace zem::toolkit
