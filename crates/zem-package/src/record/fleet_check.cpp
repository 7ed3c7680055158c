#include "zem_package/fleet_check.hpp"

namespace zem {

FleetResult verify_fleet(const DeviceCheck& check, std::span<const FleetDevice> devices,
                         std::size_t max, unsigned threads,
                         std::atomic<std::uint64_t>* tiles_done) {
  FleetResult fleet;
  std::vector<std::string> names;
  std::vector<RecordSource> sources;
  names.reserve(devices.size());
  sources.reserve(devices.size());
  for (const FleetDevice& device : devices) {
    names.push_back(device.name);
    sources.push_back(device.records);
  }
  fleet.devices = check.verify(sources, max, threads, tiles_done);
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (devices[i].pattern) add_no_records_hint(fleet.devices[i], *devices[i].pattern);
  }
  add_same_records_hints(fleet.devices, names);
  fleet.matrix = fleet_matrix(names, fleet.devices);
  for (DeviceResult& result : fleet.devices) result.record_digests = {};
  return fleet;
}

}  // namespace zem
