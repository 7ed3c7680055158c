#include "zem_package/record_pattern.hpp"

#include <fmt/format.h>

namespace zem {

std::string record_path(std::string_view pattern, std::uint32_t physical_tile) {
  std::string path(pattern);
  const std::string number = fmt::format("{}", physical_tile);
  // Searching on after the number put in, so that a number is never taken
  // for part of a placeholder.
  for (std::size_t at = path.find(tile_placeholder); at != std::string::npos;
       at = path.find(tile_placeholder, at + number.size())) {
    path.replace(at, tile_placeholder.size(), number);
  }
  return path;
}

}  // namespace zem
