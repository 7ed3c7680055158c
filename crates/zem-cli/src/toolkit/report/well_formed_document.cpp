#include "toolkit/report/well_formed_document.hpp"

#include <fmt/format.h>
#include <simdjson.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "toolkit/verify/verify_report.hpp"

namespace zem::toolkit {
namespace {

using simdjson::dom::array;
using simdjson::dom::element;
using simdjson::dom::element_type;
using simdjson::dom::object;

// Nothing: the exact reader is to read the document.
constexpr std::nullopt_t off = std::nullopt;

// A whole number that is not negative, as the exact reader takes one.
std::optional<std::uint64_t> unsigned_of(element value) {
  if (value.type() == element_type::UINT64) return value.get_uint64().value_unsafe();
  if (value.type() == element_type::INT64) {
    const std::int64_t number = value.get_int64().value_unsafe();
    if (number >= 0) return static_cast<std::uint64_t>(number);
  }
  return off;
}

std::optional<std::uint32_t> tile_of(element value) {
  const std::optional<std::uint64_t> number = unsigned_of(value);
  if (!number || *number > 0xffffffffU) return off;
  return static_cast<std::uint32_t>(*number);
}

std::optional<std::string_view> text_of(element value) {
  if (value.type() != element_type::STRING) return off;
  return value.get_string().value_unsafe();
}

// The members of `object` named in `names`, each at most once; nothing when
// one is given twice. Members of other names are passed over.
template <std::size_t N>
std::optional<std::array<std::optional<element>, N>> members(
    object from, const std::array<std::string_view, N>& names) {
  std::array<std::optional<element>, N> found;
  for (const auto field : from) {
    const auto at = std::ranges::find(names, field.key);
    if (at == names.end()) continue;
    std::optional<element>& slot = found[static_cast<std::size_t>(at - names.begin())];
    if (slot) return off;
    slot = field.value;
  }
  return found;
}

// A hint in words, as the exact reader words it: its kind, then its scalar
// members by name.
std::optional<std::string> hint_words(element hint) {
  if (hint.type() != element_type::OBJECT) return off;
  std::optional<std::string_view> kind;
  std::vector<std::pair<std::string_view, element>> rest;
  const object fields = hint.get_object().value_unsafe();
  for (const auto field : fields) {
    if (field.key == "kind") {
      if (kind) return off;
      kind = text_of(field.value);
      if (!kind) return off;
    } else {
      rest.emplace_back(field.key, field.value);
    }
  }
  if (!kind) return off;
  std::ranges::sort(rest, {}, &std::pair<std::string_view, element>::first);
  if (std::ranges::adjacent_find(rest, {}, &std::pair<std::string_view, element>::first) !=
      rest.end()) {
    return off;
  }
  std::string text(*kind);
  for (const auto& [key, value] : rest) {
    switch (value.type()) {
      case element_type::ARRAY:
        text += fmt::format(" {}=[{} listed]", key, value.get_array().value_unsafe().size());
        break;
      case element_type::STRING:
        text += fmt::format(" {}={}", key, value.get_string().value_unsafe());
        break;
      case element_type::INT64:
        text += fmt::format(" {}={}", key, value.get_int64().value_unsafe());
        break;
      case element_type::UINT64:
        text += fmt::format(" {}={}", key, value.get_uint64().value_unsafe());
        break;
      case element_type::BOOL:
        text += fmt::format(" {}={}", key, value.get_bool().value_unsafe());
        break;
      case element_type::OBJECT:
      case element_type::NULL_VALUE:
        break;
      case element_type::DOUBLE:
        return off;  // written as the exact reader's library writes it
    }
  }
  return text;
}

// "word 3: 0x00000001, expected 0x00000002", from the first difference;
// or empty.
std::optional<std::string> first_difference_words(element first) {
  if (first.type() != element_type::OBJECT) return std::string();
  const auto found = members(first.get_object().value_unsafe(),
                             std::array<std::string_view, 3>{"word", "actual", "expected"});
  if (!found) return off;
  const auto& [word, actual, expected] = *found;
  if (!word || !actual || !expected) return std::string();
  const std::optional<std::uint64_t> number = unsigned_of(*word);
  const std::optional<std::string_view> got = text_of(*actual);
  const std::optional<std::string_view> wanted = text_of(*expected);
  if (!number || !got || !wanted) return std::string();
  return fmt::format("word {}: {}, expected {}", *number, *got, *wanted);
}

std::optional<ReportedTile> reported_tile(element value) {
  if (value.type() != element_type::OBJECT) return off;
  const auto found =
      members(value.get_object().value_unsafe(),
              std::array<std::string_view, 6>{"physicalTile", "status", "reason", "hints",
                                              "differences", "differingWords"});
  if (!found) return off;
  const auto& [physical, status, reason, hints, differences, differing] = *found;
  if (!physical || !status || !reason || !hints || !differences || !differing) return off;
  ReportedTile tile;
  const std::optional<std::uint32_t> number = tile_of(*physical);
  const std::optional<std::string_view> status_text = text_of(*status);
  if (!number || !status_text) return off;
  tile.physical_tile = *number;
  const auto named = std::ranges::find(all_tile_statuses, *status_text, status_name);
  if (named == all_tile_statuses.end()) return off;
  tile.status = *named;
  if (reason->type() == element_type::STRING) {
    tile.reason = reason->get_string().value_unsafe();
  } else if (reason->type() != element_type::NULL_VALUE) {
    return off;
  }
  if (hints->type() != element_type::ARRAY || differences->type() != element_type::ARRAY) {
    return off;
  }
  const array hint_list = hints->get_array().value_unsafe();
  for (const element hint : hint_list) {
    std::optional<std::string> words = hint_words(hint);
    if (!words) return off;
    tile.hints.push_back(std::move(*words));
  }
  const array difference_list = differences->get_array().value_unsafe();
  for (const element difference : difference_list) {
    std::optional<std::string> first = first_difference_words(difference);
    if (!first) return off;
    tile.first_difference = std::move(*first);
    break;
  }
  tile.differing_words = unsigned_of(*differing).value_or(0);
  return tile;
}

std::optional<ReportedDevice> reported_device(element value, const std::string& file) {
  if (value.type() != element_type::OBJECT) return off;
  const auto found = members(value.get_object().value_unsafe(),
                             std::array<std::string_view, 3>{"records", "name", "tiles"});
  if (!found) return off;
  const auto& [records, name, tiles] = *found;
  if (!records || !tiles || tiles->type() != element_type::ARRAY) return off;
  ReportedDevice device;
  device.file = file;
  const std::optional<std::string_view> pattern = text_of(*records);
  if (!pattern) return off;
  device.records = *pattern;
  device.name = device.records;
  if (name) {
    const std::optional<std::string_view> given = text_of(*name);
    if (!given) return off;
    device.name = *given;
  }
  device.outcome.name = device.name;
  const array tile_list = tiles->get_array().value_unsafe();
  for (const element each : tile_list) {
    std::optional<ReportedTile> tile = reported_tile(each);
    if (!tile) return off;
    TileOutcome outcome{tile->physical_tile, tile->status, {}};
    for (const std::string& hint : tile->hints) {
      outcome.hints.push_back(hint.substr(0, hint.find(' ')));
    }
    device.outcome.tiles.push_back(std::move(outcome));
    device.tiles.push_back(std::move(*tile));
  }
  // A tile named twice is the exact reader's to report.
  std::vector<std::uint32_t> numbers;
  numbers.reserve(device.tiles.size());
  for (const ReportedTile& tile : device.tiles) numbers.push_back(tile.physical_tile);
  std::ranges::sort(numbers);
  if (std::ranges::adjacent_find(numbers) != numbers.end()) return off;
  return device;
}

}  // namespace

TextOutline outline_of(std::string_view text) {
  TextOutline outline;
  int depth = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      outline.depth = std::max(outline.depth, ++depth);
    } else if (c == ']' || c == '}') {
      --depth;
    } else if (c == '-' && i + 1 < text.size() && text[i + 1] == '0') {
      outline.negative_zero = true;
    }
  }
  return outline;
}

