#include "zem_package/record_pattern.hpp"

#include <fmt/format.h>

#include <optional>
#include <variant>

namespace zem {
namespace {

constexpr std::string_view placeholder_start = "{tile";

// How a placeholder writes the tile number.
struct TileFormat {
  std::size_t width = 0;  // at least this many digits, zeros in front
  bool hex = false;
};

// One placeholder at the front of a text that starts with "{tile": its
// length and format, or why it is refused; none when the text only starts
// like one ("{tiles}", "{tile-").
struct Placeholder {
  std::size_t length = 0;
  std::expected<TileFormat, RecordPatternError> format;
};

std::optional<Placeholder> placeholder_at(std::string_view text) {
  const std::string_view rest = text.substr(placeholder_start.size());
  if (rest.starts_with('}')) return Placeholder{placeholder_start.size() + 1, TileFormat{}};
  if (!rest.starts_with(':')) return std::nullopt;
  const std::size_t close = rest.find('}');
  if (close == std::string_view::npos) {
    return Placeholder{text.size(), std::unexpected(RecordPatternError::unknown_format)};
  }
  const Placeholder refused{placeholder_start.size() + close + 1,
                            std::unexpected(RecordPatternError::unknown_format)};
  std::string_view format_text = rest.substr(1, close - 1);
  TileFormat format;
  if (format_text.ends_with('x')) {
    format.hex = true;
    format_text.remove_suffix(1);
  }
  if (format_text.empty()) return format.hex ? Placeholder{refused.length, format} : refused;
  // A width is written as "0" and its digits: zeros are what pads it.
  if (format_text.size() < 2 || format_text.front() != '0') return refused;
  format_text.remove_prefix(1);
  std::size_t width = 0;
  for (const char c : format_text) {
    if (c < '0' || c > '9') return refused;
    // Digits past the third cannot make a width within the limit; stopping
    // keeps the sum from overflowing.
    if (width > max_tile_width) break;
    width = width * 10 + static_cast<std::size_t>(c - '0');
  }
  if (width == 0) return refused;
  if (width > max_tile_width) {
    return Placeholder{refused.length, std::unexpected(RecordPatternError::width_too_large)};
  }
  format.width = width;
  return Placeholder{refused.length, format};
}

// Calls `visit(at, placeholder)` for each placeholder of `pattern`, in order,
// until it returns false.
template <class Visit>
void for_each_placeholder(std::string_view pattern, Visit visit) {
  for (std::size_t at = pattern.find(placeholder_start); at != std::string_view::npos;) {
    const std::optional<Placeholder> found = placeholder_at(pattern.substr(at));
    if (!found) {
      at = pattern.find(placeholder_start, at + 1);
      continue;
    }
    if (!visit(at, *found)) return;
    at = pattern.find(placeholder_start, at + found->length);
  }
}

}  // namespace

std::expected<void, RecordPatternFailure> check_record_pattern(std::string_view pattern) {
  std::expected<void, RecordPatternFailure> result;
  for_each_placeholder(pattern, [&](std::size_t at, const Placeholder& found) {
    if (found.format) return true;
    result = std::unexpected(
        RecordPatternFailure{found.format.error(), std::string(pattern.substr(at, found.length))});
    return false;
  });
  return result;
}

std::string record_path(std::string_view pattern, std::uint32_t physical_tile) {
  std::string path;
  std::size_t copied = 0;
  for_each_placeholder(pattern, [&](std::size_t at, const Placeholder& found) {
    if (!found.format) return true;
    path.append(pattern.substr(copied, at - copied));
    const TileFormat& format = *found.format;
    if (format.width == 0) {
      path += format.hex ? fmt::format("{:x}", physical_tile) : fmt::format("{}", physical_tile);
    } else {
      path += format.hex ? fmt::format("{:0{}x}", physical_tile, format.width)
                         : fmt::format("{:0{}}", physical_tile, format.width);
    }
    copied = at + found.length;
    return true;
  });
  path.append(pattern.substr(copied));
  return path;
}

bool names_each_tile(std::string_view pattern) noexcept {
  bool found_one = false;
  for_each_placeholder(pattern, [&](std::size_t, const Placeholder& found) {
    found_one = found.format.has_value();
    return !found_one;
  });
  return found_one;
}

}  // namespace zem
