// Reading a package's message into the model: the header, the compiler, the
// blob table and the structure (tiles, bindings, host exchange, entry points,
// device configuration writes), each root field followed only when its turn
// comes, so that the first failure in read order is the one reported.

#include "message_reader.hpp"

#include <capnp/serialize.h>

#include <utility>

#include "blob_check.hpp"
#include "capnp_boundary.hpp"
#include "converters.hpp"
#include "pointer_bounds.hpp"
#include "read_place.hpp"
#include "zem_package/events.hpp"

namespace zem {
namespace {

using Stage = ReadStage;

// No package is refused for its size, but what the reader traverses is
// counted against a budget proportional to the file. The reader visits each
// object of a package about once, so every real package stays far below it.
// A list of zero-sized elements, though, costs a file almost nothing and may
// declare 2^29 elements, each of which would become a model record: Cap'n
// Proto counts such a list as one word per element, so an amplified package
// exhausts the budget and is refused instead of filling memory.
std::uint64_t traversal_budget(std::size_t message_words) {
  constexpr std::uint64_t words_per_file_word = 8;
  constexpr std::uint64_t constant = 1 << 12;
  return words_per_file_word * message_words + constant;
}

// Converters from the message's lists and structs into the model. Each sets
// the read's place before it follows a pointer, so that a failure, thrown or
// returned, is placed where it happened.
class StructureReader {
 public:
  // `bounds` checks each pointer before it is followed; none for a message
  // that was not framed by this library.
  explicit StructureReader(ReadPlace& place, const PointerBounds* bounds = nullptr)
      : place_(place), bounds_(bounds) {}

  // Each converter appends to `result` as it goes, so that a failure leaves
  // the elements before the failing one there.
  Result<void> tiles(capnp::List<schema::TileImage>::Reader list, std::vector<TileImage>& result) {
    result.reserve(list.size());
    for (unsigned i = 0; i < list.size(); ++i) {
      const schema::TileImage::Reader tile = list[i];
      place_.set(Stage::structure, {{"tiles", i}, {"segments"}});
      place_.identify("physicalTile", tile.getPhysicalTile());
      follow(tile, 0, PointerUse::struct_list);
      result.push_back(TileImage{tile.getPhysicalTile(), tile.getAux1(), tile.getAux2(),
                                 tile.getAux3(), segments(tile.getSegments())});
    }
    return {};
  }

  // One of the three binding lists; `name` is its field's name.
  Result<void> bindings(capnp::List<schema::Binding>::Reader list, std::string_view name,
                        std::vector<Binding>& result) {
    result.reserve(list.size());
    for (unsigned i = 0; i < list.size(); ++i) {
      const schema::Binding::Reader binding = list[i];
      place_.set(Stage::structure, {{name, i}, {"name"}});
      auto binding_name = read_text(binding.getName());
      if (!binding_name) return std::unexpected(std::move(binding_name).error());
      place_.set(Stage::structure, {{name, i}, {"label"}});
      place_.identify("name", *binding_name);
      auto label = read_text(binding.getLabel());
      if (!label) return std::unexpected(std::move(label).error());
      place_.set(Stage::structure, {{name, i}, {"values"}});
      place_.identify("name", *binding_name);
      follow(binding, 2, PointerUse::word_list);
      auto values = u32_list(binding.getValues());
      place_.set(Stage::structure, {{name, i}, {"slices"}});
      place_.identify("name", *binding_name);
      follow(binding, 3, PointerUse::struct_list);
      result.push_back(Binding{std::move(*binding_name), std::move(*label), std::move(values),
                               slices(binding.getSlices())});
    }
    return {};
  }