std::optional<VerifyDocument> read_well_formed_document(std::string_view text,
                                                        const std::string& file) {
  return read_well_formed_document(text, file, outline_of(text));
}

std::optional<VerifyDocument> read_well_formed_document(std::string_view text,
                                                        const std::string& file,
                                                        const TextOutline& outline) {
  if (outline.negative_zero) return off;
  simdjson::dom::parser parser;
  element root;
  if (parser.parse(text.data(), text.size()).get(root) != simdjson::SUCCESS) return off;
  if (root.type() != element_type::OBJECT) return off;
  const auto found = members(root.get_object().value_unsafe(),
                             std::array<std::string_view, 6>{"format", "devices", "noTemplateSetup",
                                                             "summary", "package", "buildDigest"});
  if (!found) return off;
  const auto& [format, devices, without, summary, package, digest] = *found;
  if (!format || !devices || !without || !summary || !package || !digest) return off;
  if (unsigned_of(*format) != std::uint64_t{verify_json_format}) return off;
  VerifyDocument document;
  document.file = file;
  const std::optional<std::string_view> package_text = text_of(*package);
  const std::optional<std::string_view> digest_text = text_of(*digest);
  if (!package_text || !digest_text) return off;
  document.package = *package_text;
  document.build_digest = *digest_text;
  if (without->type() != element_type::ARRAY || devices->type() != element_type::ARRAY) return off;
  const array without_list = without->get_array().value_unsafe();
  for (const element each : without_list) {
    const std::optional<std::uint32_t> tile = tile_of(each);
    if (!tile) return off;
    document.without_setup.push_back(*tile);
  }
  const array device_list = devices->get_array().value_unsafe();
  for (const element each : device_list) {
    std::optional<ReportedDevice> device = reported_device(each, file);
    if (!device) return off;
    document.devices.push_back(std::move(*device));
  }
  return document;
}

}  // namespace zem::toolkit
