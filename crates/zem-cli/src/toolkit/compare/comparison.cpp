#include "toolkit/compare/comparison.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <functional>
#include <unordered_map>

#include "format/hex.hpp"
#include "toolkit/output/text_table.hpp"
#include "toolkit/package/failure_report.hpp"
#include "toolkit/package/package_input.hpp"
#include "toolkit/package/package_layout.hpp"

namespace zem::toolkit {
namespace {

// A list of numbers is shown up to this many, then counted.
constexpr std::size_t list_values_shown = 8;

// --- values ------------------------------------------------------------------------

Shown number(std::uint64_t value) { return {fmt::format("{}", value), Json(value)}; }
Shown big(std::uint64_t value) { return {fmt::format("{}", value), json_u64(value)}; }
Shown address(std::uint64_t value) { return {hex_address(value), json_address(value)}; }
Shown word(std::uint32_t value) { return {hex_word(value), json_word(value)}; }
Shown text(std::string_view value) { return {cell_text(value), Json(std::string(value))}; }
Shown digest(const Digest& value) { return {short_digest(value), hex_bytes(value)}; }

Shown numbers(const std::vector<std::uint32_t>& values) {
  std::string shown = values.empty() ? "none" : fmt::format("{}", fmt::join(values, " "));
  if (values.size() > list_values_shown) {
    shown = fmt::format("{} ... ({} values)",
                        fmt::join(values.begin(), values.begin() + list_values_shown, " "),
                        values.size());
  }
  return {std::move(shown), Json(values)};
}

// --- matching ------------------------------------------------------------------------

// Which elements of two lists are the same element, by a key. The k-th
// element with a key in one list meets the k-th with that key in the other,
// so that even a list with repeated keys (a package that fails validation)
// is matched.
struct Matching {
  std::vector<std::pair<std::size_t, std::size_t>> pairs;  // in the first list's order
  std::vector<std::size_t> only_first;
  std::vector<std::size_t> only_second;
  bool reordered = false;  // the matched elements stand in another order
};

template <class T, class Key>
Matching match(std::span<const T> first, std::span<const T> second, Key key) {
  std::unordered_map<std::string, std::vector<std::size_t>> in_second;
  for (std::size_t j = 0; j < second.size(); ++j) in_second[key(second[j])].push_back(j);
  std::unordered_map<std::string, std::size_t> taken;
  std::vector<bool> used(second.size(), false);
  Matching matching;
  for (std::size_t i = 0; i < first.size(); ++i) {
    const std::string k = key(first[i]);
    const auto found = in_second.find(k);
    std::size_t& next = taken[k];
    if (found == in_second.end() || next >= found->second.size()) {
      matching.only_first.push_back(i);
      continue;
    }
    const std::size_t j = found->second[next++];
    used[j] = true;
    matching.pairs.emplace_back(i, j);
  }
  for (std::size_t j = 0; j < second.size(); ++j) {
    if (!used[j]) matching.only_second.push_back(j);
  }
  matching.reordered =
      !std::ranges::is_sorted(matching.pairs, {}, [](const auto& pair) { return pair.second; });
  return matching;
}

// --- changes -------------------------------------------------------------------------

// How one element is shown: its label, what identifies it, its fields, and
// what else an added or removed one is summed up by.
struct Described {
  std::string label;
  Values identity;
  Values fields;
  Values summary;
};

std::vector<FieldChange> changed_fields(const Values& first, const Values& second) {
  std::vector<FieldChange> changes;
  for (std::size_t i = 0; i < first.size() && i < second.size(); ++i) {
    if (!(first[i].second == second[i].second)) {
      changes.push_back({first[i].first, first[i].second, second[i].second});
    }
  }
  return changes;
}

Change held_change(Change::Kind kind, Described described) {
  Change change{kind, std::move(described.label), std::move(described.identity), {}, {}, {}, {}};
  change.held = std::move(described.fields);
  change.held.insert(change.held.end(), described.summary.begin(), described.summary.end());
  return change;
}

Change reordered(std::string_view list) {
  return Change{
      Change::Kind::reordered, std::string(list), {{"field", text(list)}}, {}, {}, {}, {}};
}

bool is_empty(const Change& change) {
  return change.fields.empty() && change.parts.empty() && !change.image;
}

enum class Side { first, second };

// Compares two lists whose elements are matched by `key`. `describe(element,
// side)` shows an element; `within(change, a, b)` adds the changes within a
// matched pair.
template <class T, class Key, class Describe, class Within>
void compare_keyed(std::span<const T> first, std::span<const T> second, std::string_view list,
                   Key key, Describe describe, Within within, std::vector<Change>& out) {
  const Matching matching = match(first, second, key);
  for (const auto& [i, j] : matching.pairs) {
    Described a = describe(first[i], Side::first);
    const Described b = describe(second[j], Side::second);
    Change change{Change::Kind::changed, std::move(a.label), std::move(a.identity), {}, {}, {}, {}};
    change.fields = changed_fields(a.fields, b.fields);
    within(change, first[i], second[j]);
    if (!is_empty(change)) out.push_back(std::move(change));
  }
  for (const std::size_t i : matching.only_first) {
    out.push_back(held_change(Change::Kind::removed, describe(first[i], Side::first)));
  }
  for (const std::size_t j : matching.only_second) {
    out.push_back(held_change(Change::Kind::added, describe(second[j], Side::second)));
  }
  if (matching.reordered) out.push_back(reordered(list));
}

// Compares two lists element by element, by position.
template <class T, class Describe>
void compare_positions(std::span<const T> first, std::span<const T> second, std::string_view list,
                       Describe describe, std::vector<Change>& out) {
  const auto described = [&](const T& element, std::size_t index) {
    return Described{fmt::format("{}[{}]", list, index),
                     {{std::string(list), number(index)}},
                     describe(element),
                     {}};
  };
  for (std::size_t i = 0; i < std::max(first.size(), second.size()); ++i) {
    if (i >= second.size()) {
      out.push_back(held_change(Change::Kind::removed, described(first[i], i)));
    } else if (i >= first.size()) {
      out.push_back(held_change(Change::Kind::added, described(second[i], i)));
    } else if (auto fields = changed_fields(describe(first[i]), describe(second[i]));
               !fields.empty()) {
      Described a = described(first[i], i);
      out.push_back(Change{Change::Kind::changed,
                           std::move(a.label),
                           std::move(a.identity),
                           {},
                           std::move(fields),
                           {},
                           {}});
    }
  }
}

const auto no_parts = [](Change&, const auto&, const auto&) {};

// --- the two packages --------------------------------------------------------------

class Comparer {
 public:
  Comparer(const ComparedPackage& first, const ComparedPackage& second)
      : first_(first), second_(second) {}

