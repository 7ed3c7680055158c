// The one way in: a package read from a path, from bytes or from an open
// file, strictly or as a survey; and what can be asked of it afterwards,
// its blobs' contents decompressed again from the message when needed.

#include "zem_package/package.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <utility>

#include <fmt/format.h>

#include "blobs/blob_contents.hpp"
#include "errors/try.hpp"
#include "message/capnp_boundary.hpp"
#include "message/framing.hpp"
#include "model/model_structure.hpp"
#include "reading/message_reader.hpp"
#include "reading/observed_read.hpp"
#include "reading/read_completion.hpp"
#include "reading/tile_memory_source.hpp"
#include "tile/tile_rebuild.hpp"
#include "zem_package/io.hpp"

namespace zem {

struct Package::State {
  ReadOptions options;
  FramedMessage message;
  MessageContents contents;
  std::vector<std::uint64_t> blob_sizes;  // what images need of the blobs
  // The completion, once made: every strict read makes it, and a survey
  // that met no failure before it.
  std::optional<ReadResult<void>> completion;
};

// Builds packages; the only way to one is a read that succeeded.
struct PackageAccess {
  static Package make(std::unique_ptr<Package::State> state) noexcept {
    return Package(std::move(state));
  }
  static Package::State& state(Package& package) noexcept { return *package.state_; }
  static const Package::State& state(const Package& package) noexcept { return *package.state_; }
};

namespace {

// A name for the kind of a file's failure, as `PackageError::Io` carries one.
std::string_view io_kind(const io::FileError& error) noexcept {
  if (error.not_regular()) return "InvalidInput";
  switch (error.os_error) {
    case ENOENT:
      return "NotFound";
    case EACCES:
    case EPERM:
      return "PermissionDenied";
    case EISDIR:
      return "IsADirectory";
    default:
      return "Other";
  }
}

// A file that could not be opened or read, as the failure of its read.
ReadFailure file_failure(const io::FileError& error) {
  const std::string text =
      error.not_regular() ? fmt::format("not a regular file: it is {}", io::describe(error.type))
                          : io::os_error_text(error.os_error);
  ReadFailure failure{
      PackageError::io(std::string(io_kind(error)), text), ReadStage::framing, {}, {}};
  failure.subject = FailureSubject::file;
  failure.file_error = error;
  return failure;
}

// Every step of a read, from the framed message that `frame()` reads: a
// strict read completes itself and fails at its first failure, a survey
// completes itself when nothing failed before.
ReadResult<Package> read_package_from(const std::function<Result<FramedMessage>()>& frame,
                                      const ReadOptions& options,
                                      BlobObserver* observer = nullptr) {
  auto read = read_package(frame, options, KeepContents::no, observer);
  if (!read) return std::unexpected(std::move(read).error());
  std::vector<std::uint64_t> sizes;
  sizes.reserve(read->contents.model.blobs.size());
  for (const BlobInfo& blob : read->contents.model.blobs) sizes.push_back(blob.size);
  auto state = std::make_unique<Package::State>(Package::State{
      options, std::move(read->message), std::move(read->contents), std::move(sizes), {}});
  MessageContents& contents = state->contents;
  if (contents.failures.empty()) {
    state->completion = complete_model(contents.model, contents.stored_build_digest);
    if (!*state->completion) {
      if (options.mode == ReadMode::strict) return std::unexpected(state->completion->error());
      contents.failures.push_back(state->completion->error());
    }
  }
  return PackageAccess::make(std::move(state));
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

// A blob that failed its checks has no contents: the failure a survey met
// there, or one that says so.
ReadFailure unchecked_blob(const Package& package, std::size_t blob) {
  const ElementPath blob_path{{PackageField::blobs, blob}};
  for (const ReadFailure& failure : package.part_failures(PackagePart::blobs)) {
    const auto steps = failure.element.steps();
    if (!steps.empty() && steps.front() == blob_path.steps().front()) return failure;
  }
  return ReadFailure{PackageError::invalid(fmt::format("blob {} did not pass its checks", blob)),
                     ReadStage::blobs,
                     blob_path,
                     {}};
}

// Refuses a tile that takes bytes from a blob that failed its checks, before
// its image is built: its bytes there are unknown.
ReadResult<void> check_tile_blobs(const Package& package, std::uint32_t physical_tile) {
  const PackageModel& model = package.model();
  const TileImage* tile = find_tile(model.tiles, physical_tile);
  if (tile == nullptr) return {};
  for (const Segment& segment : tile->segments) {
    if (segment.data_size == 0 || segment.blob >= model.blobs.size()) continue;
    const auto blob = static_cast<std::size_t>(segment.blob);
    if (model.blobs[blob].checked) continue;
    ReadFailure failure = unchecked_blob(package, blob);
    failure.error = PackageError::invalid(
        fmt::format("segment at 0x{:x} on tile {} takes data from blob {}, which did not pass "
                    "its checks",
                    segment.address, physical_tile, blob));
    return std::unexpected(std::move(failure));
  }
  return {};
}

}  // namespace

// --- Package ----------------------------------------------------------------------

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

Package::Package(std::unique_ptr<State> state) noexcept : state_(std::move(state)) {}
Package::Package(Package&&) noexcept = default;
Package& Package::operator=(Package&&) noexcept = default;
Package::~Package() = default;

ReadResult<Package> Package::read(const std::filesystem::path& path, const ReadOptions& options) {
  auto file = io::open_regular_file(path.c_str());
  if (!file) return std::unexpected(file_failure(file.error()));
  return read(std::move(file->fd), options);
}

ReadResult<Package> Package::read(std::span<const std::uint8_t> bytes, const ReadOptions& options) {
  return read_package_from([bytes] { return read_framed_message(bytes); }, options);
}

ReadResult<Package> Package::read(io::FileDescriptor file, const ReadOptions& options) {
  // The file is closed when its read ends, whichever way it ends.
  const int fd = file.get();
  return read_package_from([fd, &options] { return read_framed_message(fd, options.threads); },
                           options);
}

ReadResult<Package> read_observed(std::span<const std::uint8_t> bytes, const ReadOptions& options,
                                  BlobObserver& observer) {
  const ReadOptions strict{options.threads, ReadMode::strict};
  return read_package_from([bytes] { return read_framed_message(bytes); }, strict, &observer);
}

ReadResult<Package> read_observed(io::FileDescriptor file, const ReadOptions& options,
                                  BlobObserver& observer) {
  // The file is closed when its read ends, whichever way it ends.
  const int fd = file.get();
  const ReadOptions strict{options.threads, ReadMode::strict};
  return read_package_from([fd, &strict] { return read_framed_message(fd, strict.threads); },
                           strict, &observer);
}

bool Package::valid() const noexcept { return state_->contents.failures.empty(); }

const ReadOptions& Package::options() const noexcept { return state_->options; }

const PackageModel& Package::model() const noexcept { return state_->contents.model; }

std::span<const BlobStorage> Package::stored_blobs() const noexcept {
  return state_->contents.stored_blobs;
}

std::span<const ReadFailure> Package::failures() const noexcept {
  return state_->contents.failures;
}

PartState Package::part_state(PackagePart part) const noexcept {
  return state_->contents.parts[static_cast<std::size_t>(part)].state;
}

std::span<const ReadFailure> Package::part_failures(PackagePart part) const noexcept {
  const MessageContents::Part& state = state_->contents.parts[static_cast<std::size_t>(part)];
  return failures().subspan(state.first_failure, state.failure_count);
}

std::uint64_t Package::unlisted_failures(PackagePart part) const noexcept {
  return state_->contents.parts[static_cast<std::size_t>(part)].unlisted_failures;
}

StageState Package::stage_state(ReadStage stage) const noexcept {
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
  // Validation runs before the build digest.
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

std::span<const std::uint8_t> Package::message_bytes() const noexcept {
  return state_->message.bytes();
}

const ReadResult<std::vector<std::uint8_t>>& Package::stored_build_digest() const noexcept {
  return state_->contents.stored_build_digest;
}

ReadResult<ByteBuffer> Package::blob_contents(std::size_t blob) const {
  const MessageContents& contents = state_->contents;
  if (blob >= contents.model.blobs.size()) {
    return std::unexpected(ReadFailure{PackageError::invalid(fmt::format("unknown blob {}", blob)),
                                       ReadStage::blobs,
                                       ElementPath{{PackageField::blobs}},
                                       {}});
  }
  if (!contents.model.blobs[blob].checked) return std::unexpected(unchecked_blob(*this, blob));
  const auto failure = [blob](PackageError error) {
    return ReadFailure{
        std::move(error), ReadStage::blobs, ElementPath{{PackageField::blobs, blob}}, {}};
  };
  try {
    ContentsSource source;
    auto bytes = source.contents(contents.payloads[blob], contents.model.blobs[blob]);
    if (!bytes) return std::unexpected(failure(std::move(bytes).error()));
    return ByteBuffer::copy_of(*bytes);
  } catch (const std::bad_alloc&) {
    return std::unexpected(failure(out_of_memory_error()));
  }
}

ReadResult<TileMemory> Package::tile_memory(std::uint32_t physical_tile) const {
  ZEM_TRY(check_tile_blobs(*this, physical_tile));
  const MessageContents& contents = state_->contents;
  try {
    ContentsSource source;  // one blob's contents at a time
    return rebuild_tile_memory(contents.model.tiles, physical_tile, state_->blob_sizes,
                               CopyOrder::by_blob, [&](std::size_t blob) {
                                 return source.contents(contents.payloads[blob],
                                                        contents.model.blobs[blob]);
                               });
  } catch (const std::bad_alloc&) {
    return std::unexpected(
        tile_image_failure(contents.model.tiles, physical_tile, out_of_memory_error()));
  }
}

ReadResult<Application> Package::application() const {
  if (!valid()) return std::unexpected(failures().front());
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
  copy_structure(read, application);
  return application;
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

TileMemorySource::TileMemorySource(const Package& package, std::uint64_t budget)
    : package_(&package), cache_(std::make_unique<Cache>()) {
  const PackageModel& model = package.model();
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

ReadResult<TileMemory> TileMemorySource::tile_memory(std::uint32_t physical_tile) const {
  ZEM_TRY(check_tile_blobs(*package_, physical_tile));
  const Package::State& state = PackageAccess::state(*package_);
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
    return std::unexpected(
        tile_image_failure(contents.model.tiles, physical_tile, out_of_memory_error()));
  }
}

// --- The full model ---------------------------------------------------------------

Result<Application> Application::read(int fd, const ReadOptions& options) {
  // All or nothing: a survey would report the same first failure. The
  // contents are kept as they are checked, so the model takes them over
  // instead of decompressing every blob again.
  io::FileDescriptor file(fd);
  auto read = read_package([fd, &options] { return read_framed_message(fd, options.threads); },
                           ReadOptions{options.threads, ReadMode::strict}, KeepContents::yes);
  if (!read) return std::unexpected(std::move(read).error().error);
  MessageContents& contents = read->contents;
  if (auto completed = complete_model(contents.model, contents.stored_build_digest); !completed) {
    return std::unexpected(std::move(completed).error().error);
  }
  PackageModel& model = contents.model;
  Application application;
  application.compiler = std::move(model.compiler);
  application.blobs.reserve(model.blobs.size());
  for (std::size_t i = 0; i < model.blobs.size(); ++i) {
    application.blobs.push_back(Blob{std::move(contents.kept_contents[i]), model.blobs[i].digest});
  }
  application.blobs_by_digest = std::move(contents.blobs_by_digest);
  move_structure(model, application);
  return application;
}

}  // namespace zem
