#include "toolkit/package/package_notes.hpp"

#include <fmt/format.h>

#include "format/hex.hpp"
#include "toolkit/package/package_layout.hpp"

namespace zem::toolkit {
namespace {

// Notes of one kind shown one by one before the rest are counted.
constexpr std::size_t notes_shown_per_kind = 10;

std::string_view kind_key(Note::Kind kind) {
  switch (kind) {
    case Note::Kind::declared_size:
      return "declaredSize";
    case Note::Kind::trailing_bytes:
      return "trailingBytes";
    case Note::Kind::unused_blob:
      return "unusedBlob";
    case Note::Kind::tile_without_segments:
      return "tileWithoutSegments";
  }
  return "unknown";
}

// What the counted rest of a kind are: "blobs used by no segment".
std::string_view kind_plural(Note::Kind kind) {
  switch (kind) {
    case Note::Kind::declared_size:
      return "blobs that declare another size";
    case Note::Kind::trailing_bytes:
      return "trailing byte notes";
    case Note::Kind::unused_blob:
      return "blobs used by no segment";
    case Note::Kind::tile_without_segments:
      return "tiles without segments";
  }
  return "notes";
}

std::string bytes_text(std::uint64_t count) {
  return fmt::format("{} byte{}", count, count == 1 ? "" : "s");
}

}  // namespace

std::vector<Note> package_notes(const Package& reading,
                                std::optional<std::uint64_t> trailing_bytes) {
  std::vector<Note> notes;
  const std::vector<BlobInfo>& blobs = reading.model().blobs;
  for (std::size_t i = 0; i < blobs.size(); ++i) {
    const BlobInfo& blob = blobs[i];
    // A plain blob's declared size means nothing: its payload is its contents;
    // a blob that failed its checks holds nothing that is known.
    if (blob.checked && blob.storage.compression == compression_zstd &&
        blob.storage.declared_size != blob.size) {
      const ElementPath element{{PackageField::blobs, i}};
      notes.push_back({Note::Kind::declared_size, element,
                       fmt::format("{} declares {} uncompressed but holds {}", element.to_string(),
                                   bytes_text(blob.storage.declared_size), blob.size)});
    }
  }
  if (trailing_bytes && *trailing_bytes > 0) {
    notes.push_back({Note::Kind::trailing_bytes,
                     {},
                     fmt::format("{} follow{} the message and are not part of the package",
                                 bytes_text(*trailing_bytes), *trailing_bytes == 1 ? "s" : "")});
  }
  // Which blobs are used and which tiles are empty is known only of a model
  // read whole.
  if (!read_whole(reading)) return notes;
  const PackageModel& model = reading.model();
  const std::vector<std::size_t> uses = segments_per_blob(model);
  for (std::size_t i = 0; i < uses.size() && i < blobs.size(); ++i) {
    if (uses[i] != 0) continue;
    const ElementPath element{{PackageField::blobs, i}};
    notes.push_back({Note::Kind::unused_blob, element,
                     fmt::format("{} ({}) is used by no segment", element.to_string(),
                                 short_digest(blobs[i].digest))});
  }
  for (std::size_t t = 0; t < model.tiles.size(); ++t) {
    if (!model.tiles[t].segments.empty()) continue;
    const ElementPath element{{PackageField::tiles, t}};
    notes.push_back({Note::Kind::tile_without_segments, element,
                     fmt::format("{} (physical tile {}) has no segments", element.to_string(),
                                 model.tiles[t].physical_tile)});
  }
  return notes;
}

std::string notes_text(const std::vector<Note>& notes) {
  std::string text;
  for (std::size_t i = 0; i < notes.size();) {
    const Note::Kind kind = notes[i].kind;
    std::size_t end = i;
    while (end < notes.size() && notes[end].kind == kind) ++end;
    const std::size_t shown = std::min(end - i, notes_shown_per_kind);
    for (std::size_t k = i; k < i + shown; ++k) text += fmt::format("note: {}\n", notes[k].message);
    if (end - i > shown) {
      text += fmt::format("note: and {} more {}\n", end - i - shown, kind_plural(kind));
    }
    i = end;
  }
  return text;
}

Json notes_json(const std::vector<Note>& notes) {
  Json list = Json::array();
  for (const Note& note : notes) {
    list.push_back(Json{{"kind", kind_key(note.kind)},
                        {"element", note.element.empty() ? Json() : Json(note.element.to_string())},
                        {"message", note.message}});
  }
  return list;
}

}  // namespace zem::toolkit
