#pragma once

// How the toolkit reads device records: a file, a FIFO, or standard input
// for "-", each through the library's one bounded reader.

#include <chrono>
#include <cstdint>
#include <string>

#include "toolkit/tool_error.hpp"
#include "zem_package/device_check.hpp"
#include "zem_package/device_record.hpp"

namespace zem::toolkit {

// The records of a device: those `pattern` names (see `record_path`), or
// standard input for "-", which holds the record of whichever one tile is
// asked for. A FIFO that sends nothing for `pipe_wait` is given up.
[[nodiscard]] RecordSource record_source(const std::string& pattern,
                                         std::chrono::milliseconds pipe_wait = default_pipe_wait);

// The record that `argument` names, or standard input for "-" (never a
// terminal), at most `limit` bytes of it kept; a failure names the file:
// "tile7.rec: No such file or directory (os error 2)".
[[nodiscard]] Outcome<DeviceRecord> read_record_argument(const std::string& argument,
                                                         std::uint64_t limit);

// Refuses standard input as the records' source when it is a terminal:
// nothing would come, and the run would wait for ever.
[[nodiscard]] Outcome<void> refuse_terminal_records();

}  // namespace zem::toolkit
