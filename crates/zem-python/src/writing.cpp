// Writing packages from Python: unpack a package into a directory, pack a
// directory into a package, repack a package's storage. The library does
// the work, without the GIL; this file converts arguments, failures and the
// library's reports, which Python gets as typed, read-only values.

#include "writing.hpp"

#include <pybind11/stl.h>

#include <fmt/format.h>

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "conversions.hpp"
#include "errors.hpp"
#include "zem_package/package.hpp"
#include "zem_package/package_directory.hpp"
#include "zem_package/repacking.hpp"

namespace zem::python {
namespace {

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

// The document of each report, as its `to_dict()` gives it: the values
// the reports returned as dicts before they were typed, so that scripts
// written against those dicts keep working through `to_dict()` or indexing.
void add_written(py::dict& out, const WrittenPackage& written) {
  out["size"] = written.size;
  out["build_digest"] = to_bytes(written.build_digest);
  out["blobs"] = written.blobs.size();
}

py::dict update_dict(const DigestUpdate& update) {
  py::dict out;
  out["blob"] = update.blob;
  out["stated"] = to_bytes(update.stated);
  out["found"] = to_bytes(update.found);
  out["file"] = text(update.file);
  return out;
}

py::dict frame_dict(const FrameReplacement& frame) {
  py::dict out;
  out["blob"] = frame.blob;
  out["frame"] = text(frame.frame);
  out["reason"] = failure_object(frame.reason);
  out["level"] = frame.level;
  return out;
}

py::dict dropped_dict(const DroppedBlob& blob) {
  py::dict out;
  out["blob"] = blob.blob;
  out["digest"] = to_bytes(blob.digest);
  return out;
}

py::dict unpacked_dict(const UnpackReport& report) {
  py::dict out;
  out["blobs"] = report.blobs;
  out["frames"] = report.frames;
  out["tiles"] = report.tiles;
  out["ignored_build_digest"] =
      report.ignored_build_digest ? failure_object(*report.ignored_build_digest) : py::none();
  return out;
}

template <class Item>
py::list dict_list(const std::vector<Item>& items, py::dict (*to_dict)(const Item&)) {
  py::list out;
  for (const Item& item : items) out.append(to_dict(item));
  return out;
}

py::dict packed_dict(const PackReport& report) {
  py::dict out;
  add_written(out, report.package);
  out["updated_digests"] = dict_list(report.updated_digests, &update_dict);
  out["replaced_frames"] = dict_list(report.replaced_frames, &frame_dict);
  return out;
}

py::dict repacked_dict(const RepackReport& report) {
  py::dict out;
  add_written(out, report.package);
  out["previous_build_digest"] = to_bytes(report.previous_build_digest);
  out["dropped"] = dict_list(report.dropped, &dropped_dict);
  return out;
}

// "blobs=2 frames=1": a report's values for its repr.
std::string repr_fields(const py::dict& fields) {
  std::string out;
  for (const auto& [key, value] : fields) {
    if (!out.empty()) out += ", ";
    out +=
        fmt::format("{}={}", py::str(key).cast<std::string>(), py::repr(value).cast<std::string>());
  }
  return out;
}

// Binds a report type with `to_dict`, indexing by the dict's keys (as the
// dicts these reports once were allowed) and a repr of the dict's values;
// its typed attributes are added by the caller.
template <class Report>
py::class_<Report> bind_report(py::module_& module, const char* name, const char* doc,
                               py::dict (*to_dict)(const Report&)) {
  py::class_<Report> bound(module, name, doc);
  bound.def("to_dict", to_dict)
      .def("__getitem__",
           [to_dict](const Report& report, const std::string& key) -> py::object {
             py::dict fields = to_dict(report);
             if (!fields.contains(key)) throw py::key_error(key);
             return fields[py::str(key)];
           })
      .def("__repr__", [name, to_dict](const Report& report) {
        return fmt::format("{}({})", name, repr_fields(to_dict(report)));
      });
  return bound;
}

template <class Item>
py::list typed_list(const std::vector<Item>& items) {
  py::list out;
  for (const Item& item : items) out.append(py::cast(item));
  return out;
}

void bind_reports(py::module_& module) {
  bind_report<DigestUpdate>(module, "DigestUpdate",
                            "A blob digest of the manifest that `pack` replaced by its file's.",
                            &update_dict)
      .def_readonly("blob", &DigestUpdate::blob)
      .def_property_readonly("stated", [](const DigestUpdate& u) { return to_bytes(u.stated); })
      .def_property_readonly("found", [](const DigestUpdate& u) { return to_bytes(u.found); })
      .def_property_readonly("file", [](const DigestUpdate& u) { return text(u.file); });
  bind_report<FrameReplacement>(module, "FrameReplacement",
                                "A stored frame that did not hold its blob's contents: the blob "
                                "was compressed anew at `level`.",
                                &frame_dict)
      .def_readonly("blob", &FrameReplacement::blob)
      .def_property_readonly("frame", [](const FrameReplacement& f) { return text(f.frame); })
      .def_property_readonly("reason",
                             [](const FrameReplacement& f) { return failure_object(f.reason); })
      .def_readonly("level", &FrameReplacement::level);
  bind_report<DroppedBlob>(module, "DroppedBlob", "A blob that no segment used, left out.",
                           &dropped_dict)
      .def_readonly("blob", &DroppedBlob::blob)
      .def_property_readonly("digest", [](const DroppedBlob& d) { return to_bytes(d.digest); });
  bind_report<UnpackReport>(module, "Unpacked", "What `unpack` wrote.", &unpacked_dict)
      .def_readonly("blobs", &UnpackReport::blobs)
      .def_readonly("frames", &UnpackReport::frames)
      .def_readonly("tiles", &UnpackReport::tiles)
      .def_property_readonly("ignored_build_digest", [](const UnpackReport& r) {
        return r.ignored_build_digest ? failure_object(*r.ignored_build_digest) : py::none();
      });
  bind_report<PackReport>(module, "Packed",
                          "What `pack` wrote, with the digests it updated and the stored "
                          "frames it replaced.",
                          &packed_dict)
      .def_property_readonly("size", [](const PackReport& r) { return r.package.size; })
      .def_property_readonly("build_digest",
                             [](const PackReport& r) { return to_bytes(r.package.build_digest); })
      .def_property_readonly("blobs", [](const PackReport& r) { return r.package.blobs.size(); })
      .def_property_readonly("updated_digests",
                             [](const PackReport& r) { return typed_list(r.updated_digests); })
      .def_property_readonly("replaced_frames",
                             [](const PackReport& r) { return typed_list(r.replaced_frames); });
  bind_report<RepackReport>(module, "Repacked",
                            "What `repack` wrote, with the build digest before and the blobs "
                            "it dropped.",
                            &repacked_dict)
      .def_property_readonly("size", [](const RepackReport& r) { return r.package.size; })
      .def_property_readonly("build_digest",
                             [](const RepackReport& r) { return to_bytes(r.package.build_digest); })
      .def_property_readonly("blobs", [](const RepackReport& r) { return r.package.blobs.size(); })
      .def_property_readonly(
          "previous_build_digest",
          [](const RepackReport& r) { return to_bytes(r.previous_build_digest); })
      .def_property_readonly("dropped",
                             [](const RepackReport& r) { return typed_list(r.dropped); });
}

UnpackReport unpack_from(const PackageArgument& source, const std::string& into,
                         const UnpackOptions& options) {
  return take([&] {
    const py::gil_scoped_release released;
    return std::holds_alternative<std::string>(source)
               ? unpack_package(std::get<std::string>(source), into, options)
               : unpack_package(std::span(std::get<std::vector<std::uint8_t>>(source)), into,
                                options);
  }());
}

UnpackReport unpack(const py::object& package, const py::object& directory, bool force,
                    bool ignore_build_digest, const py::object& threads) {
  return unpack_from(package_of(package), path_of(directory),
                     UnpackOptions{threads_of(threads), force, ignore_build_digest});
}

// A package already read unpacks from its message's bytes, lent, not
// copied (the Package outlives the call): the writer reads them again,
// strictly, so a package read as a survey that failed is refused as a
// strict read refuses it.
UnpackReport unpack_read_package(const Package& package, const py::object& directory, bool force,
                                 bool ignore_build_digest, const py::object& threads) {
  const std::string into = path_of(directory);
  const UnpackOptions options{threads_of(threads), force, ignore_build_digest};
  return take([&] {
    const py::gil_scoped_release released;
    return unpack_package(package.message_bytes(), into, options);
  }());
}

PackReport pack(const py::object& directory, const py::object& output, bool force,
                bool update_digests, const py::object& threads) {
  const std::string from = path_of(directory);
  const std::string to = path_of(output);
  const PackOptions options{threads_of(threads), force, update_digests};
  return take([&] {
    const py::gil_scoped_release released;
    return pack_directory(from, to, options);
  }());
}

RepackReport repack(const py::object& package, const py::object& output, const std::string& storage,
                    int level, bool drop_unused_blobs, bool force, const py::object& threads) {
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
  options.threads = threads_of(threads);
  const PackageArgument source = package_of(package);
  const std::string to = path_of(output);
  return take([&] {
    const py::gil_scoped_release released;
    return std::holds_alternative<std::string>(source)
               ? repack_package(std::get<std::string>(source), to, options)
               : repack_package(std::span(std::get<std::vector<std::uint8_t>>(source)), to,
                                options);
  }());
}

constexpr const char* unpack_doc =
    "Unpacks a package into `directory`: manifest.json, and blobs/N.bin with each blob's "
    "contents, blobs/N.zst beside a compressed blob's stored frame. A directory that is not "
    "empty is refused unless `force`. Returns an Unpacked (blobs, frames, tiles, "
    "ignored_build_digest). A package that fails a check raises ReadError (with "
    "`ignore_build_digest`, one that fails only its build digest is unpacked, its failure "
    "returned); a file that cannot be written, OSError.";

}  // namespace

void bind_writing(py::module_& module) {
  using namespace pybind11::literals;
  bind_reports(module);
  module.def("unpack", &unpack, "package"_a, "directory"_a, py::kw_only(), "force"_a = false,
             "ignore_build_digest"_a = false, "threads"_a = py::none(),
             (std::string("`package` is a path or the package's bytes. ") + unpack_doc).c_str());
  py::reinterpret_borrow<py::class_<Package, std::shared_ptr<Package>>>(module.attr("Package"))
      .def("unpack", &unpack_read_package, "directory"_a, py::kw_only(), "force"_a = false,
           "ignore_build_digest"_a = false, "threads"_a = py::none(), unpack_doc);
  module.def("pack", &pack, "directory"_a, "output"_a, py::kw_only(), "force"_a = false,
             "update_digests"_a = false, "threads"_a = py::none(),
             "Builds the package that `directory`/manifest.json describes and writes it to "
             "`output` (replaced only with `force`). Returns a Packed (size, build_digest, "
             "blobs, updated_digests, replaced_frames). A manifest that is not one raises "
             "ValueError naming the value at fault; a package a read would refuse, ReadError; a "
             "file that cannot be read or written, OSError.");
  module.def("repack", &repack, "package"_a, "output"_a, py::kw_only(), "storage"_a = "keep",
             "level"_a = default_zstd_level, "drop_unused_blobs"_a = false, "force"_a = false,
             "threads"_a = py::none(),
             "Writes a package (a path, or its bytes) to `output` with every blob stored as "
             "`storage` says: 'keep', 'plain', or 'zstd' at `level`; with `drop_unused_blobs`, "
             "the blobs no segment uses are left out. Returns a Repacked (size, build_digest, "
             "previous_build_digest, blobs, dropped). Raises as `pack` does.");
}

}  // namespace zem::python
