#include "fleet_files.hpp"

#include <fmt/format.h>

#include <filesystem>

#include "package_builder.hpp"

namespace zem::bench {

FleetFiles make_fleet_files(const LargePackageOptions& options, std::uint64_t devices,
                            const Workspace& workspace) {
  namespace fs = std::filesystem;
  const LargePackage large = make_large_package(options);
  FleetFiles files{workspace.file("device.zpkg"), large.template_tile, {}, large.package.size()};
  zem::testing::write_file(files.package, large.package);
  for (std::uint64_t d = 0; d < devices; ++d) {
    const std::string directory = workspace.file(fmt::format("device{}", d));
    fs::create_directory(directory);
    for (std::size_t t = 0; t < large.records.size(); ++t) {
      const std::string path = fmt::format("{}/tile{}.rec", directory, t);
      if (d == 0) {
        zem::testing::write_file(path, large.records[t]);
      } else {
        fs::create_hard_link(fmt::format("{}/tile{}.rec", workspace.file("device0"), t), path);
      }
    }
    files.patterns.push_back(directory + "/tile{tile}.rec");
  }
  return files;
}

}  // namespace zem::bench
