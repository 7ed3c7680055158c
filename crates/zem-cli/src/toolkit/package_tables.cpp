#include "toolkit/package_tables.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "toolkit/hex.hpp"
#include "toolkit/text_table.hpp"
#include "toolkit/tool_error.hpp"

namespace zem::toolkit {
namespace {

using Align = TextTable::Align;

// Tables are indented under their section's title.
constexpr std::string_view indent = "  ";
// A binding's values are listed up to this many, then counted.
constexpr std::size_t values_shown = 8;

std::string section(std::string_view title, std::size_t count) {
  return fmt::format("\n{}: {}\n", title, count);
}

std::string summary(const Inspection& inspection) {
  std::string out = fmt::format("package       {}\n", display_path(inspection.path));
  if (inspection.reading != nullptr) {
    out += fmt::format("compiler      {}\n", cell_text(inspection.reading->model().compiler));
    const BuildDigestCheck digest = build_digest_check(*inspection.reading);
    if (!digest.stored) {
      out += "build digest  unreadable\n";
    } else if (digest.matches) {
      out += fmt::format("build digest  {} (matches)\n", hex_bytes(*digest.stored));
    } else {
      out += fmt::format("build digest  {} (stored, {} bytes)\n", hex_bytes(*digest.stored),
                         digest.stored->size());
      out += fmt::format("              {} (computed)\n", hex_bytes(digest.computed));
    }
  }
  if (const auto& failure = inspection.check.failure) {
    out += fmt::format("check         failed at {}: {}\n", stage_name(failure->stage),
                       failure->error.to_string());
  } else {
    out += "check         valid\n";
  }
  return out;
}

// The declared uncompressed size means something only for a compressed blob.
std::string declared_text(const BlobStorage& storage) {
  return storage.compression == compression_none ? "-" : fmt::format("{}", storage.declared_size);
}

std::string blobs_text(const PackageReading& reading) {
  const std::span<const BlobInfo> blobs = reading.blobs();
  std::string out = section("blobs", blobs.size());
  if (blobs.empty()) return out;
  const std::vector<std::size_t> uses = segments_per_blob(reading.model());
  TextTable table({{"#", Align::right},
                   {"digest"},
                   {"compression"},
                   {"stored", Align::right},
                   {"size", Align::right},
                   {"declared", Align::right},
                   {"segments", Align::right}});
  for (std::size_t i = 0; i < blobs.size(); ++i) {
    const BlobInfo& blob = blobs[i];
    table.add_row({fmt::format("{}", i), hex_bytes(blob.digest),
                   compression_name(blob.storage.compression),
                   fmt::format("{}", blob.storage.stored_size), fmt::format("{}", blob.size),
                   declared_text(blob.storage), fmt::format("{}", uses[i])});
  }
  return out + table.render(indent);
}

std::string tiles_text(const Application& application) {
  std::string out = section("tiles", application.tiles.size());
  for (const TileImage& tile : application.tiles) {
    const TileLayout layout = tile_layout(tile);
    out +=
        fmt::format("  tile {}: load base {}, image {} bytes, aux {} {} {}, segments {}\n",
                    tile.physical_tile, layout.load_base ? hex_address(*layout.load_base) : "none",
                    layout.image_size, tile.aux_1, tile.aux_2, tile.aux_3, tile.segments.size());
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
                     fmt::format("{}", segment.aux)});
    }
    out += table.render("    ");
  }
  return out;
}

std::string values_text(const std::vector<std::uint32_t>& values) {
  if (values.size() <= values_shown) return fmt::format("{}", fmt::join(values, " "));
  return fmt::format("{} ... ({} values)",
                     fmt::join(values.begin(), values.begin() + values_shown, " "), values.size());
}

