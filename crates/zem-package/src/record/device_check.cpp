#include "zem_package/device_check.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <system_error>
#include <thread>

#include "reading/observed_read.hpp"
#include "reading/tile_memory_source.hpp"
#include "record/device_check_read.hpp"
#include "record/for_each_index.hpp"
#include "record/tile_assembly.hpp"
#include "tile/tile_rebuild.hpp"
#include "zem_package/record_pattern.hpp"

namespace zem {

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

std::uint64_t StatusCounts::tiles() const noexcept {
  std::uint64_t total = 0;
  for (const std::uint64_t count : counts) total += count;
  return total;
}

StatusCounts& StatusCounts::operator+=(const StatusCounts& other) noexcept {
  for (std::size_t i = 0; i < counts.size(); ++i) counts[i] += other.counts[i];
  return *this;
}

RecordSource pattern_records(std::string pattern, std::chrono::milliseconds pipe_wait) {
  return [pattern = std::move(pattern), pipe_wait](std::uint32_t tile, std::uint64_t limit) {
    return read_device_record(record_path(pattern, tile), RecordReadOptions{limit, pipe_wait});
  };
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
    try {
      started.emplace_back(drain);
    } catch (const std::system_error&) {
      break;
    }
  }
  drain();
}  // the jthreads join here

DeviceCheck::DeviceCheck(const Package& package, std::vector<CheckedTile> tiles,
                         std::vector<std::uint32_t> without_setup)
    : package_(&package),
      tiles_(std::move(tiles)),
      without_setup_(std::move(without_setup)),
      owners_(std::make_unique<AddressOwners>(package.model())),
      records_(std::make_unique<RecordIndex>()) {
  for (const CheckedTile& tile : tiles_) {
    if (tile.expected) records_->add(tile.physical_tile, tile.expected->words.words);
  }
}

DeviceCheck::DeviceCheck(DeviceCheck&&) noexcept = default;
DeviceCheck& DeviceCheck::operator=(DeviceCheck&&) noexcept = default;
DeviceCheck::~DeviceCheck() = default;

struct DeviceCheckAccess {
  static DeviceCheck make(const Package& package, std::vector<CheckedTile> tiles,
                          std::vector<std::uint32_t> without_setup) {
    return DeviceCheck(package, std::move(tiles), std::move(without_setup));
  }
};

ReadResult<DeviceCheck> prepare_device_check(const Package& package,
                                             std::span<const std::uint32_t> tiles, unsigned threads,
                                             const TileAssembly* assembly) {
  if (!package.valid()) return std::unexpected(package.failures().front());
  std::vector<std::uint32_t> chosen(tiles.begin(), tiles.end());
  if (chosen.empty()) {
    for (const TileImage& tile : package.model().tiles) chosen.push_back(tile.physical_tile);
  }
  std::ranges::sort(chosen);
  chosen.erase(std::ranges::unique(chosen).begin(), chosen.end());
  for (const std::uint32_t tile : chosen) {
    if (find_tile(package.model().tiles, tile) == nullptr) {
      return std::unexpected(unknown_tile_failure(tile));
    }
  }

  // Tiles that take bytes from the same blob decompress it once.
  const TileMemorySource memories(package);
  // Per tile: the tile, none for a tile without a setup, or the failure
  // that ends the preparation.
  using Found = ReadResult<std::optional<CheckedTile>>;
  std::vector<Found> found(chosen.size());
  for_each_index(chosen.size(), threads, [&](std::size_t i) {
    try {
      if (assembly != nullptr) {
        if (auto assembled = assembly->outcome(chosen[i], package.model().tiles)) {
          found[i] = std::move(*assembled);
          return;
        }
      }
      ReadResult<TileMemory> memory = memories.tile_memory(chosen[i]);
      if (!memory) {
        // A tile without segments holds no template setup.
        if (memory.error().subject == FailureSubject::tile_without_segments) {
          found[i] = std::nullopt;
        } else {
          found[i] = std::unexpected(std::move(memory).error());
        }
        return;
      }
      found[i] = examine_tile(*memory);
    } catch (const std::bad_alloc&) {
      found[i] =
          std::unexpected(ReadFailure{PackageError::io("OutOfMemory", "out of memory"),
                                      ReadStage::structure, ElementPath{{PackageField::tiles}}});
    }
  });

  std::vector<CheckedTile> verified;
  std::vector<std::uint32_t> without_setup;
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    if (!found[i]) return std::unexpected(std::move(found[i]).error());
    if (*found[i]) {
      verified.push_back(std::move(**found[i]));
    } else {
      without_setup.push_back(chosen[i]);
    }
  }
  return DeviceCheckAccess::make(package, std::move(verified), std::move(without_setup));
}

