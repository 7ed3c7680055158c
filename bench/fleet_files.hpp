#pragma once

// A generated package and the record files of a fleet of devices that all
// match it, for the benchmarks that run `verify` and `report` on files.

#include <cstdint>
#include <string>
#include <vector>

#include "large_package.hpp"
#include "workspace.hpp"

namespace zem::bench {

struct FleetFiles {
  std::string package;  // the package file
  std::uint32_t template_tile = 0;
  std::vector<std::string> patterns;  // one per device, `{tile}` for the tile's number
  std::uint64_t file_bytes = 0;       // the package file's size
};

// The package of `options` and the records of `devices` devices in
// `workspace`, every record matching; every device's record files are links
// to the first device's.
[[nodiscard]] FleetFiles make_fleet_files(const LargePackageOptions& options, std::uint64_t devices,
                                          const Workspace& workspace);

}  // namespace zem::bench
