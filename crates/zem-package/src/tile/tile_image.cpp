#include <algorithm>
#include <cstring>
#include <numeric>

#include <fmt/format.h>

#include "tile/tile_rebuild.hpp"
#include "zem_package/application.hpp"
#include "zem_package/events.hpp"

namespace zem {
namespace {

// The path of the tile with this number, with its number as the detail
// that identifies it.
ReadFailure tile_failure(const std::vector<TileImage>& tiles, std::uint32_t physical_tile,
                         PackageError error, FailureSubject subject) {
  const TileImage* tile = find_tile(tiles, physical_tile);
  ElementPath element{{PackageField::tiles}};
  if (tile != nullptr) {
    element = ElementPath{{PackageField::tiles, static_cast<std::size_t>(tile - tiles.data())}};
  }
  ReadFailure failure{std::move(error),
                      ReadStage::structure,
                      element,
                      {{"physical tile", detail_value::Number{physical_tile}}}};
  failure.subject = subject;
  return failure;
}

// Validation guarantees that every segment of a read package lies inside tile
// memory and takes its bytes from inside its blob. Checking again keeps a
// hand-built model from reading or writing out of bounds, or from asking for
// an image of gigabytes.
ReadResult<void> check_segment(const std::vector<TileImage>& tiles, const Segment& segment,
                               std::span<const std::uint64_t> blob_sizes,
                               std::uint32_t physical_tile) {
  const auto image_error = [&](std::string message) {
    return tile_image_failure(tiles, physical_tile, PackageError::invalid(std::move(message)));
  };
  const std::uint64_t end = std::uint64_t{segment.address} + segment.memory_size;
  if (segment.address < tile_memory_base || end > tile_memory_end) {
    return std::unexpected(image_error(fmt::format(
        "segment at 0x{:x} on tile {} lies outside tile memory", segment.address, physical_tile)));
  }
  const bool data_fits = segment.blob < blob_sizes.size() &&
                         segment.data_size <= segment.memory_size &&
                         segment.blob_offset <= blob_sizes[segment.blob] &&
                         segment.data_size <= blob_sizes[segment.blob] - segment.blob_offset;
  if (!data_fits) {
    return std::unexpected(
        image_error(fmt::format("segment at 0x{:x} on tile {} takes data from outside its blob",
                                segment.address, physical_tile)));
  }
  return {};
}

// The first two non-empty segments whose ranges overlap, in address order.
std::optional<std::pair<const Segment*, const Segment*>> first_overlap(
    const std::vector<Segment>& segments) {
  std::vector<const Segment*> sorted;
  sorted.reserve(segments.size());
  for (const Segment& segment : segments) {
    if (segment.memory_size != 0) sorted.push_back(&segment);
  }
  std::ranges::sort(sorted, {}, [](const Segment* s) {
    return std::pair{s->address, s->address + s->memory_size};
  });
  for (std::size_t i = 1; i < sorted.size(); ++i) {
    if (sorted[i - 1]->address + sorted[i - 1]->memory_size > sorted[i]->address) {
      return std::pair{sorted[i - 1], sorted[i]};
    }
  }
  return std::nullopt;
}

// The segments whose bytes are copied, in the order of their copies.
std::vector<const Segment*> copy_order(const std::vector<Segment>& segments, CopyOrder order) {
  std::vector<const Segment*> copies;
  for (const Segment& segment : segments) {
    if (segment.data_size > 0) copies.push_back(&segment);
  }
  if (order == CopyOrder::by_blob) {
    std::ranges::stable_sort(copies, {}, &Segment::blob);
  }
  return copies;
}

}  // namespace

std::optional<std::uint32_t> load_base(const TileImage& tile) noexcept {
  if (tile.segments.empty()) {
    return std::nullopt;
  }
  return std::ranges::min(tile.segments, {}, &Segment::address).address;
}

ReadFailure unknown_tile_failure(std::uint32_t physical_tile) {
  return tile_failure({}, physical_tile,
                      PackageError::invalid(fmt::format("unknown tile {}", physical_tile)),
                      FailureSubject::unknown_tile);
}

const TileImage* find_tile(std::span<const TileImage> tiles, std::uint32_t physical_tile) noexcept {
  const auto tile = std::ranges::find(tiles, physical_tile, &TileImage::physical_tile);
  return tile != tiles.end() ? &*tile : nullptr;
}

ReadFailure tile_image_failure(const std::vector<TileImage>& tiles, std::uint32_t physical_tile,
                               PackageError error) {
  return tile_failure(tiles, physical_tile, std::move(error), FailureSubject::package);
}

ReadResult<TileMemory> rebuild_tile_memory(const std::vector<TileImage>& tiles,
                                           std::uint32_t physical_tile,
                                           std::span<const std::uint64_t> blob_sizes,
                                           CopyOrder order, const BlobContentsSource& contents) {
  const auto image_error = [&](std::string message) {
    return tile_image_failure(tiles, physical_tile, PackageError::invalid(std::move(message)));
  };
  const TileImage* tile = find_tile(tiles, physical_tile);
  if (tile == nullptr) return std::unexpected(unknown_tile_failure(physical_tile));
  const std::optional<std::uint32_t> base = load_base(*tile);
  if (!base) {
    return std::unexpected(tile_failure(tiles, physical_tile,
                                        PackageError::invalid("tile has no loadable segments"),
                                        FailureSubject::tile_without_segments));
  }

  for (const Segment& segment : tile->segments) {
    if (auto checked = check_segment(tiles, segment, blob_sizes, physical_tile); !checked) {
      return std::unexpected(std::move(checked).error());
    }
  }
  if (order == CopyOrder::by_blob) {
    if (const auto overlap = first_overlap(tile->segments)) {
      return std::unexpected(image_error(
          fmt::format("segments at 0x{:x} and 0x{:x} on tile {} overlap", overlap->first->address,
                      overlap->second->address, physical_tile)));
    }
  }

  // Lengths in 32-bit arithmetic, as tile addresses are; every segment lies
  // inside tile memory, so nothing wraps.
  std::uint32_t image_length = 0;
  for (const Segment& segment : tile->segments) {
    image_length = std::max(image_length, segment.address - *base + segment.memory_size);
  }
  TileMemory memory{physical_tile, *base, std::vector<std::uint8_t>(image_length, 0)};

  if (events::enabled(events::Level::trace)) {
    events::emit(events::Level::trace, "reconstructing tile image",
                 {{"physical_tile", std::uint64_t{physical_tile}},
                  {"load_base", fmt::format("{:#x}", *base)},
                  {"image_bytes", std::uint64_t{image_length}}});
  }

  std::optional<std::uint64_t> current_blob;
  std::span<const std::uint8_t> blob_bytes;
  for (const Segment* segment : copy_order(tile->segments, order)) {
    if (segment->blob != current_blob) {
      auto bytes = contents(static_cast<std::size_t>(segment->blob));
      if (!bytes) {
        return std::unexpected(tile_image_failure(tiles, physical_tile, std::move(bytes).error()));
      }
      blob_bytes = *bytes;
      current_blob = segment->blob;
    }
    // The contents have the size the segment checks were made against.
    if (segment->blob_offset > blob_bytes.size() ||
        segment->data_size > blob_bytes.size() - segment->blob_offset) {
      return std::unexpected(
          image_error(fmt::format("blob {} changed its size since it was checked", segment->blob)));
    }
    std::memcpy(memory.bytes.data() + (segment->address - *base),
                blob_bytes.data() + segment->blob_offset, segment->data_size);
  }
  return memory;
}

ReadResult<TileMemory> Application::tile_memory(std::uint32_t physical_tile) const {
  std::vector<std::uint64_t> blob_sizes;
  blob_sizes.reserve(blobs.size());
  for (const Blob& blob : blobs) blob_sizes.push_back(blob.data.size());
  return rebuild_tile_memory(tiles, physical_tile, blob_sizes, CopyOrder::list,
                             [this](std::size_t blob) -> Result<std::span<const std::uint8_t>> {
                               return blobs[blob].data.bytes();
                             });
}

Result<std::vector<std::uint8_t>> Application::tile_image(std::uint32_t physical_tile) const {
  auto memory = tile_memory(physical_tile);
  if (!memory) return std::unexpected(std::move(memory).error().error);
  return std::move(memory->bytes);
}

}  // namespace zem
