#pragma once

// Several devices checked against the tiles of one package: each device's
// records compared as `DeviceCheck::verify` compares them, then the hints
// that only the devices together can give, and the devices side by side.
// `verify` and the Python module both check a fleet through this, so that
// they give the same verdicts, hints and matrix.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "zem_package/api.hpp"
#include "zem_package/device_check.hpp"
#include "zem_package/fleet_matrix.hpp"

namespace zem {

// One device of a fleet: its name, unique in the fleet, and where its
// records come from.
struct FleetDevice {
  std::string name;
  RecordSource records;
  // The path pattern `records` reads, for `add_no_records_hint`; none for
  // records that are not files (standard input, bytes in memory).
  std::optional<std::string> pattern;
};

// What became of each device, beside the devices given, and the matrix of
// them all.
struct FleetResult {
  // Each device's verdicts and hints, `SameRecords` among them. The record
  // digests are dropped once the hints are made: 32 bytes a tile that no
  // caller needs after.
  std::vector<DeviceResult> devices;
  FleetMatrix matrix;
};

// Verifies `devices` against the tiles of `check`, their tiles shared out
// together over `threads` threads, device after device in the order given,
// with at most `max` differing words of a tile explained; adds `NoRecords` to each device
// whose pattern found no record file and `SameRecords` to each two devices
// with the same records; and puts the devices side by side. `tiles_done`,
// when given, counts the tiles verified so far, all devices together.
[[nodiscard]] ZEM_PACKAGE_API FleetResult
verify_fleet(const DeviceCheck& check, std::span<const FleetDevice> devices, std::size_t max,
             unsigned threads, std::atomic<std::uint64_t>* tiles_done = nullptr);

}  // namespace zem
