#include "package.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <fmt/format.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>

#include "common/thread_count.hpp"
#include "common/tile_lookup.hpp"
#include "conversions.hpp"
#include "errors.hpp"
#include "model_lists.hpp"
#include "record_check/device_check.hpp"
#include "format/record_json.hpp"
#include "zem_package/io.hpp"
#include "zem_package/package.hpp"

namespace zem::python {
namespace {

namespace rc = record_check;

// A package as Python holds it: checked, or surveyed with its failures.
struct Package {
  std::optional<Package> checked;
  std::optional<Package> survey;  // a survey that met failures

  [[nodiscard]] const Package& reading() const {
    return checked ? checked->reading() : *survey;
  }
  [[nodiscard]] const PackageModel& model() const { return reading().model(); }

  // The checked package, for what only a valid package can answer.
  [[nodiscard]] const Package& valid() const {
    if (!checked) raise_read_error(survey->failures().front());
    return *checked;
  }
};

// One tile's memory; its image is lent to Python as a read-only buffer.
struct PyTileMemory {
  TileMemory memory;
};

unsigned threads_of(const py::object& threads) {
  if (threads.is_none()) {
    auto count = cli::thread_count(std::getenv("ZEM_THREADS"));
    if (!count) throw py::value_error("ZEM_THREADS: " + count.error().message);
    return *count;
  }
  if (!py::isinstance<py::int_>(threads) || py::isinstance<py::bool_>(threads)) {
    throw py::type_error("threads must be an int or None");
  }
  const auto value = threads.cast<long long>();
  if (value < 1 || value > static_cast<long long>(cli::thread_limit)) {
    throw py::value_error(fmt::format("threads is from 1 to {}, not {}", cli::thread_limit, value));
  }
  return static_cast<unsigned>(value);
}

Package finish(ReadResult<Package> reading) {
  if (!reading) raise_read_error(reading.error());
  Package package;
  if (!reading->failures().empty()) {
    package.survey = std::move(*reading);
    return package;
  }
  std::optional<ReadResult<Package>> checked;
  {
    py::gil_scoped_release released;
    checked.emplace(Package::complete(std::move(*reading)));
  }
  if (!*checked) raise_read_error(checked->error());
  package.checked.emplace(std::move(**checked));
  return package;
}

Package read_file(io::FileDescriptor fd, const ReadOptions& options) {
  ReadResult<Package> reading = std::unexpected(ReadFailure{});
  {
    py::gil_scoped_release released;
    reading = Package::read(std::move(fd), options);
  }
  return finish(std::move(reading));
}

Package read_path(const py::object& source, const ReadOptions& options) {
  const py::object path = py::module_::import("os").attr("fsencode")(source);
  const std::string bytes = path.cast<std::string>();
  auto file = io::open_regular_file(bytes.c_str());
  if (!file) {
    const io::FileError& error = file.error();
    if (error.not_regular()) {
      throw py::value_error(fmt::format("{} is {}, not a package file",
                                        py::repr(source).cast<std::string>(),
                                        io::describe(error.type)));
    }
    raise_os_error(error.os_error, source);
  }
  return read_file(std::move(file->fd), options);
}

// A binary file object: read from its descriptor where it has one, from the
// position it stands at, and left just past the message; otherwise through
// its `read`.
Package read_file_object(const py::object& file, const ReadOptions& options) {
  if (py::hasattr(file, "closed") && file.attr("closed").cast<bool>()) {
    throw py::value_error("the file object is closed");
  }
  std::optional<int> descriptor;
  try {
    if (py::hasattr(file, "fileno") && file.attr("seekable")().cast<bool>()) {
      descriptor = file.attr("fileno")().cast<int>();
    }
  } catch (const py::error_already_set&) {
    descriptor.reset();  // an object in memory has no descriptor
  }
  if (descriptor) {
    const auto position = file.attr("tell")().cast<long long>();
    const int fd = ::fcntl(*descriptor, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) raise_os_error(errno, py::none());
    if (::lseek(fd, static_cast<off_t>(position), SEEK_SET) < 0) {
      const int errnum = errno;
      ::close(fd);
      raise_os_error(errnum, py::none());
    }
    Package package = read_file(io::FileDescriptor(fd), options);
    file.attr("seek")(position + static_cast<long long>(package.reading().message_size()));
    return package;
  }
  const py::object data = file.attr("read")();
  if (!PyObject_CheckBuffer(data.ptr()) || py::isinstance<py::str>(data)) {
    throw py::type_error("the file object must be opened in binary mode");
  }
  const std::vector<std::uint8_t> bytes = bytes_like(data, "the data read");
  ReadResult<Package> reading = std::unexpected(ReadFailure{});
  {
    py::gil_scoped_release released;
    reading = Package::read(bytes, options);
  }
  return finish(std::move(reading));
}

Package read(const py::object& source, const py::object& threads, bool survey) {
  const ReadOptions options{threads_of(threads), survey ? ReadMode::survey : ReadMode::strict};
  const py::object path_like = py::module_::import("os").attr("PathLike");
  if (py::isinstance<py::str>(source) || py::isinstance(source, path_like)) {
    return read_path(source, options);
  }
  if (PyObject_CheckBuffer(source.ptr())) {
    const std::vector<std::uint8_t> bytes = bytes_like(source, "the package");
    ReadResult<Package> reading = std::unexpected(ReadFailure{});
    {
      py::gil_scoped_release released;
      reading = Package::read(bytes, options);
    }
    return finish(std::move(reading));
  }
  if (py::hasattr(source, "read")) return read_file_object(source, options);
  throw py::type_error(fmt::format(
      "a package is read from a path, a bytes-like object or a binary file object, not {}",
      py::str(py::type::handle_of(source).attr("__name__")).cast<std::string>()));
}

// What the tools say when a tile cannot be had, as a Python LookupError.
[[noreturn]] void raise_lookup(const std::string& message) {
  PyErr_SetString(PyExc_LookupError, message.c_str());
  throw py::error_already_set();
}

TileMemory tile_memory_of(const Package& package, std::uint32_t tile) {
  ReadResult<TileMemory> memory = std::unexpected(TileMemoryError{});
  {
    py::gil_scoped_release released;
    memory = package.reading().tile_memory(tile);
  }
  if (!memory) {
    const cli::Failure failure =
        cli::tile_memory_failure(memory.error(), tile, "cannot rebuild the tile image");
    if (memory.error().kind == TileMemoryError::Kind::image) throw py::value_error(failure.message);
    raise_lookup(failure.message);
  }
  return std::move(*memory);
}

// The record a tile expects, or none for a tile without a template setup;
// any other failure of the verifier's stages is a ValueError.
std::optional<rc::ExpectedRecord> expected_of(const Package& package, std::uint32_t tile) {
  static_cast<void>(package.valid());
  const TileMemory memory = tile_memory_of(package, tile);
  auto expected = rc::expected_record(memory);
  if (!expected) {
    if (expected.error().message == "template setup was not found") return std::nullopt;
    throw py::value_error(expected.error().message);
  }
  return std::move(*expected);
}

// The records of a device: read from a pattern's paths, or taken from a
// mapping of tile numbers to bytes.
rc::RecordSource record_source(const py::object& records,
                               std::map<std::uint32_t, std::vector<std::uint8_t>>& held) {
  if (py::isinstance<py::str>(records)) {
    const std::string pattern = records.cast<std::string>();
    if (pattern.find("{tile}") == std::string::npos) {
      throw py::value_error("a record pattern names each tile with {tile}");
    }
    return [pattern](std::uint32_t tile, std::uint64_t limit) {
      std::string path = pattern;
      const std::string number = fmt::format("{}", tile);
      for (std::size_t at = path.find("{tile}"); at != std::string::npos;
           at = path.find("{tile}", at + number.size())) {
        path.replace(at, 6, number);
      }
      return rc::read_record(path, limit);
    };
  }
  if (!py::isinstance<py::dict>(records) && !py::hasattr(records, "items")) {
    throw py::type_error("records are a mapping from tile numbers to bytes, or a pattern str");
  }
  for (const py::handle item : records.attr("items")()) {
    const auto pair = item.cast<py::tuple>();
    held[tile_number(pair[0])] = bytes_like(pair[1], "a record");
  }
  return [&held](std::uint32_t tile, std::uint64_t limit) {
    rc::RecordInput input;
    const auto found = held.find(tile);
    if (found == held.end()) {
      input.status = rc::RecordInput::Status::missing;
      return input;
    }
    const std::vector<std::uint8_t>& bytes = found->second;
    input.size = bytes.size();
    input.longer = bytes.size() > limit;
    input.bytes.assign(
        bytes.begin(),
        bytes.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(limit, bytes.size())));
    return input;
  };
}

std::size_t max_of(const py::object& max) {
  const auto value = max.cast<long long>();
  if (value < 0) throw py::value_error("max is a count, 0 or more");
  return static_cast<std::size_t>(value);
}

}  // namespace

