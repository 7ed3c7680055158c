#include "format/record_json.hpp"

#include <algorithm>
#include <span>
#include <variant>

#include "format/hex.hpp"

namespace zem {
namespace {

// 1, 2 or 3: which of the binding lists, as every document numbers them.
int binding_list_number(PackageField list) {
  return list == PackageField::bindings1 ? 1 : list == PackageField::bindings2 ? 2 : 3;
}

template <class Words>
Json listed_words(const Words& words, std::size_t max, const char* value_key) {
  Json list = Json::array();
  for (const RecordWord& word : std::span(words).first(std::min(max, words.size()))) {
    list.push_back(Json{{"word", word.index}, {value_key, json_word(word.value)}});
  }
  return list;
}

Json differences_json(const RecordDiff& diff, const PackageModel& model, std::size_t max) {
  Json list = Json::array();
  for (const ExplainedWord& word :
       std::span(diff.differences).first(std::min(max, diff.differences.size()))) {
    list.push_back(explained_word_json(word, model));
  }
  return list;
}

Json hints_json(const RecordDiff& diff, std::size_t max) {
  Json list = Json::array();
  for (const Hint& hint : diff.hints) list.push_back(hint_json(hint, max));
  return list;
}

// One device-wide hint as JSON.
struct DeviceHintJson {
  Json operator()(const device_hint::NoRecords& h) const {
    return {{"directory", h.directory}, {"directoryExists", h.directory_exists}};
  }
  Json operator()(const device_hint::OffBy& h) const {
    return {{"tileOffset", h.tiles}, {"recordsRead", h.records}};
  }
  Json operator()(const device_hint::ForeignRecords& h) const {
    return {{"recordsRead", h.records}};
  }
  Json operator()(const device_hint::SameRecords& h) const {
    return {{"device", h.device}, {"name", h.name}};
  }
};

}  // namespace

Json setup_json(const TemplateSetup& setup) {
  return Json{{"primary", json_address(setup.primary)},
              {"primaryWords", setup.primary_words},
              {"secondary", json_address(setup.secondary)},
              {"secondaryWords", setup.secondary_words},
              {"patchTable", json_address(setup.patch_table)}};
}

Json template_words_json(const ExpectedRecord& record) {
  const std::vector<std::uint32_t>& gathered = record.words.gathered;
  const std::vector<std::uint32_t>& patched = record.words.words;
  Json list = Json::array();
  for (std::size_t n = 0; n < patched.size(); ++n) {
    const WordPlace place = word_place(record.setup, n);
    const bool was_gathered = n < gathered.size();
    list.push_back(Json{{"word", n},
                        {"region", region_name(place.region)},
                        {"regionOffset", place.offset},
                        {"address", json_address(place.address)},
                        {"unpatched", was_gathered ? json_word(gathered[n]) : Json()},
                        {"expected", json_word(patched[n])},
                        {"patched", was_gathered && gathered[n] != patched[n]}});
  }
  return list;
}

Json explained_word_json(const ExplainedWord& word, const PackageModel& model) {
  Json patch = nullptr;
  if (word.patch) {
    patch = Json{{"group", word.patch->group},
                 {"entry", word.patch->patch.entry},
                 {"delta", json_word(word.patch->patch.delta)}};
  }
  Json segment = nullptr;
  Json blob = nullptr;
  if (const std::optional<SegmentOwner>& owner = word.owner.segment) {
    segment = Json{{"index", owner->segment},
                   {"start", json_address(owner->start)},
                   {"end", json_address(owner->end)}};
    if (const std::optional<BlobByte>& data = owner->data) {
      blob = Json{{"index", data->blob},
                  {"digest", data->blob < model.blobs.size()
                                 ? Json(short_digest(model.blobs[data->blob].digest))
                                 : Json()},
                  {"offset", json_u64(data->offset)},
                  {"fileOffset", data->file_offset ? json_u64(*data->file_offset) : Json()}};
    }
  }
  Json bindings = Json::array();
  for (const SliceOwner& slice : word.owner.slices) {
    bindings.push_back(Json{{"name", slice.name},
                            {"list", binding_list_number(slice.list)},
                            {"binding", slice.binding},
                            {"slice", slice.slice}});
  }
  return Json{{"word", word.index},
              {"region", region_name(word.place.region)},
              {"regionOffset", word.place.offset},
              {"address", json_address(word.place.address)},
              {"actual", json_word(word.actual)},
              {"expected", json_word(word.expected)},
              {"xor", json_word(word.difference())},
              {"unpatched", json_word(word.unpatched)},
              {"patched", word.unpatched != word.expected},
              {"patch", std::move(patch)},
              {"segment", std::move(segment)},
              {"blob", std::move(blob)},
              {"bindings", std::move(bindings)}};
}

Json hint_json(const Hint& hint, std::size_t max) {
  Json json{{"kind", hint_kind(hint)}};
  struct Values {
    Json& json;
    std::size_t max;
    void operator()(const hint::Short& h) const {
      json["words"] = h.words;
      json["missing"] = listed_words(h.missing, max, "expected");
    }
    void operator()(const hint::Long& h) const {
      json["words"] = h.words;
      json["atLeast"] = h.at_least;
      json["read"] = h.extra.size();
      json["extra"] = listed_words(h.extra, max, "actual");
    }
    void operator()(const hint::Shifted& h) const { json["words"] = h.words; }
    void operator()(const hint::Truncated& h) const {
      json["fromWord"] = h.from;
      json["fill"] = json_word(h.fill);
    }
    void operator()(const hint::RecordOfTile& h) const {
      json["tile"] = h.tile;
      json["change"] = change_name(h.change);
      if (h.change == hint::RecordChange::one_bit) {
        json["word"] = h.word;
        json["bit"] = h.bit;
      }
    }
    void operator()(const hint::StuckBit& h) const {
      json["bit"] = h.bit;
      json["stuckAt"] = h.value;
      json["words"] = h.words;
    }
    void operator()(const hint::SingleBit& h) const {
      json["bit"] = h.bit;
      json["words"] = h.words.size();
      Json listed = Json::array();
      for (const std::size_t word : std::span(h.words).first(std::min(max, h.words.size()))) {
        listed.push_back(word);
      }
      json["indexes"] = std::move(listed);
    }
    void operator()(const hint::ByteSwapped&) const {}
    void operator()(const hint::HalfSwapped&) const {}
    void operator()(const hint::Unpatched&) const {}
    void operator()(const hint::AllZeros&) const {}
    void operator()(const hint::AllOnes&) const {}
  };
  std::visit(Values{json, max}, hint);
  return json;
}

Json tile_diff_json(const ExpectedRecord& expected, const RecordDiff& diff,
                    const PackageModel& model, std::size_t max) {
  return Json{{"physicalTile", expected.physical_tile},
              {"setup", setup_json(expected.setup)},
              {"templateRecordWords", diff.expected_words},
              {"recordBytes", diff.record_bytes},
              {"recordWords", diff.record_bytes / 4},
              {"differingWords", diff.differing_words},
              {"differences", differences_json(diff, model, max)},
              {"hints", hints_json(diff, max)},
              {"explainedByHints", diff.explained},
              {"status", diff.matches() ? "match" : "differ"}};
}

Json tile_verdict_json(const TileVerdict& verdict, const PackageModel& model, std::size_t max) {
  const RecordDiff* diff = verdict.diff ? &*verdict.diff : nullptr;
  return Json{
      {"physicalTile", verdict.physical_tile},
      {"status", status_name(verdict.status)},
      {"reason", verdict.reason.empty() ? Json() : Json(verdict.reason)},
      {"words", diff != nullptr ? Json(diff->expected_words) : Json()},
      {"recordWords", diff != nullptr ? Json(diff->record_bytes / 4) : Json()},
      {"differingWords", diff != nullptr ? Json(diff->differing_words) : Json()},
      {"differences", diff != nullptr ? differences_json(*diff, model, max) : Json::array()},
      {"hints", diff != nullptr ? hints_json(*diff, max) : Json::array()},
      {"explainedByHints", diff != nullptr && diff->explained},
  };
}

Json status_counts_json(const StatusCounts& counts) {
  Json json{{"tiles", counts.tiles()}};
  for (const TileStatus status : all_tile_statuses) {
    json[std::string(status_name(status))] = counts.of(status);
  }
  return json;
}

Json hint_counts_json(const HintCounts& counts) {
  Json json = Json::array();
  for (std::size_t i = 0; i < hint_kinds.size(); ++i) {
    if (counts.counts[i] > 0)
      json.push_back(Json{{"kind", hint_kinds[i]}, {"tiles", counts.counts[i]}});
  }
  return json;
}

Json device_json(const DeviceResult& device, Json name, Json records, std::size_t without_setup,
                 const PackageModel& model, std::size_t max) {
  Json tiles = Json::array();
  for (const TileVerdict& verdict : device.tiles) {
    tiles.push_back(tile_verdict_json(verdict, model, max));
  }
  Json summary = status_counts_json(device.counts);
  summary["noTemplateSetup"] = without_setup;
  summary["hints"] = hint_counts_json(device_tally(device).hints);
  Json hints = Json::array();
  for (const DeviceHint& hint : device.hints) hints.push_back(device_hint_json(hint));
  return Json{{"name", std::move(name)},
              {"records", std::move(records)},
              {"tiles", std::move(tiles)},
              {"summary", summary},
              {"deviceHints", std::move(hints)}};
}

Json device_hint_json(const DeviceHint& hint) {
  Json json{{"kind", device_hint_kind(hint)}};
  json.update(std::visit(DeviceHintJson{}, hint));
  return json;
}

Json matrix_cell_json(const MatrixCell& cell) {
  if (!cell.verified) return nullptr;
  Json json{{"status", status_name(cell.status)}, {"code", cell.code}};
  if (!cell.hint.empty()) json["hint"] = cell.hint;
  return json;
}

Json matrix_row_json(const MatrixRow& row) {
  Json cells = Json::array();
  for (const MatrixCell& cell : row.cells) cells.push_back(matrix_cell_json(cell));
  return Json{
      {"physicalTile", row.physical_tile}, {"failing", row.failing}, {"cells", std::move(cells)}};
}

Json legend_entry_json(const LegendEntry& entry) {
  return Json{{"code", entry.code}, {"meaning", entry.meaning}};
}

Json one_device_tile_json(const OneDeviceTile& tile, std::string_view name) {
  return Json{{"physicalTile", tile.physical_tile}, {"device", tile.device}, {"name", name}};
}

Json fleet_matrix_json(const FleetMatrix& matrix) {
  Json rows = Json::array();
  for (const MatrixRow& row : matrix.rows) rows.push_back(matrix_row_json(row));
  Json legend = Json::array();
  for (const LegendEntry& entry : matrix.legend) legend.push_back(legend_entry_json(entry));
  Json one = Json::array();
  for (const OneDeviceTile& tile : matrix.on_one_device) {
    one.push_back(one_device_tile_json(tile, matrix.devices[tile.device]));
  }
  return Json{{"devices", matrix.devices},
              {"rows", std::move(rows)},
              {"legend", std::move(legend)},
              {"onEveryDevice", tiles_json(matrix.on_every_device)},
              {"onOneDevice", std::move(one)}};
}

Json tiles_json(std::span<const std::uint32_t> tiles) {
  Json list = Json::array();
  for (const std::uint32_t tile : tiles) list.push_back(tile);
  return list;
}

}  // namespace zem
