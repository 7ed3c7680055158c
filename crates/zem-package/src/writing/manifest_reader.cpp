// The manifest read: JSON, bounded in size and depth, held to the shape the
// manifest writer gives it, each value to its field's range, every failure
// placed at the value that caused it.

#include <fmt/format.h>

#include <charconv>
#include <new>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "zem_package/manifest.hpp"
#include "zem_package/package_writer.hpp"
#include "zem_package/text_place.hpp"

namespace zem {
namespace {

using Json = nlohmann::json;

// Why the text could not be parsed, where that is known.
struct ParseRefusal {
  std::string place;
  std::string message;
};

// The path of a value, from the root: "tiles[3].segments[1].blob".
std::string child(const std::string& place, std::string_view key) {
  return place.empty() ? std::string(key) : place + "." + std::string(key);
}
std::string element(const std::string& place, std::size_t index) {
  return fmt::format("{}[{}]", place, index);
}

// Bytes that would not show as themselves in a one-line message, escaped.
std::string printable_bytes(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7f) {
      out += fmt::format("\\x{:02x}", byte);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// A value as a message shows it, cut short.
std::string shown(const Json& value) {
  constexpr std::size_t longest = 40;
  std::string text = value.dump(-1, ' ', true, Json::error_handler_t::replace);
  if (text.size() > longest) text = text.substr(0, longest) + "...";
  return printable_bytes(text);
}

// Tracks where the parser stands, to refuse a key given twice in one object
// and nesting deeper than the manifest has, both where they are met.
class ParseGuard {
 public:
  bool event(int depth, Json::parse_event_t event, const Json& parsed) {
    if (depth > static_cast<int>(max_manifest_depth)) {
      throw ParseRefusal{place(frames_.size()),
                         fmt::format("values nested deeper than {} levels", max_manifest_depth)};
    }
    switch (event) {
      case Json::parse_event_t::object_start:
        frames_.push_back(Frame{false, 0, {}, {}});
        break;
      case Json::parse_event_t::array_start:
        frames_.push_back(Frame{true, 0, {}, {}});
        break;
      case Json::parse_event_t::key: {
        Frame& frame = frames_.back();
        frame.key = parsed.get<std::string>();
        if (!frame.keys.insert(frame.key).second) {
          throw ParseRefusal{child(place(frames_.size() - 1), frame.key),
                             "appears twice in one object"};
        }
        break;
      }
      case Json::parse_event_t::object_end:
      case Json::parse_event_t::array_end:
        frames_.pop_back();
        next_element();
        break;
      case Json::parse_event_t::value:
        next_element();
        break;
    }
    return true;
  }

 private:
  struct Frame {
    bool array;
    std::size_t index;
    std::string key;
    std::set<std::string> keys;
  };

  void next_element() {
    if (!frames_.empty() && frames_.back().array) ++frames_.back().index;
  }

  // The path of the container `frames_[count]` (or, past the last, of the
  // value being read in the innermost one): each container before it
  // contributes the key or index it is at.
  [[nodiscard]] std::string place(std::size_t count) const {
    std::string out;
    for (std::size_t i = 0; i < count && i < frames_.size(); ++i) {
      out = frames_[i].array ? element(out, frames_[i].index) : child(out, frames_[i].key);
    }
    return out;
  }

  std::vector<Frame> frames_;
};

// Walks the parsed document into a manifest. The first value at fault is
// kept, and the walk then only finishes its loops: every reader returns a
// harmless default after a failure.
class Walker {
 public:
  [[nodiscard]] bool ok() const noexcept { return !failure_; }
  [[nodiscard]] WriteFailure take_failure() && { return std::move(*failure_); }

  void refuse(const std::string& place, std::string message) {
    if (!failure_) failure_ = WriteFailure::manifest_error("", place, std::move(message));
  }

  // An object with exactly the keys `required`, and any of `optional`.
  bool object(const Json& value, const std::string& place,
              std::initializer_list<std::string_view> required,
              std::initializer_list<std::string_view> optional = {}) {
    if (!ok()) return false;
    if (!value.is_object()) {
      refuse(place, "expected an object, got " + shown(value));
      return false;
    }
    for (const auto& [key, entry] : value.items()) {
      const auto known = [&](std::initializer_list<std::string_view> keys) {
        for (const std::string_view k : keys) {
          if (k == key) return true;
        }
        return false;
      };
      if (!known(required) && !known(optional)) {
        refuse(place, fmt::format("unknown key \"{}\"", printable_bytes(key)));
        return false;
      }
    }
    for (const std::string_view key : required) {
      if (!value.contains(key)) {
        refuse(child(place, key), "is missing");
        return false;
      }
    }
    return true;
  }

  const Json* list(const Json& value, const std::string& place) {
    if (!ok()) return nullptr;
    if (!value.is_array()) {
      refuse(place, "expected a list, got " + shown(value));
      return nullptr;
    }
    return &value;
  }

  std::string text(const Json& value, const std::string& place) {
    if (!ok()) return {};
    if (!value.is_string()) {
      refuse(place, "expected a text, got " + shown(value));
      return {};
    }
    return value.get<std::string>();
  }

  std::uint32_t u32(const Json& value, const std::string& place) {
    return static_cast<std::uint32_t>(whole_number(value, place, 0xffffffff));
  }

  std::uint64_t whole_number(const Json& value, const std::string& place, std::uint64_t most) {
    if (!ok()) return 0;
    if (value.is_number_unsigned()) {
      const auto number = value.get<std::uint64_t>();
      if (number <= most) return number;
      refuse(place, fmt::format("{} is out of range (at most {})", number, most));
      return 0;
    }
    if (value.is_number_integer()) {
      refuse(place, fmt::format("{} is out of range (at least 0)", value.get<std::int64_t>()));
      return 0;
    }
    refuse(place, fmt::format("expected a whole number from 0 to {}, got {}", most, shown(value)));
    return 0;
  }

  // "0x4c000": lower-case hex digits, at most 32 bits.
  std::uint32_t address(const Json& value, const std::string& place) {
    if (!ok()) return 0;
    const std::string* text = value.is_string() ? value.get_ptr<const std::string*>() : nullptr;
    if (text == nullptr || text->size() < 3 || !text->starts_with("0x") ||
        !all_of(std::string_view(*text).substr(2), lower_hex)) {
      refuse(place, "expected an address such as \"0x4c000\", got " + shown(value));
      return 0;
    }
    const std::string_view digits = std::string_view(*text).substr(2);
    std::uint64_t number = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), number, 16);
    if (error != std::errc() || end != digits.data() + digits.size() || number > 0xffffffff) {
      refuse(place, fmt::format("{} is out of range (at most 0xffffffff)", *text));
      return 0;
    }
    return static_cast<std::uint32_t>(number);
  }

