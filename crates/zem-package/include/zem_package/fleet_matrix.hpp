#pragma once

// Devices side by side: the tiles that do not match on at least one of
// several devices checked against one package, a column per device, and
// what the columns say together. Worked out from no more than each tile's
// status and the kinds of its hints, so that `verify` documents merged
// later give the same matrix as the run that checked the devices.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zem_package/api.hpp"
#include "zem_package/device_check.hpp"
#include "zem_package/record_hints.hpp"

namespace zem {

// What became of one tile of one device, as far as comparing devices needs.
struct TileOutcome {
  std::uint32_t physical_tile = 0;
  TileStatus status = TileStatus::match;
  // The kinds of its hints, as `hint_kinds` names them, in any order; a
  // kind not in `hint_kinds` (from a later document) is kept and ranks
  // last.
  std::vector<std::string> hints;

  friend bool operator==(const TileOutcome&, const TileOutcome&) = default;
};

// One device: its name, and its tiles in any order, each at most once.
struct DeviceOutcome {
  std::string name;
  std::vector<TileOutcome> tiles;

  friend bool operator==(const DeviceOutcome&, const DeviceOutcome&) = default;
};

// The outcome of each tile of `result`, under `name`.
[[nodiscard]] ZEM_PACKAGE_API DeviceOutcome device_outcome(std::string name,
                                                           const DeviceResult& result);

// How many tiles hold a hint of each kind, in the order of `hint_kinds`.
struct HintCounts {
  std::array<std::uint64_t, hint_kinds.size()> counts{};

  // Tiles with a hint of kind `kind`: 0 for a kind not in `hint_kinds`.
  [[nodiscard]] ZEM_PACKAGE_API std::uint64_t of(std::string_view kind) const noexcept;
  // Counts a tile whose hints are of kinds `kinds` (a kind given twice
  // counts once; unknown kinds, not at all).
  ZEM_PACKAGE_API void add(std::span<const std::string> kinds) noexcept;
  ZEM_PACKAGE_API HintCounts& operator+=(const HintCounts& other) noexcept;

  friend bool operator==(const HintCounts&, const HintCounts&) = default;
};

// A whole device in numbers: how many of its tiles ended in each status and
// how many hold a hint of each kind.
struct DeviceTally {
  StatusCounts statuses;
  HintCounts hints;

  friend bool operator==(const DeviceTally&, const DeviceTally&) = default;
};

[[nodiscard]] ZEM_PACKAGE_API DeviceTally device_tally(const DeviceOutcome& device);
[[nodiscard]] ZEM_PACKAGE_API DeviceTally device_tally(const DeviceResult& result);

// The hints' kinds from the strongest, the one that says the most about a
// record, to the weakest: a cell of the matrix shows the strongest of its
// tile's hints.
// What became of the tile's own record ranks before `record-of-tile`, which
// may name another tile's record changed the same way.
inline constexpr std::array<std::string_view, hint_kinds.size()> hint_strength = {
    "unpatched",      "all-zeros", "all-ones", "byte-swapped", "half-swapped", "truncated",
    "record-of-tile", "stuck-bit", "shifted",  "short",        "long",         "single-bit"};

// The strongest of `kinds` (see `hint_strength`; an unknown kind ranks
// last), empty when there is none.
[[nodiscard]] ZEM_PACKAGE_API std::string_view strongest_hint(
    std::span<const std::string> kinds) noexcept;

// A status's code in a cell: "." match, "D" differ, "M" missing,
// "U" unreadable, "F" failed.
[[nodiscard]] ZEM_PACKAGE_API std::string_view status_code(TileStatus status) noexcept;

// A hint kind's code in a cell, two characters: "rt" record-of-tile, "up"
// unpatched, "00" all-zeros, "11" all-ones, "bs" byte-swapped,
// "hs" half-swapped, "tr" truncated, "sb" stuck-bit, "sf" shifted,
// "sh" short, "lg" long, "1b" single-bit; an unknown kind is its own code.
[[nodiscard]] ZEM_PACKAGE_API std::string_view hint_code(std::string_view kind) noexcept;

// One device's cell in a row.
struct MatrixCell {
  bool verified = false;  // the device verified the tile; the rest holds only if so
  TileStatus status = TileStatus::match;
  std::string hint;  // the strongest of the tile's hints' kinds; empty for none
  // The status's code, then ":" and the hint's code when there is a hint:
  // "D:bs", "M", "."; empty when the device did not verify the tile.
  std::string code;

  friend bool operator==(const MatrixCell&, const MatrixCell&) = default;
};

// A tile that does not match on at least one device.
struct MatrixRow {
  std::uint32_t physical_tile = 0;
  std::vector<MatrixCell> cells;  // one per device, in the devices' order
  std::size_t failing = 0;        // the devices on which it does not match

  friend bool operator==(const MatrixRow&, const MatrixRow&) = default;
};

// What a code in the matrix stands for: a status's name or a hint's kind.
struct LegendEntry {
  std::string code;
  std::string meaning;

  friend bool operator==(const LegendEntry&, const LegendEntry&) = default;
};

// A tile that does not match on exactly one device, and that device.
struct OneDeviceTile {
  std::uint32_t physical_tile = 0;
  std::size_t device = 0;  // position in `FleetMatrix::devices`

  friend bool operator==(const OneDeviceTile&, const OneDeviceTile&) = default;
};

struct FleetMatrix {
  std::vector<std::string> devices;  // their names, a column each, in the order given
  std::vector<MatrixRow> rows;       // in tile number order
  // The codes the rows use: the statuses' in the order of
  // `all_tile_statuses`, then the hints' in the order of `hint_strength`
  // (unknown kinds last, by name).
  std::vector<LegendEntry> legend;
  // With two devices or more: the tiles that do not match on any device
  // (each device verified them), and those that do not match on exactly
  // one device, though another verified them; in tile number order. Empty
  // with one device.
  std::vector<std::uint32_t> on_every_device;
  std::vector<OneDeviceTile> on_one_device;

  friend bool operator==(const FleetMatrix&, const FleetMatrix&) = default;
};

// The matrix of `devices`, in their order.
[[nodiscard]] ZEM_PACKAGE_API FleetMatrix fleet_matrix(std::span<const DeviceOutcome> devices);
// The same from the results of a check: `names[i]` is the name of
// `results[i]`; the shorter of the two decides how many devices.
[[nodiscard]] ZEM_PACKAGE_API FleetMatrix fleet_matrix(std::span<const std::string> names,
                                                       std::span<const DeviceResult> results);

}  // namespace zem
