// The reads of a package: from a file or from memory, into a reading that
// keeps the message and decompresses blobs again on demand, or into the full
// model with every blob's contents.

#include "zem_package/package_reading.hpp"

#include <cstring>
#include <new>
#include <utility>

#include "blob_contents.hpp"
#include "capnp_boundary.hpp"
#include "framing.hpp"
#include "message_reader.hpp"
#include "package_contents.hpp"
#include "read_completion.hpp"
#include "tile_rebuild.hpp"
#include "validation.hpp"
#include "zem_package/io.hpp"

namespace zem {

struct PackageReading::State {
  FramedMessage message;
  MessageContents contents;
  std::vector<std::uint64_t> blob_sizes;  // what validation and images need of the blobs
};

// Builds readings; the only way to one is a read that succeeded.
struct PackageReadingAccess {
  static PackageReading make(std::unique_ptr<PackageReading::State> state) noexcept {
    return PackageReading(std::move(state));
  }
  static PackageReading::State& state(PackageReading& reading) noexcept { return *reading.state_; }
};

namespace {

// Every step of a read but its completion, from the framed message that
// `frame()` reads.
ReadResult<PackageReading> read_reading(const std::function<Result<FramedMessage>()>& frame,
                                        const ReadOptions& options, KeepContents keep,
                                        ReadMode mode = ReadMode::strict) {
  auto read = read_package(frame, options, keep, mode);
  if (!read) return std::unexpected(std::move(read).error());
  std::vector<std::uint64_t> sizes;
  sizes.reserve(read->contents.blobs.size());
  for (const BlobInfo& blob : read->contents.blobs) sizes.push_back(blob.size);
  return PackageReadingAccess::make(std::make_unique<PackageReading::State>(PackageReading::State{
      std::move(read->message), std::move(read->contents), std::move(sizes)}));
}

ReadResult<PackageReading> read_file(int fd, const ReadOptions& options, KeepContents keep,
                                     ReadMode mode = ReadMode::strict) {
  // The file is closed when its read ends, whichever way it ends.
  const io::FileDescriptor owned(fd);
  return read_reading([fd, &options] { return read_framed_message(fd, options.threads); }, options,
                      keep, mode);
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

PackageReading::PackageReading(std::unique_ptr<State> state) noexcept : state_(std::move(state)) {}
PackageReading::PackageReading(PackageReading&&) noexcept = default;
PackageReading& PackageReading::operator=(PackageReading&&) noexcept = default;
PackageReading::~PackageReading() = default;

ReadResult<PackageReading> PackageReading::read(int fd, const ReadOptions& options) {
  return read_file(fd, options, KeepContents::no);
}

ReadResult<PackageReading> PackageReading::read(std::span<const std::uint8_t> bytes,
                                                const ReadOptions& options) {
  return read_reading([bytes] { return read_framed_message(bytes); }, options, KeepContents::no);
}

ReadResult<PackageReading> PackageReading::survey(int fd, const ReadOptions& options) {
  return read_file(fd, options, KeepContents::no, ReadMode::survey);
}

ReadResult<PackageReading> PackageReading::survey(std::span<const std::uint8_t> bytes,
                                                  const ReadOptions& options) {
  return read_reading([bytes] { return read_framed_message(bytes); }, options, KeepContents::no,
                      ReadMode::survey);
}

const Application& PackageReading::model() const noexcept { return state_->contents.model; }

std::span<const BlobStorage> PackageReading::stored_blobs() const noexcept {
  return state_->contents.stored_blobs;
}

std::span<const ReadFailure> PackageReading::failures() const noexcept {
  return state_->contents.failures;
}

std::span<const BlobInfo> PackageReading::blobs() const noexcept { return state_->contents.blobs; }

std::uint64_t PackageReading::message_size() const noexcept {
  return state_->message.bytes().size();
}

const ReadResult<std::vector<std::uint8_t>>& PackageReading::stored_build_digest() const noexcept {
  return state_->contents.stored_build_digest;
}

Result<ByteBuffer> PackageReading::blob_contents(std::size_t blob) const {
  const MessageContents& contents = state_->contents;
  if (blob >= contents.blobs.size()) {
    return std::unexpected(PackageError::invalid(fmt::format("unknown blob {}", blob)));
  }
  try {
    ContentsSource source;
    auto bytes = source.contents(contents.payloads[blob], contents.blobs[blob]);
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
                                                        contents.blobs[blob]);
                               });
  } catch (const std::bad_alloc&) {
    return std::unexpected(TileMemoryError{TileMemoryError::Kind::image, out_of_memory_error()});
  }
}

