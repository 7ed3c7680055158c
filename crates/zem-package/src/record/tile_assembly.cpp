#include "record/tile_assembly.hpp"

#include <algorithm>
#include <new>
#include <unordered_map>
#include <utility>

#include "blobs/blob_check.hpp"
#include "tile/tile_rebuild.hpp"
#include "zem_package/byte_buffer.hpp"
#include "zem_package/expected_record.hpp"
#include "zem_package/template_setup.hpp"

namespace zem {

std::optional<CheckedTile> examine_tile(const TileMemory& memory) {
  const std::optional<FoundSetup> setup = find_template_setup(memory.bytes);
  if (!setup) return std::nullopt;
  return CheckedTile{memory.physical_tile, memory.load_base, *setup,
                     expected_record(memory, setup->setup)};
}

struct TileAssembly::Plan {
  enum class State : std::uint8_t { waiting, building, done, fallen };

  struct Tile {
    TileImage original;  // as read ahead
    // The tile alone, its segments' blobs numbered by their place in `blobs`,
    // as the image is rebuilt from it.
    std::vector<TileImage> renumbered;
    std::vector<std::uint64_t> blobs;  // the blobs it takes bytes from, each once
    std::size_t missing = 0;           // of them, those not checked yet
    State state = State::waiting;
    std::optional<CheckedTile> outcome;  // once done
  };

  struct Slot {
    std::vector<std::size_t> users;  // the tiles that take bytes from the blob
    std::size_t holders = 0;         // of them, those not done with it
    bool keep = false;               // whether a user waits for another blob too
    std::uint64_t size = 0;          // once checked
    std::optional<ByteBuffer> kept;
  };

  std::vector<Tile> tiles;  // in tile number order
  std::unordered_map<std::uint64_t, Slot> slots;
  std::size_t assembled = 0;

