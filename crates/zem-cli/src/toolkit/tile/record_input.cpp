#include "toolkit/tile/record_input.hpp"

#include <unistd.h>

#include "toolkit/package/package_input.hpp"
#include "zem_package/record_pattern.hpp"

namespace zem::toolkit {

RecordSource record_source(const std::string& pattern, std::chrono::milliseconds pipe_wait) {
  if (pattern == standard_input_argument) {
    return
        [](std::uint32_t, std::uint64_t limit) { return read_device_record(STDIN_FILENO, limit); };
  }
  return pattern_records(pattern, pipe_wait);
}

Outcome<void> refuse_terminal_records() {
  if (::isatty(STDIN_FILENO) == 1) {
    return std::unexpected(
        Failure{"refusing to read a record from a terminal; redirect standard input"});
  }
  return {};
}

Outcome<DeviceRecord> read_record_argument(const std::string& argument, std::uint64_t limit) {
  if (argument == standard_input_argument) {
    ZEM_RETURN_IF_ERROR(refuse_terminal_records());
    auto record = read_device_record(STDIN_FILENO, limit);
    if (!record)
      return std::unexpected(file_error("standard input", record_error_text(record.error())));
    return std::move(*record);
  }
  auto record = read_device_record(argument, RecordReadOptions{limit});
  if (!record) return std::unexpected(file_error(argument, record_error_text(record.error())));
  return std::move(*record);
}

}  // namespace zem::toolkit
