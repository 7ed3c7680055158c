#include "zem_package/fleet_matrix.hpp"

#include <algorithm>
#include <map>
#include <set>

namespace zem {
namespace {

constexpr std::array<std::string_view, hint_kinds.size()> hint_codes = {
    "sh", "lg", "bs", "hs", "sf", "tr", "up", "00", "11", "rt", "sb", "1b"};

// Its position in `hint_kinds`, or `hint_kinds.size()` when it is not one.
std::size_t kind_index(std::string_view kind) noexcept {
  return static_cast<std::size_t>(std::ranges::find(hint_kinds, kind) - hint_kinds.begin());
}

// Its rank in `hint_strength`, or `hint_strength.size()` when unknown.
std::size_t strength_rank(std::string_view kind) noexcept {
  return static_cast<std::size_t>(std::ranges::find(hint_strength, kind) - hint_strength.begin());
}

std::vector<std::string> kinds_of(const TileVerdict& verdict) {
  std::vector<std::string> kinds;
  if (!verdict.diff) return kinds;
  for (const Hint& hint : verdict.diff->hints) {
    const std::string_view kind = hint_kind(hint);
    if (std::ranges::find(kinds, kind) == kinds.end()) kinds.emplace_back(kind);
  }
  return kinds;
}

}  // namespace

DeviceOutcome device_outcome(std::string name, const DeviceResult& result) {
  DeviceOutcome device{std::move(name), {}};
  device.tiles.reserve(result.tiles.size());
  for (const TileVerdict& verdict : result.tiles) {
    device.tiles.push_back({verdict.physical_tile, verdict.status, kinds_of(verdict)});
  }
  return device;
}

std::uint64_t HintCounts::of(std::string_view kind) const noexcept {
  const std::size_t index = kind_index(kind);
  return index < counts.size() ? counts[index] : 0;
}

void HintCounts::add(std::span<const std::string> kinds) noexcept {
  std::array<bool, hint_kinds.size()> seen{};
  for (const std::string& kind : kinds) {
    const std::size_t index = kind_index(kind);
    if (index < seen.size() && !seen[index]) {
      seen[index] = true;
      ++counts[index];
    }
  }
}

HintCounts& HintCounts::operator+=(const HintCounts& other) noexcept {
  for (std::size_t i = 0; i < counts.size(); ++i) counts[i] += other.counts[i];
  return *this;
}

DeviceTally device_tally(const DeviceOutcome& device) {
  DeviceTally tally;
  for (const TileOutcome& tile : device.tiles) {
    tally.statuses.add(tile.status);
    tally.hints.add(tile.hints);
  }
  return tally;
}

DeviceTally device_tally(const DeviceResult& result) {
  DeviceTally tally;
  tally.statuses = result.counts;
  for (const TileVerdict& verdict : result.tiles) tally.hints.add(kinds_of(verdict));
  return tally;
}

std::string_view strongest_hint(std::span<const std::string> kinds) noexcept {
  std::string_view strongest;
  std::size_t best = hint_strength.size() + 1;
  for (const std::string& kind : kinds) {
    const std::size_t rank = strength_rank(kind);
    if (rank < best || (rank == best && kind < strongest)) {
      best = rank;
      strongest = kind;
    }
  }
  return strongest;
}

std::string_view status_code(TileStatus status) noexcept {
  switch (status) {
    case TileStatus::match:
      return ".";
    case TileStatus::differ:
      return "D";
    case TileStatus::missing:
      return "M";
    case TileStatus::unreadable:
      return "U";
    case TileStatus::failed:
      return "F";
  }
  return "F";
}

std::string_view hint_code(std::string_view kind) noexcept {
  const std::size_t index = kind_index(kind);
  return index < hint_codes.size() ? hint_codes[index] : kind;
}

FleetMatrix fleet_matrix(std::span<const DeviceOutcome> devices) {
  FleetMatrix matrix;
  // Per tile that does not match somewhere, per device: its outcome.
  std::map<std::uint32_t, std::vector<const TileOutcome*>> failing;
  for (std::size_t d = 0; d < devices.size(); ++d) {
    matrix.devices.push_back(devices[d].name);
    for (const TileOutcome& tile : devices[d].tiles) {
      if (tile.status == TileStatus::match) continue;
      auto& cells = failing[tile.physical_tile];
      cells.resize(devices.size(), nullptr);
      cells[d] = &tile;
    }
  }
  // The matching tiles of the failing rows.
  for (std::size_t d = 0; d < devices.size(); ++d) {
    for (const TileOutcome& tile : devices[d].tiles) {
      if (tile.status != TileStatus::match) continue;
      const auto found = failing.find(tile.physical_tile);
      if (found != failing.end()) found->second[d] = &tile;
    }
  }

  std::array<bool, all_tile_statuses.size()> statuses_used{};
  std::set<std::string> hints_used;
  for (const auto& [physical_tile, outcomes] : failing) {
    MatrixRow& row = matrix.rows.emplace_back();
    row.physical_tile = physical_tile;
    std::size_t verified = 0;
    std::size_t last_failing = 0;
    for (std::size_t d = 0; d < outcomes.size(); ++d) {
      MatrixCell& cell = row.cells.emplace_back();
      const TileOutcome* outcome = outcomes[d];
      if (outcome == nullptr) continue;
      ++verified;
      cell.verified = true;
      cell.status = outcome->status;
      cell.hint = std::string(strongest_hint(outcome->hints));
      cell.code = std::string(status_code(cell.status));
      statuses_used[static_cast<std::size_t>(cell.status)] = true;
      if (!cell.hint.empty()) {
        cell.code += ':';
        cell.code += hint_code(cell.hint);
        hints_used.insert(cell.hint);
      }
      if (cell.status != TileStatus::match) {
        ++row.failing;
        last_failing = d;
      }
    }
    if (devices.size() < 2) continue;
    if (row.failing == devices.size()) matrix.on_every_device.push_back(physical_tile);
    if (row.failing == 1 && verified > 1) {
      matrix.on_one_device.push_back({physical_tile, last_failing});
    }
  }

  for (const TileStatus status : all_tile_statuses) {
    if (statuses_used[static_cast<std::size_t>(status)]) {
      matrix.legend.push_back({std::string(status_code(status)), std::string(status_name(status))});
    }
  }
  for (const std::string_view kind : hint_strength) {
    if (hints_used.erase(std::string(kind)) > 0) {
      matrix.legend.push_back({std::string(hint_code(kind)), std::string(kind)});
    }
  }
  for (const std::string& kind : hints_used) matrix.legend.push_back({kind, kind});
  return matrix;
}

FleetMatrix fleet_matrix(std::span<const std::string> names,
                         std::span<const DeviceResult> results) {
  std::vector<DeviceOutcome> devices;
  const std::size_t count = std::min(names.size(), results.size());
  devices.reserve(count);
  for (std::size_t i = 0; i < count; ++i) devices.push_back(device_outcome(names[i], results[i]));
  return fleet_matrix(devices);
}

}  // namespace zem
