#include "toolkit/extract.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "template_record/tile_number.hpp"
#include "toolkit/hex.hpp"

namespace zem::toolkit {
namespace {

constexpr std::size_t digest_digits = 2 * sizeof(Digest);

[[nodiscard]] bool is_hex_digit(char c) noexcept {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

[[nodiscard]] char lower(char c) noexcept {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

Outcome<std::uint32_t> physical_tile_argument(std::string_view argument) {
  auto text = template_record::physical_tile_text(argument);
  if (!text) return std::unexpected(ToolError{text.error().message});
  auto tile = template_record::parse_physical_tile(*text);
  if (!tile) {
    return std::unexpected(
        ToolError{fmt::format("{} (argument {})", tile.error().message, quote_escaped(argument))});
  }
  return *tile;
}

Outcome<TileExtract> extract_tile(const Application& application, std::uint32_t physical_tile) {
  const auto tile = std::ranges::find(application.tiles, physical_tile, &TileImage::physical_tile);
  if (tile == application.tiles.end()) {
    return std::unexpected(
        ToolError{fmt::format("no tile has physical tile number {}", physical_tile)});
  }
  const std::optional<std::uint32_t> base = load_base(*tile);
  if (!base) {
    return std::unexpected(ToolError{fmt::format("tile {} has no segments", physical_tile)});
  }
  auto image = application.tile_image(physical_tile);
  if (!image) {
    return std::unexpected(ToolError{fmt::format("cannot rebuild the image of tile {}: {}",
                                                 physical_tile, image.error().to_string())});
  }
  return TileExtract{physical_tile, *base, std::move(*image)};
}

Outcome<std::size_t> find_blob(const Application& application, std::string_view digest) {
  if (digest.empty() || digest.size() > digest_digits ||
      !std::ranges::all_of(digest, is_hex_digit)) {
    return std::unexpected(
        ToolError{fmt::format("invalid blob digest {}: expected 1 to {} hexadecimal digits",
                              quote_escaped(digest), digest_digits)});
  }
  std::string prefix(digest);
  std::ranges::transform(prefix, prefix.begin(), lower);
  std::optional<std::size_t> found;
  std::size_t matches = 0;
  for (std::size_t i = 0; i < application.blobs.size(); ++i) {
    if (hex_bytes(application.blobs[i].digest).starts_with(prefix)) {
      found = i;
      ++matches;
    }
  }
  if (matches == 0) {
    return std::unexpected(ToolError{fmt::format("no blob has a digest starting with {}", prefix)});
  }
  if (matches > 1) {
    return std::unexpected(ToolError{
        fmt::format("blob digest {} is ambiguous: {} blobs start with it", prefix, matches)});
  }
  return *found;
}

std::string tile_extract_line(const TileExtract& extract) {
  return fmt::format("physicalTile={} loadBase={} imageBytes={}", extract.physical_tile,
                     hex_address(extract.load_base), extract.image.size());
}

std::string blob_extract_line(const Application& application, std::size_t blob) {
  return fmt::format("blob={} digest={} bytes={}", blob,
                     hex_bytes(application.blobs.at(blob).digest),
                     application.blobs.at(blob).data.size());
}

}  // namespace zem::toolkit
