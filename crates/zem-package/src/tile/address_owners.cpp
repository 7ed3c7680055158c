#include "zem_package/address_owners.hpp"

#include <algorithm>

namespace zem {

AddressOwners::AddressOwners(const PackageModel& model) : model_(&model) {
  for (std::size_t t = 0; t < model.tiles.size(); ++t) {
    tiles_.try_emplace(model.tiles[t].physical_tile, Tile{t, {}});
  }
  for (const auto& [field, bindings] : binding_lists(model)) {
    for (std::size_t b = 0; b < bindings.size(); ++b) {
      for (std::size_t s = 0; s < bindings[b].slices.size(); ++s) {
        const RegionSlice& slice = bindings[b].slices[s];
        const auto tile = tiles_.find(slice.physical_tile);
        if (tile == tiles_.end()) continue;
        // Held in 64 bits; a length that runs past them ends at their top.
        const std::uint64_t end = slice.length > UINT64_MAX - slice.address
                                      ? UINT64_MAX
                                      : std::uint64_t{slice.address} + slice.length;
        tile->second.slices.push_back(Slice{slice.address, end, field, b, s});
      }
    }
  }
}

AddressOwner AddressOwners::owner(std::uint32_t physical_tile, std::uint32_t address) const {
  AddressOwner owner;
  const auto found = tiles_.find(physical_tile);
  if (found == tiles_.end()) return owner;
  const TileImage& tile = model_->tiles[found->second.index];
  for (std::size_t k = 0; k < tile.segments.size(); ++k) {
    const Segment& segment = tile.segments[k];
    const std::uint64_t end = std::uint64_t{segment.address} + segment.memory_size;
    if (address < segment.address || address >= end) continue;
    SegmentOwner& named = owner.segment.emplace();
    named.tile = found->second.index;
    named.segment = k;
    named.start = segment.address;
    named.end = static_cast<std::uint32_t>(std::min<std::uint64_t>(end, UINT32_MAX));
    const std::uint32_t into = address - segment.address;
    if (into < segment.data_size && segment.blob < model_->blobs.size()) {
      const BlobInfo& blob = model_->blobs[segment.blob];
      BlobByte& byte = named.data.emplace();
      byte.blob = static_cast<std::size_t>(segment.blob);
      byte.offset = segment.blob_offset + into;
      if (blob.storage.compression == compression_none) {
        byte.file_offset = blob.storage.file_offset + byte.offset;
      }
    }
    break;
  }
  for (const Slice& slice : found->second.slices) {
    if (address < slice.start || address >= slice.end) continue;
    const auto lists = binding_lists(*model_);
    const auto list = std::ranges::find(lists, slice.list, &BindingList::field);
    owner.slices.push_back(
        SliceOwner{slice.list, slice.binding, slice.slice, list->bindings[slice.binding].name});
  }
  return owner;
}

}  // namespace zem
