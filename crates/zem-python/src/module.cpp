// The Python module zem_package: the library's reads and record checks for
// Python scripts, a thin layer with no logic of its own.

#include <pybind11/pybind11.h>

#include "errors.hpp"
#include "fleet.hpp"
#include "model.hpp"
#include "package.hpp"
#include "records.hpp"
#include "writing.hpp"

#ifndef ZEM_VERSION
#error "ZEM_VERSION must name the project's version"
#endif

PYBIND11_MODULE(zem_package, module) {
  module.doc() =
      "Application packages from Python: read and check a package, look at its model, its "
      "blobs and tiles, and check device records against it.";
  module.attr("__version__") = ZEM_VERSION;
  zem::python::bind_errors(module);
  zem::python::bind_model(module);
  zem::python::bind_records(module);
  zem::python::bind_fleet(module);
  zem::python::bind_package(module);
  zem::python::bind_writing(module);
}
