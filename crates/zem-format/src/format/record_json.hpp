#pragma once

// The JSON forms of record checks: what `zem-package diff --json`, `verify
// --json` and `template --json` write, and what the Python module's
// `to_dict` gives, from the same values.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "format/json_values.hpp"
#include "zem_package/device_check.hpp"
#include "zem_package/expected_record.hpp"
#include "zem_package/fleet_matrix.hpp"
#include "zem_package/package_model.hpp"
#include "zem_package/record_diff.hpp"

namespace zem {

// {"primary": "0x4c400", "primaryWords": 6, "secondary": "0x4c800",
//  "secondaryWords": 4, "patchTable": "0x4cc00"}.
[[nodiscard]] Json setup_json(const TemplateSetup& setup);

// The expected record's words: [{"word": 0, "region": "primary",
// "regionOffset": 0, "address": "0x4c400", "unpatched": "0x00000064",
// "expected": "0x00000062", "patched": true}, ...].
[[nodiscard]] Json template_words_json(const ExpectedRecord& record);

// One explained difference: {"word": 1, "region": "primary",
// "regionOffset": 4, "address": "0x4c404", "actual": "0x000000c8",
// "expected": "0x000001c8", "xor": "0x00000100", "unpatched": "0x000000c8",
// "patched": true, "patch": {"group": 0, "entry": 1, "delta": "0x00000100"},
// "segment": {"index": 0, "start": "0x4c000", "end": "0x4d000"}, "blob":
// {"index": 0, "digest": "d9c76fa34978", "offset": "1028", "fileOffset":
// null}, "bindings": [{"name": "weights", "list": 1, "binding": 0, "slice":
// 0}]}. Offsets in a blob or a file are 64-bit, so decimal strings.
[[nodiscard]] Json explained_word_json(const ExplainedWord& word, const PackageModel& model);

// {"kind": "shifted", "words": -1}, {"kind": "short", "words": 2,
// "missing": [{"word": 8, "expected": "0x00000009"}]}, {"kind":
// "single-bit", "bit": 9, "words": 3, "indexes": [4, 7, 9]}, {"kind":
// "record-of-tile", "tile": 7, "change": "one-bit", "word": 2, "bit": 5},
// ...; words listed at most `max`.
[[nodiscard]] Json hint_json(const Hint& hint, std::size_t max);

// A tile's record compared: {"physicalTile", "setup", "templateRecordWords",
// "recordBytes", "recordWords", "differingWords", "differences" (at most
// `max`), "hints", "explainedByHints", "status"}.
[[nodiscard]] Json tile_diff_json(const ExpectedRecord& expected, const RecordDiff& diff,
                                  const PackageModel& model, std::size_t max);

// One tile of a device: "physicalTile", "status", "reason" (for unreadable
// and failed records), "words" (expected), "recordWords", "differingWords",
// "differences", "hints" and "explainedByHints".
[[nodiscard]] Json tile_verdict_json(const TileVerdict& verdict, const PackageModel& model,
                                     std::size_t max);

// How many tiles ended in each status: {"tiles": 254, "match": 243,
// "differ": 9, "missing": 1, "unreadable": 0, "failed": 1}, to which the
// caller adds what it counts beside.
[[nodiscard]] Json status_counts_json(const StatusCounts& counts);

// One device: {"name": `name`, "records": `records`, "tiles": [...],
// "summary": {..., "noTemplateSetup": `without_setup`, "hints": [{"kind",
// "tiles"}]}, "deviceHints": [...]}.
[[nodiscard]] Json device_json(const DeviceResult& device, Json name, Json records,
                               std::size_t without_setup, const PackageModel& model,
                               std::size_t max);

// [{"kind": "all-zeros", "tiles": 51}, {"kind": "byte-swapped", "tiles":
// 48}]: the kinds that occur, in the order of `hint_kinds`, with the tiles
// that have them.
[[nodiscard]] Json hint_counts_json(const HintCounts& counts);

// A device-wide hint: {"kind": "no-records", "directory": "dev",
// "directoryExists": false}, {"kind": "off-by", "tileOffset": -1,
// "recordsRead": 62}, {"kind": "foreign-records", "recordsRead": 64},
// {"kind": "same-records", "device": 1, "name": "B"}.
[[nodiscard]] Json device_hint_json(const DeviceHint& hint);

// `acrossDevices`: {"devices": [names], "rows": [{"physicalTile",
// "failing", "cells": [{"status", "code", "hint"?} or null for a tile the
// device did not verify]}], "legend": [{"code", "meaning"}],
// "onEveryDevice": [tiles], "onOneDevice": [{"physicalTile", "device",
// "name"}]}.
[[nodiscard]] Json fleet_matrix_json(const FleetMatrix& matrix);

// The parts of `acrossDevices`, each as it stands there: a row, a cell
// (null when the device did not verify the tile), a legend entry and a tile
// that fails on one device only, named `name`.
[[nodiscard]] Json matrix_row_json(const MatrixRow& row);
[[nodiscard]] Json matrix_cell_json(const MatrixCell& cell);
[[nodiscard]] Json legend_entry_json(const LegendEntry& entry);
[[nodiscard]] Json one_device_tile_json(const OneDeviceTile& tile, std::string_view name);

// [3, 5, 6].
[[nodiscard]] Json tiles_json(std::span<const std::uint32_t> tiles);

}  // namespace zem
