#pragma once

#include <cstdint>
#include <vector>

#include "zem_package/package_model.hpp"
#include "zem_package/read_failure.hpp"

namespace zem {

// Completes a read of `model`: validation, then the comparison of the stored
// build digest with the model's, then the event "application package read".
// The stored digest may be the failure met following its pointer: it is
// reported in its turn, after validation.
[[nodiscard]] ReadResult<void> complete_model(
    const PackageModel& model, const ReadResult<std::vector<std::uint8_t>>& stored_build_digest);

}  // namespace zem
