// The reads of a package: from a file or from memory, into a reading that
// keeps the message and decompresses blobs again on demand, or into the full
// model with every blob's contents.

#include "zem_package/package_reading.hpp"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <utility>

#include <fmt/format.h>

#include "blobs/blob_contents.hpp"
#include "message/capnp_boundary.hpp"
#include "message/framing.hpp"
#include "reading/message_reader.hpp"
#include "reading/read_completion.hpp"
#include "tile/tile_rebuild.hpp"
#include "zem_package/io.hpp"

namespace zem {

struct PackageReading::State {
  FramedMessage message;
  MessageContents contents;
  std::vector<std::uint64_t> blob_sizes;  // what images need of the blobs
  // The completion a survey made, when nothing before it failed.
  std::optional<ReadResult<void>> completion;
};

// Builds readings; the only way to one is a read that succeeded.
struct PackageReadingAccess {
  static PackageReading make(std::unique_ptr<PackageReading::State> state) noexcept {
    return PackageReading(std::move(state));
  }
  static PackageReading::State& state(PackageReading& reading) noexcept { return *reading.state_; }
  static const PackageReading::State& state(const PackageReading& reading) noexcept {
    return *reading.state_;
  }
};

namespace {

// Every step of a read but its completion, from the framed message that
// `frame()` reads; a survey completes itself when nothing failed.
ReadResult<PackageReading> read_reading(const std::function<Result<FramedMessage>()>& frame,
                                        const ReadOptions& options, KeepContents keep) {
  auto read = read_package(frame, options, keep);
  if (!read) return std::unexpected(std::move(read).error());
  std::vector<std::uint64_t> sizes;
  sizes.reserve(read->contents.model.blobs.size());
  for (const BlobInfo& blob : read->contents.model.blobs) sizes.push_back(blob.size);
  auto state = std::make_unique<PackageReading::State>(PackageReading::State{
      std::move(read->message), std::move(read->contents), std::move(sizes), std::nullopt});
  if (options.mode == ReadMode::survey && state->contents.failures.empty()) {
    state->completion = complete_model(state->contents.model, state->contents.stored_build_digest);
    if (!*state->completion) state->contents.failures.push_back(state->completion->error());
  }
  return PackageReadingAccess::make(std::move(state));
}

ReadResult<PackageReading> read_file(io::FileDescriptor file, const ReadOptions& options,
                                     KeepContents keep) {
  // The file is closed when its read ends, whichever way it ends.
  const int fd = file.get();
  return read_reading([fd, &options] { return read_framed_message(fd, options.threads); }, options,
                      keep);
}

// Decompresses checked blobs again, one at a time, into one buffer.
class ContentsSource {
 public:
  // The contents of a checked blob, valid until the next call: a plain
  // blob's are its payload in the message, a compressed blob's are
  // decompressed into the buffer.
  Result<std::span<const std::uint8_t>> contents(std::span<const std::uint8_t> payload,
                                                 const BlobInfo& blob) {
    if (blob.storage.compression == compression_none) return payload;
    auto capacity = decompression_capacity(payload, blob.storage.declared_size);
    if (!capacity) return std::unexpected(std::move(capacity).error());
    auto out = buffer_.take(*capacity);
    if (!out) return std::unexpected(std::move(out).error());
    auto written = decompressor_.decompress(payload, *out);
    if (!written) return std::unexpected(std::move(written).error());
    return std::span<const std::uint8_t>(out->first(*written));
  }