  Result<void> host_exchange(schema::HostExchange::Reader host, HostExchange& result) {
    result.aux = host.getAux();
    result.startup_page = host.getStartupPage();
    result.startup_offset = host.getStartupOffset();
    place_.set(Stage::structure, {{"hostExchange"}, {"pages"}});
    follow(host, 0, PointerUse::struct_list);
    for (const schema::HostPage::Reader page : host.getPages()) {
      result.pages.push_back(HostPage{page.getId(), page.getSize()});
    }
    place_.set(Stage::structure, {{"hostExchange"}, {"requiredPages"}});
    follow(host, 1, PointerUse::word_list);
    result.required_pages = u32_list(host.getRequiredPages());
    place_.set(Stage::structure, {{"hostExchange"}, {"calls"}});
    follow(host, 2, PointerUse::struct_list);
    const auto calls = host.getCalls();
    result.calls.reserve(calls.size());
    for (unsigned i = 0; i < calls.size(); ++i) {
      const schema::HostCall::Reader call = calls[i];
      place_.set(Stage::structure, {{"hostExchange"}, {"calls", i}, {"name"}});
      auto name = read_text(call.getName());
      if (!name) return std::unexpected(std::move(name).error());
      HostCall converted{
          std::move(*name), call.getAux1(), call.getAux2(), call.getInvocations(), {}, {}};
      place_.set(Stage::structure, {{"hostExchange"}, {"calls", i}, {"pageRefs1"}});
      place_.identify("name", converted.name);
      follow(call, 1, PointerUse::struct_list);
      converted.page_refs_1 = page_refs(call.getPageRefs1());
      place_.set(Stage::structure, {{"hostExchange"}, {"calls", i}, {"pageRefs2"}});
      place_.identify("name", converted.name);
      follow(call, 2, PointerUse::struct_list);
      converted.page_refs_2 = page_refs(call.getPageRefs2());
      result.calls.push_back(std::move(converted));
    }
    return {};
  }

  Result<void> entry_points(capnp::List<schema::EntryPoint>::Reader list,
                            std::vector<EntryPoint>& result) {
    result.reserve(list.size());
    for (unsigned i = 0; i < list.size(); ++i) {
      const schema::EntryPoint::Reader entry = list[i];
      place_.set(Stage::structure, {{"entryPoints", i}, {"name"}});
      auto name = read_text(entry.getName());
      if (!name) return std::unexpected(std::move(name).error());
      result.push_back(EntryPoint{std::move(*name), entry.getAux(), entry.getExternalSyncs()});
    }
    return {};
  }

  static void device_config_writes(capnp::List<schema::DeviceConfigWrite>::Reader list,
                                   std::vector<DeviceConfigWrite>& writes) {
    writes.reserve(list.size());
    for (const schema::DeviceConfigWrite::Reader write : list) {
      writes.push_back(DeviceConfigWrite{write.getAddress(), write.getValue()});
    }
  }

 private:
  static std::vector<std::uint32_t> u32_list(capnp::List<std::uint32_t>::Reader list) {
    std::vector<std::uint32_t> values;
    values.reserve(list.size());
    for (const std::uint32_t value : list) values.push_back(value);
    return values;
  }

  static std::vector<Segment> segments(capnp::List<schema::Segment>::Reader list) {
    std::vector<Segment> result;
    result.reserve(list.size());
    for (const schema::Segment::Reader segment : list) {
      result.push_back(Segment{segment.getAddress(), segment.getMemorySize(), segment.getBlob(),
                               segment.getBlobOffset(), segment.getDataSize(), segment.getAux()});
    }
    return result;
  }

  static std::vector<RegionSlice> slices(capnp::List<schema::RegionSlice>::Reader list) {
    std::vector<RegionSlice> result;
    result.reserve(list.size());
    for (const schema::RegionSlice::Reader slice : list) {
      result.push_back(RegionSlice{slice.getPhysicalTile(), slice.getAddress(), slice.getOffset(),
                                   slice.getLength()});
    }
    return result;
  }

  static std::vector<HostPageRef> page_refs(capnp::List<schema::HostPageRef>::Reader list) {
    std::vector<HostPageRef> refs;
    refs.reserve(list.size());
    for (const schema::HostPageRef::Reader ref : list) {
      refs.push_back(HostPageRef{ref.getPage(), ref.getOffset(), ref.getAux(), ref.getLength()});
    }
    return refs;
  }

  // Pointer field `index` of `reader` is about to be followed.
  template <class Reader>
  void follow(Reader reader, unsigned index, PointerUse use) const {
    if (bounds_ != nullptr) bounds_->check(reader, index, use);
  }

