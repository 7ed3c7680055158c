#include "zem_package/device_check.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <new>
#include <system_error>
#include <thread>

#include "blobs/sha256.hpp"
#include "reading/observed_read.hpp"
#include "reading/tile_memory_source.hpp"
#include "record/device_check_read.hpp"
#include "record/for_each_index.hpp"
#include "record/tile_assembly.hpp"
#include "tile/tile_rebuild.hpp"
#include "zem_package/record_pattern.hpp"

namespace zem {
namespace {

// The SHA-256 of words as a record holds them: little-endian.
Digest words_digest(std::span<const std::uint32_t> words) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(words.size() * 4);
  for (const std::uint32_t word : words) {
    for (unsigned shift = 0; shift < 32; shift += 8) {
      bytes.push_back(static_cast<std::uint8_t>(word >> shift));
    }
  }
  return sha256(bytes);
}

bool has_record(const TileVerdict& verdict) noexcept { return verdict.diff.has_value(); }

}  // namespace

std::string_view device_hint_kind(const DeviceHint& hint) noexcept {
  return device_hint_kinds[hint.index()];
}

void add_no_records_hint(DeviceResult& result, std::string_view pattern) {
  const TileVerdict* first_missing = nullptr;
  for (const TileVerdict& verdict : result.tiles) {
    if (verdict.status == TileStatus::failed) continue;
    if (verdict.status != TileStatus::missing) return;
    if (first_missing == nullptr) first_missing = &verdict;
  }
  if (first_missing == nullptr) return;
  std::filesystem::path directory =
      std::filesystem::path(record_path(pattern, first_missing->physical_tile)).parent_path();
  if (directory.empty()) directory = ".";
  std::error_code error;
  const bool exists = std::filesystem::is_directory(directory, error);
  result.hints.emplace_back(device_hint::NoRecords{directory.string(), exists});
}

void add_same_records_hints(std::span<DeviceResult> results, std::span<const std::string> names) {
  const auto same = [](const DeviceResult& a, const DeviceResult& b) {
    std::size_t read = 0;
    std::size_t differing = 0;
    std::size_t j = 0;
    for (std::size_t i = 0; i < a.tiles.size(); ++i) {
      while (j < b.tiles.size() && b.tiles[j].physical_tile < a.tiles[i].physical_tile) ++j;
      if (j == b.tiles.size() || b.tiles[j].physical_tile != a.tiles[i].physical_tile) continue;
      const bool a_has = has_record(a.tiles[i]);
      const bool b_has = has_record(b.tiles[j]);
      if (a_has != b_has) return false;
      if (!a_has) continue;
      const std::optional<Digest>& da = a.record_digests.at(i);
      const std::optional<Digest>& db = b.record_digests.at(j);
      if (!da || !db || *da != *db) return false;
      ++read;
      if (a.tiles[i].status == TileStatus::differ) ++differing;
    }
    // Healthy devices all hold the expected records: that they agree says
    // nothing. The same wrong records on two devices are one dump twice.
    return read > 0 && differing > 0;
  };
  const std::size_t count = std::min(results.size(), names.size());
  for (std::size_t i = 0; i < count; ++i) {
    for (std::size_t j = i + 1; j < count; ++j) {
      // A device with no differing tile cannot share a wrong record.
      if (results[i].counts.of(TileStatus::differ) == 0 ||
          results[j].counts.of(TileStatus::differ) == 0 || !same(results[i], results[j])) {
        continue;
      }
      results[i].hints.emplace_back(device_hint::SameRecords{j, names[j]});
      results[j].hints.emplace_back(device_hint::SameRecords{i, names[i]});
    }
  }
}

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
  expected_digests_.reserve(tiles_.size());
  for (const CheckedTile& tile : tiles_) {
    if (tile.expected) {
      records_->add(tile.physical_tile, tile.expected->words.words);
      expected_digests_.emplace_back(words_digest(tile.expected->words.words));
    } else {
      expected_digests_.emplace_back();
    }
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

namespace {

// Compares tile `tile`'s record, as `records` reads it, with the one it
// expects (whose digest is `expected_digest`), into `verdict`; a record that
// differs is hashed into `digest` for the device-wide hints.
void verify_tile(const CheckedTile& tile, const std::optional<Digest>& expected_digest,
                 const RecordSource& records, const DiffOptions& options, TileVerdict& verdict,
                 std::optional<Digest>& digest, std::atomic<std::uint64_t>* tiles_done) {
  verdict.physical_tile = tile.physical_tile;
  // Counted however the verdict is reached, early returns included.
  struct Done {
    std::atomic<std::uint64_t>* count;
    ~Done() {
      if (count != nullptr) count->fetch_add(1, std::memory_order_relaxed);
    }
  } const done{tiles_done};
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
    // A matching record is the expected one, whose digest is known: only
    // records that differ are hashed, so a healthy device costs nothing more.
    if (verdict.status == TileStatus::match) {
      digest = expected_digest;
    } else if (!record->cut()) {
      digest = sha256(record->bytes);
    }
  } catch (const std::bad_alloc&) {
    verdict.status = TileStatus::failed;
    verdict.reason = "out of memory";
    verdict.diff.reset();
  }
}

}  // namespace

