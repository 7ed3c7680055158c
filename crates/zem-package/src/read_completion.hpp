#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "zem_package/application.hpp"
#include "zem_package/read_failure.hpp"

namespace zem {

// Completes a read of `model`: validation (with `blob_sizes`, the size of
// each blob's contents), then the comparison of the stored build digest with
// the model's, then the event "application package read". The stored digest
// may be the failure met following its pointer: it is reported in its turn,
// after validation.
[[nodiscard]] ReadResult<void> complete_model(
    const Application& model, std::span<const std::uint64_t> blob_sizes,
    const ReadResult<std::vector<std::uint8_t>>& stored_build_digest);

}  // namespace zem
