// Reads a package through the installed library and prints what it holds:
//
//   consumer PACKAGE
//     tiles=2 blobs=2 compiler=1.4.2 tile7=8704
//     Invalid("application has no tiles")
//
// The second line comes from validating an empty model. The generated schema
// header is used directly, so a missing installed header fails the build.

#include <fcntl.h>

#include <cstdio>

#include "zem_package/application.hpp"
#include "zem_package/reader.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: consumer PACKAGE\n", stderr);
    return 2;
  }
  static_assert(sizeof(zem::schema::Application::Reader) > 0);
  const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::perror(argv[1]);
    return 1;
  }
  const zem::Result<zem::Application> application = zem::Application::read(fd);
  if (!application) {
    std::printf("%s\n", application.error().to_string().c_str());
    return 1;
  }
  const auto image = application->tile_image(7);
  std::printf("tiles=%zu blobs=%zu compiler=%s tile7=%zu\n", application->tiles.size(),
              application->blobs.size(), application->compiler.c_str(),
              image ? image->size() : std::size_t{0});
  std::printf("%s\n", zem::Application{}.validate().error().to_string().c_str());
  return 0;
}
