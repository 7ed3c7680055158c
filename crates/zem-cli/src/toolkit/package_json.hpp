#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "toolkit/package_view.hpp"

namespace zem::toolkit {

// The JSON document of `inspect --json`. Keys are camelCase, always present
// for a part that could be read, and in a fixed order; addresses are strings
// of the form "0x4c000"; digests are lowercase hexadecimal strings. The top
// level always holds "format", "package", "valid", "checks" and "error"
// (null for a valid package, else the failing stage and the library's error
// text); the contents follow when the package's message could be read.
[[nodiscard]] nlohmann::ordered_json inspection_json(const Inspection& inspection);

// The document as text, indented, ending in a newline. Bytes that are not
// UTF-8 (a path is taken as the system gives it) are replaced, so the output
// is always valid JSON.
[[nodiscard]] std::string json_text(const nlohmann::ordered_json& document);

}  // namespace zem::toolkit