  ReadPlace& place_;
  const PointerBounds* bounds_;
};

// A header field that differs from its fixed value.
ReadFailure incompatible_header(const ReadPlace& place, std::string found, std::string expected) {
  ReadFailure failure = place.failure(PackageError::invalid("incompatible package header"));
  failure.details = {{"found", std::move(found)}, {"expected", std::move(expected)}};
  return failure;
}

// The header must hold the fixed values. A field beyond the end of the data
// section reads as 0 and so fails its comparison; the section length only
// decides that a bad `target` text reports its own error first.
ReadResult<void> check_header(schema::Application::Reader root, ReadPlace& place) {
  place.set(Stage::header, {{"formatVersion"}});
  if (const std::uint32_t version = root.getFormatVersion(); version != format_version) {
    return std::unexpected(
        incompatible_header(place, fmt::format("{}", version), fmt::format("{}", format_version)));
  }
  place.set(Stage::header, {{"target"}});
  auto target = read_text(root.getTarget());
  if (!target) return std::unexpected(place.failure(std::move(target).error()));
  if (*target != target_name) {
    return std::unexpected(
        incompatible_header(place, quote_escaped(*target), quote_escaped(target_name)));
  }
  const struct {
    std::string_view field;
    std::uint32_t found;
    std::uint32_t expected;
  } memory[] = {{"tileMemoryBase", root.getTileMemoryBase(), tile_memory_base},
                {"tileMemorySize", root.getTileMemorySize(), tile_memory_size}};
  for (const auto& [field, found, expected] : memory) {
    if (found != expected) {
      place.set(Stage::header, {{field}});
      return std::unexpected(
          incompatible_header(place, fmt::format("{:#x}", found), fmt::format("{:#x}", expected)));
    }
  }
  return {};
}

// Steps of the read after the framing. Any reader of the message may throw
// where it follows a pointer; `place` says where that was.
//
// A strict read stops at the first failure. A survey goes on past a failure
// in the blobs or the structure wherever the parts that follow do not depend
// on the part that failed: the blob table's storage, and each root field of
// the structure on its own. Only the framing and the header stop it.
ReadResult<MessageContents> read_fields(const FramedMessage& framed, const ReadOptions& options,
                                        KeepContents keep, ReadMode mode, ReadPlace& place) {
  capnp::ReaderOptions reader_options;
  reader_options.traversalLimitInWords = traversal_budget(framed.words().size());
  reader_options.nestingLimit = 64;
  capnp::FlatArrayMessageReader message(framed.words(), reader_options);
  const PointerBounds bounds(framed.words());
  place.set(Stage::framing, {});
  bounds.check_root();
  const schema::Application::Reader root = message.getRoot<schema::Application>();

  if (auto header = check_header(root, place); !header) {
    return std::unexpected(std::move(header).error());
  }
  place.set(Stage::header, {{"compiler"}});
  auto compiler = read_text(root.getCompiler());
  if (!compiler) return std::unexpected(place.failure(std::move(compiler).error()));

  MessageContents contents;
  Application& model = contents.model;
  model.compiler = std::move(*compiler);
  const bool survey = mode == ReadMode::survey;

  // A part that failed: the end of a strict read, one more failure of a
  // survey.
  const auto failed = [&](ReadFailure failure) -> bool {
    contents.failures.push_back(std::move(failure));
    return !survey;
  };
  // Runs one part of the structure, root pointer `pointer`, which fills its
  // own piece of the model as far as it gets.
  const auto part = [&](std::initializer_list<ReadPlace::Step> field, unsigned pointer,
                        PointerUse use, auto&& read) -> bool {
    place.set(Stage::structure, field);
    try {
      bounds.check(root, pointer, use);
      if (Result<void> done = read(); !done) return failed(place.failure(std::move(done).error()));
    } catch (const kj::Exception& e) {
      return failed(place.failure(capnp_error(e)));
    }
    return false;
  };

  place.set(Stage::blobs, {{"blobs"}});
  try {
    bounds.check(root, 2, PointerUse::struct_list);
    const auto blob_list = root.getBlobs();
    BlobChecker checker(framed.bytes(), options.threads, keep);
    BlobTableSurvey table = survey_blob_table(blob_list, checker, survey, &bounds);
    contents.stored_blobs = std::move(table.storage);
    model.blobs.reserve(table.checked.blobs.size());
    contents.blobs.reserve(table.checked.blobs.size());
    contents.payloads.reserve(table.checked.blobs.size());
    for (CheckedBlob& blob : table.checked.blobs) {
      model.blobs.push_back(Blob{std::move(blob.contents), blob.digest});
      contents.blobs.push_back(BlobInfo{blob.digest, blob.size, blob.storage});
      contents.payloads.push_back(blob.payload);
    }
    model.blobs_by_digest = std::move(table.checked.by_digest);
    if (table.failure && failed(std::move(*table.failure))) {
      return std::unexpected(std::move(contents.failures.front()));
    }
  } catch (const kj::Exception& e) {
    if (failed(place.failure(capnp_error(e)))) {
      return std::unexpected(std::move(contents.failures.front()));
    }
  }

  // Each root field is followed only when its turn comes: an earlier
  // field's failure wins over a later field's broken pointer.
  StructureReader structure(place, &bounds);
  const bool stopped =
      part({{"tiles"}}, 3, PointerUse::struct_list,
           [&] { return structure.tiles(root.getTiles(), model.tiles); }) ||
      part(
          {{"bindings1"}}, 4, PointerUse::struct_list,
          [&] { return structure.bindings(root.getBindings1(), "bindings1", model.bindings_1); }) ||
      part(
          {{"bindings2"}}, 5, PointerUse::struct_list,
          [&] { return structure.bindings(root.getBindings2(), "bindings2", model.bindings_2); }) ||
      part(
          {{"bindings3"}}, 6, PointerUse::struct_list,
          [&] { return structure.bindings(root.getBindings3(), "bindings3", model.bindings_3); }) ||
      part({{"hostExchange"}}, 7, PointerUse::structure,
           [&] { return structure.host_exchange(root.getHostExchange(), model.host_exchange); }) ||
      part({{"entryPoints"}}, 8, PointerUse::struct_list,
           [&] { return structure.entry_points(root.getEntryPoints(), model.entry_points); }) ||
      part({{"deviceConfigWrites"}}, 10, PointerUse::struct_list, [&]() -> Result<void> {
        StructureReader::device_config_writes(root.getDeviceConfigWrites(),
                                              model.device_config_writes);
        return {};
      });
  if (stopped) return std::unexpected(std::move(contents.failures.front()));

  // The stored digest is only looked at after validation, so a pointer
  // failure here is kept to be reported in its turn.
  place.set(Stage::build_digest, {{"buildDigest"}});
  try {
    bounds.check(root, 9, PointerUse::data);
    const capnp::Data::Reader digest = root.getBuildDigest();
    contents.stored_build_digest = std::vector<std::uint8_t>(digest.begin(), digest.end());
  } catch (const kj::Exception& e) {
    contents.stored_build_digest = std::unexpected(place.failure(capnp_error(e)));
  }
  return contents;
}

}  // namespace

ReadResult<ReadPackage> read_package(const std::function<Result<FramedMessage>()>& frame,
                                     const ReadOptions& options, KeepContents keep, ReadMode mode) {
  if (events::enabled(events::Level::info)) {
    events::emit(events::Level::info, "reading application package");
  }
  ReadPlace place;
  try {
    auto framed = frame();
    if (!framed) return std::unexpected(place.failure(std::move(framed).error()));
    auto contents = read_fields(*framed, options, keep, mode, place);
    if (!contents) return std::unexpected(std::move(contents).error());
    return ReadPackage{std::move(*framed), std::move(*contents)};
  } catch (const kj::Exception& e) {
    return std::unexpected(place.failure(capnp_error(e)));
  } catch (const std::bad_alloc&) {
    return std::unexpected(place.failure(out_of_memory_error()));
  }
}

// The converters on their own, each inside its own boundary.

Result<std::vector<TileImage>> read_tiles(capnp::List<schema::TileImage>::Reader tiles) {
  ReadPlace place;
  return capnp_boundary([&]() -> Result<std::vector<TileImage>> {
    std::vector<TileImage> result;
    ZEM_TRY(StructureReader(place).tiles(tiles, result));
    return result;
  });
}

Result<std::vector<Binding>> read_bindings(capnp::List<schema::Binding>::Reader bindings) {
  ReadPlace place;
  return capnp_boundary([&]() -> Result<std::vector<Binding>> {
    std::vector<Binding> result;
    ZEM_TRY(StructureReader(place).bindings(bindings, "bindings", result));
    return result;
  });
}

Result<HostExchange> read_host_exchange(schema::HostExchange::Reader host_exchange) {
  ReadPlace place;
  return capnp_boundary([&]() -> Result<HostExchange> {
    HostExchange result;
    ZEM_TRY(StructureReader(place).host_exchange(host_exchange, result));
    return result;
  });
}

}  // namespace zem
