// The manifest written: the model as JSON, in the conventions of the tools'
// documents.

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <nlohmann/json.hpp>

#include "zem_package/manifest.hpp"

namespace zem {
namespace {

using Json = nlohmann::ordered_json;

Json decimal(std::uint64_t value) { return std::to_string(value); }
Json address(std::uint64_t value) { return fmt::format("0x{:x}", value); }
Json word(std::uint32_t value) { return fmt::format("0x{:08x}", value); }
Json hex(const Digest& digest) { return fmt::format("{:02x}", fmt::join(digest, "")); }

Json bindings_json(const std::vector<Binding>& bindings) {
  Json list = Json::array();
  for (const Binding& binding : bindings) {
    Json slices = Json::array();
    for (const RegionSlice& slice : binding.slices) {
      slices.push_back({{"physicalTile", slice.physical_tile},
                        {"address", address(slice.address)},
                        {"offset", decimal(slice.offset)},
                        {"length", decimal(slice.length)}});
    }
    list.push_back({{"name", binding.name},
                    {"label", binding.label},
                    {"values", binding.values},
                    {"slices", std::move(slices)}});
  }
  return list;
}

Json page_refs_json(const std::vector<HostPageRef>& refs) {
  Json list = Json::array();
  for (const HostPageRef& ref : refs) {
    list.push_back({{"page", ref.page},
                    {"offset", decimal(ref.offset)},
                    {"aux64", decimal(ref.aux)},
                    {"length", decimal(ref.length)}});
  }
  return list;
}

Json host_exchange_json(const HostExchange& host) {
  Json pages = Json::array();
  for (const HostPage& page : host.pages) {
    pages.push_back({{"id", page.id}, {"size", decimal(page.size)}});
  }
  Json calls = Json::array();
  for (const HostCall& call : host.calls) {
    calls.push_back({{"name", call.name},
                     {"aux1", call.aux_1},
                     {"aux2", call.aux_2},
                     {"invocations", call.invocations},
                     {"pageRefs1", page_refs_json(call.page_refs_1)},
                     {"pageRefs2", page_refs_json(call.page_refs_2)}});
  }
  return {{"aux", host.aux},
          {"startupPage", host.startup_page},
          {"startupOffset", decimal(host.startup_offset)},
          {"pages", std::move(pages)},
          {"requiredPages", host.required_pages},
          {"calls", std::move(calls)}};
}

Json blob_json(const ManifestBlob& blob) {
  Json out{{"file", blob.file}};
  if (blob.digest) out["digest"] = hex(*blob.digest);
  out["compression"] = blob.compression == compression_zstd ? "zstd" : "none";
  if (blob.level) out["level"] = *blob.level;
  if (blob.frame) out["frame"] = *blob.frame;
  if (blob.declared_size) out["declaredUncompressedSize"] = decimal(*blob.declared_size);
  return out;
}

}  // namespace

std::string manifest_text(const PackageManifest& manifest) {
  Json blobs = Json::array();
  for (const ManifestBlob& blob : manifest.blobs) blobs.push_back(blob_json(blob));
  Json tiles = Json::array();
  for (const TileImage& tile : manifest.tiles) {
    Json segments = Json::array();
    for (const Segment& segment : tile.segments) {
      Json entry{{"address", address(segment.address)},
                 {"memorySize", segment.memory_size},
                 {"blob", decimal(segment.blob)}};
      if (segment.blob < manifest.blobs.size() && manifest.blobs[segment.blob].digest) {
        entry["blobDigest"] = hex(*manifest.blobs[segment.blob].digest);
      }
      entry["blobOffset"] = decimal(segment.blob_offset);
      entry["dataSize"] = segment.data_size;
      entry["aux"] = segment.aux;
      segments.push_back(std::move(entry));
    }
    tiles.push_back({{"physicalTile", tile.physical_tile},
                     {"aux1", tile.aux_1},
                     {"aux2", tile.aux_2},
                     {"aux3", tile.aux_3},
                     {"segments", std::move(segments)}});
  }
  Json entry_points = Json::array();
  for (const EntryPoint& entry : manifest.entry_points) {
    entry_points.push_back(
        {{"name", entry.name}, {"aux", entry.aux}, {"externalSyncs", entry.external_syncs}});
  }
  Json writes = Json::array();
  for (const DeviceConfigWrite& write : manifest.device_config_writes) {
    writes.push_back({{"address", address(write.address)}, {"value", word(write.value)}});
  }
  const Json document{{"format", manifest_format},
                      {"compiler", manifest.compiler},
                      {"blobs", std::move(blobs)},
                      {"tiles", std::move(tiles)},
                      {"bindings1", bindings_json(manifest.bindings_1)},
                      {"bindings2", bindings_json(manifest.bindings_2)},
                      {"bindings3", bindings_json(manifest.bindings_3)},
                      {"hostExchange", host_exchange_json(manifest.host_exchange)},
                      {"entryPoints", std::move(entry_points)},
                      {"deviceConfigWrites", std::move(writes)}};
  // A text that is not UTF-8 (a manifest made in code; a read package's
  // never is) is written with replacement characters rather than not at all.
  return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace zem