std::string bindings_text(const Application& application) {
  const std::vector<Binding>* const lists[] = {&application.bindings_1, &application.bindings_2,
                                               &application.bindings_3};
  std::size_t count = 0;
  for (const auto* list : lists) count += list->size();
  std::string out = section("bindings", count);
  if (count == 0) return out;
  TextTable bindings(
      {{"list", Align::right}, {"name"}, {"label"}, {"values"}, {"slices", Align::right}});
  TextTable slices({{"binding"},
                    {"tile", Align::right},
                    {"start"},
                    {"end"},
                    {"length", Align::right},
                    {"offset", Align::right}});
  for (std::size_t l = 0; l < std::size(lists); ++l) {
    for (const Binding& binding : *lists[l]) {
      bindings.add_row({fmt::format("{}", l + 1), cell_text(binding.name), cell_text(binding.label),
                        values_text(binding.values), fmt::format("{}", binding.slices.size())});
      for (const RegionSlice& slice : binding.slices) {
        const std::optional<std::uint64_t> end = slice_end(slice);
        slices.add_row({cell_text(binding.name), fmt::format("{}", slice.physical_tile),
                        hex_address(slice.address), end ? hex_address(*end) : "overflow",
                        fmt::format("{}", slice.length), fmt::format("{}", slice.offset)});
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
  return out;
}

std::string host_exchange_text(const HostExchange& host) {
  std::string out = fmt::format("\nhost exchange: startup page {} at offset {}, aux {}\n",
                                host.startup_page, hex_address(host.startup_offset), host.aux);
  out += fmt::format("  required pages: {}\n",
                     host.required_pages.empty()
                         ? "none"
                         : fmt::format("{}", fmt::join(host.required_pages, " ")));
  out += fmt::format("  pages: {}\n", host.pages.size());
  if (!host.pages.empty()) {
    TextTable pages({{"id", Align::right}, {"size", Align::right}});
    for (const HostPage& page : host.pages) {
      pages.add_row({fmt::format("{}", page.id), fmt::format("{}", page.size)});
    }
    out += pages.render("    ");
  }
  out += fmt::format("  calls: {}\n", host.calls.size());
  if (host.calls.empty()) return out;
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
  for (const HostCall& call : host.calls) {
    calls.add_row({cell_text(call.name), fmt::format("{}", call.invocations),
                   fmt::format("{}", call.aux_1), fmt::format("{}", call.aux_2),
                   fmt::format("{}", call.page_refs_1.size() + call.page_refs_2.size())});
    int list_number = 1;
    for (const auto* list : {&call.page_refs_1, &call.page_refs_2}) {
      for (const HostPageRef& ref : *list) {
        refs.add_row({cell_text(call.name), fmt::format("{}", list_number),
                      fmt::format("{}", ref.page), fmt::format("{}", ref.offset),
                      fmt::format("{}", ref.length), fmt::format("{}", ref.aux)});
      }
      ++list_number;
    }
  }
  out += calls.render("    ");
  if (!refs.empty()) {
    out += '\n';
    out += refs.render("    ");
  }
  return out;
}

std::string entry_points_text(const Application& application) {
  std::string out = section("entry points", application.entry_points.size());
  if (application.entry_points.empty()) return out;
  TextTable table({{"name"}, {"aux", Align::right}, {"external syncs", Align::right}});
  for (const EntryPoint& entry : application.entry_points) {
    table.add_row({cell_text(entry.name), fmt::format("{}", entry.aux),
                   fmt::format("{}", entry.external_syncs)});
  }
  return out + table.render(indent);
}

std::string device_config_writes_text(const Application& application) {
  std::string out = section("device configuration writes", application.device_config_writes.size());
  if (application.device_config_writes.empty()) return out;
  TextTable table({{"address"}, {"value"}});
  for (const DeviceConfigWrite& write : application.device_config_writes) {
    table.add_row({hex_address(write.address), hex_word(write.value)});
  }
  return out + table.render(indent);
}

}  // namespace

std::string inspection_text(const Inspection& inspection) {
  std::string out = summary(inspection);
  if (inspection.reading == nullptr) return out;
  const Application& application = inspection.reading->model();
  out += blobs_text(*inspection.reading);
  out += tiles_text(application);
  out += bindings_text(application);
  out += host_exchange_text(application.host_exchange);
  out += entry_points_text(application);
  out += device_config_writes_text(application);
  return out;
}

}  // namespace zem::toolkit
