#pragma once

// What `verify` found, as one value: its lines, its JSON document and its
// page are each written from it, and count nothing of their own.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "format/json_values.hpp"
#include "zem_package/device_check.hpp"
#include "zem_package/fleet_matrix.hpp"

namespace zem::toolkit {

// A device as --records gives it: its name (its pattern when it has none)
// and its records' pattern ("-" for standard input).
struct DeviceRecords {
  std::string name;
  std::string records;
};

// One device: its name, its records' pattern as given and what became of
// each of its tiles.
struct VerifiedDevice {
  std::string name;
  std::string records;
  DeviceResult result;
  DeviceTally tally;  // its tiles by status and by hint kind

  // Whether it was given a name of its own (NAME=PATTERN).
  [[nodiscard]] bool named() const noexcept { return name != records; }
};

struct VerifyReport {
  std::string package;  // the package argument
  std::vector<std::uint32_t> without_setup;
  std::vector<VerifiedDevice> devices;
  StatusCounts total;   // every device's tiles
  HintCounts hints;     // every device's tiles by hint kind
  FleetMatrix matrix;   // the devices side by side
  std::size_t max = 8;  // differing words explained per tile

  [[nodiscard]] bool all_match() const noexcept {
    return total.of(TileStatus::match) == total.tiles();
  }
};

// Verifies `devices` against the tiles of `check`, one device after the
// other, each on `threads` threads, and puts them side by side; a FIFO is
// waited for at most `pipe_wait`, and `tiles_done` (when given) counts the
// tiles verified so far, all devices together.
[[nodiscard]] VerifyReport verify_devices(const DeviceCheck& check, std::string package,
                                          std::span<const DeviceRecords> devices, std::size_t max,
                                          unsigned threads,
                                          std::chrono::milliseconds pipe_wait = default_pipe_wait,
                                          std::atomic<std::uint64_t>* tiles_done = nullptr);

// How a device is shown: its name, as `display_path` shows a path.
[[nodiscard]] std::string device_label(const VerifiedDevice& device);

// "51 all-zeros, 56 all-ones, 48 byte-swapped": the tiles with each hint
// kind that occurs, in the order of `hint_kinds`; empty when none.
[[nodiscard]] std::string hint_counts_text(const HintCounts& counts);

// A device-wide hint in words, as the lines give it after "device hint: ".
[[nodiscard]] std::string device_hint_text(const DeviceHint& hint);

// The matrix's lines: its rows under a heading of the devices, the legend,
// and the tiles that fail on every device and on one device only.
[[nodiscard]] std::string matrix_text(const FleetMatrix& matrix);

// The record file of a tile of a device, as messages show it.
[[nodiscard]] std::string record_name(const VerifiedDevice& device, std::uint32_t physical_tile);

// A device's summary line: "tiles 254: 243 match, 9 differ, 1 missing, 1
// failed; 2 tiles have no template setup".
[[nodiscard]] std::string device_summary(const VerifiedDevice& device, std::size_t without_setup);

// The lines: the tiles without a template setup, then per device a line per
// tile in tile number order (the matching ones unless `quiet`), each
// difference explained under its tile, the device's summary, its hint
// counts and its device-wide hints; with more than one device, each
// device's block is headed by its name and records, and the devices'
// summaries and the matrix close the output.
[[nodiscard]] std::string verify_text(const VerifyReport& report, const PackageModel& model,
                                      bool quiet);

// The JSON document, of format `verify_json_format`.
[[nodiscard]] Json verify_json(const VerifyReport& report, const PackageModel& model);

// Version of the JSON document that `verify --json` writes: 3 since a long
// record's hint says how many of its extra words were read; 4 since devices
// have names, hint counts and device-wide hints, the document holds the
// devices side by side (`acrossDevices`) and names the package by its build
// digest too, so that documents of one package can be merged.
inline constexpr int verify_json_format = 4;

}  // namespace zem::toolkit
