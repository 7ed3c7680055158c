#include "model.hpp"

#include <fmt/format.h>
#include <pybind11/operators.h>

#include <vector>

#include "conversions.hpp"
#include "model_lists.hpp"
#include "zem_package/template_setup.hpp"
#include "zem_package/application.hpp"
#include "zem_package/package_model.hpp"

namespace zem::python {
namespace {

std::string hex(std::uint64_t value) { return fmt::format("0x{:x}", value); }

std::string digest_hex(const Digest& digest) {
  std::string text;
  for (const std::uint8_t byte : digest) text += fmt::format("{:02x}", byte);
  return text;
}

std::string quoted(const std::string& text) { return py::repr(py::str(text)).cast<std::string>(); }

}  // namespace

void bind_model(py::module_& module) {
  py::class_<BlobInfo>(module, "Blob",
                       "A blob of the package: its digest, the size of its contents and how it "
                       "is stored.")
      .def_property_readonly(
          "digest", [](const BlobInfo& b) { return to_bytes(b.digest); },
          "SHA-256 of the contents, 32 bytes.")
      .def_property_readonly(
          "hex", [](const BlobInfo& b) { return digest_hex(b.digest); },
          "The digest in lower-case hex.")
      .def_readonly("size", &BlobInfo::size, "Bytes of the contents.")
      .def_readonly("checked", &BlobInfo::checked,
                    "Whether it passed its checks; a survey keeps one that did not in its "
                    "place, with no contents.")
      .def_property_readonly(
          "compression", [](const BlobInfo& b) { return compression_name(b.storage.compression); },
          "'none' or 'zstd'.")
      .def_property_readonly(
          "stored_size", [](const BlobInfo& b) { return b.storage.stored_size; },
          "Bytes of the payload as stored.")
      .def_property_readonly(
          "declared_size", [](const BlobInfo& b) { return b.storage.declared_size; },
          "The uncompressed size the file declares (for zstd, an upper bound).")
      .def(py::self == py::self)
      .def("__repr__", [](const BlobInfo& b) {
        return fmt::format("Blob(digest='{}', size={}, compression='{}', stored_size={})",
                           digest_hex(b.digest).substr(0, 12) + "...", b.size,
                           compression_name(b.storage.compression), b.storage.stored_size);
      });

  py::class_<Segment>(module, "Segment",
                      "A range of tile memory and the blob bytes that fill it; the rest of the "
                      "range is zero.")
      .def_readonly("address", &Segment::address)
      .def_readonly("memory_size", &Segment::memory_size)
      .def_readonly("blob", &Segment::blob, "Position of its blob in Package.blobs.")
      .def_readonly("blob_offset", &Segment::blob_offset)
      .def_readonly("data_size", &Segment::data_size)
      .def_readonly("aux", &Segment::aux)
      .def(py::self == py::self)
      .def("__repr__", [](const Segment& s) {
        return fmt::format(
            "Segment(address={}, memory_size={}, blob={}, blob_offset={}, data_size={})",
            hex(s.address), s.memory_size, s.blob, s.blob_offset, s.data_size);
      });

  py::class_<TileImage>(module, "Tile", "A tile the package loads, with its segments.")
      .def_readonly("physical_tile", &TileImage::physical_tile)
      .def_readonly("aux_1", &TileImage::aux_1)
      .def_readonly("aux_2", &TileImage::aux_2)
      .def_readonly("aux_3", &TileImage::aux_3)
      .def_property_readonly(
          "segments",
          [](const py::object& self) {
            return reference_list(self.cast<const TileImage&>().segments, self);
          },
          "The segments, in file order.")
      .def(py::self == py::self)
      .def("__repr__", [](const TileImage& t) {
        return fmt::format("Tile(physical_tile={}, segments={})", t.physical_tile,
                           t.segments.size());
      });

  py::class_<RegionSlice>(module, "RegionSlice", "A piece of a binding on one tile.")
      .def_readonly("physical_tile", &RegionSlice::physical_tile)
      .def_readonly("address", &RegionSlice::address)
      .def_readonly("offset", &RegionSlice::offset)
      .def_readonly("length", &RegionSlice::length)
      .def(py::self == py::self)
      .def("__repr__", [](const RegionSlice& s) {
        return fmt::format("RegionSlice(physical_tile={}, address={}, length={})", s.physical_tile,
                           hex(s.address), s.length);
      });

  py::class_<Binding>(module, "Binding", "A named piece of data bound into tile memory.")
      .def_readonly("name", &Binding::name)
      .def_readonly("label", &Binding::label)
      .def_property_readonly("values",
                             [](const Binding& b) { return py::tuple(py::cast(b.values)); })
      .def_property_readonly("slices",
                             [](const py::object& self) {
                               return reference_list(self.cast<const Binding&>().slices, self);
                             })
      .def(py::self == py::self)
      .def("__repr__", [](const Binding& b) {
        return fmt::format("Binding(name={}, slices={})", quoted(b.name), b.slices.size());
      });

  py::class_<HostPage>(module, "HostPage", "An entry of the host page table.")
      .def_readonly("id", &HostPage::id)
      .def_readonly("size", &HostPage::size)
      .def(py::self == py::self)
      .def("__repr__",
           [](const HostPage& p) { return fmt::format("HostPage(id={}, size={})", p.id, p.size); });

  py::class_<HostPageRef>(module, "HostPageRef", "A range within a host page.")
      .def_readonly("page", &HostPageRef::page)
      .def_readonly("offset", &HostPageRef::offset)
      .def_readonly("aux", &HostPageRef::aux)
      .def_readonly("length", &HostPageRef::length)
      .def(py::self == py::self)
      .def("__repr__", [](const HostPageRef& r) {
        return fmt::format("HostPageRef(page={}, offset={}, length={})", r.page, r.offset,
                           r.length);
      });

  py::class_<HostCall>(module, "HostCall", "A host call and the pages it refers to.")
      .def_readonly("name", &HostCall::name)
      .def_readonly("aux_1", &HostCall::aux_1)
      .def_readonly("aux_2", &HostCall::aux_2)
      .def_readonly("invocations", &HostCall::invocations)
      .def_property_readonly("page_refs_1",
                             [](const py::object& self) {
                               return reference_list(self.cast<const HostCall&>().page_refs_1,
                                                     self);
                             })
      .def_property_readonly("page_refs_2",
                             [](const py::object& self) {
                               return reference_list(self.cast<const HostCall&>().page_refs_2,
                                                     self);
                             })
      .def(py::self == py::self)
      .def("__repr__", [](const HostCall& c) {
        return fmt::format("HostCall(name={}, invocations={})", quoted(c.name), c.invocations);
      });

  py::class_<HostExchange>(module, "HostExchange", "How the host and the device exchange data.")
      .def_readonly("aux", &HostExchange::aux)
      .def_readonly("startup_page", &HostExchange::startup_page)
      .def_readonly("startup_offset", &HostExchange::startup_offset)
      .def_property_readonly("pages",
                             [](const py::object& self) {
                               return reference_list(self.cast<const HostExchange&>().pages, self);
                             })
      .def_property_readonly(
          "required_pages",
          [](const HostExchange& h) { return py::tuple(py::cast(h.required_pages)); })
      .def_property_readonly("calls",
                             [](const py::object& self) {
                               return reference_list(self.cast<const HostExchange&>().calls, self);
                             })
      .def(py::self == py::self)
      .def("__repr__", [](const HostExchange& h) {
        return fmt::format("HostExchange(pages={}, calls={}, startup_page={})", h.pages.size(),
                           h.calls.size(), h.startup_page);
      });

  py::class_<EntryPoint>(module, "EntryPoint", "An entry point of the package.")
      .def_readonly("name", &EntryPoint::name)
      .def_readonly("aux", &EntryPoint::aux)
      .def_readonly("external_syncs", &EntryPoint::external_syncs)
      .def(py::self == py::self)
      .def("__repr__", [](const EntryPoint& e) {
        return fmt::format("EntryPoint(name={}, external_syncs={})", quoted(e.name),
                           e.external_syncs);
      });

  py::class_<DeviceConfigWrite>(module, "DeviceConfigWrite", "A device configuration write.")
      .def_readonly("address", &DeviceConfigWrite::address)
      .def_readonly("value", &DeviceConfigWrite::value)
      .def(py::self == py::self)
      .def("__repr__", [](const DeviceConfigWrite& w) {
        return fmt::format("DeviceConfigWrite(address={}, value=0x{:08x})", hex(w.address),
                           w.value);
      });

  py::class_<TemplateSetup>(module, "TemplateSetup",
                            "The five parameters of a tile's template setup.")
      .def_readonly("primary", &TemplateSetup::primary, "Address of the primary region.")
      .def_readonly("primary_words", &TemplateSetup::primary_words)
      .def_readonly("secondary", &TemplateSetup::secondary, "Address of the secondary region.")
      .def_readonly("secondary_words", &TemplateSetup::secondary_words)
      .def_readonly("patch_table", &TemplateSetup::patch_table,
                    "Address of the word that holds the patch table's start.")
      .def(py::self == py::self)
      .def("__repr__", [](const TemplateSetup& s) {
        return fmt::format(
            "TemplateSetup(primary={}, primary_words={}, secondary={}, secondary_words={}, "
            "patch_table={})",
            hex(s.primary), s.primary_words, hex(s.secondary), s.secondary_words,
            hex(s.patch_table));
      });
}

}  // namespace zem::python