  Comparison run() {
    Comparison comparison;
    for (const Side side : {Side::first, Side::second}) {
      if (const auto& failure = package(side).completion_failure) {
        comparison.notes.push_back({ComparisonNote::Kind::not_valid,
                                    fmt::format("{} is not valid, and is compared as read: {}",
                                                name(side), failure_line(*failure))});
      }
    }
    comparison.first_compiler = model(Side::first).compiler;
    comparison.second_compiler = model(Side::second).compiler;
    comparison.sections.push_back(blobs(comparison.notes));
    comparison.sections.push_back(tiles());
    comparison.sections.push_back(bindings());
    comparison.sections.push_back(host_exchange());
    comparison.sections.push_back(entry_points());
    comparison.sections.push_back(device_config_writes());
    comparison.first_digest = model(Side::first).build_digest();
    comparison.second_digest = model(Side::second).build_digest();
    storage_notes(comparison.notes);
    return comparison;
  }

 private:
  [[nodiscard]] const ComparedPackage& package(Side side) const {
    return side == Side::first ? first_ : second_;
  }
  [[nodiscard]] const PackageModel& model(Side side) const {
    return package(side).package->model();
  }
  [[nodiscard]] std::span<const BlobInfo> blob_infos(Side side) const { return model(side).blobs; }
  [[nodiscard]] std::string name(Side side) const { return package_name(package(side).argument); }

