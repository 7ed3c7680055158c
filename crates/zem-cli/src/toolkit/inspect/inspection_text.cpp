#include "toolkit/inspect/inspection_text.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <fmt/ranges.h>

#include "format/hex.hpp"
#include "toolkit/output/text_table.hpp"
#include "toolkit/package/failure_report.hpp"
#include "toolkit/package/package_input.hpp"
#include "toolkit/package/package_layout.hpp"

namespace zem::toolkit {
namespace {

using Align = TextTable::Align;

// Tables are indented under their section's title, rows of a tile or a call
// under its line.
constexpr std::string_view indent = "  ";
constexpr std::string_view inner_indent = "    ";
// The summary's values start in this column.
constexpr std::size_t summary_column = 14;
// A binding's values are listed up to this many, then counted.
constexpr std::size_t values_shown = 8;

using F = PackageField;

// Which lines show an element that failed. A line is marked when a failure
// lies within its element, unless the failure lies within an element of one
// of its lists that are shown as rows of their own.
class FailureMarks {
 public:
  explicit FailureMarks(std::span<const ReadFailure> failures) : failures_(failures) {}

  [[nodiscard]] bool marks(const ElementPath& path,
                           std::initializer_list<ElementPath> rows_below = {}) const {
    return std::ranges::any_of(failures_, [&](const ReadFailure& failure) {
      return failure.element.within(path) &&
             std::ranges::none_of(rows_below, [&](const ElementPath& rows) {
               return failure.element.within(rows) && failure.element != rows;
             });
    });
  }

  // Marks a list's own line: only a failure of the list as a whole, such as
  // a pointer to it that cannot be followed.
  [[nodiscard]] bool marks_exactly(const ElementPath& path) const {
    return std::ranges::any_of(failures_,
                               [&](const ReadFailure& failure) { return failure.element == path; });
  }

  // The located failures within any of `fields`, one "  ! ..." line each,
  // said again at the end of their section.
  [[nodiscard]] std::string lines(std::initializer_list<PackageField> fields) const {
    std::string out;
    for (const ReadFailure& failure : failures_) {
      if (std::ranges::any_of(fields, [&](PackageField field) {
            return failure.element.within(ElementPath{{field}});
          })) {
        out += fmt::format("{}{}\n", marked_indent(indent), failure_line(failure));
      }
    }
    return out;
  }