DeviceResult DeviceCheck::verify(const RecordSource& records, std::size_t max, unsigned threads,
                                 std::atomic<std::uint64_t>* tiles_done) const {
  return std::move(verify(std::span(&records, 1), max, threads, tiles_done).front());
}

std::vector<DeviceResult> DeviceCheck::verify(std::span<const RecordSource> devices,
                                              std::size_t max, unsigned threads,
                                              std::atomic<std::uint64_t>* tiles_done) const {
  std::vector<DeviceResult> results(devices.size());
  for (DeviceResult& result : results) {
    result.tiles.resize(tiles_.size());
    result.record_digests.resize(tiles_.size());
  }
  const DiffOptions options{max, owners_.get(), records_.get()};
  // Every device's tiles in one share-out, device after device: no thread
  // waits for a device's last record before it starts on the next device's.
  const std::size_t count = tiles_.size();
  for_each_index(count * devices.size(), threads, [&](std::size_t k) {
    const std::size_t device = k / count;
    const std::size_t i = k % count;
    verify_tile(tiles_[i], expected_digests_[i], devices[device], options, results[device].tiles[i],
                results[device].record_digests[i], tiles_done);
  });
  for (DeviceResult& result : results) {
    for (const TileVerdict& verdict : result.tiles) result.counts.add(verdict.status);
    add_record_hints(result);
  }
  return results;
}

void DeviceCheck::add_record_hints(DeviceResult& result) const {
  // Both hints need every record read to differ: a device with one matching
  // tile is left at once, before the index below is built.
  std::vector<std::size_t> read;  // the tiles with a record
  for (std::size_t i = 0; i < result.tiles.size(); ++i) {
    if (!has_record(result.tiles[i])) continue;
    if (result.tiles[i].status == TileStatus::match) return;
    read.push_back(i);
  }
  if (read.empty()) return;
  // The verified tiles by their expected records.
  std::multimap<Digest, std::size_t> by_digest;
  for (std::size_t i = 0; i < tiles_.size(); ++i) {
    if (expected_digests_[i]) by_digest.emplace(*expected_digests_[i], i);
  }
  // Whether a record is the expected record of some tile.
  const bool any_known = std::ranges::any_of(read, [&](std::size_t i) {
    const std::optional<Digest>& digest = result.record_digests[i];
    return digest && by_digest.contains(*digest);
  });
  if (!any_known) {
    // Records that are all zeros or all ones are blank memory, which each
    // tile's own hint already says, not records of another package.
    const bool any_written = std::ranges::any_of(read, [&](std::size_t i) {
      return !std::ranges::any_of(result.tiles[i].diff->hints, [](const Hint& hint) {
        return std::holds_alternative<hint::AllZeros>(hint) ||
               std::holds_alternative<hint::AllOnes>(hint);
      });
    });
    if (any_written) result.hints.emplace_back(device_hint::ForeignRecords{read.size()});
    return;
  }
  if (read.size() < 2) return;
  // Each offset that the first record allows, checked against every record.
  const std::optional<Digest>& first = result.record_digests[read.front()];
  if (!first) return;
  const auto first_tile = static_cast<std::int64_t>(tiles_[read.front()].physical_tile);
  const auto [begin, end] = by_digest.equal_range(*first);
  std::vector<std::int64_t> offsets;
  for (auto it = begin; it != end; ++it) {
    offsets.push_back(static_cast<std::int64_t>(tiles_[it->second].physical_tile) - first_tile);
  }
  std::ranges::sort(offsets, {}, [](std::int64_t k) { return k < 0 ? -2 * k : 2 * k + 1; });
  for (const std::int64_t k : offsets) {
    const bool holds = std::ranges::all_of(read, [&](std::size_t i) {
      const std::int64_t other = static_cast<std::int64_t>(tiles_[i].physical_tile) + k;
      if (other < 0 || other > std::int64_t{UINT32_MAX}) return false;
      const CheckedTile* tile = this->tile(static_cast<std::uint32_t>(other));
      if (tile == nullptr) return false;
      const std::optional<Digest>& expected =
          expected_digests_[static_cast<std::size_t>(tile - tiles_.data())];
      return expected && result.record_digests[i] && *expected == *result.record_digests[i];
    });
    if (holds) {
      result.hints.emplace_back(device_hint::OffBy{k, read.size()});
      return;
    }
  }
}

}  // namespace zem
