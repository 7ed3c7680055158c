#include "toolkit/pages/tile_slices.hpp"

namespace zem::toolkit::pages {

TileSlices::TileSlices(const PackageModel& model) {
  std::size_t number = 1;
  for (const BindingList& list : binding_lists(model)) {
    for (const Binding& binding : list.bindings) {
      for (std::size_t s = 0; s < binding.slices.size(); ++s) {
        tiles_[binding.slices[s].physical_tile].push_back(
            SliceRef{list.field, number, &binding, s});
      }
    }
    ++number;
  }
}

std::span<const SliceRef> TileSlices::of(std::uint32_t physical_tile) const {
  const auto found = tiles_.find(physical_tile);
  if (found == tiles_.end()) return {};
  return found->second;
}

}  // namespace zem::toolkit::pages