  [[nodiscard]] const Tile* find(std::uint32_t physical_tile) const {
    const auto at = std::ranges::lower_bound(
        tiles, physical_tile, {}, [](const Tile& tile) { return tile.original.physical_tile; });
    return at != tiles.end() && at->original.physical_tile == physical_tile ? &*at : nullptr;
  }
};

TileAssembly::TileAssembly(std::span<const std::uint32_t> tiles, std::uint64_t budget)
    : chosen_(tiles.begin(), tiles.end()), budget_(budget) {}

TileAssembly::~TileAssembly() = default;

void TileAssembly::tiles_ahead(const std::vector<TileImage>* tiles) noexcept {
  if (tiles == nullptr) return;
  try {
    auto plan = std::make_unique<Plan>();
    std::vector<std::uint32_t> wanted = chosen_;
    if (wanted.empty()) {
      for (const TileImage& tile : *tiles) wanted.push_back(tile.physical_tile);
    }
    std::ranges::sort(wanted);
    wanted.erase(std::ranges::unique(wanted).begin(), wanted.end());
    // Each number's first tile, as `find_tile` takes it: looked up in
    // constant time, so that many tiles cost no more than their list.
    std::unordered_map<std::uint32_t, const TileImage*> by_number;
    for (const TileImage& tile : *tiles) by_number.try_emplace(tile.physical_tile, &tile);
    for (const std::uint32_t number : wanted) {
      const auto found = by_number.find(number);
      if (found == by_number.end()) continue;
      const TileImage& tile = *found->second;
      Plan::Tile planned{tile, {tile}, {}, 0, Plan::State::waiting, std::nullopt};
      // Blobs numbered in order of first use, each looked up in constant
      // time, so that a tile of many segments costs no more than its list.
      std::unordered_map<std::uint64_t, std::uint64_t> local;
      for (Segment& segment : planned.renumbered.front().segments) {
        if (segment.data_size == 0) continue;
        const auto [at, added] = local.try_emplace(segment.blob, planned.blobs.size());
        if (added) planned.blobs.push_back(segment.blob);
        segment.blob = at->second;
      }
      // A tile that takes no blob's bytes costs nothing to rebuild later.
      if (planned.blobs.empty()) continue;
      planned.missing = planned.blobs.size();
      const std::size_t position = plan->tiles.size();
      for (const std::uint64_t blob : planned.blobs) {
        Plan::Slot& slot = plan->slots[blob];
        slot.users.push_back(position);
        ++slot.holders;
        slot.keep = slot.keep || planned.blobs.size() > 1;
      }
      plan->tiles.push_back(std::move(planned));
    }
    plan_ = std::move(plan);
  } catch (const std::bad_alloc&) {
    plan_.reset();  // every tile is prepared otherwise
  }
}

void TileAssembly::release(std::size_t tile) {
  for (const std::uint64_t blob : plan_->tiles[tile].blobs) {
    Plan::Slot& slot = plan_->slots.find(blob)->second;
    if (--slot.holders == 0 && slot.kept) {
      held_ -= slot.kept->size();
      slot.kept.reset();
    }
  }
}

void TileAssembly::fall_back(std::size_t tile) {
  plan_->tiles[tile].state = Plan::State::fallen;
  release(tile);
}

namespace {

// Builds `tile`, whose last blob, `index`, has `contents`, and examines it;
// nothing when its memory cannot be built.
std::optional<std::optional<CheckedTile>> assemble(const TileAssembly::Plan& plan,
                                                   const TileAssembly::Plan::Tile& tile,
                                                   std::size_t index,
                                                   std::span<const std::uint8_t> contents) {
  // Every other blob of the tile was checked before it became ready, and is
  // kept until the tile is done: read without the lock, nothing changes them.
  std::vector<std::uint64_t> sizes;
  sizes.reserve(tile.blobs.size());
  for (const std::uint64_t blob : tile.blobs) {
    sizes.push_back(blob == index ? contents.size() : plan.slots.find(blob)->second.size);
  }
  const ReadResult<TileMemory> memory =
      rebuild_tile_memory(tile.renumbered, tile.original.physical_tile, sizes, CopyOrder::by_blob,
                          [&](std::size_t local) -> Result<std::span<const std::uint8_t>> {
                            const std::uint64_t blob = tile.blobs[local];
                            if (blob == index) return contents;
                            const TileAssembly::Plan::Slot& slot = plan.slots.find(blob)->second;
                            if (!slot.kept)
                              return std::unexpected(PackageError::invalid("blob not kept"));
                            return slot.kept->bytes();
                          });
  if (!memory) return std::nullopt;
  return examine_tile(*memory);
}

}  // namespace

void TileAssembly::checked(unsigned /*worker*/, std::size_t index, const CheckedBlob& /*blob*/,
                           std::span<const std::uint8_t> contents) noexcept {
  if (!plan_) return;
  const auto found = plan_->slots.find(index);
  if (found == plan_->slots.end()) return;
  Plan::Slot& slot = found->second;
  const std::uint64_t size = contents.size();

  // The tiles that this blob completes, each built by this thread only. Its
  // room is taken before the lock, so that nothing allocates under it.
  std::vector<std::size_t> ready;
  bool dropped = false;
  try {
    ready.reserve(slot.users.size());
  } catch (const std::bad_alloc&) {
    dropped = true;
  }

  // A copy is kept for the users that still wait for other blobs, if it
  // fits. A user that waits for this blob only completes with it below (its
  // count cannot fall in between: this blob is the one it waits for), and
  // needs no copy.
  bool reserved = false;
  if (slot.keep && !dropped) {
    const std::scoped_lock lock(mutex_);
    const bool waited_for = std::ranges::any_of(slot.users, [&](std::size_t user) {
      const Plan::Tile& tile = plan_->tiles[user];
      return tile.state == Plan::State::waiting && tile.missing > 1;
    });
    if (waited_for) {
      if (size > budget_ - held_) {
        dropped = true;
      } else {
        held_ += size;
        most_held_ = std::max(most_held_, held_);
        reserved = true;
      }
    }
  }
  std::optional<ByteBuffer> copy;
  if (reserved) {
    try {
      copy = ByteBuffer::copy_of(contents);
    } catch (const std::bad_alloc&) {
      const std::scoped_lock lock(mutex_);
      held_ -= size;
      dropped = true;
    }
  }

  {
    const std::scoped_lock lock(mutex_);
    slot.size = size;
    if (copy) slot.kept = std::move(copy);
    for (const std::size_t user : slot.users) {
      Plan::Tile& tile = plan_->tiles[user];
      if (tile.state != Plan::State::waiting) continue;
      if (dropped) {
        fall_back(user);
      } else if (--tile.missing == 0) {
        tile.state = Plan::State::building;
        ready.push_back(user);
      }
    }
    if (slot.holders == 0 && slot.kept) {
      held_ -= slot.kept->size();
      slot.kept.reset();
    }
  }

  for (const std::size_t user : ready) {
    Plan::Tile& tile = plan_->tiles[user];
    std::optional<std::optional<CheckedTile>> outcome;
    try {
      outcome = assemble(*plan_, tile, index, contents);
    } catch (const std::bad_alloc&) {
      outcome.reset();  // prepared otherwise
    }
    const std::scoped_lock lock(mutex_);
    if (outcome) {
      tile.outcome = std::move(*outcome);
      tile.state = Plan::State::done;
      ++plan_->assembled;
      release(user);
    } else {
      fall_back(user);
    }
  }
}

std::optional<std::optional<CheckedTile>> TileAssembly::outcome(
    std::uint32_t physical_tile, std::span<const TileImage> tiles) const {
  const std::scoped_lock lock(mutex_);
  if (!plan_) return std::nullopt;
  const Plan::Tile* tile = plan_->find(physical_tile);
  if (tile == nullptr || tile->state != Plan::State::done) return std::nullopt;
  const TileImage* read = find_tile(tiles, physical_tile);
  if (read == nullptr || *read != tile->original) return std::nullopt;
  return tile->outcome;
}

std::uint64_t TileAssembly::held_bytes() const {
  const std::scoped_lock lock(mutex_);
  return held_;
}

std::uint64_t TileAssembly::most_held_bytes() const {
  const std::scoped_lock lock(mutex_);
  return most_held_;
}

std::size_t TileAssembly::assembled_tiles() const {
  const std::scoped_lock lock(mutex_);
  return plan_ ? plan_->assembled : 0;
}

}  // namespace zem
