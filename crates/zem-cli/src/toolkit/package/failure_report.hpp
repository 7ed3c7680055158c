#pragma once

#include <string>
#include <vector>

#include "format/json_values.hpp"
#include "zem_package/package_model.hpp"
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

// One line of the context `check` prints under a failure.
struct ContextLine {
  std::string name;
  std::string value;
};

// The context `check` prints under a failure: every detail in full, and for
// a blob the segments of `model` (when there is one) that take bytes from it
// (a segment of no data does not): {"used by", "tile 3 (tiles[0].segments[0]), tile 7 (...)"}.
[[nodiscard]] std::vector<ContextLine> failure_context(const ReadFailure& failure,
                                                       const PackageModel* model);

// {"stage": "blobs", "element": "blobs[1].digest", "message": "Invalid(...)",
//  "details": [{"name": "compression", "value": "none"}, ...]}; the element
// is null for a failure of the message as a whole.
[[nodiscard]] Json failure_json(const ReadFailure& failure);

}  // namespace zem::toolkit
