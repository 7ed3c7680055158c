#include "package.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <pybind11/stl.h>

#include <fmt/format.h>

#include <cerrno>
#include <map>
#include <memory>
#include <optional>
#include <span>

#include "conversions.hpp"
#include "errors.hpp"
#include "fleet.hpp"
#include "model_lists.hpp"
#include "records.hpp"
#include "zem_package/device_check.hpp"
#include "zem_package/fleet_check.hpp"
#include "zem_package/io.hpp"
#include "zem_package/package.hpp"
#include "zem_package/record_pattern.hpp"

namespace zem::python {
namespace {

using PackagePtr = std::shared_ptr<Package>;

// One tile's memory; its image is lent to Python as a read-only buffer.
struct PyTileMemory {
  TileMemory memory;
};

// Runs one of the library's reads with the GIL released, and raises what a
// failing read says.
PackagePtr finish(const std::function<ReadResult<Package>()>& read) {
  std::optional<ReadResult<Package>> package;
  {
    py::gil_scoped_release released;
    package.emplace(read());
  }
  if (!*package) raise_read_error(package->error());
  return std::make_shared<Package>(std::move(**package));
}

// A package file that could not be opened or read: the OSError Python's
// own reads give, or a ValueError for a path that is not a regular file.
[[noreturn]] void raise_file_error(const io::FileError& error, const py::object& source) {
  if (error.not_regular()) {
    throw py::value_error(fmt::format("{} is {}, not a package file",
                                      py::repr(source).cast<std::string>(),
                                      io::describe(error.type)));
  }
  raise_os_error(error.os_error, source);
}

// What a read of `source` that failed raises.
[[noreturn]] void raise_read_failure(const ReadFailure& failure, const py::object& source) {
  if (failure.subject == FailureSubject::file) raise_file_error(*failure.file_error, source);
  raise_read_error(failure);
}

bool is_path(const py::object& source) {
  return py::isinstance<py::str>(source) ||
         py::isinstance(source, py::module_::import("os").attr("PathLike"));
}

std::string path_bytes(const py::object& source) {
  return py::module_::import("os").attr("fsencode")(source).cast<std::string>();
}

PackagePtr read_path(const py::object& source, const ReadOptions& options) {
  const std::string path = path_bytes(source);
  std::optional<ReadResult<Package>> package;
  {
    py::gil_scoped_release released;
    package.emplace(Package::read(std::filesystem::path(path), options));
  }
  if (!*package) raise_read_failure(package->error(), source);
  return std::make_shared<Package>(std::move(**package));
}

// A binary file object: read from its descriptor where it has one, from the
// position it stands at, and left just past the message; otherwise through
// its `read`.
PackagePtr read_file_object(const py::object& file, const ReadOptions& options) {
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
    PackagePtr package =
        finish([fd, &options] { return Package::read(io::FileDescriptor(fd), options); });
    file.attr("seek")(position + static_cast<long long>(package->message_size()));
    return package;
  }
  const py::object data = file.attr("read")();
  if (!PyObject_CheckBuffer(data.ptr()) || py::isinstance<py::str>(data)) {
    throw py::type_error("the file object must be opened in binary mode");
  }
  const std::vector<std::uint8_t> bytes = bytes_like(data, "the data read");
  return finish([&] { return Package::read(bytes, options); });
}

PackagePtr read(const py::object& source, const ReadOptions& options) {
  if (is_path(source)) return read_path(source, options);
  if (PyObject_CheckBuffer(source.ptr())) {
    const std::vector<std::uint8_t> bytes = bytes_like(source, "the package");
    return finish([&] { return Package::read(bytes, options); });
  }
  if (py::hasattr(source, "read")) return read_file_object(source, options);
  throw py::type_error(fmt::format(
      "a package is read from a path, a bytes-like object or a binary file object, not {}",
      py::str(py::type::handle_of(source).attr("__name__")).cast<std::string>()));
}

// A LookupError with `message`.
[[noreturn]] void raise_lookup(const std::string& message) {
  PyErr_SetString(PyExc_LookupError, message.c_str());
  throw py::error_already_set();
}

// What a tile that cannot be looked at raises: LookupError for a tile the
// package does not have (or one without segments), ValueError otherwise.
[[noreturn]] void raise_tile_failure(const ReadFailure& failure, std::uint32_t tile) {
  switch (failure.subject) {
    case FailureSubject::unknown_tile:
      raise_lookup(fmt::format("no tile has physical tile number {}", tile));
    case FailureSubject::tile_without_segments:
      raise_lookup(fmt::format("tile {} has no segments", tile));
    case FailureSubject::package:
    case FailureSubject::file:
      break;
  }
  throw py::value_error(failure.error.to_string());
}

// Whatever is asked of a package beyond its model needs it valid.
const Package& valid(const Package& package) {
  if (!package.valid()) raise_read_error(package.failures().front());
  return package;
}

TileMemory tile_memory_of(const Package& package, std::uint32_t tile) {
  std::optional<ReadResult<TileMemory>> memory;
  {
    py::gil_scoped_release released;
    memory.emplace(package.tile_memory(tile));
  }
  if (!*memory) raise_tile_failure(memory->error(), tile);
  return std::move(**memory);
}

// The record a tile expects, or none for a tile without a template setup;
// a template that cannot be gathered or patched is a ValueError.
std::optional<ExpectedRecord> expected_of(const Package& package, std::uint32_t tile) {
  const TileMemory memory = tile_memory_of(valid(package), tile);
  auto expected = expected_record(memory);
  if (!expected) throw py::value_error(to_string(expected.error()));
  return std::move(*expected);
}

ExpectedRecord expected_or_raise(const Package& package, std::uint32_t tile) {
  std::optional<ExpectedRecord> expected = expected_of(package, tile);
  if (!expected) throw py::value_error("template setup was not found");
  return std::move(*expected);
}

// The records of a device: read from a pattern's paths, or taken from a
// mapping of tile numbers to bytes, every one of which the package has.
RecordSource record_source(const Package& package, const py::object& records,
                           std::map<std::uint32_t, std::vector<std::uint8_t>>& held,
                           std::optional<std::string>& pattern) {
  if (is_path(records)) {
    pattern = path_bytes(records);
    if (const auto checked = check_record_pattern(*pattern); !checked) {
      throw py::value_error(checked.error().error == RecordPatternError::width_too_large
                                ? "a tile number in a record pattern is at most 10 digits wide"
                                : "a record pattern writes the tile number as {tile}, {tile:03}, "
                                  "{tile:x} or {tile:04x}");
    }
    if (!names_each_tile(*pattern)) {
      throw py::value_error("a record pattern names each tile with {tile}");
    }
    return pattern_records(*pattern);
  }
  if (!py::isinstance<py::dict>(records) && !py::hasattr(records, "items")) {
    throw py::type_error(
        "records are a mapping from tile numbers to bytes, or a path pattern with {tile}");
  }
  for (const py::handle item : records.attr("items")()) {
    const auto pair = item.cast<py::tuple>();
    const std::uint32_t tile = tile_number(pair[0]);
    if (find_tile(package.model().tiles, tile) == nullptr) {
      raise_lookup(fmt::format("records name tile {}, which the package does not have", tile));
    }
    held[tile] = bytes_like(pair[1], "a record");
  }
  return [&held](std::uint32_t tile, std::uint64_t limit) -> io::Result<DeviceRecord> {
    const auto found = held.find(tile);
    if (found == held.end()) {
      return std::unexpected(
          io::FileError{io::FileError::Step::open, ENOENT, io::FileType::regular});
    }
    return device_record(found->second, limit);
  };
}

// The tiles a check is asked for: every tile with a template setup for None.
std::vector<std::uint32_t> tiles_of(const py::object& tiles) {
  std::vector<std::uint32_t> chosen;
  if (!tiles.is_none()) {
    for (const py::handle tile : tiles) chosen.push_back(tile_number(tile));
  }
  return chosen;
}

// What a check that could not be prepared raises: LookupError for the first
// tile of `chosen` that the package does not have.
[[noreturn]] void raise_check_failure(const Package& package, std::span<const std::uint32_t> chosen,
                                      const ReadFailure& failure) {
  const auto at = std::ranges::find_if(chosen, [&](std::uint32_t tile) {
    return find_tile(package.model().tiles, tile) == nullptr;
  });
  raise_tile_failure(failure, at != chosen.end() ? *at : 0);
}

std::size_t max_of(const py::object& max) {
  const auto value = max.cast<long long>();
  if (value < 0) throw py::value_error("max is a count, 0 or more");
  return static_cast<std::size_t>(value);
}

// What a package pickles as: its message's bytes and how it was read.
py::tuple package_state(const Package& package) {
  return py::make_tuple(to_bytes(package.message_bytes()), package.options().threads,
                        package.options().mode == ReadMode::survey);
}

PackagePtr package_from_state(const py::tuple& state) {
  if (state.size() != 3) throw py::value_error("not the state of a pickled Package");
  const std::vector<std::uint8_t> bytes = bytes_like(state[0], "the pickled package");
  const ReadOptions options{threads_of(state[1]),
                            state[2].cast<bool>() ? ReadMode::survey : ReadMode::strict};
  return finish([&] { return Package::read(bytes, options); });
}

// What every check takes besides its records, as Python gives it: the
// tiles (every tile with a template setup when empty), how many differing
// words of each to explain, and the threads.
struct CheckSettings {
  std::vector<std::uint32_t> tiles;
  std::size_t max = 8;
  unsigned threads = 1;
};

CheckSettings settings_of(const py::object& tiles, const py::object& max,
                          const py::object& threads) {
  return {tiles_of(tiles), max_of(max), threads_of(threads)};
}

// A check of the chosen tiles, with the package it belongs to, which the
// results keep alive.
struct PreparedCheck {
  std::shared_ptr<const Package> package;
  ReadResult<DeviceCheck> check;
};

// Prepares the tiles of `settings` from a package already read: its blobs
// are decompressed again.
PreparedCheck prepare_check(const PackagePtr& package, const CheckSettings& settings) {
  valid(*package);
  std::optional<ReadResult<DeviceCheck>> check;
  {
    py::gil_scoped_release released;
    check.emplace(DeviceCheck::prepare(*package, settings.tiles, settings.threads));
  }
  return {package, std::move(*check)};
}

// Reads the package at `source`, a path or a bytes-like object, and
// prepares the tiles of `settings` in the same read, each blob decompressed
// once; raises what `read` raises for a package it refuses.
PreparedCheck read_and_prepare_check(const py::object& source, const CheckSettings& settings) {
  const ReadOptions options{settings.threads, ReadMode::strict};
  std::optional<DeviceCheckRead> read;
  if (is_path(source)) {
    const std::string path = path_bytes(source);
    std::optional<io::Result<io::RegularFile>> file;
    {
      py::gil_scoped_release released;
      file.emplace(io::open_regular_file(path.c_str()));
      if (*file) {
        read.emplace(
            DeviceCheck::read_and_prepare(std::move((*file)->fd), settings.tiles, options));
      }
    }
    if (!*file) raise_file_error(file->error(), source);
  } else if (PyObject_CheckBuffer(source.ptr())) {
    const std::vector<std::uint8_t> bytes = bytes_like(source, "the package");
    py::gil_scoped_release released;
    read.emplace(DeviceCheck::read_and_prepare(bytes, settings.tiles, options));
  } else {
    throw py::type_error(
        fmt::format("a package to verify is a path or a bytes-like object, not {}",
                    py::str(py::type::handle_of(source).attr("__name__")).cast<std::string>()));
  }
  if (!read->package) raise_read_failure(read->package.error(), source);
  return {std::shared_ptr<const Package>(std::move(*read->package)), std::move(read->check)};
}

// The devices of a fleet as Python gives them: a mapping, not empty.
py::list fleet_items(const py::object& devices) {
  if (py::isinstance<py::str>(devices) || !py::hasattr(devices, "items")) {
    throw py::type_error("devices are a mapping from device names to records");
  }
  py::list items(devices.attr("items")());
  if (items.empty()) throw py::value_error("verify_fleet needs at least one device");
  return items;
}

// One device's records, a mapping or a pattern, against a prepared check.
PyDevice verify_device(PreparedCheck prepared, const CheckSettings& settings,
                       const py::object& records) {
  std::map<std::uint32_t, std::vector<std::uint8_t>> held;
  std::optional<std::string> pattern;
  const RecordSource source = record_source(*prepared.package, records, held, pattern);
  if (!prepared.check)
    raise_check_failure(*prepared.package, settings.tiles, prepared.check.error());
  DeviceResult result;
  {
    py::gil_scoped_release released;
    result = prepared.check->verify(source, settings.max, settings.threads);
  }
  if (pattern) add_no_records_hint(result, *pattern);
  result.record_digests = {};
  const std::span<const std::uint32_t> without = prepared.check->tiles_without_setup();
  return PyDevice{std::move(prepared.package),
                  std::move(result),
                  std::move(pattern),
                  {without.begin(), without.end()},
                  settings.max};
}

// Several devices, `items` of a mapping from names to records, against a
// prepared check.
PyFleet verify_devices(PreparedCheck prepared, const CheckSettings& settings,
                       const py::list& items) {
  // Each device's records held apart, where its source finds them.
  std::vector<std::map<std::uint32_t, std::vector<std::uint8_t>>> held(items.size());
  std::vector<FleetDevice> fleet;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const auto pair = items[i].cast<py::tuple>();
    FleetDevice device{device_name(pair[0]), {}, {}};
    device.records = record_source(*prepared.package, pair[1], held[i], device.pattern);
    for (const FleetDevice& other : fleet) {
      if (other.name == device.name) {
        throw py::value_error(
            fmt::format("two devices are named {}", py::repr(pair[0]).cast<std::string>()));
      }
      if (other.pattern && other.pattern == device.pattern) {
        throw py::value_error(fmt::format("devices {} and {} read the same records {}",
                                          py::repr(text(other.name)).cast<std::string>(),
                                          py::repr(pair[0]).cast<std::string>(),
                                          py::repr(text(*device.pattern)).cast<std::string>()));
      }
    }
    fleet.push_back(std::move(device));
  }
  if (!prepared.check)
    raise_check_failure(*prepared.package, settings.tiles, prepared.check.error());
  FleetResult checked;
  {
    py::gil_scoped_release released;
    checked = verify_fleet(*prepared.check, fleet, settings.max, settings.threads);
  }
  const std::span<const std::uint32_t> without = prepared.check->tiles_without_setup();
  PyFleet result;
  for (std::size_t i = 0; i < fleet.size(); ++i) {
    result.devices.push_back({fleet[i].name, PyDevice{prepared.package,
                                                      std::move(checked.devices[i]),
                                                      fleet[i].pattern,
                                                      {without.begin(), without.end()},
                                                      settings.max}});
  }
  result.matrix = std::move(checked.matrix);
  return result;
}

}  // namespace

