#include "toolkit/inspect/inspection_json.hpp"

#include "format/hex.hpp"
#include "toolkit/package/failure_report.hpp"
#include "toolkit/package/package_layout.hpp"

namespace zem::toolkit {
namespace {

// Every blob of the table as far as it could be followed; the digest, size
// and uses of a blob that did not pass its checks are null.
Json blobs_json(const Package& reading) {
  const std::vector<std::size_t> uses = segments_per_blob(reading.model());
  const std::vector<BlobInfo>& checked = reading.model().blobs;
  const std::span<const BlobStorage> stored = reading.stored_blobs();
  Json blobs = Json::array();
  for (std::size_t i = 0; i < stored.size(); ++i) {
    const bool known = i < checked.size() && checked[i].checked;
    blobs.push_back(Json{
        {"index", i},
        {"digest", known ? Json(hex_bytes(checked[i].digest)) : Json()},
        {"compression", compression_name(stored[i].compression)},
        {"storedSize", json_u64(stored[i].stored_size)},
        {"uncompressedSize", known ? json_u64(checked[i].size) : Json()},
        {"declaredUncompressedSize", json_u64(stored[i].declared_size)},
        {"segments", known ? Json(uses[i]) : Json()},
    });
  }
  return blobs;
}

Json tiles_json(const PackageModel& model) {
  Json tiles = Json::array();
  for (const TileImage& tile : model.tiles) {
    const TileLayout layout = tile_layout(tile);
    Json segments = Json::array();
    for (const Segment& segment : tile.segments) {
      segments.push_back(Json{
          {"address", json_address(segment.address)},
          {"end", json_address(std::uint64_t{segment.address} + segment.memory_size)},
          {"memorySize", segment.memory_size},
          {"blob", json_u64(segment.blob)},
          {"blobOffset", json_u64(segment.blob_offset)},
          {"dataSize", segment.data_size},
          {"aux", segment.aux},
      });
    }
    tiles.push_back(Json{
        {"physicalTile", tile.physical_tile},
        {"aux1", tile.aux_1},
        {"aux2", tile.aux_2},
        {"aux3", tile.aux_3},
        {"loadBase", layout.load_base ? json_address(*layout.load_base) : Json()},
        {"imageSize", layout.image_size},
        {"segments", std::move(segments)},
    });
  }
  return tiles;
}

Json bindings_json(const PackageModel& model) {
  Json bindings = Json::array();
  int list_number = 1;
  for (const BindingList& list : binding_lists(model)) {
    for (const Binding& binding : list.bindings) {
      Json slices = Json::array();
      for (const RegionSlice& slice : binding.slices) {
        const std::optional<std::uint64_t> end = slice_end(slice);
        slices.push_back(Json{
            {"physicalTile", slice.physical_tile},
            {"address", json_address(slice.address)},
            {"end", end ? json_address(*end) : Json()},
            {"length", json_u64(slice.length)},
            {"offset", json_u64(slice.offset)},
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
    list.push_back(Json{{"page", ref.page},
                        {"offset", json_u64(ref.offset)},
                        {"length", json_u64(ref.length)},
                        {"aux64", json_u64(ref.aux)}});
  }
  return list;
}

Json host_exchange_json(const HostExchange& host) {
  Json pages = Json::array();
  for (const HostPage& page : host.pages) {
    pages.push_back(Json{{"id", page.id}, {"size", json_u64(page.size)}});
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
      {"startupOffset", json_u64(host.startup_offset)},
      {"pages", std::move(pages)},
      {"requiredPages", host.required_pages},
      {"calls", std::move(calls)},
  };
}

Json entry_points_json(const PackageModel& model) {
  Json entries = Json::array();
  for (const EntryPoint& entry : model.entry_points) {
    entries.push_back(
        Json{{"name", entry.name}, {"aux", entry.aux}, {"externalSyncs", entry.external_syncs}});
  }
  return entries;
}

Json device_config_writes_json(const PackageModel& model) {
  Json writes = Json::array();
  for (const DeviceConfigWrite& write : model.device_config_writes) {
    writes.push_back(
        Json{{"address", json_address(write.address)}, {"value", json_word(write.value)}});
  }
  return writes;
}

// The digests as far as they are known; whether they match is said only
// when the build digest was checked, as `checks.buildDigest` says, so that
// a package whose validation failed does not seem to fail its digest too.
Json build_digest_json(const Package& reading, StageState stage) {
  const BuildDigestCheck check = build_digest_check(reading);
  const bool checked = stage != StageState::not_run && check.computed;
  return Json{
      {"stored", check.stored ? Json(hex_bytes(*check.stored)) : Json()},
      {"computed", check.computed ? Json(hex_bytes(*check.computed)) : Json()},
      {"matches", checked ? Json(check.matches) : Json()},
  };
}

}  // namespace

Json inspection_json(const Inspection& inspection) {
  const std::vector<ReadFailure>& failures = inspection.check.failures;
  Json document{
      {"format", inspect_json_format},
      {"package", inspection.path},
      {"valid", inspection.check.valid()},
      {"checks", checks_json(inspection.check)},
      {"error", failures.empty() ? Json() : failure_json(failures.front())},
  };
  Json all = Json::array();
  for (const ReadFailure& failure : failures) all.push_back(failure_json(failure));
  document["failures"] = std::move(all);
  document["unlistedBlobFailures"] = inspection.check.unlisted_blob_failures;
  document["hints"] = inspection.check.hints;
  if (inspection.package == nullptr) return document;

  const PackageModel& model = inspection.package->model();
  document["compiler"] = model.compiler;
  document["blobs"] = blobs_json(*inspection.package);
  document["tiles"] = tiles_json(model);
  document["bindings"] = bindings_json(model);
  document["hostExchange"] = host_exchange_json(model.host_exchange);
  document["entryPoints"] = entry_points_json(model);
  document["deviceConfigWrites"] = device_config_writes_json(model);
  document["buildDigest"] =
      build_digest_json(*inspection.package, inspection.check.state(ReadStage::build_digest));
  document["notes"] = notes_json(inspection.notes);
  return document;
}

}  // namespace zem::toolkit
