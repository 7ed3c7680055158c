#pragma once

#include <pybind11/pybind11.h>

namespace zem::python {

namespace py = pybind11;

// `read`, `Package` and `TileMemory`.
void bind_package(py::module_& module);

}  // namespace zem::python
