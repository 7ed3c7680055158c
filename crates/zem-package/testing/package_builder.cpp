#include "package_builder.hpp"

#include "read_agreement.hpp"
#include "zem_package/package_writer.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include <capnp/message.h>
#include <capnp/serialize.h>

#include <memory>
#include <fmt/format.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zstd.h>

#include <openssl/evp.h>

namespace zem::testing {
namespace {

// SHA-256 of `bytes`, computed here rather than by the library under test.
Digest sha256(std::span<const std::uint8_t> bytes) {
  Digest digest{};
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
      length != digest.size()) {
    throw std::runtime_error("SHA-256 failed");
  }
  return digest;
}

// A message read from a package's bytes, to be changed in place: its one
// segment keeps its layout, and what a change adds goes after it, into room
// kept for that (or, beyond it, into segments of its own).
class EditedMessage : public capnp::MessageBuilder {
 public:
  static constexpr std::size_t room = 4096;  // words

  static std::unique_ptr<EditedMessage> of(std::span<const std::uint8_t> bytes) {
    // One segment: a word holding 0, then the segment's size in words.
    if (bytes.size() < 8 || bytes[0] != 0 || bytes[1] != 0 || bytes[2] != 0 || bytes[3] != 0) {
      throw std::logic_error("the writer wrote more than one segment");
    }
    const std::size_t words = (bytes.size() - 8) / sizeof(capnp::word);
    kj::Array<capnp::word> space = kj::heapArray<capnp::word>(words + room);
    std::memset(space.begin(), 0, space.asBytes().size());
    std::memcpy(space.begin(), bytes.data() + 8, words * sizeof(capnp::word));
    const SegmentInit segment{space.asPtr(), words};
    return std::unique_ptr<EditedMessage>(new EditedMessage(std::move(space), segment));
  }

  kj::ArrayPtr<capnp::word> allocateSegment(unsigned minimum_size) override {
    more_.push_back(kj::heapArray<capnp::word>(std::max<std::size_t>(minimum_size, room)));
    std::memset(more_.back().begin(), 0, more_.back().asBytes().size());
    return more_.back();
  }

 private:
  // The base class takes the segment's description only while it is built.
  EditedMessage(kj::Array<capnp::word> space, SegmentInit segment)
      : capnp::MessageBuilder(kj::arrayPtr(&segment, 1)), first_(std::move(space)) {}

