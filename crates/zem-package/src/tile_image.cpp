#include <algorithm>
#include <cstring>

#include <fmt/format.h>

#include "zem_package/application.hpp"
#include "zem_package/events.hpp"

namespace zem {
namespace {

// Where a segment's bytes come from, when they lie inside both the blob and
// the image. Validation guarantees this for every segment of a read package;
// checking again keeps a hand-built model from reading or writing out of
// bounds.
bool copy_fits(const Segment& segment, const std::vector<Blob>& blobs, std::uint64_t image_offset,
               std::size_t image_length) {
  if (segment.blob >= blobs.size() || segment.data_size > segment.memory_size) {
    return false;
  }
  const std::size_t blob_length = blobs[segment.blob].data.size();
  if (segment.blob_offset > blob_length || segment.data_size > blob_length - segment.blob_offset) {
    return false;
  }
  return image_offset <= image_length && segment.data_size <= image_length - image_offset;
}

}  // namespace

std::optional<std::uint32_t> load_base(const TileImage& tile) noexcept {
  if (tile.segments.empty()) {
    return std::nullopt;
  }
  return std::ranges::min(tile.segments, {}, &Segment::address).address;
}

Result<std::vector<std::uint8_t>> Application::tile_image(std::uint32_t physical_tile) const {
  const auto tile = std::ranges::find(tiles, physical_tile, &TileImage::physical_tile);
  if (tile == tiles.end()) {
    return std::unexpected(PackageError::invalid(fmt::format("unknown tile {}", physical_tile)));
  }
  const std::optional<std::uint32_t> base = load_base(*tile);
  if (!base) {
    return std::unexpected(PackageError::invalid("tile has no loadable segments"));
  }

  // Lengths in 32-bit arithmetic, as tile addresses are; a validated tile
  // lies inside tile memory, so nothing wraps.
  std::uint32_t image_length = 0;
  for (const Segment& segment : tile->segments) {
    image_length = std::max(image_length, segment.address - *base + segment.memory_size);
  }
  std::vector<std::uint8_t> image(image_length, 0);

  if (events::enabled(events::Level::trace)) {
    events::emit(events::Level::trace, "reconstructing tile image",
                 {{"physical_tile", std::uint64_t{physical_tile}},
                  {"load_base", fmt::format("{:#x}", *base)},
                  {"image_bytes", std::uint64_t{image_length}}});
  }

  for (const Segment& segment : tile->segments) {
    const std::uint64_t offset = segment.address - *base;
    if (!copy_fits(segment, blobs, offset, image.size())) {
      return std::unexpected(PackageError::invalid(
          fmt::format("segment at 0x{:x} on tile {} lies outside its blob or the image",
                      segment.address, physical_tile)));
    }
    if (segment.data_size > 0) {
      std::memcpy(image.data() + offset, blobs[segment.blob].data.data() + segment.blob_offset,
                  segment.data_size);
    }
  }
  return image;
}

}  // namespace zem
