#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "record_check/device_check.hpp"
#include "zem_package/package.hpp"

namespace zem::toolkit::pages {

// One device as `verify` found it.
struct DeviceVerdicts {
  std::string records;  // its records' pattern, as messages show it (plain text)
  std::span<const record_check::TileVerdict> verdicts;  // in tile number order
  std::string summary;                                  // its summary line (plain text)
  // The record file of a tile, as messages show it (plain text).
  std::function<std::string(std::uint32_t physical_tile)> record_name;
};

// The page of a `verify` run: a section per device with its device view,
// each tile's cell coloured by its status (or as having no template setup),
// and the view of each tile that does not match, its differing words marked
// at their addresses and explained as `verify` explains them (at most `max`
// of them), with the hints that hold. Views that do not fit the page's
// bound are left out and counted.
[[nodiscard]] std::string verify_page(const Package& package, std::string_view package_name,
                                      std::span<const std::uint32_t> without_setup,
                                      std::span<const DeviceVerdicts> devices, std::size_t max,
                                      std::size_t columns);

}  // namespace zem::toolkit::pages
