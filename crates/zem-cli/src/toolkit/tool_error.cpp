#include "toolkit/tool_error.hpp"

#include <fmt/format.h>

#include <cstdio>

#include "zem_package/io.hpp"
#include "zem_package/package_error.hpp"

namespace zem::toolkit {

std::string display_path(std::string_view path) {
  return is_printable(path) ? std::string(path) : quote_escaped(path);
}

Failure file_error(std::string_view path, std::string_view what) {
  return {fmt::format("{}: {}", display_path(path), what)};
}

Failure file_os_error(std::string_view path, int errnum) {
  return file_error(path, io::os_error_text(errnum));
}

std::string error_line(const Failure& error) {
  return fmt::format("zem-package: error: {}", error.message);
}

std::string error_lines(const Failure& error) {
  std::string lines = error_line(error) + '\n';
  for (const std::string& hint : error.hints) lines += fmt::format("zem-package: hint: {}\n", hint);
  return lines;
}

void report(const Failure& error) {
  std::fflush(stdout);
  fmt::print(stderr, "{}", error_lines(error));
}

}  // namespace zem::toolkit
