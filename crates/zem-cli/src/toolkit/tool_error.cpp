#include "toolkit/tool_error.hpp"

#include <fmt/format.h>

#include <cstring>

#include "zem_package/package_error.hpp"

namespace zem::toolkit {

std::string display_path(std::string_view path) {
  return is_printable(path) ? std::string(path) : quote_escaped(path);
}

ToolError file_error(std::string_view path, std::string_view what) {
  return {fmt::format("{}: {}", display_path(path), what)};
}

ToolError os_error(std::string_view path, int errnum) {
  // The process has one thread, so strerror's shared buffer is safe here.
  return file_error(path, fmt::format("{} (os error {})", std::strerror(errnum), errnum));
}

std::string error_line(const ToolError& error) {
  return fmt::format("zem-package: error: {}", error.message);
}

}  // namespace zem::toolkit
