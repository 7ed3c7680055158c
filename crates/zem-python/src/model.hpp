#pragma once

#include <pybind11/pybind11.h>

namespace zem::python {

namespace py = pybind11;

// The model's records as read-only Python classes: Blob, Segment, Tile,
// RegionSlice, Binding, HostPage, HostPageRef, HostCall, HostExchange,
// EntryPoint, DeviceConfigWrite and TemplateSetup. Their lists hold
// references into the package that holds them, which they keep alive.
void bind_model(py::module_& module);

}  // namespace zem::python
