#pragma once

#include "zem_package/application.capnp.h"
#include "zem_package/application.hpp"

namespace zem {

// The last stage of a read: the model is validated, then the build digest
// stored in `root` is compared with the one computed from the model, then the
// success event is emitted. Runs inside the reader's Cap'n Proto boundary.
[[nodiscard]] Result<void> complete_read(const Application& application,
                                         schema::Application::Reader root);

}  // namespace zem
