#include "zem_package/fleet_check.hpp"

namespace zem {

FleetResult verify_fleet(const DeviceCheck& check, std::span<const FleetDevice> devices,
                         std::size_t max, unsigned threads,
                         std::atomic<std::uint64_t>* tiles_done) {
  FleetResult fleet;
  std::vector<std::string> names;
  fleet.devices.reserve(devices.size());
  names.reserve(devices.size());
  // One device after the other, its tiles shared out over every thread: a
  // device's records are read together, and the verdicts are the same
  // whatever the threads.
  for (const FleetDevice& device : devices) {
    DeviceResult result = check.verify(device.records, max, threads, tiles_done);
    if (device.pattern) add_no_records_hint(result, *device.pattern);
    fleet.devices.push_back(std::move(result));
    names.push_back(device.name);
  }
  add_same_records_hints(fleet.devices, names);
  fleet.matrix = fleet_matrix(names, fleet.devices);
  for (DeviceResult& result : fleet.devices) result.record_digests = {};
  return fleet;
}

}  // namespace zem
