// Package validation: the internal consistency of a fully assembled model.
//
// The rules run in a fixed order and the first one that fails is reported, so
// the order of the checks below is part of the behaviour, not a detail. Every
// sum of two file values is formed so that it cannot wrap: a wrapped sum
// would make a range that runs off the end look small and valid.
//
// Cost stays close to linear in the size of the model: uniqueness and
// membership go through hash tables (hash sets, one hash map for the pages,
// and for the binding names, which can be numerous, small tables over hash
// partitions that stay in cache), and the overlap rule sorts each tile's
// ranges and compares neighbours only.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "model/validation.hpp"
#include "errors/try.hpp"
#include "zem_package/application.hpp"
#include "zem_package/package_model.hpp"

namespace zem {
namespace {

constexpr std::uint64_t u32_max = 0xffff'ffff;

// The startup protocol is one 32-bit word.
constexpr std::uint64_t startup_protocol_size = 4;

// A device configuration write address must have its two low bits clear.
constexpr std::uint32_t device_write_alignment = 4;

using PageMap = std::unordered_map<std::uint32_t, std::uint64_t>;

// Physical tile numbers, each with the position of its tile.
using TileSet = std::unordered_map<std::uint32_t, std::size_t>;

// A rule failure: the message, the element that broke the rule, and the
// values that broke it where the message does not give them.
[[nodiscard]] std::unexpected<ReadFailure> fail(std::string message, ElementPath element,
                                                std::vector<FailureDetail> details = {}) {
  return std::unexpected(ReadFailure{PackageError::invalid(std::move(message)),
                                     ReadStage::validation, std::move(element),
                                     std::move(details)});
}

using F = PackageField;

[[nodiscard]] DetailValue hex(std::uint64_t value) { return detail_value::Address{value}; }
[[nodiscard]] DetailValue decimal(std::uint64_t value) { return detail_value::Number{value}; }

// The size of a blob's contents, in either kind of model.
[[nodiscard]] std::uint64_t blob_size(const Blob& blob) noexcept { return blob.data.size(); }
[[nodiscard]] std::uint64_t blob_size(const BlobInfo& blob) noexcept { return blob.size; }

using Check = ReadResult<void>;

// Whether [offset, offset + length) lies within `size` bytes. A sum past
// 2^64 - 1 counts as too large.
[[nodiscard]] bool range_fits(std::uint64_t offset, std::uint64_t length,
                              std::uint64_t size) noexcept {
  std::uint64_t end = 0;
  return !__builtin_add_overflow(offset, length, &end) && end <= size;
}

// Device configuration writes: aligned and unique.
[[nodiscard]] Check check_device_config_writes(const std::vector<DeviceConfigWrite>& writes) {
  std::unordered_map<std::uint32_t, std::size_t> seen;  // address to the first write's position
  seen.reserve(writes.size());
  for (std::size_t i = 0; i < writes.size(); ++i) {
    const std::uint32_t address = writes[i].address;
    std::vector<FailureDetail> details{{"address", hex(address)}};
    bool failed = address % device_write_alignment != 0;
    if (!failed) {
      const auto [earlier, inserted] = seen.try_emplace(address, i);
      if (!inserted) {
        failed = true;
        details.push_back(
            {"earlier write", ElementPath{{F::device_config_writes, earlier->second}}});
      }
    }
    if (failed) {
      return fail("unaligned or duplicate device configuration write",
                  ElementPath{{F::device_config_writes, i}}, std::move(details));
    }
  }
  return {};
}

// The segments of one tile, in list order: no address overflow, inside tile
// memory, data inside the segment and inside its blob.
template <class Blobs>
[[nodiscard]] Check check_segments(const TileImage& tile, std::size_t tile_index,
                                   const Blobs& blobs) {
  for (std::size_t k = 0; k < tile.segments.size(); ++k) {
    const Segment& segment = tile.segments[k];
    const ElementPath element{{F::tiles, tile_index}, {F::segments, k}};
    // Both terms are 32-bit, so their sum is exact in 64 bits.
    const std::uint64_t end = std::uint64_t{segment.address} + segment.memory_size;
    if (end > u32_max) {
      return fail("segment address overflow", element,
                  {{"physicalTile", decimal(tile.physical_tile)},
                   {"address", hex(segment.address)},
                   {"memorySize", hex(segment.memory_size)}});
    }
    // The first condition that fails says why.
    std::vector<FailureDetail> why;
    if (segment.address < tile_memory_base) {
      why = {{"address", hex(segment.address)}, {"tile memory starts at", hex(tile_memory_base)}};
    } else if (end > tile_memory_end) {
      why = {{"end", hex(end)}, {"tile memory ends at", hex(tile_memory_end)}};
    } else if (segment.data_size > segment.memory_size) {
      why = {{"dataSize", decimal(segment.data_size)},
             {"memorySize", decimal(segment.memory_size)}};
    } else if (segment.blob >= blobs.size()) {
      why = {{"blob", decimal(segment.blob)}, {"blobs", decimal(blobs.size())}};
    } else if (const std::uint64_t size = blob_size(blobs[segment.blob]);
               !range_fits(segment.blob_offset, segment.data_size, size)) {
      why = {{"blobOffset", decimal(segment.blob_offset)},
             {"dataSize", decimal(segment.data_size)},
             {"blob size", decimal(size)}};
    }
    if (!why.empty()) {
      return fail(fmt::format("invalid segment on tile {}", tile.physical_tile), element,
                  std::move(why));
    }
  }
  return {};
}

// No two non-empty segments of a tile overlap. Runs after the segment checks
// have passed for the tile, so every end fits in
// 32 bits and lies inside tile memory.
[[nodiscard]] Check check_overlap(const TileImage& tile, std::size_t tile_index) {
  // (start, end, segment position); the list lives only while this tile is
  // checked.
  struct Range {
    std::uint32_t start;
    std::uint32_t end;
    std::size_t segment;
    auto operator<=>(const Range&) const = default;
  };
  std::vector<Range> ranges;
  ranges.reserve(tile.segments.size());
  for (std::size_t k = 0; k < tile.segments.size(); ++k) {
    const Segment& segment = tile.segments[k];
    // An empty segment occupies nothing, wherever it stands.
    if (segment.memory_size != 0) {
      ranges.push_back({segment.address, segment.address + segment.memory_size, k});
    }
  }
  // Ascending by start, then by end (equal ranges by position, which does not
  // change the verdict). Once sorted, any overlap shows between neighbours:
  // if a range reaches past the start of a later one, it reaches past the
  // start of the very next one too.
  std::sort(ranges.begin(), ranges.end());
  for (std::size_t i = 1; i < ranges.size(); ++i) {
    const Range& earlier = ranges[i - 1];
    const Range& later = ranges[i];
    // Ranges that only touch (end == next start) do not overlap.
    if (earlier.end > later.start) {
      return fail(
          fmt::format("overlapping segments on tile {}: 0x{:x}..0x{:x} and 0x{:x}..0x{:x}",
                      tile.physical_tile, earlier.start, earlier.end, later.start, later.end),
          ElementPath{{F::tiles, tile_index}},
          {{"segment", ElementPath{{F::tiles, tile_index}, {F::segments, earlier.segment}}},
           {"overlapping segment",
            ElementPath{{F::tiles, tile_index}, {F::segments, later.segment}}}});
    }
  }
  return {};
}

// The tiles, in list order. Each tile is finished (duplicate, segments,
// overlap) before the next one starts.
// On success `tile_set` holds the physical tile of every tile, which is the
// set of tiles that binding slices may name.
template <class Blobs>
[[nodiscard]] Check check_tiles(const std::vector<TileImage>& tiles, const Blobs& blobs,
                                TileSet& tile_set) {
  tile_set.reserve(tiles.size());
  for (std::size_t i = 0; i < tiles.size(); ++i) {
    const TileImage& tile = tiles[i];
    // A duplicate is reported before its segments are looked at.
    if (const auto [earlier, inserted] = tile_set.try_emplace(tile.physical_tile, i); !inserted) {
      return fail(fmt::format("duplicate physical tile {}", tile.physical_tile),
                  ElementPath{{F::tiles, i}},
                  {{"earlier tile", ElementPath{{F::tiles, earlier->second}}}});
    }
    ZEM_TRY(check_segments(tile, i, blobs));
    ZEM_TRY(check_overlap(tile, i));
  }
  return {};
}

// One slice of a binding: its length, its end, and the tile memory it names.
[[nodiscard]] Check check_slice(const Binding& binding, const RegionSlice& slice,
                                const ElementPath& element, const TileSet& tile_set) {
  if (slice.length > u32_max) {
    return fail(fmt::format("binding {} slice is too large", binding.name), element,
                {{"length", decimal(slice.length)}});
  }
  // Both terms fit in 32 bits now, so the sum is exact in 64 bits.
  const std::uint64_t end = std::uint64_t{slice.address} + slice.length;
  if (end > u32_max) {
    return fail("binding address overflow", element,
                {{"address", hex(slice.address)}, {"length", decimal(slice.length)}});
  }
  std::vector<FailureDetail> why;
  if (!tile_set.contains(slice.physical_tile)) {
    why = {{"physicalTile", decimal(slice.physical_tile)}};
  } else if (end > tile_memory_end) {
    why = {{"end", hex(end)}, {"tile memory ends at", hex(tile_memory_end)}};
  } else if (slice.address < tile_memory_base) {
    why = {{"address", hex(slice.address)}, {"tile memory starts at", hex(tile_memory_base)}};
  }
  if (!why.empty()) {
    return fail(fmt::format("binding {} references invalid tile memory", binding.name), element,
                std::move(why));
  }
  return {};
}

// The position of the first name that an earlier position already holds, or
// nothing when all `count` names differ. `name_at(position)` gives a name.
//
// The result is the one of inserting the names, in order, into one hash set
// and stopping at the first insertion that finds its name already there. A
// single table of hundreds of thousands of names outgrows the processor's
// caches, though, and then every insertion waits for memory: doubling the
// names made such a set several times slower. So the names are first
// partitioned by the top bits of their hashes, keeping their order within a
// partition; equal names share a partition, and each partition is checked
// with its own small hash table, which stays in cache. The earliest repeat
// over all partitions is the answer.
template <class NameAt>
[[nodiscard]] std::optional<std::size_t> first_repeated_name(std::size_t count,
                                                             const NameAt& name_at) {
  struct Entry {
    std::size_t hash;
    std::size_t position;
  };
  constexpr std::size_t names_per_partition = 1024;
  constexpr int hash_bits = std::numeric_limits<std::size_t>::digits;
  const std::hash<std::string_view> hash_of;

  const std::size_t partitions =
      std::bit_ceil(std::max<std::size_t>(count / names_per_partition, 1));
  const int partition_bits = std::countr_zero(partitions);
  const auto partition_of = [partition_bits](std::size_t hash) -> std::size_t {
    return partition_bits == 0 ? 0 : hash >> (hash_bits - partition_bits);
  };

  // Count the partitions' sizes, then scatter the names into them in order,
  // so that within a partition the entries stay in position order. Hashing
  // twice costs less than a second array of `count` hashes.
  std::vector<std::size_t> bounds(partitions + 1, 0);
  for (std::size_t position = 0; position < count; ++position) {
    ++bounds[partition_of(hash_of(name_at(position))) + 1];
  }
  for (std::size_t p = 1; p <= partitions; ++p) {
    bounds[p] += bounds[p - 1];
  }
  std::vector<Entry> partitioned(count);
  {
    std::vector<std::size_t> next(bounds.begin(), bounds.end() - 1);
    for (std::size_t position = 0; position < count; ++position) {
      const std::size_t hash = hash_of(name_at(position));
      partitioned[next[partition_of(hash)]++] = Entry{hash, position};
    }
  }

  std::optional<std::size_t> first;
  std::vector<std::size_t> table;  // open addressing: 1 + index into the partition, 0 when free
  for (std::size_t p = 0; p < partitions; ++p) {
    const std::span<const Entry> partition(partitioned.data() + bounds[p],
                                           bounds[p + 1] - bounds[p]);
    const std::size_t mask = std::bit_ceil(std::max<std::size_t>(2 * partition.size(), 8)) - 1;
    table.assign(mask + 1, 0);
    for (std::size_t index = 0; index < partition.size(); ++index) {
      const Entry& entry = partition[index];
      if (first && entry.position >= *first) {
        break;  // positions only grow within a partition
      }
      bool repeated = false;
      for (std::size_t slot = entry.hash & mask;; slot = (slot + 1) & mask) {
        if (table[slot] == 0) {
          table[slot] = index + 1;
          break;
        }
        const Entry& other = partition[table[slot] - 1];
        if (other.hash == entry.hash && name_at(other.position) == name_at(entry.position)) {
          repeated = true;
          break;
        }
      }
      if (repeated) {
        first = entry.position;  // the earliest repeat of this partition
        break;
      }
    }
  }
  return first;
}

// The bindings. The three lists are walked in order, as one sequence; one
// name set covers them all.
template <class Model>
[[nodiscard]] Check check_bindings(const Model& app, const TileSet& tile_set) {
  const auto lists = binding_lists(app);
  const std::size_t first_size = app.bindings_1.size();
  const std::size_t first_two_sizes = first_size + app.bindings_2.size();
  const std::size_t total = first_two_sizes + app.bindings_3.size();
  // Names compare as exact byte strings.
  const auto name_at = [&](std::size_t position) -> std::string_view {
    if (position < first_size) {
      return app.bindings_1[position].name;
    }
    if (position < first_two_sizes) {
      return app.bindings_2[position - first_size].name;
    }
    return app.bindings_3[position - first_two_sizes].name;
  };
  const auto element_at = [&](std::size_t position) {
    if (position < first_size) return ElementPath{{F::bindings1, position}};
    if (position < first_two_sizes) return ElementPath{{F::bindings2, position - first_size}};
    return ElementPath{{F::bindings3, position - first_two_sizes}};
  };
  // The first binding whose name an earlier binding already has: walking the
  // bindings with a set of the names seen so far would fail exactly there.
  const std::optional<std::size_t> repeated = first_repeated_name(total, name_at);

  std::size_t position = 0;
  for (const auto& [field, bindings] : lists) {
    for (std::size_t i = 0; i < bindings.size(); ++i, ++position) {
      const Binding& binding = bindings[i];
      const ElementPath element{{field, i}};
      if (binding.name.empty() || position == repeated) {
        std::vector<FailureDetail> details;
        if (!binding.name.empty()) {
          // Found again only on failure: the first binding of that name.
          std::size_t earlier = 0;
          while (name_at(earlier) != binding.name) ++earlier;
          details.push_back({"earlier binding", element_at(earlier)});
        }
        return fail(fmt::format("empty or duplicate binding {}", binding.name), element,
                    std::move(details));
      }
      for (std::size_t k = 0; k < binding.slices.size(); ++k) {
        ZEM_TRY(check_slice(binding, binding.slices[k], element.then(F::slices, k), tile_set));
      }
    }
  }
  return {};
}

// One page reference of a host call: the page exists and holds the range.
[[nodiscard]] Check check_page_ref(const HostCall& call, const HostPageRef& ref,
                                   const ElementPath& element, const PageMap& pages) {
  const auto page = pages.find(ref.page);
  if (page == pages.end()) {
    return fail(fmt::format("host call {} references missing page", call.name), element,
                {{"page", decimal(ref.page)}});
  }
  if (!range_fits(ref.offset, ref.length, page->second)) {
    return fail(fmt::format("host call {} exceeds page bounds", call.name), element,
                {{"page", decimal(ref.page)},
                 {"offset", decimal(ref.offset)},
                 {"length", decimal(ref.length)},
                 {"page size", decimal(page->second)}});
  }
  return {};
}

// The host exchange: page table, required pages, startup protocol, calls.
[[nodiscard]] Check check_host_exchange(const HostExchange& host) {
  // Page ids are unique: a map of the pages by id must hold every page.
  // Stopping at the first id already present reports the same failure
  // without building the rest of the map.
  PageMap pages;
  pages.reserve(host.pages.size());
  for (std::size_t i = 0; i < host.pages.size(); ++i) {
    const HostPage& page = host.pages[i];
    if (!pages.emplace(page.id, page.size).second) {
      const auto earlier = std::ranges::find(host.pages, page.id, &HostPage::id);
      return fail(
          "invalid host page table", ElementPath{{F::host_exchange}, {F::pages, i}},
          {{"id", decimal(page.id)},
           {"earlier page",
            ElementPath{{F::host_exchange},
                        {F::pages, static_cast<std::size_t>(earlier - host.pages.begin())}}}});
    }
  }

  // Every required page is in the table.
  for (std::size_t i = 0; i < host.required_pages.size(); ++i) {
    if (!pages.contains(host.required_pages[i])) {
      return fail("invalid host page table",
                  ElementPath{{F::host_exchange}, {F::required_pages, i}},
                  {{"page", decimal(host.required_pages[i])}});
    }
  }

  // With no host calls validation ends here, and the place of the startup
  // protocol is not checked.
  if (host.calls.empty()) {
    return {};
  }

  // The startup protocol word lies inside its page.
  const auto startup = pages.find(host.startup_page);
  if (startup == pages.end()) {
    return fail("invalid host startup protocol", ElementPath{{F::host_exchange}, {F::startup_page}},
                {{"startupPage", decimal(host.startup_page)}});
  }
  if (!range_fits(host.startup_offset, startup_protocol_size, startup->second)) {
    return fail(
        "invalid host startup protocol", ElementPath{{F::host_exchange}, {F::startup_offset}},
        {{"startupOffset", decimal(host.startup_offset)}, {"page size", decimal(startup->second)}});
  }

  // Every call has invocations and references existing pages within bounds.
  for (std::size_t i = 0; i < host.calls.size(); ++i) {
    const HostCall& call = host.calls[i];
    const ElementPath element{{F::host_exchange}, {F::calls, i}};
    if (call.invocations == 0) {
      return fail(fmt::format("host call {} has no invocations", call.name), element);
    }
    for (std::size_t k = 0; k < call.page_refs_1.size(); ++k) {
      ZEM_TRY(check_page_ref(call, call.page_refs_1[k], element.then(F::page_refs1, k), pages));
    }
    for (std::size_t k = 0; k < call.page_refs_2.size(); ++k) {
      ZEM_TRY(check_page_ref(call, call.page_refs_2[k], element.then(F::page_refs2, k), pages));
    }
  }
  return {};
}

}  // namespace

template <class Model>
ReadResult<void> validate_model(const Model& app) {
  // A package without tiles loads nothing.
  if (app.tiles.empty()) {
    return fail("application has no tiles", ElementPath{{F::tiles}});
  }
  ZEM_TRY(check_device_config_writes(app.device_config_writes));
  TileSet tile_set;
  ZEM_TRY(check_tiles(app.tiles, app.blobs, tile_set));
  ZEM_TRY(check_bindings(app, tile_set));
  return check_host_exchange(app.host_exchange);
}

template ReadResult<void> validate_model(const Application&);
template ReadResult<void> validate_model(const PackageModel&);

Result<void> Application::validate() const {
  auto valid = validate_model(*this);
  if (!valid) return std::unexpected(std::move(valid).error().error);
  return {};
}

ReadResult<void> PackageModel::validate() const { return validate_model(*this); }

}  // namespace zem
