#pragma once

#include <cstdint>
#include <vector>

#include "zem_package/application.hpp"

namespace zem {

// A package as its file holds it, every blob's contents kept, before the
// read is completed: the model has not been validated and its build digest
// not compared.
struct PackageContents {
  Application application;
  // The stored build digest, or the error met while following its pointer.
  Result<std::vector<std::uint8_t>> stored_build_digest;
};

// Every step of `Application::read` but its completion. Takes over `fd` and
// closes it on every path.
[[nodiscard]] Result<PackageContents> read_package_contents(int fd);

// Completes a read: validation, then the comparison of the stored build
// digest with the model's, then the success event.
[[nodiscard]] Result<void> complete_read(const PackageContents& contents);

}  // namespace zem