  // Blobs matched by digest. Those of one package only that stand at the
  // same position as one of the other package only are one blob changed.
  Section blobs(std::vector<ComparisonNote>& notes) {
    Section section{"blobs", "blobs", {}};
    const std::span<const BlobInfo> first = blob_infos(Side::first);
    const std::span<const BlobInfo> second = blob_infos(Side::second);
    const auto key = [](const BlobInfo& blob) { return hex_bytes(blob.digest); };
    const Matching matching = match(first, second, key);
    const auto described = [](const BlobInfo& blob, std::size_t index) {
      return Described{fmt::format("blobs[{}] {}", index, short_digest(blob.digest)),
                       {{"index", number(index)}},
                       {{"digest", digest(blob.digest)}, {"size", big(blob.size)}},
                       {}};
    };
    std::vector<bool> second_taken(second.size(), false);
    for (const std::size_t i : matching.only_first) {
      if (std::ranges::binary_search(matching.only_second, i)) {
        second_taken[i] = true;
        section.changes.push_back(
            Change{Change::Kind::changed,
                   fmt::format("blobs[{}]", i),
                   {{"index", number(i)}},
                   {},
                   changed_fields(described(first[i], i).fields, described(second[i], i).fields),
                   {},
                   {}});
      } else {
        section.changes.push_back(held_change(Change::Kind::removed, described(first[i], i)));
      }
    }
    for (const std::size_t j : matching.only_second) {
      if (!second_taken[j]) {
        section.changes.push_back(held_change(Change::Kind::added, described(second[j], j)));
      }
    }
    if (matching.reordered) section.changes.push_back(reordered("blobs"));
    for (const auto& [i, j] : matching.pairs) storage_note(first[i], second[j], notes);
    return section;
  }

  // A blob both hold, stored differently: no difference, since a blob is
  // known by its contents' digest.
  void storage_note(const BlobInfo& first, const BlobInfo& second,
                    std::vector<ComparisonNote>& notes) const {
    const BlobStorage& a = first.storage;
    const BlobStorage& b = second.storage;
    const std::string blob = fmt::format("blob {}", short_digest(first.digest));
    if (a.compression != b.compression || a.stored_size != b.stored_size) {
      notes.push_back(
          {ComparisonNote::Kind::storage,
           fmt::format("{} is stored {} ({} bytes) in {} and {} ({} bytes) in {}", blob,
                       compression_name(a.compression), a.stored_size, name(Side::first),
                       compression_name(b.compression), b.stored_size, name(Side::second))});
    }
    const bool both_compressed =
        a.compression == compression_zstd && b.compression == compression_zstd;
    if (both_compressed && a.declared_size != b.declared_size) {
      notes.push_back(
          {ComparisonNote::Kind::declared_size,
           fmt::format("{} declares {} bytes uncompressed in {} and {} in {}", blob,
                       a.declared_size, name(Side::first), b.declared_size, name(Side::second))});
    }
  }

  void storage_notes(std::vector<ComparisonNote>& notes) const {
    for (const Side side : {Side::first, Side::second}) {
      const ComparedPackage& compared = package(side);
      if (compared.trailing_bytes && *compared.trailing_bytes > 0) {
        notes.push_back(
            {ComparisonNote::Kind::trailing_bytes,
             fmt::format("{} has {} byte{} after the message", name(side), *compared.trailing_bytes,
                         *compared.trailing_bytes == 1 ? "" : "s")});
      }
    }
  }

  // A segment's blob, by its digest: the same bytes whatever its position.
  // A segment that names no blob has no digest (null), its text naming the
  // position it gives.
  [[nodiscard]] Shown segment_blob(const Segment& segment, Side side) const {
    const std::span<const BlobInfo> blobs = blob_infos(side);
    if (segment.blob < blobs.size()) return digest(blobs[segment.blob].digest);
    return {fmt::format("{} (no such blob)", segment.blob), Json()};
  }

