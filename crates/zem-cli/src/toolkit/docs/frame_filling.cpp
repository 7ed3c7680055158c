#include "toolkit/docs/frame_filling.hpp"

#include <fmt/format.h>

namespace zem::toolkit {

Outcome<std::string> fill_frame(std::string_view frame, std::span<const Placeholder> placeholders) {
  std::string text(frame);
  for (const Placeholder& placeholder : placeholders) {
    const std::string marker = fmt::format("@{}@", placeholder.name);
    const std::size_t at = text.find(marker);
    if (at == std::string::npos || text.find(marker, at + 1) != std::string::npos) {
      return std::unexpected(Failure{fmt::format("the frame needs {} exactly once", marker)});
    }
    text.replace(at, marker.size(), placeholder.text);
  }
  return text;
}

}  // namespace zem::toolkit
