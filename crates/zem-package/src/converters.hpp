#pragma once

#include <vector>

#include "zem_package/application.capnp.h"
#include "zem_package/application.hpp"

namespace zem {

// Converters from the message's lists and structs into the model, on their
// own. Each copies every field, in file order, and stops at the first
// failure: a pointer that cannot be followed (`Capnp`) or a text that is not
// UTF-8 (`Utf8`). Fields that a struct is too short to hold take their
// defaults.

[[nodiscard]] Result<std::vector<TileImage>> read_tiles(
    capnp::List<schema::TileImage>::Reader tiles);

[[nodiscard]] Result<std::vector<Binding>> read_bindings(
    capnp::List<schema::Binding>::Reader bindings);

[[nodiscard]] Result<HostExchange> read_host_exchange(schema::HostExchange::Reader host_exchange);

}  // namespace zem