 private:
  Decompressor decompressor_;
  ScratchBuffer buffer_;
};

}  // namespace

// --- PackageReading ---------------------------------------------------------------

ReadStage stage_of(PackagePart part) noexcept {
  return part == PackagePart::blobs ? ReadStage::blobs : ReadStage::structure;
}

PackageField field_of(PackagePart part) noexcept {
  switch (part) {
    case PackagePart::blobs:
      return PackageField::blobs;
    case PackagePart::tiles:
      return PackageField::tiles;
    case PackagePart::bindings1:
      return PackageField::bindings1;
    case PackagePart::bindings2:
      return PackageField::bindings2;
    case PackagePart::bindings3:
      return PackageField::bindings3;
    case PackagePart::host_exchange:
      return PackageField::host_exchange;
    case PackagePart::entry_points:
      return PackageField::entry_points;
    case PackagePart::device_config_writes:
      return PackageField::device_config_writes;
  }
  return PackageField::blobs;
}

PackageReading::PackageReading(std::unique_ptr<State> state) noexcept : state_(std::move(state)) {}
PackageReading::PackageReading(PackageReading&&) noexcept = default;
PackageReading& PackageReading::operator=(PackageReading&&) noexcept = default;
PackageReading::~PackageReading() = default;

ReadResult<PackageReading> PackageReading::read(io::FileDescriptor file,
                                                const ReadOptions& options) {
  return read_file(std::move(file), options, KeepContents::no);
}

ReadResult<PackageReading> PackageReading::read(std::span<const std::uint8_t> bytes,
                                                const ReadOptions& options) {
  return read_reading([bytes] { return read_framed_message(bytes); }, options, KeepContents::no);
}

const PackageModel& PackageReading::model() const noexcept { return state_->contents.model; }

std::span<const BlobStorage> PackageReading::stored_blobs() const noexcept {
  return state_->contents.stored_blobs;
}

std::span<const ReadFailure> PackageReading::failures() const noexcept {
  return state_->contents.failures;
}

PartState PackageReading::part_state(PackagePart part) const noexcept {
  return state_->contents.parts[static_cast<std::size_t>(part)].state;
}

std::span<const ReadFailure> PackageReading::part_failures(PackagePart part) const noexcept {
  const MessageContents::Part& state = state_->contents.parts[static_cast<std::size_t>(part)];
  return failures().subspan(state.first_failure, state.failure_count);
}

std::uint64_t PackageReading::unlisted_failures(PackagePart part) const noexcept {
  return state_->contents.parts[static_cast<std::size_t>(part)].unlisted_failures;
}

StageState PackageReading::stage_state(ReadStage stage) const noexcept {
  // The parts a stage reads decide it: one failed, or all read.
  const auto of_parts = [this](ReadStage of) {
    bool all_read = true;
    for (const PackagePart part : all_package_parts) {
      if (stage_of(part) != of) continue;
      const PartState state = part_state(part);
      if (state == PartState::failed) return StageState::failed;
      all_read = all_read && state == PartState::read;
    }
    return all_read ? StageState::passed : StageState::not_run;
  };
  // Only a survey completes itself; validation runs before the build digest.
  const auto completion_at = [this](ReadStage of) {
    if (!state_->completion) return StageState::not_run;
    const ReadResult<void>& completion = *state_->completion;
    if (completion) return StageState::passed;
    const ReadStage failed = completion.error().stage;
    if (failed == of) return StageState::failed;
    return failed > of ? StageState::passed : StageState::not_run;
  };
  switch (stage) {
    case ReadStage::framing:
    case ReadStage::header:
      return StageState::passed;
    case ReadStage::blobs:
    case ReadStage::structure:
      return of_parts(stage);
    case ReadStage::validation:
    case ReadStage::build_digest:
      return completion_at(stage);
  }
  return StageState::not_run;
}

std::uint64_t PackageReading::message_size() const noexcept {
  return state_->message.bytes().size();
}

const ReadResult<std::vector<std::uint8_t>>& PackageReading::stored_build_digest() const noexcept {
  return state_->contents.stored_build_digest;
}

Result<ByteBuffer> PackageReading::blob_contents(std::size_t blob) const {
  const MessageContents& contents = state_->contents;
  if (blob >= contents.model.blobs.size()) {
    return std::unexpected(PackageError::invalid(fmt::format("unknown blob {}", blob)));
  }
  try {
    ContentsSource source;
    auto bytes = source.contents(contents.payloads[blob], contents.model.blobs[blob]);
    if (!bytes) return std::unexpected(std::move(bytes).error());
    return ByteBuffer::copy_of(*bytes);
  } catch (const std::bad_alloc&) {
    return std::unexpected(out_of_memory_error());
  }
}

TileMemoryResult PackageReading::tile_memory(std::uint32_t physical_tile) const {
  const MessageContents& contents = state_->contents;
  try {
    ContentsSource source;  // one blob's contents at a time
    return rebuild_tile_memory(contents.model.tiles, physical_tile, state_->blob_sizes,
                               CopyOrder::by_blob, [&](std::size_t blob) {
                                 return source.contents(contents.payloads[blob],
                                                        contents.model.blobs[blob]);
                               });
  } catch (const std::bad_alloc&) {
    return std::unexpected(TileMemoryError{TileMemoryError::Kind::image, out_of_memory_error()});
  }
}

// --- TileMemorySource -------------------------------------------------------------

// The blobs kept for several tiles, each decompressed once by whichever
// thread needs it first.
struct TileMemorySource::Cache {
  struct Kept {
    std::once_flag once;
    Result<ByteBuffer> contents = std::unexpected(PackageError::invalid("not decompressed"));
  };
  // By blob position; none for a blob that is not kept.
  std::vector<std::unique_ptr<Kept>> kept;
};

TileMemorySource::TileMemorySource(const PackageReading& reading, std::uint64_t budget)
    : reading_(&reading), cache_(std::make_unique<Cache>()) {
  const PackageModel& model = reading.model();
  // How many tiles take bytes from each blob.
  std::vector<std::size_t> users(model.blobs.size(), 0);
  for (const TileImage& tile : model.tiles) {
    std::vector<std::uint64_t> seen;
    for (const Segment& segment : tile.segments) {
      if (segment.data_size == 0 || segment.blob >= users.size()) continue;
      if (std::ranges::find(seen, segment.blob) != seen.end()) continue;
      seen.push_back(segment.blob);
      ++users[static_cast<std::size_t>(segment.blob)];
    }
  }
  // The most used blobs are kept first, as far as the budget goes.
  std::vector<std::size_t> shared;
  for (std::size_t blob = 0; blob < users.size(); ++blob) {
    if (users[blob] > 1) shared.push_back(blob);
  }
  std::ranges::stable_sort(shared, std::ranges::greater{}, [&](std::size_t b) { return users[b]; });
  cache_->kept.resize(model.blobs.size());
  std::uint64_t kept_bytes = 0;
  for (const std::size_t blob : shared) {
    const std::uint64_t size = model.blobs[blob].size;
    if (size > budget - kept_bytes) continue;
    kept_bytes += size;
    cache_->kept[blob] = std::make_unique<Cache::Kept>();
  }
}

TileMemorySource::~TileMemorySource() = default;

TileMemoryResult TileMemorySource::tile_memory(std::uint32_t physical_tile) const {
  const PackageReading::State& state = PackageReadingAccess::state(*reading_);
  const MessageContents& contents = state.contents;
  try {
    ContentsSource source;  // the blobs that are not kept, one at a time
    return rebuild_tile_memory(
        contents.model.tiles, physical_tile, state.blob_sizes, CopyOrder::by_blob,
        [&](std::size_t blob) -> Result<std::span<const std::uint8_t>> {
          Cache::Kept* kept = cache_->kept[blob].get();
          if (kept == nullptr) {
            return source.contents(contents.payloads[blob], contents.model.blobs[blob]);
          }
          std::call_once(kept->once, [&] {
            ContentsSource once;
            auto bytes = once.contents(contents.payloads[blob], contents.model.blobs[blob]);
            kept->contents = bytes ? Result<ByteBuffer>(ByteBuffer::copy_of(*bytes))
                                   : Result<ByteBuffer>(std::unexpected(bytes.error()));
          });
          if (!kept->contents) return std::unexpected(kept->contents.error());
          return kept->contents->bytes();
        });
  } catch (const std::bad_alloc&) {
    return std::unexpected(TileMemoryError{TileMemoryError::Kind::image, out_of_memory_error()});
  }
}

// --- CheckedPackage ---------------------------------------------------------------

ReadResult<CheckedPackage> CheckedPackage::complete(PackageReading reading) {
  const PackageReading::State& state = PackageReadingAccess::state(reading);
  if (!state.contents.failures.empty()) return std::unexpected(state.contents.failures.front());
  // A survey that passed has made its completion already.
  if (!state.completion) {
    if (auto completed = complete_model(state.contents.model, state.contents.stored_build_digest);
        !completed) {
      return std::unexpected(std::move(completed).error());
    }
  }
  return CheckedPackage(std::move(reading));
}

Result<Application> CheckedPackage::application() const {
  const PackageModel& read = model();
  Application application;
  application.compiler = read.compiler;
  application.blobs.reserve(read.blobs.size());
  for (std::size_t i = 0; i < read.blobs.size(); ++i) {
    auto contents = blob_contents(i);
    if (!contents) return std::unexpected(std::move(contents).error());
    application.blobs.push_back(Blob{std::move(*contents), read.blobs[i].digest});
    application.blobs_by_digest.emplace(read.blobs[i].digest, i);
  }
  application.tiles = read.tiles;
  application.bindings_1 = read.bindings_1;
  application.bindings_2 = read.bindings_2;
  application.bindings_3 = read.bindings_3;
  application.host_exchange = read.host_exchange;
  application.entry_points = read.entry_points;
  application.device_config_writes = read.device_config_writes;
  return application;
}

// --- The full model ---------------------------------------------------------------

Result<Application> Application::read(int fd, const ReadOptions& options) {
  // All or nothing: a survey would report the same first failure.
  auto reading = read_file(io::FileDescriptor(fd), ReadOptions{options.threads, ReadMode::strict},
                           KeepContents::yes);
  if (!reading) return std::unexpected(std::move(reading).error().error);
  MessageContents& contents = PackageReadingAccess::state(*reading).contents;
  if (auto completed = complete_model(contents.model, contents.stored_build_digest); !completed) {
    return std::unexpected(std::move(completed).error().error);
  }
  // The contents were kept as they were checked: the model takes them over.
  PackageModel& read = contents.model;
  Application application;
  application.compiler = std::move(read.compiler);
  application.blobs.reserve(read.blobs.size());
  for (std::size_t i = 0; i < read.blobs.size(); ++i) {
    application.blobs.push_back(Blob{std::move(contents.kept_contents[i]), read.blobs[i].digest});
  }
  application.blobs_by_digest = std::move(contents.blobs_by_digest);
  application.tiles = std::move(read.tiles);
  application.bindings_1 = std::move(read.bindings_1);
  application.bindings_2 = std::move(read.bindings_2);
  application.bindings_3 = std::move(read.bindings_3);
  application.host_exchange = std::move(read.host_exchange);
  application.entry_points = std::move(read.entry_points);
  application.device_config_writes = std::move(read.device_config_writes);
  return application;
}

}  // namespace zem
