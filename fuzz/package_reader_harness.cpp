#include <sys/mman.h>
#include <unistd.h>

#include <stdexcept>

#include "harnesses.hpp"
#include "zem_package/application.hpp"
#include "zem_package/reader.hpp"

namespace zem::fuzz {
namespace {

int memory_file(std::span<const std::uint8_t> bytes) {
  const int fd = ::memfd_create("fuzz-package", MFD_CLOEXEC);
  if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
      ::lseek(fd, 0, SEEK_SET) != 0) {
    throw std::runtime_error("cannot make an in-memory file");
  }
  return fd;
}

}  // namespace

void package_reader(std::span<const std::uint8_t> bytes) {
  // The unchecked contents exercise image reconstruction on models that
  // break the rules; the full read exercises validation and the digest.
  if (auto contents = read_package_contents(memory_file(bytes))) {
    for (const TileImage& tile : contents->application.tiles) {
      static_cast<void>(contents->application.tile_image(tile.physical_tile));
    }
    static_cast<void>(contents->application.validate());
    static_cast<void>(contents->application.build_digest());
  }
  if (auto application = Application::read(memory_file(bytes))) {
    for (const TileImage& tile : application->tiles) {
      static_cast<void>(application->tile_image(tile.physical_tile));
    }
  }
}

}  // namespace zem::fuzz
