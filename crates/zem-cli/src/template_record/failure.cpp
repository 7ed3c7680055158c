#include "template_record/failure.hpp"

#include <fmt/format.h>

#include "zem_package/io.hpp"

namespace zem::template_record {

Failure length_mismatch(std::string_view subject, std::uint64_t actual, std::uint64_t expected) {
  return {fmt::format("{} length {} does not match expected length {}", subject, actual, expected)};
}

Failure error_result(std::string_view context, std::string_view error) {
  return {fmt::format("{}: {}", context, error)};
}

Failure os_error(std::string_view context, int errnum) {
  return error_result(context, io::os_error_text(errnum));
}

Failure absent_value(std::string_view what) { return {std::string(what)}; }

}  // namespace zem::template_record
