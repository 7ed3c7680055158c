#include "toolkit/report/verify_documents.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <new>
#include <nlohmann/json.hpp>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_set>

#include "toolkit/files.hpp"
#include "toolkit/package/package_input.hpp"
#include "toolkit/report/well_formed_document.hpp"
#include "toolkit/verify/verify_report.hpp"
#include "zem_package/text_place.hpp"

namespace zem::toolkit {
namespace {

// Objects kept as lists of members: a document holds millions of small
// objects, and a list costs far fewer allocations than a tree of members.
using Document = nlohmann::ordered_json;

// Deeper nesting than any verify document has is refused while parsing, so
// that nothing later walks a hostile depth.
constexpr int max_depth = 16;
struct TooDeep {};

// "line 3, column 7" of the byte at `offset` (0-based) of `text`.
std::string place_of(std::string_view text, std::size_t offset) {
  const TextPlace place = text_place(text, offset);
  return fmt::format("line {}, column {}", place.line, place.column);
}

// Why a document is not a verify document: where, and what is wrong there.
struct ShapeError {
  std::string where;
  std::string what;
};

template <class T>
using Shaped = std::expected<T, ShapeError>;

Shaped<const Document*> member(const Document& object, const char* key, const std::string& where) {
  const auto found = object.find(key);
  if (found == object.end())
    return std::unexpected(ShapeError{where, fmt::format("has no {}", key)});
  return &*found;
}

Shaped<std::string> text_member(const Document& object, const char* key, const std::string& where) {
  ZEM_ASSIGN_OR_RETURN(const Document* value, member(object, key, where));
  if (!value->is_string()) {
    return std::unexpected(ShapeError{where, fmt::format("{} is not a string", key)});
  }
  return value->get<std::string>();
}

Shaped<std::uint32_t> tile_member(const Document& object, const char* key,
                                  const std::string& where) {
  ZEM_ASSIGN_OR_RETURN(const Document* value, member(object, key, where));
  if (!value->is_number_unsigned() || value->get<std::uint64_t>() > 0xffffffffU) {
    return std::unexpected(ShapeError{where, fmt::format("{} is not a tile number", key)});
  }
  return value->get<std::uint32_t>();
}

Shaped<const Document*> array_member(const Document& object, const char* key,
                                     const std::string& where) {
  ZEM_ASSIGN_OR_RETURN(const Document* value, member(object, key, where));
  if (!value->is_array()) {
    return std::unexpected(ShapeError{where, fmt::format("{} is not a list", key)});
  }
  return value;
}

std::optional<TileStatus> status_named(std::string_view name) {
  for (const TileStatus status : all_tile_statuses) {
    if (status_name(status) == name) return status;
  }
  return std::nullopt;
}

// "stuck-bit bit=31 stuckAt=1 words=10": a hint's kind, then its scalar
// members; a list is given by its length.
std::string hint_words(const Document& hint) {
  std::string text = hint["kind"].get<std::string>();
  // By name, whatever order the document gives them in.
  std::vector<std::pair<std::string, const Document*>> members;
  for (const auto& [key, value] : hint.items()) members.emplace_back(key, &value);
  std::ranges::sort(members, {}, [](const auto& member) { return member.first; });
  for (const auto& [key, member] : members) {
    const Document& value = *member;
    if (key == "kind") continue;
    if (value.is_array()) {
      text += fmt::format(" {}=[{} listed]", key, value.size());
    } else if (value.is_string()) {
      text += fmt::format(" {}={}", key, value.get<std::string>());
    } else if (value.is_primitive() && !value.is_null()) {
      text += fmt::format(" {}={}", key, value.dump());
    }
  }
  return text;
}

// "word 3: 0x00000001, expected 0x00000002"; empty when the first
// difference lacks one of them.
std::string difference_words(const Document& differences) {
  if (differences.empty() || !differences[0].is_object()) return "";
  const Document& first = differences[0];
  const auto word = first.find("word");
  const auto actual = first.find("actual");
  const auto expected = first.find("expected");
  if (word == first.end() || actual == first.end() || expected == first.end() ||
      !word->is_number_unsigned() || !actual->is_string() || !expected->is_string()) {
    return "";
  }
  return fmt::format("word {}: {}, expected {}", word->get<std::uint64_t>(),
                     actual->get<std::string>(), expected->get<std::string>());
}

Shaped<ReportedTile> tile_of(const Document& tile, const std::string& where) {
  if (!tile.is_object()) return std::unexpected(ShapeError{where, "is not an object"});
  ReportedTile reported;
  ZEM_ASSIGN_OR_RETURN(reported.physical_tile, tile_member(tile, "physicalTile", where));
  ZEM_ASSIGN_OR_RETURN(const std::string status, text_member(tile, "status", where));
  const std::optional<TileStatus> named = status_named(status);
  if (!named) return std::unexpected(ShapeError{where, "status is not a tile status"});
  reported.status = *named;
  ZEM_ASSIGN_OR_RETURN(const Document* reason, member(tile, "reason", where));
  if (reason->is_string()) {
    reported.reason = reason->get<std::string>();
  } else if (!reason->is_null()) {
    return std::unexpected(ShapeError{where, "reason is neither a string nor null"});
  }
  ZEM_ASSIGN_OR_RETURN(const Document* hints, array_member(tile, "hints", where));
  for (const Document& hint : *hints) {
    const auto kind = hint.is_object() ? hint.find("kind") : hint.end();
    if (!hint.is_object() || kind == hint.end() || !kind->is_string()) {
      return std::unexpected(ShapeError{where, "a hint has no kind"});
    }
    reported.hints.push_back(hint_words(hint));
  }
  ZEM_ASSIGN_OR_RETURN(const Document* differences, array_member(tile, "differences", where));
  reported.first_difference = difference_words(*differences);
  ZEM_ASSIGN_OR_RETURN(const Document* differing, member(tile, "differingWords", where));
  if (differing->is_number_unsigned()) reported.differing_words = differing->get<std::uint64_t>();
  return reported;
}

Shaped<ReportedDevice> device_of(const Document& device, const std::string& where,
                                 const std::string& file) {
  if (!device.is_object()) return std::unexpected(ShapeError{where, "is not an object"});
  ReportedDevice reported;
  reported.file = file;
  ZEM_ASSIGN_OR_RETURN(reported.records, text_member(device, "records", where));
  // A device named on the command line carries its name; otherwise its
  // pattern is its name.
  if (device.contains("name")) {
    ZEM_ASSIGN_OR_RETURN(reported.name, text_member(device, "name", where));
  } else {
    reported.name = reported.records;
  }
  ZEM_ASSIGN_OR_RETURN(const Document* tiles, array_member(device, "tiles", where));
  reported.outcome.name = reported.name;
  // The tiles named so far: a hash set, so that a document of millions of
  // tiles costs no more than its length.
  std::unordered_set<std::uint32_t> seen;
  for (std::size_t i = 0; i < tiles->size(); ++i) {
    ZEM_ASSIGN_OR_RETURN(ReportedTile tile,
                         tile_of((*tiles)[i], fmt::format("{}.tiles[{}]", where, i)));
    TileOutcome outcome{tile.physical_tile, tile.status, {}};
    for (const std::string& hint : tile.hints) {
      outcome.hints.push_back(hint.substr(0, hint.find(' ')));
    }
    if (!seen.insert(tile.physical_tile).second) {
      return std::unexpected(
          ShapeError{where, fmt::format("names tile {} twice", tile.physical_tile)});
    }
    reported.outcome.tiles.push_back(std::move(outcome));
    reported.tiles.push_back(std::move(tile));
  }
  return reported;
}

// The document's values, or where it is not a verify document; a verify
// document of another format is told apart by its "format".
Outcome<VerifyDocument> document_of(const Document& json, const std::string& file) {
  const auto not_verify = [&](const ShapeError& error) {
    return std::unexpected(file_error(
        file, fmt::format("not a verify document (as zem-package verify --json writes): {}{}{}",
                          error.where, error.where.empty() ? "" : " ", error.what)));
  };
  // The keys every verify document has, whatever its format.
  if (!json.is_object() || !json.contains("format") || !json.contains("devices") ||
      !json.contains("noTemplateSetup") || !json.contains("summary")) {
    return not_verify({"", "it lacks format, devices, noTemplateSetup or summary"});
  }
  const Document& format = json["format"];
  if (!format.is_number_integer() || format.get<std::int64_t>() != verify_json_format) {
    return std::unexpected(
        file_error(file, fmt::format("a verify document of format {}; report reads format {}",
                                     format.dump(), verify_json_format)));
  }
  VerifyDocument document;
  document.file = file;
  const auto taken = [&]() -> Shaped<void> {
    ZEM_ASSIGN_OR_RETURN(document.package, text_member(json, "package", ""));
    ZEM_ASSIGN_OR_RETURN(document.build_digest, text_member(json, "buildDigest", ""));
    ZEM_ASSIGN_OR_RETURN(const Document* without, array_member(json, "noTemplateSetup", ""));
    for (std::size_t i = 0; i < without->size(); ++i) {
      ZEM_ASSIGN_OR_RETURN(const std::uint32_t tile,
                           tile_member(Document{{"tile", (*without)[i]}}, "tile",
                                       fmt::format("noTemplateSetup[{}]", i)));
      document.without_setup.push_back(tile);
    }
    ZEM_ASSIGN_OR_RETURN(const Document* devices, array_member(json, "devices", ""));
    for (std::size_t i = 0; i < devices->size(); ++i) {
      ZEM_ASSIGN_OR_RETURN(ReportedDevice device,
                           device_of((*devices)[i], fmt::format("devices[{}]", i), file));
      document.devices.push_back(std::move(device));
    }
    return {};
  }();
  if (!taken) return not_verify(taken.error());
  return document;
}

}  // namespace

Outcome<VerifyDocument> parse_verify_document(std::string_view text, const std::string& file) {
  // Nearly every document is one verify wrote: read fast, and exactly only
  // when something is off. A deep one is the exact reader's to refuse.
  const TextOutline outline = outline_of(text);
  if (outline.depth <= max_depth) {
    std::optional<VerifyDocument> well_formed = read_well_formed_document(text, file, outline);
    if (well_formed) return std::move(*well_formed);
  }
  return parse_verify_document_exactly(text, file);
}

Outcome<VerifyDocument> parse_verify_document_exactly(std::string_view text,
                                                      const std::string& file) {
  // The parser takes a NUL byte for the end of its input and would ignore
  // whatever follows; JSON text never holds one.
  if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
    return std::unexpected(
        file_error(file, fmt::format("not valid JSON at {}", place_of(text, nul))));
  }
  Document json;
  try {
    // Within the depth, parsed without watching it, which is much faster.
    if (outline_of(text).depth <= max_depth) {
      json = Document::parse(text);
    } else {
      json = Document::parse(text, [](int depth, Document::parse_event_t, Document&) {
        if (depth > max_depth) throw TooDeep{};
        return true;
      });
    }
  } catch (const Document::parse_error& error) {
    // The parser counts bytes from 1; past the last one, the text ended
    // where more was needed.
    if (error.byte > text.size()) {
      return std::unexpected(
          file_error(file, fmt::format("the JSON ends early, at {} (a file cut short?)",
                                       place_of(text, text.size()))));
    }
    return std::unexpected(file_error(
        file,
        fmt::format("not valid JSON at {}", place_of(text, error.byte == 0 ? 0 : error.byte - 1))));
  } catch (const TooDeep&) {
    return std::unexpected(
        file_error(file, fmt::format("not a verify document: nested deeper than {}", max_depth)));
  }
  return document_of(json, file);
}

