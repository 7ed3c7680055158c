#pragma once

// `verify --json` documents read back by `report`: each file checked to be
// such a document, of the format this build writes, and turned into the
// values a merged report is made of.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "format/json_values.hpp"
#include "toolkit/tool_error.hpp"
#include "zem_package/device_check.hpp"
#include "zem_package/fleet_matrix.hpp"

namespace zem::toolkit {

// The largest document read: the JSON of 64 devices of a thousand tiles,
// each explained at length, and a bound on what a stray file costs.
inline constexpr std::uint64_t max_document_bytes = std::uint64_t{512} << 20;

// A tile of a device as its document tells it.
struct ReportedTile {
  std::uint32_t physical_tile = 0;
  TileStatus status = TileStatus::match;
  std::string reason;              // for unreadable and failed
  std::vector<std::string> hints;  // each hint in words: its kind, then its numbers
  std::string first_difference;    // "word 3: 0x00000001, expected 0x00000002"; empty for none
  std::uint64_t differing_words = 0;

  friend bool operator==(const ReportedTile&, const ReportedTile&) = default;
};

struct ReportedDevice {
  std::string name;     // its name, or its records' pattern when it has none
  std::string records;  // its records' pattern
  std::string file;     // the document it came from
  std::vector<ReportedTile> tiles;
  DeviceOutcome outcome;  // the same tiles, as the fleet matrix takes them

  friend bool operator==(const ReportedDevice&, const ReportedDevice&) = default;
};

struct VerifyDocument {
  std::string file;
  std::string package;       // the package argument of its run
  std::string build_digest;  // in hexadecimal
  std::vector<std::uint32_t> without_setup;
  std::vector<ReportedDevice> devices;

  friend bool operator==(const VerifyDocument&, const VerifyDocument&) = default;
};

// Reads the document at `path` (a file, or "-" for standard input, at most
// `max_document_bytes`). A failure names the file and what is wrong:
// "a.json: the JSON ends early, at line 3, column 7", "a.json: not a verify
// document: devices[0].tiles[2].status is not a tile status", "a.json: a
// verify document of format 3; report reads format 4".
[[nodiscard]] Outcome<VerifyDocument> read_verify_document(const std::string& path);

// The documents at `paths`, read and parsed on `threads` threads; the first
// failure in the order of `paths` is the one returned, whatever the threads.
[[nodiscard]] Outcome<std::vector<VerifyDocument>> read_verify_documents(
    std::span<const std::string> paths, unsigned threads);

// The same from a document's text, `file` naming it in failures.
[[nodiscard]] Outcome<VerifyDocument> parse_verify_document(std::string_view text,
                                                            const std::string& file);

// The same by the exact reader alone, which `parse_verify_document` leaves
// to a faster one for a document that verify wrote.
[[nodiscard]] Outcome<VerifyDocument> parse_verify_document_exactly(std::string_view text,
                                                                    const std::string& file);

}  // namespace zem::toolkit
