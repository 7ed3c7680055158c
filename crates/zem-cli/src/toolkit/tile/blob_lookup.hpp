#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "toolkit/tool_error.hpp"
#include "zem_package/package_model.hpp"

namespace zem::toolkit {

// The position of the blob that `argument` names: its position in the
// table ("40", or "index:40"), or its digest or a prefix of it, one to 64
// hexadecimal digits of either case ("d9c76f", or "digest:40"). A prefix
// must name exactly one blob; an ambiguous one is refused with the first
// few blobs it names. A bare argument that is both a position and a prefix
// of another blob's digest is refused too, with both blobs named: every
// output calls a blob by its position, and a digest that happens to start
// with the same digits must not be taken for it.
[[nodiscard]] Outcome<std::size_t> find_blob(std::span<const BlobInfo> blobs,
                                             std::string_view argument);

}  // namespace zem::toolkit
