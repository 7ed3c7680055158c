#include <algorithm>
#include <cstring>

#include <fmt/format.h>

#include "zem_package/application.hpp"
#include "zem_package/events.hpp"

namespace zem {
namespace {

// Validation guarantees that every segment of a read package lies inside tile
// memory and takes its bytes from inside its blob. Checking again keeps a
// hand-built model from reading or writing out of bounds, or from asking for
// an image of gigabytes.
Result<void> check_segment(const Segment& segment, const std::vector<Blob>& blobs,
                           std::uint32_t physical_tile) {
  const std::uint64_t end = std::uint64_t{segment.address} + segment.memory_size;
  if (segment.address < tile_memory_base || end > tile_memory_end) {
    return std::unexpected(PackageError::invalid(fmt::format(
        "segment at 0x{:x} on tile {} lies outside tile memory", segment.address, physical_tile)));
  }
  const bool data_fits = segment.blob < blobs.size() && segment.data_size <= segment.memory_size &&
                         segment.blob_offset <= blobs[segment.blob].data.size() &&
                         segment.data_size <= blobs[segment.blob].data.size() - segment.blob_offset;
  if (!data_fits) {
    return std::unexpected(PackageError::invalid(
        fmt::format("segment at 0x{:x} on tile {} takes data from outside its blob",
                    segment.address, physical_tile)));
  }
  return {};
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

  for (const Segment& segment : tile->segments) {
    ZEM_TRY(check_segment(segment, blobs, physical_tile));
  }

  // Lengths in 32-bit arithmetic, as tile addresses are; every segment lies
  // inside tile memory, so nothing wraps.
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
    const std::uint32_t offset = segment.address - *base;
    if (segment.data_size > 0) {
      std::memcpy(image.data() + offset, blobs[segment.blob].data.data() + segment.blob_offset,
                  segment.data_size);
    }
  }
  return image;
}

}  // namespace zem
