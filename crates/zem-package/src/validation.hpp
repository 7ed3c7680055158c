#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "zem_package/application.hpp"
#include "zem_package/read_failure.hpp"

namespace zem {

// Checks the model's rules in their fixed order and reports the first that
// fails, with the element that broke it. `blob_sizes` gives the size of each
// blob's contents, by position: validation needs no more of the blobs.
[[nodiscard]] ReadResult<void> validate_model(const Application& app,
                                              std::span<const std::uint64_t> blob_sizes);

// The size of each blob's contents in a full model.
[[nodiscard]] std::vector<std::uint64_t> blob_sizes(const Application& app);

}  // namespace zem
