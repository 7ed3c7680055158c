#include "errors.hpp"

#include <fmt/format.h>

#include <cerrno>

#include "conversions.hpp"

namespace zem::python {
namespace {

// Why and where a read failed, as Python values.
struct Failure {
  py::str kind;
  py::str error;
  py::str stage;
  py::str element;
  py::dict details;
};

Failure failure_of(const ReadFailure& failure) {
  return Failure{text(failure.error.kind_name()), text(failure.error.to_string()),
                 text(stage_name(failure.stage)), text(failure.element.to_string()),
                 details_dict(failure.details)};
}

// The module's ReadError class, once it is defined.
py::object& read_error_class() {
  static py::object* type = nullptr;
  if (type == nullptr) type = new py::object();  // lives as long as the interpreter
  return *type;
}

}  // namespace

void bind_errors(py::module_& module) {
  read_error_class() = py::reinterpret_steal<py::object>(PyErr_NewExceptionWithDoc(
      "zem_package.ReadError",
      "A package that cannot be read or does not pass its checks.\n\n"
      "Attributes: kind ('Capnp', 'Io', 'Utf8', 'SchemaEnum' or 'Invalid'), error (the\n"
      "library's exact error text), stage ('framing', 'header', 'blobs', 'structure',\n"
      "'validation' or 'build digest'), element (the path of the failing element, such\n"
      "as 'tiles[3].segments[1]'; empty for the message as a whole) and details (a dict\n"
      "of the values that identify the element or broke the rule: ints, bytes for\n"
      "digests, str).",
      PyExc_ValueError, nullptr));
  module.attr("ReadError") = read_error_class();

  py::class_<Failure>(module, "Failure",
                      "One failure a survey met: kind, error, stage, element, details, as for "
                      "ReadError.")
      .def_readonly("kind", &Failure::kind)
      .def_readonly("error", &Failure::error)
      .def_readonly("stage", &Failure::stage)
      .def_readonly("element", &Failure::element)
      .def_readonly("details", &Failure::details)
      .def("__repr__", [](const Failure& f) {
        return py::str("Failure(stage={!r}, element={!r}, error={!r})")
            .format(f.stage, f.element, f.error);
      });
}

py::object failure_object(const ReadFailure& failure) { return py::cast(failure_of(failure)); }

void raise_read_error(const ReadFailure& failure) {
  const Failure f = failure_of(failure);
  const py::str message = failure.element.empty()
                              ? py::str("{}: {}").format(f.stage, f.error)
                              : py::str("{} at {}: {}").format(f.stage, f.element, f.error);
  py::object error = read_error_class()(message);
  error.attr("kind") = f.kind;
  error.attr("error") = f.error;
  error.attr("stage") = f.stage;
  error.attr("element") = f.element;
  error.attr("details") = f.details;
  PyErr_SetObject(read_error_class().ptr(), error.ptr());
  throw py::error_already_set();
}

void raise_os_error(int errnum, const py::handle& path) {
  // Python builds the OSError subclass that fits the number from errno.
  errno = errnum;
  PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path.ptr());
  throw py::error_already_set();
}

}  // namespace zem::python
