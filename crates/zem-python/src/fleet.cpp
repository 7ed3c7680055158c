#include "fleet.hpp"

#include <pybind11/stl.h>

#include <fmt/format.h>

#include "conversions.hpp"
#include "format/record_json.hpp"

namespace zem::python {
namespace {

// A tile that fails on one device only, with that device's name.
struct PyOneDeviceTile {
  OneDeviceTile tile;
  std::string name;
};

std::string repr_of(std::string_view value) { return py::repr(text(value)).cast<std::string>(); }

py::object optional_text(std::string_view value) {
  return value.empty() ? py::none() : py::object(text(value));
}

py::list one_device_tiles(const FleetMatrix& matrix) {
  py::list list;
  for (const OneDeviceTile& tile : matrix.on_one_device) {
    list.append(PyOneDeviceTile{tile, matrix.devices[tile.device]});
  }
  return list;
}

py::list device_names(const FleetMatrix& matrix) {
  py::list list;
  for (const std::string& name : matrix.devices) list.append(text(name));
  return list;
}

// A device's entry of `verify --json`, under its name.
Json fleet_device_json(const PyFleetDevice& device) {
  const PyDevice& d = device.result;
  return device_json(d.result, device.name, d.records ? Json(*d.records) : Json(),
                     d.without_setup.size(), d.package->model(), d.max);
}

}  // namespace

std::string device_name(const py::handle& name) {
  if (!py::isinstance<py::str>(name)) {
    throw py::type_error(
        fmt::format("a device's name is a str, not {}",
                    py::str(py::type::handle_of(name).attr("__name__")).cast<std::string>()));
  }
  std::string bytes = name.attr("encode")("utf-8", "surrogateescape").cast<std::string>();
  if (bytes.empty()) throw py::value_error("a device's name is empty");
  return bytes;
}

void bind_fleet(py::module_& module) {
  py::class_<MatrixCell>(module, "MatrixCell",
                         "One device's cell in a row of a FleetMatrix: the tile's status and "
                         "its strongest hint on that device.")
      .def_readonly("verified", &MatrixCell::verified,
                    "Whether the device verified the tile; the rest is None or empty if not.")
      .def_property_readonly(
          "status",
          [](const MatrixCell& c) -> py::object {
            return c.verified ? py::object(py::str(status_name(c.status))) : py::none();
          },
          "'match', 'differ', 'missing', 'unreadable' or 'failed'.")
      .def_property_readonly(
          "hint", [](const MatrixCell& c) { return optional_text(c.hint); },
          "The kind of the tile's strongest hint, or None.")
      .def_property_readonly(
          "code", [](const MatrixCell& c) { return text(c.code); },
          "The status's code, then ':' and the hint's: 'D:bs', 'M', '.'; empty when not "
          "verified.")
      .def(
          "to_dict", [](const MatrixCell& c) { return from_json(matrix_cell_json(c)); },
          "The cell as `acrossDevices` of `zem-package verify --json` holds it (None when the "
          "device did not verify the tile).")
      .def("__repr__", [](const MatrixCell& c) {
        return c.verified ? fmt::format("MatrixCell(code={})", repr_of(c.code))
                          : std::string("MatrixCell(verified=False)");
      });

  py::class_<MatrixRow>(module, "MatrixRow", "A tile that does not match on some device.")
      .def_readonly("physical_tile", &MatrixRow::physical_tile)
      .def_readonly("cells", &MatrixRow::cells, "A MatrixCell per device, in the devices' order.")
      .def_readonly("failing", &MatrixRow::failing, "The devices on which it does not match.")
      .def(
          "to_dict", [](const MatrixRow& r) { return from_json(matrix_row_json(r)); },
          "The row as `acrossDevices` of `zem-package verify --json` holds it.")
      .def("__repr__", [](const MatrixRow& r) {
        std::string codes;
        for (const MatrixCell& cell : r.cells) {
          codes += fmt::format("{}{}", codes.empty() ? "" : ", ",
                               repr_of(cell.verified ? cell.code : "-"));
        }
        return fmt::format("MatrixRow(physical_tile={}, cells=[{}])", r.physical_tile, codes);
      });

  py::class_<LegendEntry>(module, "LegendEntry", "What a code in a FleetMatrix stands for.")
      .def_property_readonly("code", [](const LegendEntry& e) { return text(e.code); })
      .def_property_readonly(
          "meaning", [](const LegendEntry& e) { return text(e.meaning); },
          "A status's name or a hint's kind.")
      .def(
          "to_dict", [](const LegendEntry& e) { return from_json(legend_entry_json(e)); },
          "The entry as `acrossDevices` of `zem-package verify --json` holds it.")
      .def("__repr__", [](const LegendEntry& e) {
        return fmt::format("LegendEntry(code={}, meaning={})", repr_of(e.code), repr_of(e.meaning));
      });

  py::class_<PyOneDeviceTile>(module, "OneDeviceTile",
                              "A tile that does not match on exactly one device, though another "
                              "verified it.")
      .def_property_readonly("physical_tile",
                             [](const PyOneDeviceTile& t) { return t.tile.physical_tile; })
      .def_property_readonly(
          "device", [](const PyOneDeviceTile& t) { return t.tile.device; },
          "The device's position in FleetMatrix.devices.")
      .def_property_readonly(
          "name", [](const PyOneDeviceTile& t) { return text(t.name); }, "The device's name.")
      .def(
          "to_dict",
          [](const PyOneDeviceTile& t) { return from_json(one_device_tile_json(t.tile, t.name)); },
          "The entry as `acrossDevices` of `zem-package verify --json` holds it.")
      .def("__repr__", [](const PyOneDeviceTile& t) {
        return fmt::format("OneDeviceTile(physical_tile={}, device={}, name={})",
                           t.tile.physical_tile, t.tile.device, repr_of(t.name));
      });

  py::class_<FleetMatrix>(module, "FleetMatrix",
                          "Devices side by side: a row per tile that does not match on some "
                          "device, a column per device.")
      .def_property_readonly("devices", &device_names, "The devices' names, a column each.")
      .def_readonly("rows", &FleetMatrix::rows, "A MatrixRow per tile, in tile number order.")
      .def_readonly("legend", &FleetMatrix::legend, "A LegendEntry per code the rows use.")
      .def_readonly("on_every_device", &FleetMatrix::on_every_device,
                    "With two devices or more, the tiles that match on none, each verified on "
                    "every device.")
      .def_property_readonly("on_one_device", &one_device_tiles,
                             "With two devices or more, a OneDeviceTile per tile that does not "
                             "match on exactly one device.")
      .def(
          "to_dict", [](const FleetMatrix& m) { return from_json(fleet_matrix_json(m)); },
          "`acrossDevices` of `zem-package verify --json`.")
      .def("__repr__", [](const FleetMatrix& m) {
        return fmt::format("FleetMatrix(devices={}, rows={}, on_every_device={}, on_one_device={})",
                           py::repr(device_names(m)).cast<std::string>(), m.rows.size(),
                           m.on_every_device.size(), m.on_one_device.size());
      });

  py::class_<PyFleetDevice>(module, "FleetDevice", "One device of a Fleet.")
      .def_property_readonly("name", [](const PyFleetDevice& d) { return text(d.name); })
      .def_property_readonly(
          "result",
          [](const py::object& self) {
            return py::cast(&self.cast<const PyFleetDevice&>().result,
                            py::return_value_policy::reference_internal, self);
          },
          "Its DeviceResult.")
      .def(
          "to_dict", [](const PyFleetDevice& d) { return from_json(fleet_device_json(d)); },
          "The device's entry of `zem-package verify --json`, with its name.")
      .def("__repr__", [](const PyFleetDevice& d) {
        return fmt::format("FleetDevice(name={}, all_match={})", repr_of(d.name),
                           d.result.result.all_match() ? "True" : "False");
      });

  py::class_<PyFleet>(module, "Fleet", "Devices verified together against one package.")
      .def_property_readonly(
          "devices",
          [](const py::object& self) {
            py::list list;
            for (const PyFleetDevice& device : self.cast<const PyFleet&>().devices) {
              list.append(py::cast(&device, py::return_value_policy::reference_internal, self));
            }
            return list;
          },
          "A FleetDevice per device, in the order given.")
      .def_property_readonly(
          "matrix",
          [](const py::object& self) {
            return py::cast(&self.cast<const PyFleet&>().matrix,
                            py::return_value_policy::reference_internal, self);
          },
          "The devices side by side, a FleetMatrix.")
      .def(
          "to_dict",
          [](const PyFleet& f) {
            Json devices = Json::array();
            for (const PyFleetDevice& device : f.devices) {
              devices.push_back(fleet_device_json(device));
            }
            return from_json(Json{{"devices", std::move(devices)},
                                  {"acrossDevices", fleet_matrix_json(f.matrix)}});
          },
          "`devices` and `acrossDevices` of `zem-package verify --json`.")
      .def("__repr__", [](const PyFleet& f) {
        std::size_t matching = 0;
        for (const PyFleetDevice& device : f.devices) {
          if (device.result.result.all_match()) ++matching;
        }
        return fmt::format("Fleet(devices={}, matching={}, rows={})", f.devices.size(), matching,
                           f.matrix.rows.size());
      });

  module.def(
      "fleet_matrix",
      [](const py::object& results) {
        if (py::isinstance<py::str>(results) || !py::hasattr(results, "items")) {
          throw py::type_error("fleet_matrix takes a mapping from device names to DeviceResult");
        }
        std::vector<std::string> names;
        std::vector<DeviceResult> devices;
        for (const py::handle item : results.attr("items")()) {
          const auto pair = item.cast<py::tuple>();
          names.push_back(device_name(pair[0]));
          if (!py::isinstance<PyDevice>(pair[1])) {
            throw py::type_error(fmt::format("the result of device {} is not a DeviceResult",
                                             py::repr(pair[0]).cast<std::string>()));
          }
          devices.push_back(pair[1].cast<const PyDevice&>().result);
        }
        return fleet_matrix(names, devices);
      },
      py::arg("results"),
      "The FleetMatrix of devices verified separately (with Package.verify, on other machines "
      "or at other times): `results` maps each device's name to its DeviceResult, in the "
      "order of the columns.");
}

}  // namespace zem::python