  // "0x000001c8": a 32-bit word with all its eight digits.
  std::uint32_t word(const Json& value, const std::string& place) {
    if (!ok()) return 0;
    const std::string* text = value.is_string() ? value.get_ptr<const std::string*>() : nullptr;
    if (text == nullptr || text->size() != 10 || !text->starts_with("0x") ||
        !all_of(std::string_view(*text).substr(2), lower_hex)) {
      refuse(place, "expected a 32-bit word such as \"0x000001c8\", got " + shown(value));
      return 0;
    }
    std::uint32_t number = 0;
    std::from_chars(text->data() + 2, text->data() + text->size(), number, 16);
    return number;
  }

  // "4096": a decimal string without leading zeros, at most 64 bits.
  std::uint64_t decimal(const Json& value, const std::string& place) {
    if (!ok()) return 0;
    const std::string* text = value.is_string() ? value.get_ptr<const std::string*>() : nullptr;
    if (text == nullptr || text->empty() || !all_of(*text, decimal_digit) ||
        (text->size() > 1 && (*text)[0] == '0')) {
      refuse(place, "expected a decimal string such as \"4096\", got " + shown(value));
      return 0;
    }
    std::uint64_t number = 0;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), number);
    if (error != std::errc() || end != text->data() + text->size()) {
      refuse(place, fmt::format("{} is out of range (at most {})", *text,
                                std::numeric_limits<std::uint64_t>::max()));
      return 0;
    }
    return number;
  }

  Digest digest(const Json& value, const std::string& place) {
    Digest digest{};
    if (!ok()) return digest;
    const std::string* text = value.is_string() ? value.get_ptr<const std::string*>() : nullptr;
    if (text == nullptr || text->size() != 2 * digest.size() || !all_of(*text, lower_hex)) {
      refuse(place, "expected a digest of 64 lower-case hex digits, got " + shown(value));
      return digest;
    }
    for (std::size_t i = 0; i < digest.size(); ++i) {
      std::from_chars(text->data() + 2 * i, text->data() + 2 * i + 2, digest[i], 16);
    }
    return digest;
  }

  std::vector<std::uint32_t> u32_list(const Json& value, const std::string& place) {
    std::vector<std::uint32_t> out;
    if (const Json* items = list(value, place)) {
      for (std::size_t i = 0; i < items->size() && ok(); ++i) {
        out.push_back(u32((*items)[i], element(place, i)));
      }
    }
    return out;
  }

  // A file named relative to the manifest's directory, inside it.
  std::string file_name(const Json& value, const std::string& place) {
    std::string name = text(value, place);
    if (!ok()) return name;
    bool inside = !name.empty() && name[0] != '/' && name.find('\0') == std::string::npos;
    for (std::size_t start = 0; inside && start <= name.size();) {
      const std::size_t slash = std::min(name.find('/', start), name.size());
      const std::string_view part = std::string_view(name).substr(start, slash - start);
      inside = !part.empty() && part != "." && part != "..";
      start = slash + 1;
    }
    if (!inside) {
      refuse(place, fmt::format("\"{}\" is not a file inside the manifest's directory (a relative "
                                "path without \".\", \"..\" or empty parts)",
                                printable_bytes(name)));
    }
    return name;
  }

 private:
  static bool lower_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }
  static bool decimal_digit(char c) { return c >= '0' && c <= '9'; }
  template <class Predicate>
  static bool all_of(std::string_view text, Predicate predicate) {
    for (const char c : text) {
      if (!predicate(c)) return false;
    }
    return true;
  }

  std::optional<WriteFailure> failure_;
};

