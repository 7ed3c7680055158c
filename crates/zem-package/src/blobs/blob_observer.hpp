#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "zem_package/package_model.hpp"

namespace zem {

struct CheckedBlob;

// What a strict read hands over of each blob as it checks it, so that work
// that needs every blob's contents once (unpacking them, compressing them
// anew) is done while they are at hand, instead of decompressing them again
// after the read.
class BlobObserver {
 public:
  BlobObserver() = default;
  BlobObserver(const BlobObserver&) = delete;
  BlobObserver& operator=(const BlobObserver&) = delete;
  virtual ~BlobObserver() = default;

  // Whether the observer wants the package's tiles before any blob is
  // checked (see `tiles_ahead`).
  [[nodiscard]] virtual bool wants_tiles() const noexcept { return false; }

  // For an observer that wants them, called once before the first blob is
  // checked: the package's tiles, read ahead of their turn, or null when
  // they could not be read. Their failures are not reported here: the read
  // meets them again in their turn, after the blobs.
  virtual void tiles_ahead(const std::vector<TileImage>* /*tiles*/) noexcept {}

  // Blob `index` of the table passed its own checks (it may still turn out
  // a duplicate). `contents` are its contents, valid during the call only.
  // Runs on the thread that checked it, `worker` (below the read's thread
  // count), in no particular order; `blob.payload` lies in the message,
  // which stays in memory until the read returns.
  virtual void checked(unsigned worker, std::size_t index, const CheckedBlob& blob,
                       std::span<const std::uint8_t> contents) noexcept = 0;

  // Blob `index` and every blob before it passed every check of the blob
  // stage. Called in table order, one call at a time.
  virtual void accepted(std::size_t index) noexcept = 0;
};

}  // namespace zem