  kj::Array<capnp::word> first_;
  std::vector<kj::Array<capnp::word>> more_;
};

capnp::Text::Reader text(const std::string& s) { return {s.c_str(), s.size()}; }

capnp::Data::Reader as_data(std::span<const std::uint8_t> bytes) {
  return {bytes.data(), bytes.size()};
}

void encode_blobs(const Application& model, const PackageOptions& options,
                  capnp::List<schema::Blob>::Builder out) {
  for (unsigned i = 0; i < out.size(); ++i) {
    const Blob& blob = model.blobs[i];
    const BlobEncoding encoding =
        i < options.blob_encodings.size() ? options.blob_encodings[i] : BlobEncoding{};
    auto builder = out[i];
    builder.setDigest(as_data(blob.digest));
    if (encoding.compressed) {
      builder.setCompression(schema::Compression::ZSTD);
      builder.setUncompressedSize(encoding.uncompressed_size.value_or(blob.data.size()));
      builder.setData(as_data(compress(blob.data.bytes(), encoding.level)));
    } else {
      builder.setData(as_data(blob.data.bytes()));
    }
  }
}

void encode_bindings(const std::vector<Binding>& bindings,
                     capnp::List<schema::Binding>::Builder out) {
  for (unsigned i = 0; i < out.size(); ++i) {
    const Binding& binding = bindings[i];
    auto builder = out[i];
    builder.setName(text(binding.name));
    builder.setLabel(text(binding.label));
    auto values = builder.initValues(static_cast<unsigned>(binding.values.size()));
    for (unsigned k = 0; k < values.size(); ++k) values.set(k, binding.values[k]);
    auto slices = builder.initSlices(static_cast<unsigned>(binding.slices.size()));
    for (unsigned k = 0; k < slices.size(); ++k) {
      const RegionSlice& slice = binding.slices[k];
      slices[k].setPhysicalTile(slice.physical_tile);
      slices[k].setAddress(slice.address);
      slices[k].setOffset(slice.offset);
      slices[k].setLength(slice.length);
    }
  }
}

void encode_page_refs(const std::vector<HostPageRef>& refs,
                      capnp::List<schema::HostPageRef>::Builder out) {
  for (unsigned i = 0; i < out.size(); ++i) {
    out[i].setPage(refs[i].page);
    out[i].setOffset(refs[i].offset);
    out[i].setAux(refs[i].aux);
    out[i].setLength(refs[i].length);
  }
}

void encode_host_exchange(const HostExchange& host, schema::HostExchange::Builder out) {
  out.setAux(host.aux);
  out.setStartupPage(host.startup_page);
  out.setStartupOffset(host.startup_offset);
  auto pages = out.initPages(static_cast<unsigned>(host.pages.size()));
  for (unsigned i = 0; i < pages.size(); ++i) {
    pages[i].setId(host.pages[i].id);
    pages[i].setSize(host.pages[i].size);
  }
  auto required = out.initRequiredPages(static_cast<unsigned>(host.required_pages.size()));
  for (unsigned i = 0; i < required.size(); ++i) required.set(i, host.required_pages[i]);
  auto calls = out.initCalls(static_cast<unsigned>(host.calls.size()));
  for (unsigned i = 0; i < calls.size(); ++i) {
    const HostCall& call = host.calls[i];
    calls[i].setName(text(call.name));
    calls[i].setAux1(call.aux_1);
    calls[i].setAux2(call.aux_2);
    calls[i].setInvocations(call.invocations);
    encode_page_refs(call.page_refs_1,
                     calls[i].initPageRefs1(static_cast<unsigned>(call.page_refs_1.size())));
    encode_page_refs(call.page_refs_2,
                     calls[i].initPageRefs2(static_cast<unsigned>(call.page_refs_2.size())));
  }
}

// The message of a model that the writer refuses: a test that breaks a rule
// of the model on purpose (a duplicate tile, a name that is not UTF-8)
// gets its package encoded here, with the blob digests and the build digest
// of the changed model, as before the library could write packages. Every
// valid package is the writer's.
void encode_refused_model(const Application& model, const PackageOptions& options,
                          capnp::MessageBuilder& message) {
  auto root = message.initRoot<schema::Application>();
  root.setFormatVersion(format_version);
  root.setTileMemoryBase(tile_memory_base);
  root.setTileMemorySize(tile_memory_size);
  root.setCompiler(text(model.compiler));
  root.setTarget(std::string(target_name).c_str());
  encode_blobs(model, options, root.initBlobs(static_cast<unsigned>(model.blobs.size())));

  auto tiles = root.initTiles(static_cast<unsigned>(model.tiles.size()));
  for (unsigned i = 0; i < tiles.size(); ++i) {
    const TileImage& tile = model.tiles[i];
    tiles[i].setPhysicalTile(tile.physical_tile);
    tiles[i].setAux1(tile.aux_1);
    tiles[i].setAux2(tile.aux_2);
    tiles[i].setAux3(tile.aux_3);
    auto segments = tiles[i].initSegments(static_cast<unsigned>(tile.segments.size()));
    for (unsigned k = 0; k < segments.size(); ++k) {
      const Segment& segment = tile.segments[k];
      segments[k].setAddress(segment.address);
      segments[k].setMemorySize(segment.memory_size);
      segments[k].setBlob(static_cast<std::uint32_t>(segment.blob));
      segments[k].setBlobOffset(segment.blob_offset);
      segments[k].setDataSize(segment.data_size);
      segments[k].setAux(segment.aux);
    }
  }
  encode_bindings(model.bindings_1,
                  root.initBindings1(static_cast<unsigned>(model.bindings_1.size())));
  encode_bindings(model.bindings_2,
                  root.initBindings2(static_cast<unsigned>(model.bindings_2.size())));
  encode_bindings(model.bindings_3,
                  root.initBindings3(static_cast<unsigned>(model.bindings_3.size())));
  encode_host_exchange(model.host_exchange, root.initHostExchange());

  auto entry_points = root.initEntryPoints(static_cast<unsigned>(model.entry_points.size()));
  for (unsigned i = 0; i < entry_points.size(); ++i) {
    entry_points[i].setName(text(model.entry_points[i].name));
    entry_points[i].setAux(model.entry_points[i].aux);
    entry_points[i].setExternalSyncs(model.entry_points[i].external_syncs);
  }
  auto writes =
      root.initDeviceConfigWrites(static_cast<unsigned>(model.device_config_writes.size()));
  for (unsigned i = 0; i < writes.size(); ++i) {
    writes[i].setAddress(model.device_config_writes[i].address);
    writes[i].setValue(model.device_config_writes[i].value);
  }
  root.setBuildDigest(as_data(model.build_digest()));
}

std::vector<std::uint8_t> bytes_of(capnp::MessageBuilder& message) {
  // One segment, as a writer that knows its sizes up front produces; tests
  // that edit packages word by word rely on it.
  if (message.getSegmentsForOutput().size() > 1) {
    capnp::MallocMessageBuilder single(static_cast<unsigned>(message.sizeInWords() + 16));
    single.setRoot(message.getRoot<schema::Application>().asReader());
    const kj::Array<capnp::word> words = capnp::messageToFlatArray(single);
    const auto bytes = words.asBytes();
    return {bytes.begin(), bytes.end()};
  }
  const kj::Array<capnp::word> words = capnp::messageToFlatArray(message);
  const auto bytes = words.asBytes();
  return {bytes.begin(), bytes.end()};
}

}  // namespace