ReadResult<DeviceCheck> DeviceCheck::prepare(const Package& package,
                                             std::span<const std::uint32_t> tiles,
                                             unsigned threads) {
  return prepare_device_check(package, tiles, threads, nullptr);
}

namespace {

// The check of the package that `read` gave, prepared with what `assembly`
// assembled while it read.
DeviceCheckRead finish_read(ReadResult<Package> read, std::span<const std::uint32_t> tiles,
                            unsigned threads, const TileAssembly& assembly) {
  if (!read) {
    ReadFailure failure = std::move(read).error();
    return DeviceCheckRead{std::unexpected(failure), std::unexpected(failure)};
  }
  auto package = std::make_unique<const Package>(std::move(*read));
  ReadResult<DeviceCheck> check = prepare_device_check(*package, tiles, threads, &assembly);
  return DeviceCheckRead{std::move(package), std::move(check)};
}

}  // namespace

DeviceCheckRead read_and_prepare_with(std::span<const std::uint8_t> bytes,
                                      std::span<const std::uint32_t> tiles,
                                      const ReadOptions& options, TileAssembly& assembly) {
  return finish_read(read_observed(bytes, options, assembly), tiles, options.threads, assembly);
}

DeviceCheckRead DeviceCheck::read_and_prepare(std::span<const std::uint8_t> bytes,
                                              std::span<const std::uint32_t> tiles,
                                              const ReadOptions& options) {
  TileAssembly assembly(tiles);
  return read_and_prepare_with(bytes, tiles, options, assembly);
}

DeviceCheckRead DeviceCheck::read_and_prepare(io::FileDescriptor file,
                                              std::span<const std::uint32_t> tiles,
                                              const ReadOptions& options) {
  TileAssembly assembly(tiles);
  return finish_read(read_observed(std::move(file), options, assembly), tiles, options.threads,
                     assembly);
}

const CheckedTile* DeviceCheck::tile(std::uint32_t physical_tile) const noexcept {
  const auto found =
      std::ranges::lower_bound(tiles_, physical_tile, {}, &CheckedTile::physical_tile);
  return found != tiles_.end() && found->physical_tile == physical_tile ? &*found : nullptr;
}

DeviceResult DeviceCheck::verify(const RecordSource& records, std::size_t max,
                                 unsigned threads) const {
  DeviceResult result;
  result.tiles.resize(tiles_.size());
  const DiffOptions options{max, owners_.get(), records_.get()};
  for_each_index(tiles_.size(), threads, [&](std::size_t i) {
    const CheckedTile& tile = tiles_[i];
    TileVerdict& verdict = result.tiles[i];
    verdict.physical_tile = tile.physical_tile;
    try {
      if (!tile.expected) {
        verdict.status = TileStatus::failed;
        verdict.reason = to_string(tile.expected.error());
        return;
      }
      const io::Result<DeviceRecord> record =
          records(tile.physical_tile, tile.expected->size() * 4 + record_slack);
      if (!record) {
        verdict.status =
            record_missing(record.error()) ? TileStatus::missing : TileStatus::unreadable;
        if (verdict.status == TileStatus::unreadable) {
          verdict.reason = record_error_text(record.error());
        }
        return;
      }
      verdict.diff = diff_record(*tile.expected, *record, options);
      verdict.status = verdict.diff->matches() ? TileStatus::match : TileStatus::differ;
    } catch (const std::bad_alloc&) {
      verdict.status = TileStatus::failed;
      verdict.reason = "out of memory";
      verdict.diff.reset();
    }
  });
  for (const TileVerdict& verdict : result.tiles) result.counts.add(verdict.status);
  return result;
}

}  // namespace zem