  Section tiles() {
    Section section{"tiles", "tiles", {}};
    const auto describe = [](const TileImage& tile, Side) {
      return Described{fmt::format("tile {}", tile.physical_tile),
                       {{"physicalTile", number(tile.physical_tile)}},
                       {{"aux1", number(tile.aux_1)},
                        {"aux2", number(tile.aux_2)},
                        {"aux3", number(tile.aux_3)}},
                       {{"segments", number(tile.segments.size())},
                        {"imageSize", number(tile_layout(tile).image_size)}}};
    };
    const auto within = [this](Change& change, const TileImage& a, const TileImage& b) {
      segments(a, b, change.parts);
      // Equal segments load equal bytes: a blob is known by its digest.
      if (!change.parts.empty()) change.image = images(a.physical_tile);
    };
    compare_keyed(
        std::span(model(Side::first).tiles), std::span(model(Side::second).tiles), "tiles",
        [](const TileImage& tile) { return fmt::format("{}", tile.physical_tile); }, describe,
        within, section.changes);
    return section;
  }

  void segments(const TileImage& first, const TileImage& second, std::vector<Change>& out) const {
    const auto describe = [this](const Segment& segment, Side side) {
      return Described{fmt::format("segment at {}", hex_address(segment.address)),
                       {{"address", address(segment.address)}},
                       {{"memorySize", number(segment.memory_size)},
                        {"dataSize", number(segment.data_size)},
                        {"blobDigest", segment_blob(segment, side)},
                        {"blobOffset", big(segment.blob_offset)},
                        {"aux", number(segment.aux)}},
                       {}};
    };
    compare_keyed(
        std::span(first.segments), std::span(second.segments), "segments",
        [](const Segment& segment) { return fmt::format("{}", segment.address); }, describe,
        no_parts, out);
  }

  [[nodiscard]] ImageComparison images(std::uint32_t physical_tile) const {
    ImageComparison comparison;
    const ReadResult<TileMemory> first = first_.package->tile_memory(physical_tile);
    const ReadResult<TileMemory> second = second_.package->tile_memory(physical_tile);
    for (const auto& [memory, side] : {std::pair{&first, Side::first}, {&second, Side::second}}) {
      if (!*memory) {
        comparison.error = fmt::format("cannot rebuild it in {}: {}", name(side),
                                       memory->error().error.to_string());
        return comparison;
      }
    }
    comparison.first_size = first->bytes.size();
    comparison.second_size = second->bytes.size();
    const std::uint64_t low = std::min(first->load_base, second->load_base);
    const std::uint64_t high = std::max(first->load_base + comparison.first_size,
                                        second->load_base + comparison.second_size);
    // A byte one image holds and the other does not differs too.
    const auto byte_at = [](const TileMemory& memory,
                            std::uint64_t at) -> std::optional<std::uint8_t> {
      if (at < memory.load_base || at - memory.load_base >= memory.bytes.size())
        return std::nullopt;
      return memory.bytes[static_cast<std::size_t>(at - memory.load_base)];
    };
    for (std::uint64_t at = low; at < high; ++at) {
      const std::optional<std::uint8_t> a = byte_at(*first, at);
      const std::optional<std::uint8_t> b = byte_at(*second, at);
      if (a && b && *a == *b) continue;
      if (!comparison.first_difference) comparison.first_difference = at;
      ++comparison.differing_bytes;
    }
    return comparison;
  }

  // The three binding lists as one, a binding's list one of its fields:
  // names are unique across all three.
  struct ListedBinding {
    std::size_t list;
    const Binding* binding;
  };
  static std::vector<ListedBinding> listed(const PackageModel& model) {
    std::vector<ListedBinding> all;
    std::size_t list = 1;
    for (const BindingList& bindings : binding_lists(model)) {
      for (const Binding& binding : bindings.bindings) all.push_back({list, &binding});
      ++list;
    }
    return all;
  }

  Section bindings() {
    Section section{"bindings", "bindings", {}};
    const auto describe = [](const ListedBinding& listed, Side) {
      const Binding& binding = *listed.binding;
      return Described{fmt::format("binding {}", cell_text(binding.name)),
                       {{"name", text(binding.name)}},
                       {{"list", number(listed.list)},
                        {"label", text(binding.label)},
                        {"values", numbers(binding.values)}},
                       {{"slices", number(binding.slices.size())}}};
    };
    const auto within = [](Change& change, const ListedBinding& a, const ListedBinding& b) {
      compare_positions(
          std::span(a.binding->slices), std::span(b.binding->slices), "slices",
          [](const RegionSlice& slice) {
            return Values{{"physicalTile", number(slice.physical_tile)},
                          {"address", address(slice.address)},
                          {"offset", big(slice.offset)},
                          {"length", big(slice.length)}};
          },
          change.parts);
    };
    const std::vector<ListedBinding> first = listed(model(Side::first));
    const std::vector<ListedBinding> second = listed(model(Side::second));
    compare_keyed(
        std::span(first), std::span(second), "bindings",
        [](const ListedBinding& listed) { return listed.binding->name; }, describe, within,
        section.changes);
    return section;
  }

