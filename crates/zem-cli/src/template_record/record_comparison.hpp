#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "template_record/failure.hpp"

namespace zem::template_record {

// Reads the whole device record file at `path`, which must be a regular file
// of exactly `expected_length` bytes. The file is opened read-only and without
// blocking, so a FIFO or device named by mistake is refused instead of hanging
// the run. A file of another size is refused from its metadata, unread:
// "device record length 9 does not match expected length 8". Open and read
// errors carry the operating system's text and number:
// "cannot open device record: No such file or directory (os error 2)".
[[nodiscard]] Outcome<std::vector<std::uint8_t>> read_device_record(const char* path,
                                                                    std::size_t expected_length);

// Compares the record, as little-endian words, with the template words. On a
// match returns "templateRecordWords={} transition=1 status=match" (without a
// newline); otherwise fails on a length difference or on the first differing
// word: "device record differs at word 1: actual=0x00000003, expected=0x00000002".
[[nodiscard]] Outcome<std::string> compare_record(std::span<const std::uint32_t> template_words,
                                                  std::span<const std::uint8_t> record);

}  // namespace zem::template_record
