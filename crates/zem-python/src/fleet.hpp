#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "records.hpp"
#include "zem_package/fleet_matrix.hpp"

namespace zem::python {

namespace py = pybind11;

// One device of a fleet: its name and its verdicts.
struct PyFleetDevice {
  std::string name;
  PyDevice result;
};

// Devices checked together against one package, and their matrix.
struct PyFleet {
  std::vector<PyFleetDevice> devices;  // in the order given
  FleetMatrix matrix;
};

// A device's name from Python: a str that is not empty, as the bytes the
// library keeps (surrogate escapes turned back into the bytes they stand
// for); a clear TypeError or ValueError otherwise.
[[nodiscard]] std::string device_name(const py::handle& name);

// Defines MatrixCell, MatrixRow, LegendEntry, OneDeviceTile, FleetMatrix,
// FleetDevice and Fleet, read-only, each with `to_dict`, its part of the
// tools' JSON documents; and `fleet_matrix`, the matrix of devices verified
// separately.
void bind_fleet(py::module_& module);

}  // namespace zem::python
