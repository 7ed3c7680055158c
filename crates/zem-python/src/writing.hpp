#pragma once

#include <pybind11/pybind11.h>

namespace zem::python {

namespace py = pybind11;

// `unpack`, `pack` and `repack`: packages written by the library.
void bind_writing(py::module_& module);

}  // namespace zem::python
