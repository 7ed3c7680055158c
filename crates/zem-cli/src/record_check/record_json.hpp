#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>

#include "record_check/device_check.hpp"
#include "record_check/record_diff.hpp"
#include "zem_package/package_model.hpp"

namespace zem::record_check {

// Documents keep their keys in the order they were written.
using Json = nlohmann::ordered_json;

// Record words as the tools show them everywhere, text and JSON alike:
// "0x000001c8".
[[nodiscard]] Json json_word(std::uint32_t word);

// One explained difference: {"word": 1, "region": "primary", "offset": 4,
// "address": "0x4c404", "actual": "0x000000c8", "expected": "0x000001c8",
// "xor": "0x00000100", "unpatched": "0x000000c8", "patched": true, "patch":
// {"group": 0, "entry": 1, "delta": "0x00000100"}, "segment": {"index": 0,
// "start": "0x4c000", "end": "0x4d000"}, "blob": {"index": 0, "digest":
// "d9c76fa34978", "offset": "1028", "fileOffset": null}, "bindings":
// [{"name": "weights", "list": "bindings1", "binding": 0, "slice": 0}]}.
// Offsets in a blob or a file are 64-bit, so decimal strings.
[[nodiscard]] Json explained_word_json(const ExplainedWord& word, const PackageModel& model);

// {"kind": "shifted", "words": -1}, {"kind": "short", "words": 2,
// "missing": [{"word": 8, "expected": "0x00000009"}]}, ...; listed words
// at most `max`.
[[nodiscard]] Json hint_json(const Hint& hint, std::size_t max);

// "templateRecordWords", "recordBytes", "recordWords", "differingWords",
// "differences" (at most `max`), "hints" and "status".
[[nodiscard]] Json record_diff_json(const RecordDiff& diff, const PackageModel& model,
                                    std::size_t max);

// One tile of a device: "physicalTile", "status", "reason" (for unreadable
// and failed records), "words" (expected), "recordWords", "differingWords",
// "differences" and "hints".
[[nodiscard]] Json tile_verdict_json(const TileVerdict& verdict, const PackageModel& model,
                                     std::size_t max);

// How many tiles ended in each status: {"tiles": 254, "match": 243,
// "differ": 9, "missing": 1, "unreadable": 0, "failed": 1,
// "noTemplateSetup": 2}.
[[nodiscard]] Json verify_summary_json(std::span<const TileVerdict> verdicts,
                                       std::size_t without_setup);

// [3, 5, 6].
[[nodiscard]] Json tiles_json(std::span<const std::uint32_t> tiles);

// One device: {"records": `records`, "tiles": [...], "summary": {...}}.
[[nodiscard]] Json device_json(const DeviceCheck& check, std::span<const TileVerdict> verdicts,
                               Json records, const PackageModel& model, std::size_t max);

}  // namespace zem::record_check