std::string short_hex(const Digest& digest) {
  return fmt::format("{:02x}", fmt::join(std::span(digest).first(6), ""));
}

ManifestBlob read_blob(Walker& walk, const Json& value, const std::string& place) {
  ManifestBlob blob;
  if (!walk.object(value, place, {"file", "compression"},
                   {"digest", "level", "frame", "declaredUncompressedSize"})) {
    return blob;
  }
  blob.file = walk.file_name(value["file"], child(place, "file"));
  if (value.contains("digest")) blob.digest = walk.digest(value["digest"], child(place, "digest"));
  const std::string compression = walk.text(value["compression"], child(place, "compression"));
  if (!walk.ok()) return blob;
  if (compression == "zstd") {
    blob.compression = compression_zstd;
  } else if (compression != "none") {
    walk.refuse(child(place, "compression"),
                fmt::format("\"{}\" is not \"none\" or \"zstd\"", printable_bytes(compression)));
    return blob;
  }
  for (const std::string_view key : {"level", "frame", "declaredUncompressedSize"}) {
    if (blob.compression != compression_zstd && value.contains(key)) {
      walk.refuse(child(place, key), "only a zstd blob has one");
      return blob;
    }
  }
  if (value.contains("level")) {
    const std::string at = child(place, "level");
    const std::uint64_t level = walk.whole_number(value["level"], at, max_zstd_level);
    if (walk.ok() && level < min_zstd_level) {
      walk.refuse(at, fmt::format("{} is out of range (at least {})", level, min_zstd_level));
    }
    blob.level = static_cast<int>(level);
  }
  if (value.contains("frame")) blob.frame = walk.file_name(value["frame"], child(place, "frame"));
  if (value.contains("declaredUncompressedSize")) {
    blob.declared_size =
        walk.decimal(value["declaredUncompressedSize"], child(place, "declaredUncompressedSize"));
  }
  return blob;
}

