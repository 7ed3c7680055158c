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

#include "zem_package/application.hpp"

namespace zem {
namespace {

constexpr std::uint64_t u32_max = 0xffff'ffff;

// The startup protocol is one 32-bit word.
constexpr std::uint64_t startup_protocol_size = 4;

// A device configuration write address must have its two low bits clear.
constexpr std::uint32_t device_write_alignment = 4;

using PageMap = std::unordered_map<std::uint32_t, std::uint64_t>;

[[nodiscard]] std::unexpected<PackageError> fail(std::string message) {
  return std::unexpected(PackageError::invalid(std::move(message)));
}

// Whether [offset, offset + length) lies within `size` bytes. A sum past
// 2^64 - 1 counts as too large.
[[nodiscard]] bool range_fits(std::uint64_t offset, std::uint64_t length,
                              std::uint64_t size) noexcept {
  std::uint64_t end = 0;
  return !__builtin_add_overflow(offset, length, &end) && end <= size;
}

// Device configuration writes: aligned and unique.
[[nodiscard]] Result<void> check_device_config_writes(
    const std::vector<DeviceConfigWrite>& writes) {
  std::unordered_set<std::uint32_t> seen;
  seen.reserve(writes.size());
  for (const DeviceConfigWrite& write : writes) {
    if (write.address % device_write_alignment != 0 || !seen.insert(write.address).second) {
      return fail("unaligned or duplicate device configuration write");
    }
  }
  return {};
}

// The segments of one tile, in list order: no address overflow, inside tile
// memory, data inside the segment and inside its blob.
[[nodiscard]] Result<void> check_segments(const TileImage& tile, const std::vector<Blob>& blobs) {
  for (const Segment& segment : tile.segments) {
    // Both terms are 32-bit, so their sum is exact in 64 bits.
    const std::uint64_t end = std::uint64_t{segment.address} + segment.memory_size;
    if (end > u32_max) {
      return fail("segment address overflow");
    }
    const bool invalid =
        segment.address < tile_memory_base || end > tile_memory_end ||
        segment.data_size > segment.memory_size || segment.blob >= blobs.size() ||
        !range_fits(segment.blob_offset, segment.data_size, blobs[segment.blob].data.size());
    if (invalid) {
      return fail(fmt::format("invalid segment on tile {}", tile.physical_tile));
    }
  }
  return {};
}

// No two non-empty segments of a tile overlap. Runs after the segment checks
// have passed for the tile, so every end fits in
// 32 bits and lies inside tile memory.
[[nodiscard]] Result<void> check_overlap(const TileImage& tile) {
  // (start, end) pairs; the list lives only while this tile is checked.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
  ranges.reserve(tile.segments.size());
  for (const Segment& segment : tile.segments) {
    // An empty segment occupies nothing, wherever it stands.
    if (segment.memory_size != 0) {
      ranges.emplace_back(segment.address, segment.address + segment.memory_size);
    }
  }
  // Ascending by start, then by end. Once sorted, any overlap shows between
  // neighbours: if a range reaches past the start of a later one, it reaches
  // past the start of the very next one too.
  std::sort(ranges.begin(), ranges.end());
  for (std::size_t i = 1; i < ranges.size(); ++i) {
    const auto& [earlier_start, earlier_end] = ranges[i - 1];
    const auto& [later_start, later_end] = ranges[i];
    // Ranges that only touch (end == next start) do not overlap.
    if (earlier_end > later_start) {
      return fail(fmt::format("overlapping segments on tile {}: 0x{:x}..0x{:x} and 0x{:x}..0x{:x}",
                              tile.physical_tile, earlier_start, earlier_end, later_start,
                              later_end));
    }
  }
  return {};
}

// The tiles, in list order. Each tile is finished (duplicate, segments,
// overlap) before the next one starts.
// On success `tile_set` holds the physical tile of every tile, which is the
// set of tiles that binding slices may name.
[[nodiscard]] Result<void> check_tiles(const std::vector<TileImage>& tiles,
                                       const std::vector<Blob>& blobs,
                                       std::unordered_set<std::uint32_t>& tile_set) {
  tile_set.reserve(tiles.size());
  for (const TileImage& tile : tiles) {
    // A duplicate is reported before its segments are looked at.
    if (!tile_set.insert(tile.physical_tile).second) {
      return fail(fmt::format("duplicate physical tile {}", tile.physical_tile));
    }
    ZEM_TRY(check_segments(tile, blobs));
    ZEM_TRY(check_overlap(tile));
  }
  return {};
}

// One slice of a binding: its length, its end, and the tile memory it names.
[[nodiscard]] Result<void> check_slice(const Binding& binding, const RegionSlice& slice,
                                       const std::unordered_set<std::uint32_t>& tile_set) {
  if (slice.length > u32_max) {
    return fail(fmt::format("binding {} slice is too large", binding.name));
  }
  // Both terms fit in 32 bits now, so the sum is exact in 64 bits.
  const std::uint64_t end = std::uint64_t{slice.address} + slice.length;
  if (end > u32_max) {
    return fail("binding address overflow");
  }
  if (!tile_set.contains(slice.physical_tile) || end > tile_memory_end ||
      slice.address < tile_memory_base) {
    return fail(fmt::format("binding {} references invalid tile memory", binding.name));
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

// The bindings. The three lists are walked in order, as one sequence; one name set
// covers them all.
[[nodiscard]] Result<void> check_bindings(const Application& app,
                                          const std::unordered_set<std::uint32_t>& tile_set) {
  const std::vector<Binding>* const lists[] = {&app.bindings_1, &app.bindings_2, &app.bindings_3};
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
  // The first binding whose name an earlier binding already has: walking the
  // bindings with a set of the names seen so far would fail exactly there.
  const std::optional<std::size_t> repeated = first_repeated_name(total, name_at);

  std::size_t position = 0;
  for (const std::vector<Binding>* list : lists) {
    for (const Binding& binding : *list) {
      if (binding.name.empty() || position == repeated) {
        return fail(fmt::format("empty or duplicate binding {}", binding.name));
      }
      for (const RegionSlice& slice : binding.slices) {
        ZEM_TRY(check_slice(binding, slice, tile_set));
      }
      ++position;
    }
  }
  return {};
}

// One page reference of a host call: the page exists and holds the range.
[[nodiscard]] Result<void> check_page_ref(const HostCall& call, const HostPageRef& ref,
                                          const PageMap& pages) {
  const auto page = pages.find(ref.page);
  if (page == pages.end()) {
    return fail(fmt::format("host call {} references missing page", call.name));
  }
  if (!range_fits(ref.offset, ref.length, page->second)) {
    return fail(fmt::format("host call {} exceeds page bounds", call.name));
  }
  return {};
}

// The host exchange: page table, required pages, startup protocol, calls.
[[nodiscard]] Result<void> check_host_exchange(const HostExchange& host) {
  // Page ids are unique. The rule is stated as "the map ends up
  // smaller than the page list"; stopping at the first id already present
  // reports the same failure without building the rest of the map.
  PageMap pages;
  pages.reserve(host.pages.size());
  for (const HostPage& page : host.pages) {
    if (!pages.emplace(page.id, page.size).second) {
      return fail("invalid host page table");
    }
  }

  // Every required page is in the table.
  for (const std::uint32_t id : host.required_pages) {
    if (!pages.contains(id)) {
      return fail("invalid host page table");
    }
  }

  // With no host calls validation ends here, and the place of the
  // startup protocol is not checked.
  if (host.calls.empty()) {
    return {};
  }

  // The startup protocol word lies inside its page.
  const auto startup = pages.find(host.startup_page);
  if (startup == pages.end() ||
      !range_fits(host.startup_offset, startup_protocol_size, startup->second)) {
    return fail("invalid host startup protocol");
  }

  // Every call has invocations and references existing pages within bounds.
  for (const HostCall& call : host.calls) {
    if (call.invocations == 0) {
      return fail(fmt::format("host call {} has no invocations", call.name));
    }
    for (const HostPageRef& ref : call.page_refs_1) {
      ZEM_TRY(check_page_ref(call, ref, pages));
    }
    for (const HostPageRef& ref : call.page_refs_2) {
      ZEM_TRY(check_page_ref(call, ref, pages));
    }
  }
  return {};
}

}  // namespace

Result<void> Application::validate() const {
  // A package without tiles loads nothing.
  if (tiles.empty()) {
    return fail("application has no tiles");
  }
  ZEM_TRY(check_device_config_writes(device_config_writes));
  std::unordered_set<std::uint32_t> tile_set;
  ZEM_TRY(check_tiles(tiles, blobs, tile_set));
  ZEM_TRY(check_bindings(*this, tile_set));
  return check_host_exchange(host_exchange);
}

}  // namespace zem
