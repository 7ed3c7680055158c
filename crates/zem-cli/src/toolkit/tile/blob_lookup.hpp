#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "toolkit/tool_error.hpp"
#include "zem_package/package_model.hpp"

namespace zem::toolkit {

// The position of the blob whose digest is `digest` or starts with it: one to
// 64 hexadecimal digits, either case. A prefix must name exactly one blob;
// an ambiguous one is refused with the first few blobs it names.
[[nodiscard]] Outcome<std::size_t> find_blob(std::span<const BlobInfo> blobs,
                                             std::string_view digest);

}  // namespace zem::toolkit
