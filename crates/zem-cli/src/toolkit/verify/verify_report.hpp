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

namespace zem::toolkit {

// One device: its records' pattern as given ("-" for standard input) and
// what became of each of its tiles.
struct VerifiedDevice {
  std::string records;
  DeviceResult result;
};

struct VerifyReport {
  std::string package;  // the package argument
  std::vector<std::uint32_t> without_setup;
  std::vector<VerifiedDevice> devices;
  StatusCounts total;   // every device's tiles
  std::size_t max = 8;  // differing words explained per tile

  [[nodiscard]] bool all_match() const noexcept {
    return total.of(TileStatus::match) == total.tiles();
  }
};

// Verifies the devices whose records `patterns` name against the tiles of
// `check`, one device after the other, each on `threads` threads; a FIFO is
// waited for at most `pipe_wait`, and `tiles_done` (when given) counts the
// tiles verified so far, all devices together.
[[nodiscard]] VerifyReport verify_devices(const DeviceCheck& check, std::string package,
                                          std::span<const std::string> patterns, std::size_t max,
                                          unsigned threads,
                                          std::chrono::milliseconds pipe_wait = default_pipe_wait,
                                          std::atomic<std::uint64_t>* tiles_done = nullptr);

// The record file of a tile of a device, as messages show it.
[[nodiscard]] std::string record_name(const VerifiedDevice& device, std::uint32_t physical_tile);

// A device's summary line: "tiles 254: 243 match, 9 differ, 1 missing, 1
// failed; 2 tiles have no template setup".
[[nodiscard]] std::string device_summary(const VerifiedDevice& device, std::size_t without_setup);

// The lines: the tiles without a template setup, then per device a line per
// tile in tile number order (the matching ones unless `quiet`), each
// difference explained under its tile, and the device's summary; with more
// than one device, each device's block is headed by its records and the
// devices' summaries close the output.
[[nodiscard]] std::string verify_text(const VerifyReport& report, const PackageModel& model,
                                      bool quiet);

// The JSON document, of format `verify_json_format`.
[[nodiscard]] Json verify_json(const VerifyReport& report, const PackageModel& model);

// Version of the JSON document that `verify --json` writes: 4 since it
// names the package by its build digest too, so that documents of one
// package can be merged.
inline constexpr int verify_json_format = 4;

}  // namespace zem::toolkit