 private:
  std::span<const ReadFailure> failures_;
};

// Whether a part of the package was not read at all: its list as a whole
// failed, so that it holds nothing.
bool not_read(const Package& reading, PackagePart part) {
  if (reading.part_state(part) != PartState::failed) return false;
  const ElementPath list{{field_of(part)}};
  return std::ranges::any_of(reading.part_failures(part),
                             [&](const ReadFailure& failure) { return failure.element == list; });
}

// `line` (which starts with `line_indent`) with its mark when `marked`.
std::string line(std::string_view line_indent, bool marked, std::string_view text) {
  return fmt::format("{}{}\n", marked ? marked_indent(line_indent) : std::string(line_indent),
                     text);
}

// How many elements a list holds, unless it was not read at all.
std::string count_text(std::size_t count, bool list_not_read) {
  return list_not_read ? "not read" : fmt::format("{}", count);
}

std::string section(std::string_view title, std::string_view count, bool marked = false) {
  // Built in two steps: g++ 12 warns falsely (-Wrestrict) about a literal
  // prepended to a temporary string.
  std::string text = "\n";
  text += line("", marked, fmt::format("{}: {}", title, count));
  return text;
}

std::string summary(const Inspection& inspection) {
  const auto row = [](std::string_view name, std::string_view value) {
    return fmt::format("{:<{}}{}\n", name, summary_column, value);
  };
  std::string out = row("package", package_name(inspection.path));
  if (inspection.package != nullptr) {
    out += row("compiler", cell_text(inspection.package->model().compiler));
    const BuildDigestCheck digest = build_digest_check(*inspection.package);
    if (!digest.stored) {
      out += row("build digest", "unreadable");
    } else if (!digest.computed) {
      out += row("build digest", hex_bytes(*digest.stored) + " (not compared)");
    } else if (digest.matches) {
      out += row("build digest", hex_bytes(*digest.stored) + " (matches)");
    } else {
      // Not compared when an earlier stage failed, as the check says.
      const bool checked = inspection.check.state(ReadStage::build_digest) != StageState::not_run;
      out +=
          row("build digest", fmt::format("{} (stored, {} bytes{})", hex_bytes(*digest.stored),
                                          digest.stored->size(), checked ? "" : ", not compared"));
      out += row("", fmt::format("{} (computed)", hex_bytes(*digest.computed)));
    }
  }
  const std::vector<ReadFailure>& failures = inspection.check.failures;
  if (failures.empty()) out += row("check", "valid");
  for (std::size_t i = 0; i < failures.size(); ++i) {
    out += row(i == 0 ? "check" : "", failure_line(failures[i]));
  }
  if (const std::uint64_t more = inspection.check.unlisted_blob_failures; more > 0) {
    out += row("", fmt::format("and {} more failing blob{}", more, more == 1 ? "" : "s"));
  }
  for (const std::string& hint : inspection.check.hints) out += row("hint", hint);
  for (const Note& note : inspection.notes) out += row("note", note.message);
  return out;
}

// The declared uncompressed size means something only for a compressed blob.
std::string declared_text(const BlobStorage& storage) {
  return storage.compression == compression_none ? "-" : fmt::format("{}", storage.declared_size);
}

// Every blob of the table as far as it could be followed; those that did
// not pass their checks have no digest or size that is known.
std::string blobs_text(const Package& reading, const FailureMarks& marks) {
  const std::vector<BlobInfo>& checked = reading.model().blobs;
  const std::span<const BlobStorage> stored = reading.stored_blobs();
  const auto passed =
      static_cast<std::size_t>(std::ranges::count(checked, true, &BlobInfo::checked));
  const std::string count = passed == stored.size()
                                ? count_text(stored.size(), not_read(reading, PackagePart::blobs))
                                : fmt::format("{}, {} checked", stored.size(), passed);
  std::string out = section("blobs", count, marks.marks_exactly({{F::blobs}}));
  if (!stored.empty()) {
    const std::vector<std::size_t> uses = segments_per_blob(reading.model());
    TextTable table({{"#", Align::right},
                     {"digest"},
                     {"compression"},
                     {"stored", Align::right},
                     {"size", Align::right},
                     {"declared", Align::right},
                     {"segments", Align::right}});
    for (std::size_t i = 0; i < stored.size(); ++i) {
      const bool known = i < checked.size() && checked[i].checked;
      table.add_row(
          {fmt::format("{}", i), known ? hex_bytes(checked[i].digest) : "-",
           compression_name(stored[i].compression), fmt::format("{}", stored[i].stored_size),
           known ? fmt::format("{}", checked[i].size) : "-", declared_text(stored[i]),
           known ? fmt::format("{}", uses[i]) : "-"},
          marks.marks({{F::blobs, i}}));
    }
    out += table.render(indent);
  }
  return out + marks.lines({F::blobs});
}

std::string tiles_text(const Package& reading, const FailureMarks& marks) {
  const std::vector<TileImage>& tiles = reading.model().tiles;
  std::string out =
      section("tiles", count_text(tiles.size(), not_read(reading, PackagePart::tiles)),
              marks.marks_exactly({{F::tiles}}));
  for (std::size_t t = 0; t < tiles.size(); ++t) {
    const TileImage& tile = tiles[t];
    const ElementPath path{{F::tiles, t}};
    const TileLayout layout = tile_layout(tile);
    out += line(
        indent, marks.marks(path, {path.then(F::segments)}),
        fmt::format("tile {}: load base {}, image {} bytes, aux {} {} {}, segments {}",
                    tile.physical_tile, layout.load_base ? hex_address(*layout.load_base) : "none",
                    layout.image_size, tile.aux_1, tile.aux_2, tile.aux_3, tile.segments.size()));
    if (tile.segments.empty()) continue;
    TextTable table({{"#", Align::right},
                     {"start"},
                     {"end"},
                     {"memory", Align::right},
                     {"blob", Align::right},
                     {"blob offset", Align::right},
                     {"data", Align::right},
                     {"aux", Align::right}});
    for (std::size_t i = 0; i < tile.segments.size(); ++i) {
      const Segment& segment = tile.segments[i];
      table.add_row({fmt::format("{}", i), hex_address(segment.address),
                     hex_address(std::uint64_t{segment.address} + segment.memory_size),
                     fmt::format("{}", segment.memory_size), fmt::format("{}", segment.blob),
                     fmt::format("{}", segment.blob_offset), fmt::format("{}", segment.data_size),
                     fmt::format("{}", segment.aux)},
                    marks.marks(path.then(F::segments, i)));
    }
    out += table.render(inner_indent);
  }
  return out + marks.lines({F::tiles});
}

std::string values_text(const std::vector<std::uint32_t>& values) {
  if (values.size() <= values_shown) return fmt::format("{}", fmt::join(values, " "));
  return fmt::format("{} ... ({} values)",
                     fmt::join(values.begin(), values.begin() + values_shown, " "), values.size());
}

std::string bindings_text(const PackageModel& model, const FailureMarks& marks) {
  const std::array<BindingList, 3> lists = binding_lists(model);
  std::size_t count = 0;
  bool list_failed = false;
  for (const BindingList& list : lists) {
    count += list.bindings.size();
    list_failed = list_failed || marks.marks_exactly({{list.field}});
  }
  std::string out = section("bindings", fmt::format("{}", count), list_failed);
  if (count > 0) {
    TextTable bindings(
        {{"list", Align::right}, {"name"}, {"label"}, {"values"}, {"slices", Align::right}});
    TextTable slices({{"binding"},
                      {"tile", Align::right},
                      {"start"},
                      {"end"},
                      {"length", Align::right},
                      {"offset", Align::right}});
    for (std::size_t l = 0; l < lists.size(); ++l) {
      for (std::size_t i = 0; i < lists[l].bindings.size(); ++i) {
        const Binding& binding = lists[l].bindings[i];
        const ElementPath path{{lists[l].field, i}};
        bindings.add_row(
            {fmt::format("{}", l + 1), cell_text(binding.name), cell_text(binding.label),
             values_text(binding.values), fmt::format("{}", binding.slices.size())},
            marks.marks(path, {path.then(F::slices)}));
        for (std::size_t k = 0; k < binding.slices.size(); ++k) {
          const RegionSlice& slice = binding.slices[k];
          const std::optional<std::uint64_t> end = slice_end(slice);
          slices.add_row({cell_text(binding.name), fmt::format("{}", slice.physical_tile),
                          hex_address(slice.address), end ? hex_address(*end) : "overflow",
                          fmt::format("{}", slice.length), fmt::format("{}", slice.offset)},
                         marks.marks(path.then(F::slices, k)));
        }
      }
    }
    out += bindings.render(indent);
    if (!slices.empty()) {
      // Appended in two steps: g++ 12 warns falsely (-Wrestrict) about a
      // literal prepended to a temporary string.
      out += '\n';
      out += slices.render(indent);
    }
  }
  return out + marks.lines({lists[0].field, lists[1].field, lists[2].field});
}

std::string host_exchange_text(const HostExchange& host, const FailureMarks& marks) {
  const ElementPath exchange{{F::host_exchange}};
  const bool startup_failed =
      marks.marks(exchange.then(F::startup_page)) || marks.marks(exchange.then(F::startup_offset));
  std::string out = "\n";
  out += line("", startup_failed || marks.marks_exactly(exchange),
              fmt::format("host exchange: startup page {} at offset {}, aux {}", host.startup_page,
                          host.startup_offset, host.aux));
  out += line(indent, marks.marks(exchange.then(F::required_pages)),
              fmt::format("required pages: {}",
                          host.required_pages.empty()
                              ? "none"
                              : fmt::format("{}", fmt::join(host.required_pages, " "))));
  out += line(indent, marks.marks_exactly(exchange.then(F::pages)),
              fmt::format("pages: {}", host.pages.size()));
  if (!host.pages.empty()) {
    TextTable pages({{"id", Align::right}, {"size", Align::right}});
    for (std::size_t i = 0; i < host.pages.size(); ++i) {
      pages.add_row({fmt::format("{}", host.pages[i].id), fmt::format("{}", host.pages[i].size)},
                    marks.marks(exchange.then(F::pages, i)));
    }
    out += pages.render(inner_indent);
  }
  out += line(indent, marks.marks_exactly(exchange.then(F::calls)),
              fmt::format("calls: {}", host.calls.size()));
  if (!host.calls.empty()) {
    TextTable calls({{"name"},
                     {"invocations", Align::right},
                     {"aux1", Align::right},
                     {"aux2", Align::right},
                     {"page refs", Align::right}});
    TextTable refs({{"call"},
                    {"list", Align::right},
                    {"page", Align::right},
                    {"offset", Align::right},
                    {"length", Align::right},
                    {"aux", Align::right}});
    for (std::size_t c = 0; c < host.calls.size(); ++c) {
      const HostCall& call = host.calls[c];
      const ElementPath path = exchange.then(F::calls, c);
      calls.add_row({cell_text(call.name), fmt::format("{}", call.invocations),
                     fmt::format("{}", call.aux_1), fmt::format("{}", call.aux_2),
                     fmt::format("{}", call.page_refs_1.size() + call.page_refs_2.size())},
                    marks.marks(path, {path.then(F::page_refs1), path.then(F::page_refs2)}));
      const struct {
        PackageField field;
        const std::vector<HostPageRef>& list;
      } lists[] = {{F::page_refs1, call.page_refs_1}, {F::page_refs2, call.page_refs_2}};
      for (std::size_t l = 0; l < std::size(lists); ++l) {
        for (std::size_t k = 0; k < lists[l].list.size(); ++k) {
          const HostPageRef& ref = lists[l].list[k];
          refs.add_row({cell_text(call.name), fmt::format("{}", l + 1), fmt::format("{}", ref.page),
                        fmt::format("{}", ref.offset), fmt::format("{}", ref.length),
                        fmt::format("{}", ref.aux)},
                       marks.marks(path.then(lists[l].field, k)));
        }
      }
    }
    out += calls.render(inner_indent);
    if (!refs.empty()) {
      out += '\n';
      out += refs.render(inner_indent);
    }
  }
  return out + marks.lines({F::host_exchange});
}

std::string entry_points_text(const Package& reading, const FailureMarks& marks) {
  const std::vector<EntryPoint>& entries = reading.model().entry_points;
  std::string out = section(
      "entry points", count_text(entries.size(), not_read(reading, PackagePart::entry_points)),
      marks.marks_exactly({{F::entry_points}}));
  if (!entries.empty()) {
    TextTable table({{"name"}, {"aux", Align::right}, {"external syncs", Align::right}});
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const EntryPoint& entry = entries[i];
      table.add_row({cell_text(entry.name), fmt::format("{}", entry.aux),
                     fmt::format("{}", entry.external_syncs)},
                    marks.marks({{F::entry_points, i}}));
    }
    out += table.render(indent);
  }
  return out + marks.lines({F::entry_points});
}

std::string device_config_writes_text(const Package& reading, const FailureMarks& marks) {
  const std::vector<DeviceConfigWrite>& writes = reading.model().device_config_writes;
  std::string out =
      section("device configuration writes",
              count_text(writes.size(), not_read(reading, PackagePart::device_config_writes)),
              marks.marks_exactly({{F::device_config_writes}}));
  if (!writes.empty()) {
    TextTable table({{"address"}, {"value"}});
    for (std::size_t i = 0; i < writes.size(); ++i) {
      table.add_row({hex_address(writes[i].address), hex_word(writes[i].value)},
                    marks.marks({{F::device_config_writes, i}}));
    }
    out += table.render(indent);
  }
  return out + marks.lines({F::device_config_writes});
}

}  // namespace

std::string inspection_text(const Inspection& inspection) {
  std::string out = summary(inspection);
  if (inspection.package == nullptr) return out;
  const Package& reading = *inspection.package;
  const FailureMarks marks(inspection.check.failures);
  out += blobs_text(reading, marks);
  out += tiles_text(reading, marks);
  out += bindings_text(reading.model(), marks);
  out += host_exchange_text(reading.model().host_exchange, marks);
  out += entry_points_text(reading, marks);
  out += device_config_writes_text(reading, marks);
  return out;
}

}  // namespace zem::toolkit
