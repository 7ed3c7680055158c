#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "zem_package/device_check.hpp"
#include "zem_package/package.hpp"
#include "zem_package/record_diff.hpp"

namespace zem::python {

namespace py = pybind11;

// A record compared with the one its tile expects, with the package it was
// checked against, which its explanations name.
struct PyDiff {
  std::shared_ptr<const Package> package;
  ExpectedRecord expected;
  RecordDiff diff;
  std::size_t max = 8;
};

// A device's verdicts, with the package and what named its records.
struct PyDevice {
  std::shared_ptr<const Package> package;
  DeviceResult result;
  std::optional<std::string> records;  // the pattern, when the records came from files
  std::vector<std::uint32_t> without_setup;
  std::size_t max = 8;
};

// Defines Difference, Hint, Diff, TileVerdict, DeviceResult and Summary:
// read-only objects with the record checks' values, each with `to_dict`,
// the JSON document the tools write for it.
void bind_records(py::module_& module);

}  // namespace zem::python
