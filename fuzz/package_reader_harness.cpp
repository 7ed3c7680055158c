#include "harnesses.hpp"
#include "zem_package/application.hpp"
#include "zem_package/package_reading.hpp"

namespace zem::fuzz {

void package_reader(std::span<const std::uint8_t> bytes) {
  // A reading is not validated yet: its tiles, and those of the full model
  // made from it, exercise image reconstruction on models that break the
  // rules; its completion exercises validation and the digest.
  if (auto reading = PackageReading::read(bytes)) {
    Application model = reading->model();
    for (std::size_t i = 0; i < model.blobs.size(); ++i) {
      if (auto contents = reading->blob_contents(i)) model.blobs[i].data = std::move(*contents);
    }
    for (const TileImage& tile : model.tiles) {
      static_cast<void>(reading->tile_memory(tile.physical_tile));
      static_cast<void>(model.tile_image(tile.physical_tile));
    }
    static_cast<void>(reading->complete());
  }
  if (auto application = Application::read(bytes)) {
    for (const TileImage& tile : application->tiles) {
      static_cast<void>(application->tile_image(tile.physical_tile));
    }
  }
}

}  // namespace zem::fuzz
