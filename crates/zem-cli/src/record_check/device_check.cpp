#include "record_check/device_check.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <system_error>
#include <thread>

#include "common/tile_lookup.hpp"

namespace zem::record_check {
namespace {

constexpr std::string_view setup_not_found = "template setup was not found";

}  // namespace

std::string_view status_name(TileStatus status) noexcept {
  switch (status) {
    case TileStatus::match:
      return "match";
    case TileStatus::differ:
      return "differ";
    case TileStatus::missing:
      return "missing";
    case TileStatus::unreadable:
      return "unreadable";
    case TileStatus::failed:
      return "failed";
  }
  return "failed";
}

void for_each_index(std::size_t count, unsigned threads,
                    const std::function<void(std::size_t)>& work) {
  std::atomic<std::size_t> next{0};
  const auto drain = [&] {
    for (std::size_t i = next++; i < count; i = next++) work(i);
  };
  const std::size_t helpers = std::min<std::size_t>(std::max(threads, 1U) - 1, count);
  std::vector<std::jthread> started;
  started.reserve(helpers);
  for (std::size_t t = 0; t < helpers; ++t) {
    // A thread that cannot be started leaves its share to the others.
    try {
      started.emplace_back(drain);
    } catch (const std::system_error&) {
      break;
    }
  }
  drain();
}  // the jthreads join here

DeviceCheck::DeviceCheck(const CheckedPackage& package, std::vector<Tile> tiles,
                         std::vector<std::uint32_t> without_setup)
    : tiles_(std::move(tiles)),
      without_setup_(std::move(without_setup)),
      owners_(std::make_unique<AddressOwners>(package.model())),
      records_(std::make_unique<RecordIndex>()) {
  for (const Tile& tile : tiles_) {
    if (tile.expected) records_->add(tile.physical_tile, tile.expected->words.words);
  }
}

cli::Outcome<DeviceCheck> DeviceCheck::prepare(const CheckedPackage& package,
                                               std::span<const std::uint32_t> tiles,
                                               unsigned threads) {
  std::vector<std::uint32_t> chosen(tiles.begin(), tiles.end());
  if (chosen.empty()) {
    for (const TileImage& tile : package.model().tiles) chosen.push_back(tile.physical_tile);
  }
  std::ranges::sort(chosen);
  chosen.erase(std::ranges::unique(chosen).begin(), chosen.end());
  const std::vector<TileImage>& model_tiles = package.model().tiles;
  for (const std::uint32_t tile : chosen) {
    if (std::ranges::find(model_tiles, tile, &TileImage::physical_tile) == model_tiles.end()) {
      return std::unexpected(
          cli::Failure{fmt::format("no tile has physical tile number {}", tile)});
    }
  }

  // Tiles that take bytes from the same blob decompress it once.
  const TileMemorySource memories(package.reading());
  std::vector<std::optional<cli::Outcome<ExpectedRecord>>> found(chosen.size());
  for_each_index(chosen.size(), threads, [&](std::size_t i) {
    try {
      const TileMemoryResult memory = memories.tile_memory(chosen[i]);
      if (!memory) {
        // A tile without segments holds no template setup.
        found[i] = memory.error().kind == TileMemoryError::Kind::no_segments
                       ? cli::Outcome<ExpectedRecord>(
                             std::unexpected(cli::Failure{std::string(setup_not_found)}))
                       : std::unexpected(cli::tile_memory_failure(memory.error(), chosen[i],
                                                                  "cannot rebuild the tile image"));
        return;
      }
      found[i] = expected_record(*memory);
    } catch (const std::bad_alloc&) {
      found[i] = std::unexpected(cli::Failure{"out of memory"});
    }
  });

  std::vector<Tile> verified;
  std::vector<std::uint32_t> without_setup;
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    cli::Outcome<ExpectedRecord>& expected = *found[i];
    if (!expected && expected.error().message == setup_not_found) {
      without_setup.push_back(chosen[i]);
    } else {
      verified.push_back(Tile{chosen[i], std::move(expected)});
    }
  }
  return DeviceCheck(package, std::move(verified), std::move(without_setup));
}

std::vector<std::uint32_t> DeviceCheck::verified_tiles() const {
  std::vector<std::uint32_t> tiles;
  tiles.reserve(tiles_.size());
  for (const Tile& tile : tiles_) tiles.push_back(tile.physical_tile);
  return tiles;
}

const cli::Outcome<ExpectedRecord>* DeviceCheck::expected(std::uint32_t physical_tile) const {
  const auto tile = std::ranges::find(tiles_, physical_tile, &Tile::physical_tile);
  return tile != tiles_.end() ? &tile->expected : nullptr;
}

std::vector<TileVerdict> DeviceCheck::verify(const RecordSource& records, std::size_t max,
                                             unsigned threads) const {
  std::vector<TileVerdict> verdicts(tiles_.size());
  const DiffOptions options{max, owners_.get(), records_.get()};
  for_each_index(tiles_.size(), threads, [&](std::size_t i) {
    const Tile& tile = tiles_[i];
    TileVerdict& verdict = verdicts[i];
    verdict.physical_tile = tile.physical_tile;
    try {
      if (!tile.expected) {
        verdict.status = TileStatus::failed;
        verdict.reason = tile.expected.error().message;
        return;
      }
      const RecordInput record =
          records(tile.physical_tile, tile.expected->size() * 4 + record_slack);
      switch (record.status) {
        case RecordInput::Status::missing:
          verdict.status = TileStatus::missing;
          return;
        case RecordInput::Status::unreadable:
          verdict.status = TileStatus::unreadable;
          verdict.reason = record.reason;
          return;
        case RecordInput::Status::read:
          break;
      }
      verdict.diff = diff_record(*tile.expected, record, options);
      verdict.status = verdict.diff->matches() ? TileStatus::match : TileStatus::differ;
    } catch (const std::bad_alloc&) {
      verdict.status = TileStatus::failed;
      verdict.reason = "out of memory";
      verdict.diff.reset();
    }
  });
  return verdicts;
}

}  // namespace zem::record_check
