#include "records.hpp"

#include <pybind11/operators.h>
#include <pybind11/stl.h>

#include <fmt/format.h>

#include <span>
#include <variant>

#include "conversions.hpp"
#include "format/record_json.hpp"
#include "zem_package/fleet_matrix.hpp"

namespace zem::python {
namespace {

using namespace pybind11::literals;

// One explained difference, with the package whose owners it names.
struct PyDifference {
  std::shared_ptr<const Package> package;
  ExplainedWord word;
};

struct PyHint {
  Hint hint;
  std::size_t max = 8;  // the words its document lists
};

// One tile's verdict, with the package it was checked against.
struct PyVerdict {
  std::shared_ptr<const Package> package;
  TileVerdict verdict;
  std::size_t max = 8;
};

struct PySummary {
  StatusCounts counts;
  std::size_t without_setup = 0;
  HintCounts hints;
};

struct PyDeviceHint {
  DeviceHint hint;
};

// The tiles with each hint kind that occurs, by kind.
py::dict hint_counts_dict(const HintCounts& counts) {
  py::dict dict;
  for (std::size_t i = 0; i < hint_kinds.size(); ++i) {
    if (counts.counts[i] > 0) dict[py::str(std::string(hint_kinds[i]))] = counts.counts[i];
  }
  return dict;
}

// The value `name` of a device-wide hint, or AttributeError.
py::object device_hint_value(const PyDeviceHint& h, const char* name) {
  struct Values {
    py::dict operator()(const device_hint::NoRecords& v) const {
      return py::dict("directory"_a = text(v.directory), "directory_exists"_a = v.directory_exists);
    }
    py::dict operator()(const device_hint::OffBy& v) const {
      return py::dict("tile_offset"_a = v.tiles, "records_read"_a = v.records);
    }
    py::dict operator()(const device_hint::ForeignRecords& v) const {
      return py::dict("records_read"_a = v.records);
    }
    py::dict operator()(const device_hint::SameRecords& v) const {
      return py::dict("device"_a = v.device, "name"_a = text(v.name));
    }
  };
  const py::dict values = std::visit(Values{}, h.hint);
  if (!values.contains(name)) {
    throw py::attribute_error(fmt::format("a {} device hint has no {}", device_hint_kind(h.hint),
                                          std::string_view(name)));
  }
  return values[name];
}

std::string hex(std::uint64_t value) { return fmt::format("0x{:x}", value); }
std::string word_hex(std::uint32_t value) { return fmt::format("0x{:08x}", value); }

py::list differences_of(const std::shared_ptr<const Package>& package, const RecordDiff& diff,
                        std::size_t max) {
  py::list list;
  for (const ExplainedWord& word :
       std::span(diff.differences).first(std::min(max, diff.differences.size()))) {
    list.append(PyDifference{package, word});
  }
  return list;
}

py::list hints_of(const RecordDiff& diff, std::size_t max) {
  py::list list;
  for (const Hint& hint : diff.hints) list.append(PyHint{hint, max});
  return list;
}

// The words a hint names, as (word, value) pairs.
py::list words_of(const std::vector<RecordWord>& words) {
  py::list list;
  for (const RecordWord& word : words) list.append(py::make_tuple(word.index, word.value));
  return list;
}

// The value `name` of a hint, or AttributeError when its kind has none.
py::object hint_value(const PyHint& h, const char* name) {
  struct Values {
    py::dict operator()(const hint::Short& v) const {
      return py::dict("words"_a = v.words, "missing"_a = words_of(v.missing));
    }
    py::dict operator()(const hint::Long& v) const {
      return py::dict("words"_a = v.words, "at_least"_a = v.at_least, "read"_a = v.extra.size(),
                      "extra"_a = words_of(v.extra));
    }
    py::dict operator()(const hint::Shifted& v) const { return py::dict("words"_a = v.words); }
    py::dict operator()(const hint::Truncated& v) const {
      return py::dict("from_word"_a = v.from, "fill"_a = v.fill);
    }
    py::dict operator()(const hint::RecordOfTile& v) const {
      py::dict values("tile"_a = v.tile, "change"_a = change_name(v.change));
      if (v.change == hint::RecordChange::one_bit) {
        values["word"] = v.word;
        values["bit"] = v.bit;
      }
      return values;
    }
    py::dict operator()(const hint::StuckBit& v) const {
      return py::dict("bit"_a = v.bit, "stuck_at"_a = v.value, "words"_a = v.words);
    }
    py::dict operator()(const hint::SingleBit& v) const {
      return py::dict("bit"_a = v.bit, "words"_a = v.words.size(), "indexes"_a = v.words);
    }
    py::dict operator()(const hint::ByteSwapped&) const { return {}; }
    py::dict operator()(const hint::HalfSwapped&) const { return {}; }
    py::dict operator()(const hint::Unpatched&) const { return {}; }
    py::dict operator()(const hint::AllZeros&) const { return {}; }
    py::dict operator()(const hint::AllOnes&) const { return {}; }
  };
  const py::dict values = std::visit(Values{}, h.hint);
  if (!values.contains(name)) {
    throw py::attribute_error(
        fmt::format("a {} hint has no {}", hint_kind(h.hint), std::string_view(name)));
  }
  return values[name];
}

py::object reason_of(const TileVerdict& verdict) {
  return verdict.reason.empty() ? py::none() : py::object(text(verdict.reason));
}

}  // namespace

void bind_records(py::module_& module) {
  py::class_<PyDeviceHint>(module, "DeviceHint",
                           "What a whole device's records have in common with something known: "
                           "its kind and that kind's values as attributes.")
      .def_property_readonly("kind", [](const PyDeviceHint& h) { return device_hint_kind(h.hint); })
      .def("__getattr__", &device_hint_value)
      .def(
          "to_dict", [](const PyDeviceHint& h) { return from_json(device_hint_json(h.hint)); },
          "The hint's entry in `zem-package verify --json`.")
      .def("__repr__", [](const PyDeviceHint& h) {
        const Json json = device_hint_json(h.hint);
        std::string values;
        for (const auto& [key, value] : json.items()) {
          if (key != "kind") values += fmt::format(", {}={}", key, value.dump());
        }
        return fmt::format("DeviceHint(kind={}{})", json["kind"].dump(), values);
      });

  py::class_<BlobByte>(module, "BlobByte", "A byte of a blob's contents.")
      .def_readonly("blob", &BlobByte::blob, "Position in the package's blobs.")
      .def_readonly("offset", &BlobByte::offset, "Offset in the blob's contents.")
      .def_readonly("file_offset", &BlobByte::file_offset,
                    "Offset in the package file, for a blob stored plain; None otherwise.")
      .def("__repr__", [](const BlobByte& b) {
        return fmt::format("BlobByte(blob={}, offset={})", b.blob, b.offset);
      });

  py::class_<SegmentOwner>(module, "SegmentOwner", "The segment whose range holds an address.")
      .def_readonly("segment", &SegmentOwner::segment, "Position in the tile's segments.")
      .def_readonly("start", &SegmentOwner::start)
      .def_readonly("end", &SegmentOwner::end)
      .def_readonly("data", &SegmentOwner::data,
                    "The blob byte the address holds; None in the zero-filled rest.")
      .def("__repr__", [](const SegmentOwner& s) {
        return fmt::format("SegmentOwner(segment={}, start={}, end={})", s.segment, hex(s.start),
                           hex(s.end));
      });

  py::class_<SliceOwner>(module, "BindingSlice", "A binding slice that covers an address.")
      .def_property_readonly(
          "list",
          [](const SliceOwner& s) {
            return s.list == PackageField::bindings1   ? 1
                   : s.list == PackageField::bindings2 ? 2
                                                       : 3;
          },
          "Which binding list: 1, 2 or 3.")
      .def_readonly("binding", &SliceOwner::binding, "Position in that list.")
      .def_readonly("slice", &SliceOwner::slice, "Position in the binding's slices.")
      .def_property_readonly("name", [](const SliceOwner& s) { return text(s.name); })
      .def("__repr__", [](const SliceOwner& s) {
        return fmt::format("BindingSlice(name={}, slice={})",
                           py::repr(text(s.name)).cast<std::string>(), s.slice);
      });

  py::class_<WordPatch>(module, "Patch", "The patch that changed a template word.")
      .def_readonly("group", &WordPatch::group, "0 for the primary part, 1 for the secondary.")
      .def_property_readonly("entry", [](const WordPatch& p) { return p.patch.entry; })
      .def_property_readonly("delta", [](const WordPatch& p) { return p.patch.delta; })
      .def("__repr__", [](const WordPatch& p) {
        return fmt::format("Patch(group={}, entry={}, delta={})", p.group, p.patch.entry,
                           word_hex(p.patch.delta));
      });

  py::class_<PyDifference>(module, "Difference",
                           "A word where a record and the record its tile expects differ, with "
                           "what says how the expected word came to be.")
      .def_property_readonly(
          "word", [](const PyDifference& d) { return d.word.index; },
          "Index of the word in the record.")
      .def_property_readonly("region",
                             [](const PyDifference& d) { return region_name(d.word.place.region); })
      .def_property_readonly(
          "offset", [](const PyDifference& d) { return d.word.place.offset; },
          "Byte offset from its region's first word.")
      .def_property_readonly("address", [](const PyDifference& d) { return d.word.place.address; })
      .def_property_readonly("actual", [](const PyDifference& d) { return d.word.actual; })
      .def_property_readonly("expected", [](const PyDifference& d) { return d.word.expected; })
      .def_property_readonly("xor", [](const PyDifference& d) { return d.word.difference(); })
      .def_property_readonly(
          "unpatched", [](const PyDifference& d) { return d.word.unpatched; },
          "The template word as gathered, before patching.")
      .def_property_readonly(
          "patch", [](const PyDifference& d) { return d.word.patch; },
          "The patch that changed it, or None.")
      .def_property_readonly(
          "owner", [](const PyDifference& d) { return d.word.owner.segment; },
          "The segment that holds its address and the blob byte there, or None in a gap.")
      .def_property_readonly(
          "bindings", [](const PyDifference& d) { return d.word.owner.slices; },
          "The binding slices that cover its address.")
      .def(
          "to_dict",
          [](const PyDifference& d) {
            return from_json(explained_word_json(d.word, d.package->model()));
          },
          "The difference as `zem-package diff --json` writes it.")
      .def("__repr__", [](const PyDifference& d) {
        return fmt::format("Difference(word={}, region='{}', address={}, actual={}, expected={})",
                           d.word.index, region_name(d.word.place.region),
                           hex(d.word.place.address), word_hex(d.word.actual),
                           word_hex(d.word.expected));
      });

  py::class_<PyHint>(module, "Hint",
                     "What a differing record has in common with something known: its kind "
                     "and the values of that kind (words, at_least, read, missing, extra, tile, "
                     "change, word, bit, stuck_at, from_word, fill, indexes).")
      .def_property_readonly("kind", [](const PyHint& h) { return hint_kind(h.hint); })
      .def("__getattr__", &hint_value)
      .def(
          "to_dict", [](const PyHint& h) { return from_json(hint_json(h.hint, h.max)); },
          "The hint as the tools' JSON documents write it.")
      .def("__repr__", [](const PyHint& h) {
        std::string text = fmt::format("Hint(kind='{}'", hint_kind(h.hint));
        const py::dict document = from_json(hint_json(h.hint, h.max));
        for (const auto& [key, value] : document) {
          const std::string name = key.cast<std::string>();
          if (name == "kind" || py::isinstance<py::list>(value)) continue;
          text += fmt::format(", {}={}", name, py::repr(value).cast<std::string>());
        }
        return text + ")";
      });

  py::class_<PyDiff>(module, "Diff",
                     "A record compared with the record its tile expects, word by word.")
      .def_property_readonly("physical_tile",
                             [](const PyDiff& d) { return d.expected.physical_tile; })
      .def_property_readonly("setup", [](const PyDiff& d) { return d.expected.setup; })
      .def_property_readonly("template_record_words",
                             [](const PyDiff& d) { return d.diff.expected_words; })
      .def_property_readonly("record_bytes", [](const PyDiff& d) { return d.diff.record_bytes; })
      .def_property_readonly("record_words",
                             [](const PyDiff& d) { return d.diff.record_bytes / 4; })
      .def_property_readonly(
          "differing_words", [](const PyDiff& d) { return d.diff.differing_words; },
          "Every differing word, counted.")
      .def_property_readonly(
          "differences", [](const PyDiff& d) { return differences_of(d.package, d.diff, d.max); },
          "The first differing words, at most `max`, explained.")
      .def_property_readonly(
          "hints", [](const PyDiff& d) { return hints_of(d.diff, d.max); },
          "Every hint that holds, whatever `max`.")
      .def_property_readonly(
          "explained_by_hints", [](const PyDiff& d) { return d.diff.explained; },
          "Whether the hints say what every differing word holds.")
      .def_property_readonly("matches", [](const PyDiff& d) { return d.diff.matches(); })
      .def_property_readonly("status",
                             [](const PyDiff& d) { return d.diff.matches() ? "match" : "differ"; })
      .def(
          "to_dict",
          [](const PyDiff& d) {
            return from_json(tile_diff_json(d.expected, d.diff, d.package->model(), d.max));
          },
          "The document of `zem-package diff --json`, but for the keys that name files "
          "(format, package, record).")
      .def("__repr__", [](const PyDiff& d) {
        std::string kinds;
        for (const Hint& hint : d.diff.hints) {
          kinds += fmt::format("{}'{}'", kinds.empty() ? "" : ", ", hint_kind(hint));
        }
        return fmt::format("Diff(physical_tile={}, status='{}', differing_words={}, hints=[{}])",
                           d.expected.physical_tile, d.diff.matches() ? "match" : "differ",
                           d.diff.differing_words, kinds);
      });

  py::class_<PyVerdict>(module, "TileVerdict", "What became of one tile of a device.")
      .def_property_readonly("physical_tile",
                             [](const PyVerdict& v) { return v.verdict.physical_tile; })
      .def_property_readonly(
          "status", [](const PyVerdict& v) { return status_name(v.verdict.status); },
          "'match', 'differ', 'missing', 'unreadable' or 'failed'.")
      .def_property_readonly(
          "reason", [](const PyVerdict& v) { return reason_of(v.verdict); },
          "Why, for an unreadable record or a failed template; None otherwise.")
      .def_property_readonly("words",
                             [](const PyVerdict& v) -> std::optional<std::size_t> {
                               if (!v.verdict.diff) return std::nullopt;
                               return v.verdict.diff->expected_words;
                             })
      .def_property_readonly("record_words",
                             [](const PyVerdict& v) -> std::optional<std::uint64_t> {
                               if (!v.verdict.diff) return std::nullopt;
                               return v.verdict.diff->record_bytes / 4;
                             })
      .def_property_readonly("differing_words",
                             [](const PyVerdict& v) -> std::optional<std::size_t> {
                               if (!v.verdict.diff) return std::nullopt;
                               return v.verdict.diff->differing_words;
                             })
      .def_property_readonly("differences",
                             [](const PyVerdict& v) {
                               if (!v.verdict.diff) return py::list();
                               return differences_of(v.package, *v.verdict.diff, v.max);
                             })
      .def_property_readonly("hints",
                             [](const PyVerdict& v) {
                               if (!v.verdict.diff) return py::list();
                               return hints_of(*v.verdict.diff, v.max);
                             })
      .def_property_readonly(
          "explained_by_hints",
          [](const PyVerdict& v) { return v.verdict.diff && v.verdict.diff->explained; },
          "Whether the hints say what every differing word holds.")
      .def(
          "to_dict",
          [](const PyVerdict& v) {
            return from_json(tile_verdict_json(v.verdict, v.package->model(), v.max));
          },
          "The tile's entry of `zem-package verify --json`.")
      .def("__repr__", [](const PyVerdict& v) {
        return fmt::format("TileVerdict(physical_tile={}, status='{}')", v.verdict.physical_tile,
                           status_name(v.verdict.status));
      });

  py::class_<PySummary>(module, "Summary", "How many tiles ended in each status.")
      .def_property_readonly("tiles", [](const PySummary& s) { return s.counts.tiles(); })
      .def_property_readonly("match",
                             [](const PySummary& s) { return s.counts.of(TileStatus::match); })
      .def_property_readonly("differ",
                             [](const PySummary& s) { return s.counts.of(TileStatus::differ); })
      .def_property_readonly("missing",
                             [](const PySummary& s) { return s.counts.of(TileStatus::missing); })
      .def_property_readonly("unreadable",
                             [](const PySummary& s) { return s.counts.of(TileStatus::unreadable); })
      .def_property_readonly("failed",
                             [](const PySummary& s) { return s.counts.of(TileStatus::failed); })
      .def_readonly("no_template_setup", &PySummary::without_setup)
      .def_property_readonly(
          "hints", [](const PySummary& s) { return hint_counts_dict(s.hints); },
          "How many tiles have a hint of each kind, by kind (the kinds that occur).")
      .def(
          "to_dict",
          [](const PySummary& s) {
            Json summary = status_counts_json(s.counts);
            summary["noTemplateSetup"] = s.without_setup;
            summary["hints"] = hint_counts_json(s.hints);
            return from_json(summary);
          },
          "The summary of a device's entry of `zem-package verify --json`.")
      .def("__repr__", [](const PySummary& s) {
        return fmt::format(
            "Summary(tiles={}, match={}, differ={}, missing={}, unreadable={}, failed={}, "
            "no_template_setup={}, hints={})",
            s.counts.tiles(), s.counts.of(TileStatus::match), s.counts.of(TileStatus::differ),
            s.counts.of(TileStatus::missing), s.counts.of(TileStatus::unreadable),
            s.counts.of(TileStatus::failed), s.without_setup,
            py::repr(hint_counts_dict(s.hints)).cast<std::string>());
      });

  py::class_<PyDevice>(module, "DeviceResult", "Every verified tile of one device.")
      .def_property_readonly(
          "records",
          [](const PyDevice& d) -> py::object {
            return d.records ? py::object(text(*d.records)) : py::none();
          },
          "The records' pattern, or None for records given as a mapping.")
      .def_property_readonly(
          "tiles",
          [](const PyDevice& d) {
            py::list list;
            for (const TileVerdict& verdict : d.result.tiles) {
              list.append(PyVerdict{d.package, verdict, d.max});
            }
            return list;
          },
          "A TileVerdict per verified tile, in tile number order.")
      .def_property_readonly(
          "summary",
          [](const PyDevice& d) {
            return PySummary{d.result.counts, d.without_setup.size(), device_tally(d.result).hints};
          })
      .def_property_readonly(
          "hint_counts",
          [](const PyDevice& d) { return hint_counts_dict(device_tally(d.result).hints); },
          "How many tiles have a hint of each kind, by kind (the kinds that occur).")
      .def_property_readonly(
          "device_hints",
          [](const PyDevice& d) {
            py::list list;
            for (const DeviceHint& hint : d.result.hints) list.append(PyDeviceHint{hint});
            return list;
          },
          "What the device's records say as a whole: a DeviceHint each (no-records, off-by, "
          "foreign-records, and same-records for a device of a Fleet).")
      .def_readonly("no_template_setup", &PyDevice::without_setup,
                    "The tiles without a template setup, not verified.")
      .def_property_readonly("all_match", [](const PyDevice& d) { return d.result.all_match(); })
      .def(
          "to_dict",
          [](const PyDevice& d) {
            const Json records = d.records ? Json(*d.records) : Json();
            return from_json(device_json(d.result, records, records, d.without_setup.size(),
                                         d.package->model(), d.max));
          },
          "The device's entry of `zem-package verify --json`.")
      .def("__repr__", [](const PyDevice& d) {
        std::string counts;
        for (const TileStatus status : all_tile_statuses) {
          counts += fmt::format(", {}={}", status_name(status), d.result.counts.of(status));
        }
        std::string hints;
        for (const DeviceHint& hint : d.result.hints) {
          hints += fmt::format("{}{}", hints.empty() ? "" : ", ", device_hint_kind(hint));
        }
        return fmt::format(
            "DeviceResult(records={}, tiles={}{}, hints={}, device_hints=[{}])",
            d.records ? py::repr(text(*d.records)).cast<std::string>() : "None",
            d.result.counts.tiles(), counts,
            py::repr(hint_counts_dict(device_tally(d.result).hints)).cast<std::string>(), hints);
      });
}

}  // namespace zem::python