Segment read_segment(Walker& walk, const Json& value, const std::string& place,
                     const std::vector<ManifestBlob>& blobs) {
  Segment segment;
  if (!walk.object(value, place, {"address", "memorySize", "blob", "blobOffset", "dataSize", "aux"},
                   {"blobDigest"})) {
    return segment;
  }
  segment.address = walk.address(value["address"], child(place, "address"));
  segment.memory_size = walk.u32(value["memorySize"], child(place, "memorySize"));
  const std::string blob_place = child(place, "blob");
  segment.blob = walk.decimal(value["blob"], blob_place);
  if (walk.ok() && segment.blob >= blobs.size()) {
    walk.refuse(blob_place, fmt::format("no blob {}", segment.blob));
  }
  if (value.contains("blobDigest")) {
    const std::string at = child(place, "blobDigest");
    const Digest named = walk.digest(value["blobDigest"], at);
    if (walk.ok()) {
      const std::optional<Digest>& digest = blobs[segment.blob].digest;
      if (digest && *digest != named) {
        walk.refuse(at, fmt::format("{}... is not the digest of blob {} ({}...)", short_hex(named),
                                    segment.blob, short_hex(*digest)));
      }
    }
  }
  segment.blob_offset = walk.decimal(value["blobOffset"], child(place, "blobOffset"));
  segment.data_size = walk.u32(value["dataSize"], child(place, "dataSize"));
  segment.aux = walk.u32(value["aux"], child(place, "aux"));
  return segment;
}

TileImage read_tile(Walker& walk, const Json& value, const std::string& place,
                    const std::vector<ManifestBlob>& blobs) {
  TileImage tile;
  if (!walk.object(value, place, {"physicalTile", "aux1", "aux2", "aux3", "segments"})) return tile;
  tile.physical_tile = walk.u32(value["physicalTile"], child(place, "physicalTile"));
  tile.aux_1 = walk.u32(value["aux1"], child(place, "aux1"));
  tile.aux_2 = walk.u32(value["aux2"], child(place, "aux2"));
  tile.aux_3 = walk.u32(value["aux3"], child(place, "aux3"));
  const std::string at = child(place, "segments");
  if (const Json* segments = walk.list(value["segments"], at)) {
    for (std::size_t i = 0; i < segments->size() && walk.ok(); ++i) {
      tile.segments.push_back(read_segment(walk, (*segments)[i], element(at, i), blobs));
    }
  }
  return tile;
}

std::vector<Binding> read_bindings(Walker& walk, const Json& value, const std::string& place) {
  std::vector<Binding> bindings;
  const Json* list = walk.list(value, place);
  for (std::size_t i = 0; list != nullptr && i < list->size() && walk.ok(); ++i) {
    const std::string at = element(place, i);
    const Json& entry = (*list)[i];
    if (!walk.object(entry, at, {"name", "label", "values", "slices"})) break;
    Binding binding;
    binding.name = walk.text(entry["name"], child(at, "name"));
    binding.label = walk.text(entry["label"], child(at, "label"));
    binding.values = walk.u32_list(entry["values"], child(at, "values"));
    const std::string slices_at = child(at, "slices");
    if (const Json* slices = walk.list(entry["slices"], slices_at)) {
      for (std::size_t k = 0; k < slices->size() && walk.ok(); ++k) {
        const std::string slice_at = element(slices_at, k);
        const Json& slice = (*slices)[k];
        if (!walk.object(slice, slice_at, {"physicalTile", "address", "offset", "length"})) break;
        binding.slices.push_back(
            RegionSlice{walk.u32(slice["physicalTile"], child(slice_at, "physicalTile")),
                        walk.address(slice["address"], child(slice_at, "address")),
                        walk.decimal(slice["offset"], child(slice_at, "offset")),
                        walk.decimal(slice["length"], child(slice_at, "length"))});
      }
    }
    bindings.push_back(std::move(binding));
  }
  return bindings;
}

