#include "toolkit/package/package_layout.hpp"

#include <algorithm>

namespace zem::toolkit {

TileLayout tile_layout(const TileImage& tile) {
  TileLayout layout;
  layout.load_base = load_base(tile);
  if (!layout.load_base) return layout;
  for (const Segment& segment : tile.segments) {
    // The load base is the lowest address, so no difference is negative.
    const std::uint64_t end =
        std::uint64_t{segment.address} - *layout.load_base + segment.memory_size;
    layout.image_size = std::max(layout.image_size, end);
  }
  return layout;
}

std::optional<std::uint64_t> slice_end(const RegionSlice& slice) noexcept {
  std::uint64_t end = 0;
  if (__builtin_add_overflow(std::uint64_t{slice.address}, slice.length, &end)) {
    return std::nullopt;
  }
  return end;
}

std::vector<std::size_t> segments_per_blob(const PackageModel& model) {
  std::vector<std::size_t> counts(model.blobs.size(), 0);
  for (const TileImage& tile : model.tiles) {
    for (const Segment& segment : tile.segments) {
      if (segment.data_size > 0 && segment.blob < counts.size()) {
        ++counts[static_cast<std::size_t>(segment.blob)];
      }
    }
  }
  return counts;
}

bool read_whole(const Package& reading) noexcept {
  return reading.stage_state(ReadStage::blobs) == StageState::passed &&
         reading.stage_state(ReadStage::structure) == StageState::passed;
}

BuildDigestCheck build_digest_check(const Package& reading) {
  BuildDigestCheck check;
  if (read_whole(reading)) check.computed = reading.model().build_digest();
  if (reading.stored_build_digest()) {
    check.stored = *reading.stored_build_digest();
    check.matches = check.computed && std::ranges::equal(*check.stored, *check.computed);
  }
  return check;
}

}  // namespace zem::toolkit
