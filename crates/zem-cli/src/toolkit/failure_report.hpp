#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/json_values.hpp"
#include "zem_package/application.hpp"
#include "zem_package/read_failure.hpp"

namespace zem::toolkit {

// A read failure said where it happened: the stage, the element, what
// identifies the element and the library's exact error text, on one line:
//
//   blobs failed at blobs[1].digest (compression none, stored size 256,
//   stored digest d9c76fa34978, file offset 0x2a8): Invalid("blob digest mismatch")
//
// (one line, wrapped here). A digest among the details is shortened to its
// first 12 digits; "framing failed: Capnp(...)" has no element.
[[nodiscard]] std::string failure_line(const ReadFailure& failure);

// What `check` prints in the failing stage's row, the details left to the
// context lines: "failed at blobs[1].digest: Invalid(\"blob digest mismatch\")".
[[nodiscard]] std::string failure_status(const ReadFailure& failure);

// The context `check` prints under a failure: every detail in full, and for
// a blob the segments of `model` (when there is one) that take their bytes
// from it: {"used by", "tile 3 (tiles[0].segments[0]), tile 7 (...)"}.
[[nodiscard]] std::vector<FailureDetail> failure_context(const ReadFailure& failure,
                                                         const Application* model);

// {"stage": "blobs", "element": "blobs[1].digest", "message": "Invalid(...)",
//  "details": [{"name": "compression", "value": "none"}, ...]}; the element
// is null for a failure of the message as a whole.
[[nodiscard]] Json failure_json(const ReadFailure& failure);

// Whether the element named `element` is the one named `path` or lies
// within it: "tiles[3].segments[1]" lies within "tiles[3]" and
// "tiles[3].segments", not within "tiles[30]".
[[nodiscard]] bool lies_within(std::string_view element, std::string_view path) noexcept;

// The position in list `list` of the element `element` names or lies within:
// 17 for "blobs[17].data" in "blobs"; none when it names no element of it.
[[nodiscard]] std::optional<std::size_t> list_index(std::string_view element,
                                                    std::string_view list) noexcept;

}  // namespace zem::toolkit