std::vector<HostPageRef> read_page_refs(Walker& walk, const Json& value, const std::string& place) {
  std::vector<HostPageRef> refs;
  const Json* list = walk.list(value, place);
  for (std::size_t i = 0; list != nullptr && i < list->size() && walk.ok(); ++i) {
    const std::string at = element(place, i);
    const Json& ref = (*list)[i];
    if (!walk.object(ref, at, {"page", "offset", "aux64", "length"})) break;
    refs.push_back(HostPageRef{walk.u32(ref["page"], child(at, "page")),
                               walk.decimal(ref["offset"], child(at, "offset")),
                               walk.decimal(ref["aux64"], child(at, "aux64")),
                               walk.decimal(ref["length"], child(at, "length"))});
  }
  return refs;
}

HostExchange read_host_exchange(Walker& walk, const Json& value, const std::string& place) {
  HostExchange host;
  if (!walk.object(value, place,
                   {"aux", "startupPage", "startupOffset", "pages", "requiredPages", "calls"})) {
    return host;
  }
  host.aux = walk.u32(value["aux"], child(place, "aux"));
  host.startup_page = walk.u32(value["startupPage"], child(place, "startupPage"));
  host.startup_offset = walk.decimal(value["startupOffset"], child(place, "startupOffset"));
  const std::string pages_at = child(place, "pages");
  if (const Json* pages = walk.list(value["pages"], pages_at)) {
    for (std::size_t i = 0; i < pages->size() && walk.ok(); ++i) {
      const std::string at = element(pages_at, i);
      const Json& page = (*pages)[i];
      if (!walk.object(page, at, {"id", "size"})) break;
      host.pages.push_back(HostPage{walk.u32(page["id"], child(at, "id")),
                                    walk.decimal(page["size"], child(at, "size"))});
    }
  }
  host.required_pages = walk.u32_list(value["requiredPages"], child(place, "requiredPages"));
  const std::string calls_at = child(place, "calls");
  if (const Json* calls = walk.list(value["calls"], calls_at)) {
    for (std::size_t i = 0; i < calls->size() && walk.ok(); ++i) {
      const std::string at = element(calls_at, i);
      const Json& entry = (*calls)[i];
      if (!walk.object(entry, at,
                       {"name", "aux1", "aux2", "invocations", "pageRefs1", "pageRefs2"})) {
        break;
      }
      HostCall call;
      call.name = walk.text(entry["name"], child(at, "name"));
      call.aux_1 = walk.u32(entry["aux1"], child(at, "aux1"));
      call.aux_2 = walk.u32(entry["aux2"], child(at, "aux2"));
      call.invocations = walk.u32(entry["invocations"], child(at, "invocations"));
      call.page_refs_1 = read_page_refs(walk, entry["pageRefs1"], child(at, "pageRefs1"));
      call.page_refs_2 = read_page_refs(walk, entry["pageRefs2"], child(at, "pageRefs2"));
      host.calls.push_back(std::move(call));
    }
  }
  return host;
}