  Section host_exchange() {
    Section section{"hostExchange", "host exchange", {}};
    const HostExchange& first = model(Side::first).host_exchange;
    const HostExchange& second = model(Side::second).host_exchange;
    const auto fields = [](const HostExchange& host) {
      return Values{{"aux", number(host.aux)},
                    {"startupPage", number(host.startup_page)},
                    {"startupOffset", big(host.startup_offset)},
                    {"requiredPages", numbers(host.required_pages)}};
    };
    if (auto changed = changed_fields(fields(first), fields(second)); !changed.empty()) {
      section.changes.push_back(
          Change{Change::Kind::changed, "host exchange", {}, {}, std::move(changed), {}, {}});
    }
    compare_keyed(
        std::span(first.pages), std::span(second.pages), "pages",
        [](const HostPage& page) { return fmt::format("{}", page.id); },
        [](const HostPage& page, Side) {
          return Described{fmt::format("page {}", page.id),
                           {{"page", number(page.id)}},
                           {{"size", big(page.size)}},
                           {}};
        },
        no_parts, section.changes);
    const auto page_ref = [](const HostPageRef& ref) {
      return Values{{"page", number(ref.page)},
                    {"offset", big(ref.offset)},
                    {"length", big(ref.length)},
                    {"aux64", big(ref.aux)}};
    };
    compare_keyed(
        std::span(first.calls), std::span(second.calls), "calls",
        [](const HostCall& call) { return call.name; },
        [](const HostCall& call, Side) {
          return Described{
              fmt::format("call {}", cell_text(call.name)),
              {{"call", text(call.name)}},
              {{"invocations", number(call.invocations)},
               {"aux1", number(call.aux_1)},
               {"aux2", number(call.aux_2)}},
              {{"pageRefs", number(call.page_refs_1.size() + call.page_refs_2.size())}}};
        },
        [&](Change& change, const HostCall& a, const HostCall& b) {
          compare_positions(std::span(a.page_refs_1), std::span(b.page_refs_1), "pageRefs1",
                            page_ref, change.parts);
          compare_positions(std::span(a.page_refs_2), std::span(b.page_refs_2), "pageRefs2",
                            page_ref, change.parts);
        },
        section.changes);
    return section;
  }

  Section entry_points() {
    Section section{"entryPoints", "entry points", {}};
    compare_keyed(
        std::span(model(Side::first).entry_points), std::span(model(Side::second).entry_points),
        "entry points", [](const EntryPoint& entry) { return entry.name; },
        [](const EntryPoint& entry, Side) {
          return Described{
              fmt::format("entry point {}", cell_text(entry.name)),
              {{"name", text(entry.name)}},
              {{"aux", number(entry.aux)}, {"externalSyncs", number(entry.external_syncs)}},
              {}};
        },
        no_parts, section.changes);
    return section;
  }

  Section device_config_writes() {
    Section section{"deviceConfigWrites", "device configuration writes", {}};
    compare_keyed(
        std::span(model(Side::first).device_config_writes),
        std::span(model(Side::second).device_config_writes), "device configuration writes",
        [](const DeviceConfigWrite& write) { return fmt::format("{}", write.address); },
        [](const DeviceConfigWrite& write, Side) {
          return Described{fmt::format("write at {}", hex_address(write.address)),
                           {{"address", address(write.address)}},
                           {{"value", word(write.value)}},
                           {}};
        },
        no_parts, section.changes);
    return section;
  }

  const ComparedPackage& first_;
  const ComparedPackage& second_;
};

}  // namespace

Comparison compare_packages(const ComparedPackage& first, const ComparedPackage& second) {
  return Comparer(first, second).run();
}

}  // namespace zem::toolkit
