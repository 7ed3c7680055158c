#pragma once

#include <vector>

#include "zem_package/application.capnp.h"
#include "zem_package/application.hpp"

namespace zem {

// Converters from the message's lists and structs into the model. Each copies
// every field, in file order, and stops at the first failure: a pointer that
// cannot be followed (`Capnp`) or a text that is not UTF-8 (`Utf8`). Fields
// that a struct is too short to hold take their defaults.

[[nodiscard]] Result<std::vector<TileImage>> read_tiles(
    capnp::List<schema::TileImage>::Reader tiles);

[[nodiscard]] Result<std::vector<Binding>> read_bindings(
    capnp::List<schema::Binding>::Reader bindings);

[[nodiscard]] Result<HostExchange> read_host_exchange(schema::HostExchange::Reader host_exchange);

// A package as its file holds it, before the read is completed: the model
// has not been validated and its build digest not compared.
struct PackageContents {
  Application application;
  // The stored build digest, or the error met while following its pointer.
  Result<std::vector<std::uint8_t>> stored_build_digest;
};

// Every step of `Application::read` but its completion: for tools that show
// what a package holds even when it breaks a rule. Takes over `fd` and
// closes it on every path.
[[nodiscard]] Result<PackageContents> read_package_contents(int fd);

// Completes a read: validation, then the comparison of the stored build
// digest with the model's, then the success event.
[[nodiscard]] Result<void> complete_read(const PackageContents& contents);

}  // namespace zem
