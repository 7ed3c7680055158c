#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/failure.hpp"

namespace zem::template_record {

// A failure of one verifier stage. The driver turns it into the run's fatal
// failure; the stages themselves never print or exit.
using cli::Failure;
using cli::Outcome;

// An index lies beyond a sequence: "index 5 out of range for slice of length 3".
[[nodiscard]] Failure out_of_range_index(std::size_t index, std::size_t length);

// A range ends beyond a sequence:
// "range end index 12 out of range for slice of length 8".
[[nodiscard]] Failure out_of_range_end(std::size_t end, std::size_t length);

// Two lengths that must agree differ, the actual one first:
// "device record length 9 does not match expected length 8".
[[nodiscard]] Failure length_mismatch(std::string_view subject, std::size_t actual,
                                      std::size_t expected);

// An operation returned an error; `context` says what was being done and
// `error` is that error's text: "cannot open device record: <error>".
[[nodiscard]] Failure error_result(std::string_view context, std::string_view error);

// An operating system call failed with `errnum`; the text has the form
// "<context>: No such file or directory (os error 2)".
[[nodiscard]] Failure os_error(std::string_view context, int errnum);

// A value that must be present is not; `what` is the whole message.
[[nodiscard]] Failure absent_value(std::string_view what);

}  // namespace zem::template_record
