#pragma once

#include <pybind11/pybind11.h>

#include <vector>

namespace zem::python {

namespace py = pybind11;

// A list whose items refer to the elements of `elements`, which `owner`
// holds: nothing is copied, and each item keeps `owner` alive.
template <class T>
[[nodiscard]] py::list reference_list(const std::vector<T>& elements, const py::handle& owner) {
  py::list list(elements.size());
  for (std::size_t i = 0; i < elements.size(); ++i) {
    list[i] = py::cast(&elements[i], py::return_value_policy::reference_internal, owner);
  }
  return list;
}

}  // namespace zem::python
