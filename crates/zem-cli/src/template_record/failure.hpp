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

// Two lengths that must agree differ, the actual one first:
// "device record length 9 does not match expected length 8".
[[nodiscard]] Failure length_mismatch(std::string_view subject, std::uint64_t actual,
                                      std::uint64_t expected);

// An operation returned an error; `context` says what was being done and
// `error` is that error's text: "cannot open device record: <error>".
[[nodiscard]] Failure error_result(std::string_view context, std::string_view error);

// An operating system call failed with `errnum`; the text has the form
// "<context>: No such file or directory (os error 2)".
[[nodiscard]] Failure os_error(std::string_view context, int errnum);

// A value that must be present is not; `what` is the whole message.
[[nodiscard]] Failure absent_value(std::string_view what);

}  // namespace zem::template_record
