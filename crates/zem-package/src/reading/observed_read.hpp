#pragma once

#include <cstdint>
#include <span>

#include "blobs/blob_observer.hpp"
#include "zem_package/io.hpp"
#include "zem_package/package.hpp"

namespace zem {

// `Package::read` from bytes or from an open file, strictly whatever
// `options.mode` says, handing each blob it checks to `observer` (see
// `BlobObserver`) as it goes. The outcome is the one `Package::read` gives.
[[nodiscard]] ReadResult<Package> read_observed(std::span<const std::uint8_t> bytes,
                                                const ReadOptions& options, BlobObserver& observer);
[[nodiscard]] ReadResult<Package> read_observed(io::FileDescriptor file, const ReadOptions& options,
                                                BlobObserver& observer);

}  // namespace zem
