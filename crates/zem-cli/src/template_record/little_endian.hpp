#pragma once

#include <cstdint>
#include <span>

namespace zem::template_record {

// The unsigned 32-bit little-endian number held in four bytes, the byte at the
// lowest offset least significant. Assembled from bytes so that neither the
// host's byte order nor the alignment of the bytes matters.
[[nodiscard]] inline std::uint32_t load_u32_le(std::span<const std::uint8_t, 4> bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8U |
         static_cast<std::uint32_t>(bytes[2]) << 16U | static_cast<std::uint32_t>(bytes[3]) << 24U;
}

}  // namespace zem::template_record
