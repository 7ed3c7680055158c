// verify_device PACKAGE PATTERN
//
// Verifies every tile of one device against a package, through the
// installed zem_package library alone: the package is read and checked
// once, then each tile that has a template setup is compared with its
// record, PATTERN with {tile} standing for the physical tile number in
// decimal ("dump/tile{tile}.rec"). One line per tile, in tile number order:
//
//   tile 7 match
//   tile 33 differ long
//   tile 40 differ record-of-tile
//
// Exit status: 0 every tile matches; 1 one does not; 2 the package cannot be
// read or checked, or the arguments are wrong.

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>

#include "zem_package/device_check.hpp"
#include "zem_package/package.hpp"

namespace {

// "short,long": the kinds of the hints that hold, in their order.
std::string hint_kinds(const zem::TileVerdict& verdict) {
  std::string kinds;
  if (!verdict.diff) return kinds;
  for (const zem::Hint& hint : verdict.diff->hints) {
    if (!kinds.empty()) kinds += ',';
    kinds += zem::hint_kind(hint);
  }
  return kinds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: verify_device PACKAGE PATTERN\n", stderr);
    return 2;
  }
  const unsigned threads = std::max(1U, std::thread::hardware_concurrency());
  const auto package = zem::Package::read(argv[1], zem::ReadOptions{.threads = threads});
  if (!package) {
    std::fprintf(stderr, "verify_device: %s: %s\n", argv[1],
                 package.error().error.to_string().c_str());
    return 2;
  }
  // Every tile of the package: those with a template setup are verified.
  const auto check = zem::DeviceCheck::prepare(*package, {}, threads);
  if (!check) {
    std::fprintf(stderr, "verify_device: %s\n", check.error().error.to_string().c_str());
    return 2;
  }
  const zem::DeviceResult device = check->verify(zem::pattern_records(argv[2]), /*max=*/0, threads);
  for (const zem::TileVerdict& verdict : device.tiles) {
    const std::string hints = hint_kinds(verdict);
    std::printf("tile %u %s%s%s\n", verdict.physical_tile,
                std::string(zem::status_name(verdict.status)).c_str(), hints.empty() ? "" : " ",
                hints.c_str());
  }
  return device.all_match() ? 0 : 1;
}
