#include "toolkit/package_file.hpp"

#include <unistd.h>

#include <cerrno>
#include <limits>

#include "toolkit/files.hpp"

namespace zem::toolkit {

Outcome<PackageFile> read_package_file(const std::string& path) {
  auto file = open_input(path);
  if (!file) return std::unexpected(std::move(file).error());
  // The library takes over the descriptor it is given and closes it; a
  // duplicate keeps the same open file here for reading its bytes afterwards.
  const int duplicate = ::dup(file->fd.get());
  if (duplicate < 0) return std::unexpected(os_error(path, errno));
  Result<PackageContents> contents = read_package_contents(duplicate);
  auto bytes = read_prefix(*file, path, std::numeric_limits<std::uint64_t>::max());
  if (!bytes) return std::unexpected(std::move(bytes).error());
  return PackageFile{std::move(*bytes), std::move(contents)};
}

Outcome<Application> read_valid_package(const std::string& path) {
  auto file = open_input(path);
  if (!file) return std::unexpected(std::move(file).error());
  auto application = Application::read(file->fd.release());
  if (!application) {
    return std::unexpected(file_error(path, "invalid package: " + application.error().to_string()));
  }
  return std::move(*application);
}

}  // namespace zem::toolkit
