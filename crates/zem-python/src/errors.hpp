#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "zem_package/read_failure.hpp"

namespace zem::python {

namespace py = pybind11;

// Defines `ReadError` (a subclass of ValueError) and `Failure` in `module`.
void bind_errors(py::module_& module);

// A failure as a Python `Failure`: kind, error, stage, element, details.
[[nodiscard]] py::object failure_object(const ReadFailure& failure);

// Raises `ReadError` for `failure`, with the failure's values as attributes.
[[noreturn]] void raise_read_error(const ReadFailure& failure);

// Raises OSError for the system's error `errnum` on `path`.
[[noreturn]] void raise_os_error(int errnum, const py::handle& path);

}  // namespace zem::python