PackageManifest read_document(Walker& walk, const Json& document) {
  PackageManifest manifest;
  if (!walk.object(document, "",
                   {"format", "compiler", "blobs", "tiles", "bindings1", "bindings2", "bindings3",
                    "hostExchange", "entryPoints", "deviceConfigWrites"})) {
    return manifest;
  }
  const std::uint32_t format = walk.u32(document["format"], "format");
  if (walk.ok() && format != manifest_format) {
    walk.refuse("format", fmt::format("{} is not a manifest format this library reads ({})", format,
                                      manifest_format));
  }
  manifest.compiler = walk.text(document["compiler"], "compiler");

  if (const Json* blobs = walk.list(document["blobs"], "blobs")) {
    std::unordered_map<Digest, std::size_t, DigestHash> by_digest;
    for (std::size_t i = 0; i < blobs->size() && walk.ok(); ++i) {
      const std::string at = element("blobs", i);
      manifest.blobs.push_back(read_blob(walk, (*blobs)[i], at));
      const std::optional<Digest>& digest = manifest.blobs.back().digest;
      if (!walk.ok() || !digest) continue;
      if (const auto [seen, added] = by_digest.emplace(*digest, i); !added) {
        walk.refuse(child(at, "digest"), fmt::format("is the digest of blobs[{}] too: a package "
                                                     "holds each blob once",
                                                     seen->second));
      }
    }
  }
  if (const Json* tiles = walk.list(document["tiles"], "tiles")) {
    for (std::size_t i = 0; i < tiles->size() && walk.ok(); ++i) {
      manifest.tiles.push_back(read_tile(walk, (*tiles)[i], element("tiles", i), manifest.blobs));
    }
  }
  manifest.bindings_1 = read_bindings(walk, document["bindings1"], "bindings1");
  manifest.bindings_2 = read_bindings(walk, document["bindings2"], "bindings2");
  manifest.bindings_3 = read_bindings(walk, document["bindings3"], "bindings3");
  manifest.host_exchange = read_host_exchange(walk, document["hostExchange"], "hostExchange");
  if (const Json* entries = walk.list(document["entryPoints"], "entryPoints")) {
    for (std::size_t i = 0; i < entries->size() && walk.ok(); ++i) {
      const std::string at = element("entryPoints", i);
      const Json& entry = (*entries)[i];
      if (!walk.object(entry, at, {"name", "aux", "externalSyncs"})) break;
      manifest.entry_points.push_back(EntryPoint{
          walk.text(entry["name"], child(at, "name")), walk.u32(entry["aux"], child(at, "aux")),
          walk.u32(entry["externalSyncs"], child(at, "externalSyncs"))});
    }
  }
  if (const Json* writes = walk.list(document["deviceConfigWrites"], "deviceConfigWrites")) {
    for (std::size_t i = 0; i < writes->size() && walk.ok(); ++i) {
      const std::string at = element("deviceConfigWrites", i);
      const Json& write = (*writes)[i];
      if (!walk.object(write, at, {"address", "value"})) break;
      manifest.device_config_writes.push_back(
          DeviceConfigWrite{walk.address(write["address"], child(at, "address")),
                            walk.word(write["value"], child(at, "value"))});
    }
  }
  return manifest;
}

}  // namespace

WriteResult<PackageManifest> parse_manifest(std::span<const std::uint8_t> text) {
  if (text.size() > max_manifest_bytes) {
    return std::unexpected(
        WriteFailure::manifest_error("", "",
                                     fmt::format("{} bytes are more than a manifest may hold ({})",
                                                 text.size(), max_manifest_bytes)));
  }
  // The parser takes a NUL byte for the end of its input and would ignore
  // whatever follows; JSON text never holds one.
  const std::string_view chars(reinterpret_cast<const char*>(text.data()), text.size());
  if (const std::size_t nul = chars.find('\0'); nul != std::string_view::npos) {
    const TextPlace place = text_place(chars, nul);
    return std::unexpected(WriteFailure::manifest_error(
        "", "",
        fmt::format("not JSON: a NUL byte at line {}, column {}", place.line, place.column)));
  }
  try {
    Json document;
    try {
      ParseGuard guard;
      document = Json::parse(text.begin(), text.end(),
                             [&guard](int depth, Json::parse_event_t event, Json& parsed) {
                               return guard.event(depth, event, parsed);
                             });
    } catch (const ParseRefusal& refusal) {
      return std::unexpected(WriteFailure::manifest_error("", refusal.place, refusal.message));
    } catch (const Json::exception& e) {
      // A syntax error, or a number beyond what a double holds: the
      // library's own words, without its "[json.exception...]" prefix.
      std::string_view message = e.what();
      if (const std::size_t end = message.find("] "); end != std::string_view::npos) {
        message.remove_prefix(end + 2);
      }
      return std::unexpected(
          WriteFailure::manifest_error("", "", "not JSON: " + printable_bytes(message)));
    }
    Walker walk;
    PackageManifest manifest = read_document(walk, document);
    if (!walk.ok()) return std::unexpected(std::move(walk).take_failure());
    return manifest;
  } catch (const std::bad_alloc&) {
    return std::unexpected(WriteFailure::manifest_error("", "", "memory allocation failed"));
  }
}

}  // namespace zem
