// Writing packages from Python: unpack a package into a directory, pack a
// directory into a package, repack a package's storage. The library does
// the work, without the GIL; this file converts arguments, results and
// failures.

#include "writing.hpp"

#include <pybind11/stl.h>
#include <sched.h>

#include <fmt/format.h>

#include <algorithm>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "conversions.hpp"
#include "errors.hpp"
#include "zem_package/package_directory.hpp"
#include "zem_package/repacking.hpp"

namespace zem::python {
namespace {

// Threads when none are asked for: the processors this process may run on,
// at most 16.
unsigned thread_count(const std::optional<unsigned>& threads) {
  constexpr unsigned most = 16;
  if (threads) {
    if (*threads < 1 || *threads > 256) {
      throw py::value_error(fmt::format("threads is from 1 to 256, not {}", *threads));
    }
    return *threads;
  }
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return std::clamp(static_cast<unsigned>(CPU_COUNT(&set)), 1U, most);
}

// A path argument (str, bytes or os.PathLike) as the system's bytes.
std::string path_of(const py::object& path) {
  return py::module_::import("os").attr("fsencode")(path).cast<std::string>();
}

// A package argument: a path, or the package's bytes.
using PackageArgument = std::variant<std::string, std::vector<std::uint8_t>>;

PackageArgument package_of(const py::object& package) {
  if (py::isinstance<py::str>(package) || py::hasattr(package, "__fspath__")) {
    return path_of(package);
  }
  return bytes_like(package, "package");
}

// Raises the failure as the module's reads raise theirs: ReadError for a
// package a read refuses, OSError for a system error, ValueError otherwise.
[[noreturn]] void raise_write_failure(const WriteFailure& failure) {
  switch (failure.kind) {
    case WriteFailure::Kind::invalid_package:
      raise_read_error(failure.failure);
    case WriteFailure::Kind::file:
      if (failure.os_error != 0) {
        raise_os_error(failure.os_error, py::bytes(failure.path));
      }
      break;
    case WriteFailure::Kind::unstorable:
    case WriteFailure::Kind::manifest:
      break;
  }
  throw py::value_error(failure.to_string());
}

template <class T>
T take(WriteResult<T> result) {
  if (!result) raise_write_failure(result.error());
  return std::move(*result);
}

py::dict written_dict(const WrittenPackage& written) {
  py::dict out;
  out["size"] = written.size;
  out["build_digest"] = to_bytes(written.build_digest);
  out["blobs"] = written.blobs.size();
  return out;
}

py::dict unpack(const py::object& package, const py::object& directory, bool force,
                bool ignore_build_digest, std::optional<unsigned> threads) {
  const PackageArgument source = package_of(package);
  const std::string into = path_of(directory);
  const UnpackOptions options{thread_count(threads), force, ignore_build_digest};
  const UnpackReport report = take([&] {
    const py::gil_scoped_release released;
    return std::holds_alternative<std::string>(source)
               ? unpack_package(std::get<std::string>(source), into, options)
               : unpack_package(std::span(std::get<std::vector<std::uint8_t>>(source)), into,
                                options);
  }());
  py::dict out;
  out["blobs"] = report.blobs;
  out["frames"] = report.frames;
  out["tiles"] = report.tiles;
  out["ignored_build_digest"] =
      report.ignored_build_digest ? failure_object(*report.ignored_build_digest) : py::none();
  return out;
}

py::dict pack(const py::object& directory, const py::object& output, bool force,
              bool update_digests, std::optional<unsigned> threads) {
  const std::string from = path_of(directory);
  const std::string to = path_of(output);
  const PackOptions options{thread_count(threads), force, update_digests};
  const PackReport report = take([&] {
    const py::gil_scoped_release released;
    return pack_directory(from, to, options);
  }());
  py::dict out = written_dict(report.package);
  py::list updates;
  for (const DigestUpdate& update : report.updated_digests) {
    py::dict entry;
    entry["blob"] = update.blob;
    entry["stated"] = to_bytes(update.stated);
    entry["found"] = to_bytes(update.found);
    entry["file"] = text(update.file);
    updates.append(entry);
  }
  out["updated_digests"] = updates;
  py::list frames;
  for (const FrameReplacement& frame : report.replaced_frames) {
    py::dict entry;
    entry["blob"] = frame.blob;
    entry["frame"] = text(frame.frame);
    entry["reason"] = failure_object(frame.reason);
    entry["level"] = frame.level;
    frames.append(entry);
  }
  out["replaced_frames"] = frames;
  return out;
}

py::dict repack(const py::object& package, const py::object& output, const std::string& storage,
                int level, bool drop_unused_blobs, bool force, std::optional<unsigned> threads) {
  RepackOptions options;
  if (storage == "keep") {
    options.storage = BlobRestorage::keep;
  } else if (storage == "plain") {
    options.storage = BlobRestorage::plain;
  } else if (storage == "zstd") {
    options.storage = BlobRestorage::zstd;
  } else {
    throw py::value_error(fmt::format("storage is 'keep', 'plain' or 'zstd', not {}",
                                      py::repr(py::str(storage)).cast<std::string>()));
  }
  options.level = level;
  options.drop_unused_blobs = drop_unused_blobs;
  options.replace_existing = force;
  options.threads = thread_count(threads);
  const PackageArgument source = package_of(package);
  const std::string to = path_of(output);
  const RepackReport report = take([&] {
    const py::gil_scoped_release released;
    return std::holds_alternative<std::string>(source)
               ? repack_package(std::get<std::string>(source), to, options)
               : repack_package(std::span(std::get<std::vector<std::uint8_t>>(source)), to,
                                options);
  }());
  py::dict out = written_dict(report.package);
  out["previous_build_digest"] = to_bytes(report.previous_build_digest);
  py::list dropped;
  for (const DroppedBlob& blob : report.dropped) {
    py::dict entry;
    entry["blob"] = blob.blob;
    entry["digest"] = to_bytes(blob.digest);
    dropped.append(entry);
  }
  out["dropped"] = dropped;
  return out;
}

}  // namespace

void bind_writing(py::module_& module) {
  using namespace pybind11::literals;
  module.def("unpack", &unpack, "package"_a, "directory"_a, py::kw_only(), "force"_a = false,
             "ignore_build_digest"_a = false, "threads"_a = py::none(),
             "Unpacks a package (a path, or its bytes) into `directory`: manifest.json, and "
             "blobs/N.bin with each blob's contents, blobs/N.zst beside a compressed blob's "
             "stored frame. A directory that is not empty is refused unless `force`. Returns "
             "{'blobs', 'frames', 'tiles', 'ignored_build_digest'}. A package that fails a check "
             "raises ReadError (with `ignore_build_digest`, one that fails only its build digest "
             "is unpacked, its failure returned); a file that cannot be written, OSError.");
  module.def("pack", &pack, "directory"_a, "output"_a, py::kw_only(), "force"_a = false,
             "update_digests"_a = false, "threads"_a = py::none(),
             "Builds the package that `directory`/manifest.json describes and writes it to "
             "`output` (replaced only with `force`). Returns {'size', 'build_digest', 'blobs', "
             "'updated_digests', 'replaced_frames'}. A manifest that is not one raises "
             "ValueError naming the value at fault; a package a read would refuse, ReadError; a "
             "file that cannot be read or written, OSError.");
  module.def("repack", &repack, "package"_a, "output"_a, py::kw_only(), "storage"_a = "keep",
             "level"_a = default_zstd_level, "drop_unused_blobs"_a = false, "force"_a = false,
             "threads"_a = py::none(),
             "Writes a package (a path, or its bytes) to `output` with every blob stored as "
             "`storage` says: 'keep', 'plain', or 'zstd' at `level`; with `drop_unused_blobs`, "
             "the blobs no segment uses are left out. Returns {'size', 'build_digest', "
             "'previous_build_digest', 'blobs', 'dropped'}. Raises as `pack` does.");
}

}  // namespace zem::python