Blob make_blob(std::span<const std::uint8_t> contents) {
  return Blob{ByteBuffer::copy_of(contents), sha256(contents)};
}

void index_blobs(Application& model) {
  model.blobs_by_digest.clear();
  for (std::size_t i = 0; i < model.blobs.size(); ++i) {
    model.blobs_by_digest.emplace(model.blobs[i].digest, i);
  }
}

std::vector<std::uint8_t> build_package(const Application& model, const PackageOptions& options) {
  std::vector<BlobStorageChoice> storage;
  for (const BlobEncoding& encoding : options.blob_encodings) {
    storage.push_back(encoding.compressed ? BlobStorageChoice{StoreZstd{encoding.level, {}}}
                                          : BlobStorageChoice{StorePlain{}});
  }
  auto written = write_package(model, storage);
  if (!written) {
    // A model whose blobs' digests are not theirs is a mistake in the test,
    // never a way to break a package.
    const WriteFailure& failure = written.error();
    if (failure.kind != WriteFailure::Kind::invalid_package ||
        failure.failure.error == PackageError::invalid("blob digest mismatch")) {
      throw std::invalid_argument("the writer refuses the model: " + failure.to_string());
    }
    capnp::MallocMessageBuilder message;
    encode_refused_model(model, options, message);
    if (options.tweak) options.tweak(message.getRoot<schema::Application>());
    return bytes_of(message);
  }
  // Whatever makes a package other than the writer writes it is a change of
  // the valid package it wrote: a declared size, or the test's own change.
  bool changed = options.tweak != nullptr;
  for (const BlobEncoding& encoding : options.blob_encodings) {
    changed = changed || encoding.uncompressed_size.has_value();
  }
  if (!changed) return std::move(*written);
  const std::unique_ptr<EditedMessage> message = EditedMessage::of(*written);
  auto root = message->getRoot<schema::Application>();
  for (unsigned i = 0; i < options.blob_encodings.size() && i < root.getBlobs().size(); ++i) {
    const BlobEncoding& encoding = options.blob_encodings[i];
    if (encoding.compressed && encoding.uncompressed_size) {
      root.getBlobs()[i].setUncompressedSize(*encoding.uncompressed_size);
    }
  }
  if (options.tweak) options.tweak(root);
  return bytes_of(*message);
}

std::vector<std::uint8_t> compress(std::span<const std::uint8_t> bytes, int level) {
  std::vector<std::uint8_t> out(ZSTD_compressBound(bytes.size()));
  const std::size_t size = ZSTD_compress(out.data(), out.size(), bytes.data(), bytes.size(), level);
  if (ZSTD_isError(size) != 0) {
    throw std::runtime_error(ZSTD_getErrorName(size));
  }
  out.resize(size);
  return out;
}

int memory_file(std::span<const std::uint8_t> bytes) {
  const int fd = ::memfd_create("package", MFD_CLOEXEC);
  if (fd < 0) {
    throw std::system_error(errno, std::generic_category(), "memfd_create");
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) {
      ::close(fd);
      throw std::system_error(errno, std::generic_category(), "write");
    }
    done += static_cast<std::size_t>(n);
  }
  ::lseek(fd, 0, SEEK_SET);
  return fd;
}

std::string read_result(std::span<const std::uint8_t> bytes) {
  // Every package a test reads this way is read every way the library
  // offers, and the ways must agree.
  if (const std::string disagreement = read_disagreement(bytes); !disagreement.empty()) {
    throw std::logic_error("the reads disagree: " + disagreement);
  }
  const auto read = Application::read(memory_file(bytes));
  return read ? std::string("success") : read.error().to_string();
}

void write_file(const std::string& path, std::span<const std::uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    throw std::runtime_error("cannot write " + path);
  }
}

std::vector<std::uint8_t> words_to_bytes(std::span<const std::uint32_t> words) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(words.size() * 4);
  for (const std::uint32_t word : words) {
    for (int shift = 0; shift < 32; shift += 8) {
      bytes.push_back(static_cast<std::uint8_t>(word >> shift));
    }
  }
  return bytes;
}

}  // namespace zem::testing
