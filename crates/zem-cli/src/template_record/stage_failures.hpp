#pragma once

// What the library gives the verifier's stages, turned into the verifier's
// fixed texts, in one place: a package that cannot be read, a tile without
// memory, no template setup, a template that cannot be patched, a record
// that cannot be read, is not as long as expected or differs.

#include <cstddef>
#include <cstdint>
#include <string>

#include "template_record/failure.hpp"
#include "zem_package/device_record.hpp"
#include "zem_package/expected_record.hpp"
#include "zem_package/package.hpp"

namespace zem::template_record {

// Reads and checks the package at `path`: "cannot open package: No such
// file or directory (os error 2)", "cannot read package: not a regular
// file", "cannot read package: Invalid(\"blob digest mismatch\")".
[[nodiscard]] Outcome<Package> read_package(const char* path, unsigned threads);

// The memory of tile `physical_tile`: "no tile has physical tile number 9",
// "tile 5 has no segments", "cannot rebuild the tile image: <error>".
[[nodiscard]] Outcome<TileMemory> tile_memory(const Package& package, std::uint32_t physical_tile);

// The template setup in the memory: "template setup was not found".
[[nodiscard]] Outcome<TemplateSetup> template_setup(const TileMemory& memory);

// The record the tile expects: "index 5 out of range for slice of length 3".
[[nodiscard]] Outcome<ExpectedRecord> expected_record(const TileMemory& memory,
                                                      const TemplateSetup& setup);

// Reads the device record at `path`, which must be a regular file, keeping
// no more than `expected_length` bytes: "cannot open device record: No such
// file or directory (os error 2)", "cannot read device record: not a
// regular file: it is a FIFO".
[[nodiscard]] Outcome<DeviceRecord> read_record(const char* path, std::uint64_t expected_length);

// Compares the record with the expected one: on a match
// "templateRecordWords={} transition=1 status=match" (without a newline);
// otherwise a failure on a length difference or on the first differing
// word: "device record length 9 does not match expected length 8", "device
// record differs at word 1: actual=0x00000003, expected=0x00000002".
[[nodiscard]] Outcome<std::string> compare_record(const ExpectedRecord& expected,
                                                  const DeviceRecord& record);

}  // namespace zem::template_record
