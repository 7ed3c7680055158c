#include "toolkit/package_file.hpp"

#include "toolkit/files.hpp"

namespace zem::toolkit {

Outcome<ReadResult<PackageReading>> read_package(const std::string& path,
                                                 const ReadOptions& options) {
  ZEM_ASSIGN_OR_RETURN(io::RegularFile file, open_input(path));
  return PackageReading::read(file.fd.release(), options);
}

Outcome<CheckedPackage> read_valid_package(const std::string& path, const ReadOptions& options) {
  ZEM_ASSIGN_OR_RETURN(io::RegularFile file, open_input(path));
  auto package = CheckedPackage::read(file.fd.release(), options);
  if (!package) {
    return std::unexpected(
        file_error(path, "invalid package: " + package.error().error.to_string()));
  }
  return std::move(*package);
}

}  // namespace zem::toolkit