ReadResult<void> PackageReading::complete() const {
  if (!state_->contents.failures.empty()) {
    return std::unexpected(state_->contents.failures.front());
  }
  return complete_model(state_->contents.model, state_->blob_sizes,
                        state_->contents.stored_build_digest);
}

// --- CheckedPackage ---------------------------------------------------------------

ReadResult<CheckedPackage> CheckedPackage::read(int fd, const ReadOptions& options) {
  auto reading = PackageReading::read(fd, options);
  if (!reading) return std::unexpected(std::move(reading).error());
  return complete(std::move(*reading));
}

ReadResult<CheckedPackage> CheckedPackage::read(std::span<const std::uint8_t> bytes,
                                                const ReadOptions& options) {
  auto reading = PackageReading::read(bytes, options);
  if (!reading) return std::unexpected(std::move(reading).error());
  return complete(std::move(*reading));
}

ReadResult<CheckedPackage> CheckedPackage::complete(PackageReading reading) {
  if (auto completed = reading.complete(); !completed) {
    return std::unexpected(std::move(completed).error());
  }
  return CheckedPackage(std::move(reading));
}

Result<Application> CheckedPackage::application() const {
  Application application = model();
  for (std::size_t i = 0; i < application.blobs.size(); ++i) {
    auto contents = blob_contents(i);
    if (!contents) return std::unexpected(std::move(contents).error());
    application.blobs[i].data = std::move(*contents);
  }
  return application;
}

// --- The full model ---------------------------------------------------------------

namespace {

// A reading whose blob contents were kept, completed into the full model.
Result<Application> full_model(ReadResult<PackageReading> reading) {
  if (!reading) return std::unexpected(std::move(reading).error().error);
  if (auto completed = reading->complete(); !completed) {
    return std::unexpected(std::move(completed).error().error);
  }
  return std::move(PackageReadingAccess::state(*reading).contents.model);
}

}  // namespace

Result<Application> Application::read(int fd, const ReadOptions& options) {
  return full_model(read_file(fd, options, KeepContents::yes));
}

Result<Application> Application::read(std::span<const std::uint8_t> bytes,
                                      const ReadOptions& options) {
  return full_model(
      read_reading([bytes] { return read_framed_message(bytes); }, options, KeepContents::yes));
}

Result<PackageContents> read_package_contents(int fd) {
  auto reading = read_file(fd, {}, KeepContents::yes);
  if (!reading) return std::unexpected(std::move(reading).error().error);
  MessageContents& contents = PackageReadingAccess::state(*reading).contents;
  Result<std::vector<std::uint8_t>> stored;
  if (contents.stored_build_digest) {
    stored = std::move(*contents.stored_build_digest);
  } else {
    stored = std::unexpected(std::move(contents.stored_build_digest).error().error);
  }
  return PackageContents{std::move(contents.model), std::move(stored)};
}

Result<void> complete_read(const PackageContents& contents) {
  ReadResult<std::vector<std::uint8_t>> stored;
  if (contents.stored_build_digest) {
    stored = *contents.stored_build_digest;
  } else {
    stored = std::unexpected(ReadFailure{
        contents.stored_build_digest.error(), ReadStage::build_digest, "buildDigest", {}});
  }
  const Application& model = contents.application;
  if (auto completed = complete_model(model, blob_sizes(model), stored); !completed) {
    return std::unexpected(std::move(completed).error().error);
  }
  return {};
}

}  // namespace zem
