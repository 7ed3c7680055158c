#pragma once

#include <cstdint>
#include <span>

#include "record/tile_assembly.hpp"
#include "zem_package/device_check.hpp"

namespace zem {

// `DeviceCheck::prepare`, taking each tile that `assembly` assembled as it
// was assembled instead of rebuilding its memory from the package.
[[nodiscard]] ReadResult<DeviceCheck> prepare_device_check(const Package& package,
                                                           std::span<const std::uint32_t> tiles,
                                                           unsigned threads,
                                                           const TileAssembly* assembly);

// `DeviceCheck::read_and_prepare` from bytes, with an assembly of the
// caller's, so that what it kept can be looked at.
[[nodiscard]] DeviceCheckRead read_and_prepare_with(std::span<const std::uint8_t> bytes,
                                                    std::span<const std::uint32_t> tiles,
                                                    const ReadOptions& options,
                                                    TileAssembly& assembly);

}  // namespace zem