constexpr const char* verify_doc =
    "Every tile with a template setup (or those of `tiles`) against a device's records: a "
    "mapping from tile numbers to bytes, or a path pattern (str or os.PathLike) with {tile} "
    "({tile:03} zero-padded, {tile:x} or {tile:04x} in hexadecimal); a FIFO that sends nothing "
    "for 10 seconds is unreadable. Returns a DeviceResult.";
constexpr const char* verify_fleet_doc =
    "Several devices against the package, its tiles prepared once: `devices` maps each "
    "device's name to its records, as `verify` takes them. The tiles of all devices are "
    "shared out over `threads` threads together; each two devices with the same records get "
    "a same-records device hint, as `zem-package verify` gives them. Two devices reading the "
    "same pattern are refused. Returns a Fleet: a FleetDevice per device, in the order given, "
    "and their FleetMatrix.";

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

  const auto model_list = [](auto member) {
    return [member](const py::object& self) {
      return reference_list(self.cast<const Package&>().model().*member, self);
    };
  };
  py::class_<Package, PackagePtr>(
      module, "Package",
      "A package read by zem_package.read: its model, as read-only objects, and what can be "
      "asked of it. It holds the package's message, not its blobs' contents, which are "
      "decompressed again when asked for. It pickles as its message's bytes and how it was "
      "read; unpickling reads and checks it again.")
      .def_property_readonly("valid", &Package::valid, "Whether the package passed every check.")
      .def_property_readonly(
          "failures",
          [](const Package& p) {
            py::list list;
            for (const ReadFailure& failure : p.failures()) list.append(failure_object(failure));
            return list;
          },
          "What a survey met, in read order; empty for a valid package.")
      .def_property_readonly("compiler", [](const Package& p) { return p.model().compiler; })
      .def_property_readonly(
          "build_digest", [](const Package& p) { return to_bytes(p.model().build_digest()); },
          "The build digest of the model, 32 bytes; a valid package stores this one.")
      .def_property_readonly("blobs", model_list(&PackageModel::blobs))
      .def_property_readonly("tiles", model_list(&PackageModel::tiles))
      .def_property_readonly("bindings_1", model_list(&PackageModel::bindings_1))
      .def_property_readonly("bindings_2", model_list(&PackageModel::bindings_2))
      .def_property_readonly("bindings_3", model_list(&PackageModel::bindings_3))
      .def_property_readonly("host_exchange",
                             [](const py::object& self) {
                               return py::cast(&self.cast<const Package&>().model().host_exchange,
                                               py::return_value_policy::reference_internal, self);
                             })
      .def_property_readonly("entry_points", model_list(&PackageModel::entry_points))
      .def_property_readonly("device_config_writes",
                             model_list(&PackageModel::device_config_writes))
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
            std::optional<ReadResult<ByteBuffer>> contents;
            {
              py::gil_scoped_release released;
              contents.emplace(p.blob_contents(static_cast<std::size_t>(index)));
            }
            if (!*contents) throw py::value_error(contents->error().error.to_string());
            return to_bytes((*contents)->bytes());
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
            const std::optional<FoundSetup> found = find_template_setup(memory.bytes);
            return found ? py::cast(found->setup) : py::none();
          },
          py::arg("tile"), "The tile's template setup, or None when it has none.")
      .def(
          "expected_record",
          [](const Package& p, const py::handle& tile) {
            return to_bytes(record_bytes(expected_or_raise(p, tile_number(tile)).words.words));
          },
          py::arg("tile"),
          "The record a device loaded with this tile holds: little-endian 32-bit words.")
      .def(
          "diff",
          [](const py::object& self, const py::handle& tile, const py::handle& record,
             const py::object& max) {
            const PackagePtr package = self.cast<PackagePtr>();
            const std::vector<std::uint8_t> bytes = bytes_like(record, "a record");
            ExpectedRecord expected = expected_or_raise(*package, tile_number(tile));
            const std::size_t limit = max_of(max);
            RecordDiff diff;
            {
              py::gil_scoped_release released;
              const AddressOwners owners(package->model());
              diff = diff_record(expected, device_record(bytes, bytes.size()),
                                 {limit, &owners, nullptr});
            }
            return PyDiff{package, std::move(expected), std::move(diff), limit};
          },
          py::arg("tile"), py::arg("record"), py::kw_only(), py::arg("max") = 8,
          "The record compared with the one the tile expects, as `zem-package diff` explains "
          "it: a Diff, at most `max` of its differing words explained.")
      .def(
          "verify",
          [](const PackagePtr& package, const py::object& records, const py::object& tiles,
             const py::object& max, const py::object& threads) {
            const CheckSettings settings = settings_of(tiles, max, threads);
            return verify_device(prepare_check(package, settings), settings, records);
          },
          py::arg("records"), py::kw_only(), py::arg("tiles") = py::none(), py::arg("max") = 8,
          py::arg("threads") = py::none(), verify_doc)
      .def(
          "verify_fleet",
          [](const PackagePtr& package, const py::object& devices, const py::object& tiles,
             const py::object& max, const py::object& threads) {
            const py::list items = fleet_items(devices);
            const CheckSettings settings = settings_of(tiles, max, threads);
            return verify_devices(prepare_check(package, settings), settings, items);
          },
          py::arg("devices"), py::kw_only(), py::arg("tiles") = py::none(), py::arg("max") = 8,
          py::arg("threads") = py::none(), verify_fleet_doc)
      .def(py::pickle([](const Package& p) { return package_state(p); },
                      [](const py::tuple& state) { return package_from_state(state); }))
      .def("__repr__", [](const Package& p) {
        return fmt::format("<zem_package.Package compiler={} tiles={} blobs={}{}>",
                           py::repr(py::str(p.model().compiler)).cast<std::string>(),
                           p.model().tiles.size(), p.model().blobs.size(),
                           p.valid() ? "" : fmt::format(" failures={}", p.failures().size()));
      });

  module.def(
      "read",
      [](const py::object& source, const py::object& threads, bool survey) {
        return read(source,
                    ReadOptions{threads_of(threads), survey ? ReadMode::survey : ReadMode::strict});
      },
      py::arg("source"), py::kw_only(), py::arg("threads") = py::none(), py::arg("survey") = false,
      "Reads and checks a package from a path (str or os.PathLike), a bytes-like object or a "
      "binary file object. A package that fails raises ReadError; an operating-system failure, "
      "OSError. With survey=True a broken package is read as far as it can be, and its "
      "failures are listed. threads=None uses the processors this process may run on, at "
      "most 16.");
  module.def(
      "verify",
      [](const py::object& package, const py::object& records, const py::object& tiles,
         const py::object& max, const py::object& threads) {
        const CheckSettings settings = settings_of(tiles, max, threads);
        return verify_device(read_and_prepare_check(package, settings), settings, records);
      },
      py::arg("package"), py::arg("records"), py::kw_only(), py::arg("tiles") = py::none(),
      py::arg("max") = 8, py::arg("threads") = py::none(),
      (std::string("read(package).verify(records, ...) in one read of the package, a path or a "
                   "bytes-like object: each blob is decompressed once, to check it and to "
                   "build the tiles that take bytes from it. Raises as read does for a package "
                   "it refuses. ") +
       verify_doc)
          .c_str());
  module.def(
      "verify_fleet",
      [](const py::object& package, const py::object& devices, const py::object& tiles,
         const py::object& max, const py::object& threads) {
        const py::list items = fleet_items(devices);
        const CheckSettings settings = settings_of(tiles, max, threads);
        return verify_devices(read_and_prepare_check(package, settings), settings, items);
      },
      py::arg("package"), py::arg("devices"), py::kw_only(), py::arg("tiles") = py::none(),
      py::arg("max") = 8, py::arg("threads") = py::none(),
      (std::string("read(package).verify_fleet(devices, ...) in one read of the package, as "
                   "zem_package.verify makes it. ") +
       verify_fleet_doc)
          .c_str());
}

}  // namespace zem::python
