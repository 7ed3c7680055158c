#include "harnesses.hpp"
#include "package_builder.hpp"
#include "zem_package/application.hpp"
#include "zem_package/package.hpp"

namespace zem::fuzz {
namespace {

// The full model of what a reading holds, whether it passed the rules or not,
// with the contents of every blob that could be had.
Application full_model(const Package& reading) {
  const PackageModel& read = reading.model();
  Application model;
  model.compiler = read.compiler;
  for (std::size_t i = 0; i < read.blobs.size(); ++i) {
    auto contents = reading.blob_contents(i);
    model.blobs.push_back(
        Blob{contents ? std::move(*contents) : ByteBuffer{}, read.blobs[i].digest});
  }
  model.tiles = read.tiles;
  model.bindings_1 = read.bindings_1;
  model.bindings_2 = read.bindings_2;
  model.bindings_3 = read.bindings_3;
  model.host_exchange = read.host_exchange;
  model.entry_points = read.entry_points;
  model.device_config_writes = read.device_config_writes;
  return model;
}

}  // namespace

void package_reader(std::span<const std::uint8_t> bytes) {
  // A survey goes past failures: its tiles, and those of the full model made
  // from it, exercise image reconstruction on models that break the rules;
  // the strict read exercises validation and the digest.
  for (const ReadMode mode : {ReadMode::strict, ReadMode::survey}) {
    auto reading =
        Package::read(io::FileDescriptor(testing::memory_file(bytes)), ReadOptions{1, mode});
    if (!reading) continue;
    const Application model = full_model(*reading);
    for (const TileImage& tile : model.tiles) {
      static_cast<void>(reading->tile_memory(tile.physical_tile));
      static_cast<void>(model.tile_image(tile.physical_tile));
    }
    static_cast<void>(model.validate());
    static_cast<void>(reading->model().validate());
    static_cast<void>(reading->application());
  }
  if (auto application = Application::read(testing::memory_file(bytes))) {
    for (const TileImage& tile : application->tiles) {
      static_cast<void>(application->tile_image(tile.physical_tile));
    }
  }
}

}  // namespace zem::fuzz
