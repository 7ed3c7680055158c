#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

#include "zem_package/package_model.hpp"

namespace zem::toolkit::pages {

// A binding slice by where it stands in the model.
struct SliceRef {
  PackageField list = PackageField::bindings1;
  std::size_t list_number = 1;  // 1, 2 or 3
  const Binding* binding = nullptr;
  std::size_t slice = 0;  // position in the binding's slices
};

// The binding slices of every tile, gathered once from the three lists in
// their order. The model must outlive the index.
class TileSlices {
 public:
  explicit TileSlices(const PackageModel& model);
  // The slices that name tile `physical_tile`, in list order.
  [[nodiscard]] std::span<const SliceRef> of(std::uint32_t physical_tile) const;

 private:
  std::unordered_map<std::uint32_t, std::vector<SliceRef>> tiles_;
};

}  // namespace zem::toolkit::pages
