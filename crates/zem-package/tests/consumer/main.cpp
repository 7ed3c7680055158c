// Reads a package through the installed library and prints what it holds:
//
//   consumer PACKAGE
//     tiles=2 blobs=2 compiler=1.4.2 tile7=8704
//     checked: tile7 loadBase=0x4c000 bytes=8704 blob0=4096
//     Invalid("application has no tiles")
//
// The first line comes from the full read, the second from the checking
// read of the same file, the third from validating an empty model. Only the
// library's public headers are used: no header of Cap'n Proto or of fmt.

#include <cstdio>

#include "zem_package/application.hpp"
#include "zem_package/io.hpp"
#include "zem_package/package.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: consumer PACKAGE\n", stderr);
    return 2;
  }
  auto file = zem::io::open_regular_file(argv[1]);
  if (!file) {
    std::fprintf(stderr, "%s: cannot open\n", argv[1]);
    return 1;
  }
  const zem::Result<zem::Application> application = zem::Application::read(file->fd.release());
  if (!application) {
    std::printf("%s\n", application.error().to_string().c_str());
    return 1;
  }
  const auto image = application->tile_image(7);
  std::printf("tiles=%zu blobs=%zu compiler=%s tile7=%zu\n", application->tiles.size(),
              application->blobs.size(), application->compiler.c_str(),
              image ? image->size() : std::size_t{0});

  const auto package = zem::Package::read(argv[1], zem::ReadOptions{.threads = 2});
  if (!package) {
    std::printf("%s at %s\n", package.error().error.to_string().c_str(),
                package.error().element.to_string().c_str());
    return 1;
  }
  const auto memory = package->tile_memory(7);
  if (!memory) return 1;
  std::printf("checked: tile7 loadBase=0x%x bytes=%zu blob0=%llu\n", memory->load_base,
              memory->bytes.size(),
              static_cast<unsigned long long>(package->model().blobs[0].size));
  std::printf("%s\n", zem::Application{}.validate().error().to_string().c_str());
  return 0;
}