void bind_package(py::module_& module) {
  py::class_<PyTileMemory>(module, "TileMemory", py::buffer_protocol(),
                           "One tile's memory as the package loads it: byte 0 of `image` stands "
                           "at `load_base`.")
      .def_property_readonly("physical_tile",
                             [](const PyTileMemory& m) { return m.memory.physical_tile; })
      .def_property_readonly("load_base", [](const PyTileMemory& m) { return m.memory.load_base; })
      .def_property_readonly(
          "image", [](const py::object& self) { return py::memoryview(self); },
          "The image as a read-only memoryview; it copies nothing and keeps this object alive.")
      .def_buffer([](PyTileMemory& m) {
        return py::buffer_info(m.memory.bytes.data(), 1,
                               py::format_descriptor<std::uint8_t>::format(), 1,
                               {m.memory.bytes.size()}, {1}, /*readonly=*/true);
      })
      .def("__len__", [](const PyTileMemory& m) { return m.memory.bytes.size(); })
      .def("__repr__", [](const PyTileMemory& m) {
        return fmt::format("TileMemory(physical_tile={}, load_base=0x{:x}, bytes={})",
                           m.memory.physical_tile, m.memory.load_base, m.memory.bytes.size());
      });

  py::class_<Package, std::shared_ptr<Package>>(
      module, "Package",
      "A package read by zem_package.read: its model, as read-only objects, and what can be "
      "asked of it. It holds the package's message, not its blobs' contents, which are "
      "decompressed again when asked for.")
      .def_property_readonly(
          "valid", [](const Package& p) { return p.checked.has_value(); },
          "Whether the package passed every check.")
      .def_property_readonly(
          "failures",
          [](const Package& p) {
            py::list list;
            for (const ReadFailure& failure : p.reading().failures()) {
              list.append(failure_object(failure));
            }
            return list;
          },
          "What a survey met, in read order; empty for a valid package.")
      .def_property_readonly("compiler", [](const Package& p) { return p.model().compiler; })
      .def_property_readonly(
          "build_digest", [](const Package& p) { return to_bytes(p.model().build_digest()); },
          "The build digest of the model, 32 bytes; a valid package stores this one.")
      .def_property_readonly("blobs",
                             [](const py::object& self) {
                               return reference_list(self.cast<const Package&>().model().blobs,
                                                     self);
                             })
      .def_property_readonly("tiles",
                             [](const py::object& self) {
                               return reference_list(self.cast<const Package&>().model().tiles,
                                                     self);
                             })
      .def_property_readonly("bindings_1",
                             [](const py::object& self) {
                               return reference_list(self.cast<const Package&>().model().bindings_1,
                                                     self);
                             })
      .def_property_readonly("bindings_2",
                             [](const py::object& self) {
                               return reference_list(self.cast<const Package&>().model().bindings_2,
                                                     self);
                             })
      .def_property_readonly("bindings_3",
                             [](const py::object& self) {
                               return reference_list(self.cast<const Package&>().model().bindings_3,
                                                     self);
                             })
      .def_property_readonly("host_exchange",
                             [](const py::object& self) {
                               return py::cast(&self.cast<const Package&>().model().host_exchange,
                                               py::return_value_policy::reference_internal, self);
                             })
      .def_property_readonly("entry_points",
                             [](const py::object& self) {
                               return reference_list(
                                   self.cast<const Package&>().model().entry_points, self);
                             })
      .def_property_readonly("device_config_writes",
                             [](const py::object& self) {
                               return reference_list(
                                   self.cast<const Package&>().model().device_config_writes, self);
                             })
      .def(
          "blob_contents",
          [](const Package& p, const py::handle& blob) {
            if (!py::isinstance<py::int_>(blob)) throw py::type_error("a blob position is an int");
            const auto index = blob.cast<long long>();
            if (index < 0 || static_cast<std::uint64_t>(index) >= p.model().blobs.size()) {
              PyErr_SetString(PyExc_IndexError, fmt::format("no blob {}: the package has {}", index,
                                                            p.model().blobs.size())
                                                    .c_str());
              throw py::error_already_set();
            }
            Result<ByteBuffer> contents = std::unexpected(PackageError{});
            {
              py::gil_scoped_release released;
              contents = p.reading().blob_contents(static_cast<std::size_t>(index));
            }
            if (!contents) throw py::value_error(contents.error().to_string());
            return to_bytes(contents->bytes());
          },
          py::arg("blob"), "The contents of the blob at this position of `blobs`, as bytes.")
      .def(
          "tile_memory",
          [](const Package& p, const py::handle& tile) {
            return PyTileMemory{tile_memory_of(p, tile_number(tile))};
          },
          py::arg("tile"), "The memory of the tile with this physical tile number.")
      .def(
          "template_setup",
          [](const Package& p, const py::handle& tile) -> py::object {
            const TileMemory memory = tile_memory_of(p, tile_number(tile));
            auto setup = template_record::locate_template_setup(memory.bytes);
            return setup ? py::cast(*setup) : py::none();
          },
          py::arg("tile"), "The tile's template setup, or None when it has none.")
      .def(
          "expected_record",
          [](const Package& p, const py::handle& tile) -> py::object {
            const std::optional<rc::ExpectedRecord> expected = expected_of(p, tile_number(tile));
            if (!expected) throw py::value_error("template setup was not found");
            return to_bytes(rc::record_bytes(expected->words.words));
          },
          py::arg("tile"),
          "The record a device loaded with this tile holds: little-endian 32-bit words.")
      .def(
          "diff",
          [](const Package& p, const py::handle& tile, const py::handle& record,
             const py::object& max) {
            const std::uint32_t number = tile_number(tile);
            rc::RecordInput input;
            input.bytes = bytes_like(record, "a record");
            input.size = input.bytes.size();
            const std::optional<rc::ExpectedRecord> expected = expected_of(p, number);
            if (!expected) throw py::value_error("template setup was not found");
            const std::size_t limit = max_of(max);
            const AddressOwners owners(p.model());
            rc::RecordDiff diff;
            {
              py::gil_scoped_release released;
              diff = rc::diff_record(*expected, input, {limit, &owners, nullptr});
            }
            rc::Json document{{"physicalTile", number}};
            document.update(rc::record_diff_json(diff, p.model(), limit));
            return from_json(document);
          },
          py::arg("tile"), py::arg("record"), py::kw_only(), py::arg("max") = 8,
          "The record compared with the one the tile expects, as `zem-package diff --json` "
          "explains it: a dict.")
      .def(
          "verify",
          [](const Package& p, const py::object& records, const py::object& tiles,
             const py::object& max, const py::object& threads) {
            const Package& checked = p.valid();
            std::vector<std::uint32_t> chosen;
            if (!tiles.is_none()) {
              for (const py::handle tile : tiles) chosen.push_back(tile_number(tile));
            }
            std::map<std::uint32_t, std::vector<std::uint8_t>> held;
            const rc::RecordSource source = record_source(records, held);
            const std::size_t limit = max_of(max);
            const unsigned count = threads_of(threads);
            std::optional<cli::Outcome<rc::DeviceCheck>> check;
            std::vector<rc::TileVerdict> verdicts;
            {
              py::gil_scoped_release released;
              check = rc::DeviceCheck::prepare(checked, chosen, count);
              if (*check) verdicts = (*check)->verify(source, limit, count);
            }
            if (!*check) raise_lookup(check->error().message);
            const rc::Json label = py::isinstance<py::str>(records)
                                       ? rc::Json(records.cast<std::string>())
                                       : rc::Json();
            rc::Json device = rc::device_json(**check, verdicts, label, checked.model(), limit);
            device["noTemplateSetup"] = rc::tiles_json((*check)->tiles_without_setup());
            return from_json(device);
          },
          py::arg("records"), py::kw_only(), py::arg("tiles") = py::none(), py::arg("max") = 8,
          py::arg("threads") = py::none(),
          "Every tile with a template setup (or those of `tiles`) against a device's records: "
          "a mapping from tile numbers to bytes, or a path pattern with {tile}. Returns the "
          "device's entry of `zem-package verify --json`: a dict.")
      .def("__repr__", [](const Package& p) {
        return fmt::format(
            "<zem_package.Package compiler={} tiles={} blobs={}{}>",
            py::repr(py::str(p.model().compiler)).cast<std::string>(), p.model().tiles.size(),
            p.model().blobs.size(),
            p.checked ? "" : fmt::format(" failures={}", p.reading().failures().size()));
      });

  module.def(
      "read",
      [](const py::object& source, const py::object& threads, bool survey) {
        return std::make_shared<Package>(read(source, threads, survey));
      },
      py::arg("source"), py::kw_only(), py::arg("threads") = py::none(), py::arg("survey") = false,
      "Reads and checks a package from a path (str or os.PathLike), a bytes-like object or a "
      "binary file object. A package that fails raises ReadError; an operating-system failure, "
      "OSError. With survey=True a broken package is read as far as it can be, and its "
      "failures are listed. threads=None uses what the tools use: ZEM_THREADS, or the "
      "processors this process may run on, at most 16.");
}

}  // namespace zem::python
