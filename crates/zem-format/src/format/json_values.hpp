#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

#include "zem_package/read_failure.hpp"

namespace zem {

// Every JSON document of zem-package keeps its keys in the order they were
// written.
using Json = nlohmann::ordered_json;

// A 64-bit quantity of the model (a size, an offset) as a decimal string:
// JSON readers that hold numbers as doubles lose precision past 2^53.
[[nodiscard]] Json json_u64(std::uint64_t value);

// An address as every output writes it, "0x4c000".
[[nodiscard]] Json json_address(std::uint64_t address);

// A word of a record or of tile memory, as text shows it too: "0x000001c8".
[[nodiscard]] Json json_word(std::uint32_t word);

// A failure's detail: its name and its value under the key of its kind,
// {"name": "stored size", "number": "256"}, so that each key holds one kind
// of value: "number" (a decimal string), "address" ("0x190"), "text",
// "compression", "digest" (hex) or "element" (a path).
[[nodiscard]] Json detail_json(const FailureDetail& detail);

// The key of a stage in JSON: camelCase like every other key ("buildDigest").
[[nodiscard]] std::string stage_key(ReadStage stage);

// The document as text, indented, ending in a newline. Bytes that are not
// UTF-8 (a path is taken as the system gives it) are replaced, so the output
// is always valid JSON.
[[nodiscard]] std::string json_text(const Json& document);

}  // namespace zem
