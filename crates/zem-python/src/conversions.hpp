#pragma once

// Conversions between the library's values and Python's, shared by the
// module's files.

#include <pybind11/pybind11.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <span>
#include <string>

#include "zem_package/read_failure.hpp"

namespace zem::python {

namespace py = pybind11;

// A text of the library as a Python str. Texts the library quotes from a
// file may hold bytes that are not UTF-8; they stand as surrogate escapes,
// so that `text.encode("utf-8", "surrogateescape")` gives the exact bytes.
[[nodiscard]] py::str text(std::string_view text);

// A JSON document of the tools as the Python values it stands for: dicts,
// lists, str, int, bool, float and None.
[[nodiscard]] py::object from_json(const nlohmann::ordered_json& json);

// Bytes that Python owns, copied.
[[nodiscard]] py::bytes to_bytes(std::span<const std::uint8_t> bytes);

// A failure's details by name, each a typed value: an int for a number or
// an address, bytes for a digest, str for a text, a compression name or an
// element path.
[[nodiscard]] py::dict details_dict(const std::vector<FailureDetail>& details);

// A tile number from Python: an int from 0 to 4294967295, or a clear
// TypeError or ValueError.
[[nodiscard]] std::uint32_t tile_number(const py::handle& tile);

// A `threads` argument: None for the processors this process may run on,
// or an int from 1 to 256 (each thread keeps a buffer as large as the
// largest blob, so the count bounds the memory); a clear TypeError or
// ValueError otherwise.
[[nodiscard]] unsigned threads_of(const py::object& threads);

// The bytes of a bytes-like object, copied, or a TypeError naming `what`.
[[nodiscard]] std::vector<std::uint8_t> bytes_like(const py::handle& object, const char* what);

}  // namespace zem::python
