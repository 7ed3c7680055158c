#include "toolkit/package_json.hpp"

#include "toolkit/hex.hpp"

namespace zem::toolkit {
namespace {

using Json = nlohmann::ordered_json;

// JSON keys of the stages: camelCase like every other key.
std::string stage_key(ReadStage stage) {
  return stage == ReadStage::build_digest ? "buildDigest" : std::string(stage_name(stage));
}

std::string status_text(StageStatus status) {
  switch (status) {
    case StageStatus::ok:
      return "ok";
    case StageStatus::failed:
      return "failed";
    case StageStatus::skipped:
      return "skipped";
  }
  return "unknown";
}

Json blobs_json(const PackageReading& reading) {
  const std::vector<std::size_t> uses = segments_per_blob(reading.model());
  const std::span<const BlobInfo> infos = reading.blobs();
  Json blobs = Json::array();
  for (std::size_t i = 0; i < infos.size(); ++i) {
    const BlobInfo& blob = infos[i];
    blobs.push_back(Json{
        {"index", i},
        {"digest", hex_bytes(blob.digest)},
        {"compression", compression_name(blob.storage.compression)},
        {"storedSize", blob.storage.stored_size},
        {"uncompressedSize", blob.size},
        {"declaredUncompressedSize", blob.storage.declared_size},
        {"segments", uses[i]},
    });
  }
  return blobs;
}

Json tiles_json(const Application& application) {
  Json tiles = Json::array();
  for (const TileImage& tile : application.tiles) {
    const TileLayout layout = tile_layout(tile);
    Json segments = Json::array();
    for (const Segment& segment : tile.segments) {
      segments.push_back(Json{
          {"address", hex_address(segment.address)},
          {"end", hex_address(std::uint64_t{segment.address} + segment.memory_size)},
          {"memorySize", segment.memory_size},
          {"blob", segment.blob},
          {"blobOffset", segment.blob_offset},
          {"dataSize", segment.data_size},
          {"aux", segment.aux},
      });
    }
    tiles.push_back(Json{
        {"physicalTile", tile.physical_tile},
        {"aux1", tile.aux_1},
        {"aux2", tile.aux_2},
        {"aux3", tile.aux_3},
        {"loadBase", layout.load_base ? Json(hex_address(*layout.load_base)) : Json()},
        {"imageSize", layout.image_size},
        {"segments", std::move(segments)},
    });
  }
  return tiles;
}

Json bindings_json(const Application& application) {
  Json bindings = Json::array();
  int list_number = 1;
  for (const auto* list :
       {&application.bindings_1, &application.bindings_2, &application.bindings_3}) {
    for (const Binding& binding : *list) {
      Json slices = Json::array();
      for (const RegionSlice& slice : binding.slices) {
        slices.push_back(Json{
            {"physicalTile", slice.physical_tile},
            {"address", hex_address(slice.address)},
            {"end", slice_end(slice) ? Json(hex_address(*slice_end(slice))) : Json()},
            {"length", slice.length},
            {"offset", slice.offset},
        });
      }
      bindings.push_back(Json{
          {"list", list_number},
          {"name", binding.name},
          {"label", binding.label},
          {"values", binding.values},
          {"slices", std::move(slices)},
      });
    }
    ++list_number;
  }
  return bindings;
}

Json page_refs_json(const std::vector<HostPageRef>& refs) {
  Json list = Json::array();
  for (const HostPageRef& ref : refs) {
    list.push_back(
        Json{{"page", ref.page}, {"offset", ref.offset}, {"length", ref.length}, {"aux", ref.aux}});
  }
  return list;
}

Json host_exchange_json(const HostExchange& host) {
  Json pages = Json::array();
  for (const HostPage& page : host.pages) {
    pages.push_back(Json{{"id", page.id}, {"size", page.size}});
  }
  Json calls = Json::array();
  for (const HostCall& call : host.calls) {
    calls.push_back(Json{
        {"name", call.name},
        {"invocations", call.invocations},
        {"aux1", call.aux_1},
        {"aux2", call.aux_2},
        {"pageRefs1", page_refs_json(call.page_refs_1)},
        {"pageRefs2", page_refs_json(call.page_refs_2)},
    });
  }
  return Json{
      {"aux", host.aux},
      {"startupPage", host.startup_page},
      {"startupOffset", host.startup_offset},
      {"pages", std::move(pages)},
      {"requiredPages", host.required_pages},
      {"calls", std::move(calls)},
  };
}

Json entry_points_json(const Application& application) {
  Json entries = Json::array();
  for (const EntryPoint& entry : application.entry_points) {
    entries.push_back(
        Json{{"name", entry.name}, {"aux", entry.aux}, {"externalSyncs", entry.external_syncs}});
  }
  return entries;
}

Json device_config_writes_json(const Application& application) {
  Json writes = Json::array();
  for (const DeviceConfigWrite& write : application.device_config_writes) {
    writes.push_back(Json{{"address", hex_address(write.address)}, {"value", write.value}});
  }
  return writes;
}

Json build_digest_json(const PackageReading& reading) {
  const BuildDigestCheck check = build_digest_check(reading);
  return Json{
      {"stored", check.stored ? Json(hex_bytes(*check.stored)) : Json()},
      {"computed", hex_bytes(check.computed)},
      {"matches", check.matches},
  };
}

}  // namespace

Json inspection_json(const Inspection& inspection) {
  Json document{
      {"format", inspect_json_format},
      {"package", inspection.path},
      {"valid", inspection.check.valid()},
  };
  Json checks = Json::object();
  for (const ReadStage stage : all_stages) {
    checks[stage_key(stage)] = status_text(inspection.check.status(stage));
  }
  document["checks"] = std::move(checks);
  if (const auto& failure = inspection.check.failure) {
    document["error"] =
        Json{{"stage", stage_key(failure->stage)}, {"message", failure->error.to_string()}};
  } else {
    document["error"] = nullptr;
  }
  if (inspection.reading == nullptr) return document;

  const Application& application = inspection.reading->model();
  document["compiler"] = application.compiler;
  document["blobs"] = blobs_json(*inspection.reading);
  document["tiles"] = tiles_json(application);
  document["bindings"] = bindings_json(application);
  document["hostExchange"] = host_exchange_json(application.host_exchange);
  document["entryPoints"] = entry_points_json(application);
  document["deviceConfigWrites"] = device_config_writes_json(application);
  document["buildDigest"] = build_digest_json(*inspection.reading);
  return document;
}

std::string json_text(const nlohmann::ordered_json& document) {
  return document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace zem::toolkit
