#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "zem_package/package_error.hpp"

namespace zem {

// The capacity to decompress a Zstandard payload into: the declared size,
// but no more than the payload can produce. Capacity the payload could never
// fill is not reserved, and whether the contents fit is decided exactly as
// with the full declared capacity. A declared size that no object can have
// (above 2^63 - 1 bytes) is refused before anything is decompressed.
[[nodiscard]] Result<std::size_t> decompression_capacity(std::span<const std::uint8_t> payload,
                                                         std::uint64_t declared_size);

// Decompresses `payload` in one call, with a fresh context and no dictionary,
// into `out`, whose size is the capacity. Returns the bytes written, or the
// decompressor's name for its failure as an `Io` error.
[[nodiscard]] Result<std::size_t> decompress(std::span<const std::uint8_t> payload,
                                             std::span<std::uint8_t> out);

// The failure of a buffer for decompressed contents that cannot be had.
[[nodiscard]] PackageError cannot_allocate_contents(std::size_t capacity);

}  // namespace zem
