#pragma once

#include "toolkit/inspect/inspection.hpp"
#include "format/json_values.hpp"

namespace zem::toolkit {

// Version of the JSON document that `inspect --json` writes. Raised whenever
// a key is renamed or removed, or a value changes its type.
inline constexpr int inspect_json_format = 4;

// The JSON document of `inspect --json`. Keys are camelCase, always present
// for a part that could be read, and in a fixed order; addresses are strings
// of the form "0x4c000"; 64-bit sizes and offsets are decimal strings;
// digests are lowercase hexadecimal strings. The top level always holds
// "format", "package", "valid", "checks", "error" (null for a valid package,
// else the first failure: its stage, element, the library's error text and
// details) and "failures" (every failure, in read order); the contents and
// the notes follow when the package's framing and header could be read.
[[nodiscard]] Json inspection_json(const Inspection& inspection);

}  // namespace zem::toolkit
