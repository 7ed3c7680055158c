#pragma once

#include "zem_package/application.hpp"
#include "zem_package/package_model.hpp"
#include "zem_package/read_failure.hpp"

namespace zem {

// Checks the model's rules in their fixed order and reports the first that
// fails, with the element that broke it. Validation needs no more of the
// blobs than their sizes, so it takes an `Application` or a `PackageModel`.
template <class Model>
[[nodiscard]] ReadResult<void> validate_model(const Model& model);

}  // namespace zem
