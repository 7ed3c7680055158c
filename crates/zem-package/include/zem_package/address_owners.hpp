#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "zem_package/api.hpp"
#include "zem_package/element_path.hpp"
#include "zem_package/package_model.hpp"

namespace zem {

// A byte of a blob's contents.
struct BlobByte {
  std::size_t blob = 0;      // position in the model's blobs
  std::uint64_t offset = 0;  // in the blob's contents
  // In the package's message, for a blob stored plain; a compressed blob's
  // byte has no place of its own in the file.
  std::optional<std::uint64_t> file_offset;

  friend bool operator==(const BlobByte&, const BlobByte&) = default;
};

// The segment whose range holds an address.
struct SegmentOwner {
  std::size_t tile = 0;     // position in the model's tiles
  std::size_t segment = 0;  // position in the tile's segments
  std::uint32_t start = 0;  // the segment's range: [start, end)
  std::uint32_t end = 0;
  // Where the byte at the address comes from; none in the zero-filled rest
  // of the segment, past its data.
  std::optional<BlobByte> data;

  friend bool operator==(const SegmentOwner&, const SegmentOwner&) = default;
};

// A binding slice that covers an address.
struct SliceOwner {
  PackageField list = PackageField::bindings1;  // which of the three lists
  std::size_t binding = 0;                      // position in that list
  std::size_t slice = 0;                        // position in the binding's slices
  std::string name;                             // the binding's name

  friend bool operator==(const SliceOwner&, const SliceOwner&) = default;
};

// What a package puts at one address of one tile.
struct AddressOwner {
  std::optional<SegmentOwner> segment;  // none in a gap between segments
  std::vector<SliceOwner> slices;       // in list order

  friend bool operator==(const AddressOwner&, const AddressOwner&) = default;
};

// Answers what owns an address of a tile, for many addresses of many tiles:
// each tile's segments and the binding slices that name it are indexed once.
// The model must outlive this index.
class ZEM_PACKAGE_API AddressOwners {
 public:
  explicit AddressOwners(const PackageModel& model);

  // The owner of `address` in tile `physical_tile`; empty for a tile the
  // package does not have. Where segments overlap (a package that fails
  // validation), the first in list order is named.
  [[nodiscard]] AddressOwner owner(std::uint32_t physical_tile, std::uint32_t address) const;

 private:
  struct Slice {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    PackageField list = PackageField::bindings1;
    std::size_t binding = 0;
    std::size_t slice = 0;
  };
  struct Tile {
    std::size_t index = 0;
    std::vector<Slice> slices;
  };
  const PackageModel* model_;
  std::unordered_map<std::uint32_t, Tile> tiles_;
};

}  // namespace zem