Outcome<VerifyDocument> read_verify_document(const std::string& path) {
  ZEM_ASSIGN_OR_RETURN(const io::RegularFile file, open_input(path));
  if (file.size > max_document_bytes) {
    return std::unexpected(
        file_error(path, fmt::format("{} bytes, more than a verify document of at most {} MiB",
                                     file.size, max_document_bytes >> 20)));
  }
  auto bytes = io::read_prefix(file, max_document_bytes);
  if (!bytes) return std::unexpected(file_os_error(path, bytes.error().os_error));
  return parse_verify_document(
      std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()), path);
}

Outcome<std::vector<VerifyDocument>> read_verify_documents(std::span<const std::string> paths,
                                                           unsigned threads) {
  std::vector<std::optional<Outcome<VerifyDocument>>> read(paths.size());
  // The first document that failed, in the order given: later ones are not
  // needed, earlier ones still are, since one of them may fail first.
  std::atomic<std::size_t> first_failure{paths.size()};
  std::atomic<std::size_t> next{0};
  const auto drain = [&] {
    for (std::size_t i = next++; i < paths.size(); i = next++) {
      if (i > first_failure.load()) continue;
      try {
        read[i] = read_verify_document(paths[i]);
      } catch (const std::bad_alloc&) {
        read[i] = std::unexpected(file_error(paths[i], "not enough memory to read it"));
      }
      if (!*read[i]) {
        std::size_t failed = first_failure.load();
        while (i < failed && !first_failure.compare_exchange_weak(failed, i)) {
        }
      }
    }
  };
  {
    std::vector<std::jthread> helpers;
    const std::size_t wanted = std::min<std::size_t>(std::max(threads, 1U) - 1, paths.size());
    for (std::size_t t = 0; t < wanted; ++t) {
      try {
        helpers.emplace_back(drain);
      } catch (const std::system_error&) {
        break;  // the threads started, and this one, read them all
      }
    }
    drain();
  }  // joins the helpers
  std::vector<VerifyDocument> documents;
  documents.reserve(paths.size());
  for (std::optional<Outcome<VerifyDocument>>& document : read) {
    if (!*document) return std::unexpected(std::move(*document).error());
    documents.push_back(std::move(**document));
  }
  return documents;
}

}  // namespace zem::toolkit
