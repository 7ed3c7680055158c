// Reading a package's message into the model: the header, the compiler, the
// blob table and the structure (tiles, bindings, host exchange, entry points,
// device configuration writes), each root field followed only when its turn
// comes, so that the first failure in read order is the one reported.

#include "reading/message_reader.hpp"

#include <capnp/serialize.h>

#include <new>
#include <optional>
#include <utility>

#include "blobs/blob_check.hpp"
#include "message/capnp_boundary.hpp"
#include "message/pointer_bounds.hpp"
#include "reading/read_place.hpp"
#include "reading/structure_reader.hpp"
#include "zem_package/events.hpp"

namespace zem {
namespace {

using Stage = ReadStage;
using F = PackageField;

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

// A header field that differs from its fixed value.
ReadFailure incompatible_header(const ReadPlace& place, DetailValue found, DetailValue expected) {
  ReadFailure failure = place.failure(PackageError::invalid("incompatible package header"));
  failure.details = {{"found", std::move(found)}, {"expected", std::move(expected)}};
  return failure;
}

// The header must hold the fixed values. A field beyond the end of the data
// section reads as 0 and so fails its comparison; the section length only
// decides that a bad `target` text reports its own error first.
ReadResult<void> check_header(schema::Application::Reader root, ReadPlace& place) {
  place.set(Stage::header, {{F::format_version}});
  if (const std::uint32_t version = root.getFormatVersion(); version != format_version) {
    return std::unexpected(incompatible_header(place, detail_value::Number{version},
                                               detail_value::Number{format_version}));
  }
  place.set(Stage::header, {{F::target}});
  auto target = read_text(root.getTarget());
  if (!target) return std::unexpected(place.failure(std::move(target).error()));
  if (*target != target_name) {
    return std::unexpected(incompatible_header(place, detail_value::Text{std::move(*target), true},
                                               detail_value::Text{std::string(target_name), true}));
  }
  const struct {
    PackageField field;
    std::uint32_t found;
    std::uint32_t expected;
  } memory[] = {{F::tile_memory_base, root.getTileMemoryBase(), tile_memory_base},
                {F::tile_memory_size, root.getTileMemorySize(), tile_memory_size}};
  for (const auto& [field, found, expected] : memory) {
    if (found != expected) {
      place.set(Stage::header, {{field}});
      return std::unexpected(incompatible_header(place, detail_value::Address{found},
                                                 detail_value::Address{expected}));
    }
  }
  return {};
}

// The tiles of the message, read with a reader of their own ahead of the
// blobs, for an observer that wants them; none when they cannot be read.
// Whatever fails here is left for the read proper to meet in its turn.
std::optional<std::vector<TileImage>> read_tiles_ahead(const FramedMessage& framed,
                                                       const capnp::ReaderOptions& options) {
  try {
    capnp::FlatArrayMessageReader message(framed.words(), options);
    const PointerBounds bounds(framed.words());
    ReadPlace place;
    bounds.check_root();
    const schema::Application::Reader root = message.getRoot<schema::Application>();
    bounds.check(root, 3, PointerUse::struct_list);
    std::vector<TileImage> tiles;
    StructureReader structure(place, &bounds);
    if (!structure.tiles(root.getTiles(), tiles)) return std::nullopt;
    return tiles;
  } catch (const kj::Exception&) {
    return std::nullopt;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

// Steps of the read after the framing. Any reader of the message may throw
// where it follows a pointer; `place` says where that was.
//
// A strict read stops at the first failure. A survey goes on past a failure
// in the blobs or the structure wherever the parts that follow do not depend
// on the part that failed: the blob table's storage, and each root field of
// the structure on its own. Only the framing and the header stop it.
ReadResult<MessageContents> read_fields(const FramedMessage& framed, const ReadOptions& options,
                                        KeepContents keep, BlobObserver* observer,
                                        ReadPlace& place) {
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
  place.set(Stage::header, {{F::compiler}});
  auto compiler = read_text(root.getCompiler());
  if (!compiler) return std::unexpected(place.failure(std::move(compiler).error()));

  MessageContents contents;
  PackageModel& model = contents.model;
  model.compiler = std::move(*compiler);
  const bool survey = options.mode == ReadMode::survey;

  // Records what became of `part`, its failures in read order; a failure
  // ends a strict read.
  const auto finish_all = [&](PackagePart part, std::vector<ReadFailure> failures) -> bool {
    MessageContents::Part& state = contents.parts[static_cast<std::size_t>(part)];
    state.first_failure = contents.failures.size();
    if (failures.empty()) {
      state.state = PartState::read;
      return false;
    }
    state.state = PartState::failed;
    state.failure_count = failures.size();
    for (ReadFailure& failure : failures) contents.failures.push_back(std::move(failure));
    return !survey;
  };
  const auto finish = [&](PackagePart part, std::optional<ReadFailure> failure) -> bool {
    std::vector<ReadFailure> failures;
    if (failure) failures.push_back(std::move(*failure));
    return finish_all(part, std::move(failures));
  };
  // Runs one part of the structure, root pointer `pointer`, which fills its
  // own piece of the model as far as it gets.
  const auto part = [&](PackagePart which, unsigned pointer, PointerUse use, auto&& read) -> bool {
    place.set(Stage::structure, {{field_of(which)}});
    try {
      bounds.check(root, pointer, use);
      if (Result<void> done = read(); !done) {
        return finish(which, place.failure(std::move(done).error()));
      }
    } catch (const kj::Exception& e) {
      return finish(which, place.failure(capnp_error(e)));
    }
    return finish(which, std::nullopt);
  };

  if (observer != nullptr && !survey && observer->wants_tiles()) {
    const std::optional<std::vector<TileImage>> tiles = read_tiles_ahead(framed, reader_options);
    observer->tiles_ahead(tiles ? &*tiles : nullptr);
  }

  place.set(Stage::blobs, {{F::blobs}});
  std::vector<ReadFailure> blob_failures;
  try {
    bounds.check(root, 2, PointerUse::struct_list);
    const auto blob_list = root.getBlobs();
    BlobChecker checker(options.threads, keep, survey ? nullptr : observer);
    BlobTableSurvey table = check_blob_table(blob_list, framed.bytes(), checker, survey, &bounds,
                                             survey ? most_blob_failures_listed : 1);
    contents.stored_blobs = std::move(table.storage);
    const std::size_t checked = table.checked.blobs.size();
    model.blobs.reserve(checked);
    contents.payloads.reserve(checked);
    if (keep == KeepContents::yes) contents.kept_contents.reserve(checked);
    for (CheckedBlob& blob : table.checked.blobs) {
      model.blobs.push_back(BlobInfo{blob.digest, blob.size, blob.storage, blob.passed});
      contents.payloads.push_back(blob.payload);
      if (keep == KeepContents::yes) contents.kept_contents.push_back(std::move(blob.contents));
    }
    contents.blobs_by_digest = std::move(table.checked.by_digest);
    blob_failures = std::move(table.failures);
    contents.parts[static_cast<std::size_t>(PackagePart::blobs)].unlisted_failures =
        table.unlisted_failures;
  } catch (const kj::Exception& e) {
    blob_failures = {place.failure(capnp_error(e))};
  }
  if (finish_all(PackagePart::blobs, std::move(blob_failures))) {
    return std::unexpected(std::move(contents.failures.front()));
  }

  // Each root field is followed only when its turn comes: an earlier
  // field's failure wins over a later field's broken pointer.
  StructureReader structure(place, &bounds);
  const auto binding_part =
      [&](PackagePart which, unsigned pointer,
          capnp::List<schema::Binding>::Reader (schema::Application::Reader::*list)() const,
          std::vector<Binding>& result) {
        return part(which, pointer, PointerUse::struct_list,
                    [&] { return structure.bindings((root.*list)(), field_of(which), result); });
      };
  const bool stopped =
      part(PackagePart::tiles, 3, PointerUse::struct_list,
           [&] { return structure.tiles(root.getTiles(), model.tiles); }) ||
      binding_part(PackagePart::bindings1, 4, &schema::Application::Reader::getBindings1,
                   model.bindings_1) ||
      binding_part(PackagePart::bindings2, 5, &schema::Application::Reader::getBindings2,
                   model.bindings_2) ||
      binding_part(PackagePart::bindings3, 6, &schema::Application::Reader::getBindings3,
                   model.bindings_3) ||
      part(PackagePart::host_exchange, 7, PointerUse::structure,
           [&] { return structure.host_exchange(root.getHostExchange(), model.host_exchange); }) ||
      part(PackagePart::entry_points, 8, PointerUse::struct_list,
           [&] { return structure.entry_points(root.getEntryPoints(), model.entry_points); }) ||
      part(PackagePart::device_config_writes, 10, PointerUse::struct_list, [&]() -> Result<void> {
        StructureReader::device_config_writes(root.getDeviceConfigWrites(),
                                              model.device_config_writes);
        return {};
      });
  if (stopped) return std::unexpected(std::move(contents.failures.front()));

  // The stored digest is only looked at after validation, so a pointer
  // failure here is kept to be reported in its turn.
  place.set(Stage::build_digest, {{F::build_digest}});
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
                                     const ReadOptions& options, KeepContents keep,
                                     BlobObserver* observer) {
  if (events::enabled(events::Level::info)) {
    events::emit(events::Level::info, "reading application package");
  }
  ReadPlace place;
  try {
    auto framed = frame();
    if (!framed) return std::unexpected(place.failure(std::move(framed).error()));
    auto contents = read_fields(*framed, options, keep, observer, place);
    if (!contents) return std::unexpected(std::move(contents).error());
    return ReadPackage{std::move(*framed), std::move(*contents)};
  } catch (const kj::Exception& e) {
    return std::unexpected(place.failure(capnp_error(e)));
  } catch (const std::bad_alloc&) {
    return std::unexpected(place.failure(out_of_memory_error()));
  }
}

}  // namespace zem
