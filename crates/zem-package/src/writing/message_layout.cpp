#include "writing/message_layout.hpp"

#include <fmt/format.h>

#include <capnp/message.h>
#include <capnp/orphan.h>

#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "message/capnp_boundary.hpp"
#include "zem_package/application.capnp.h"

namespace zem {
namespace {

using F = PackageField;

// Words of one element of a list of `T`, as the schema lays it out.
template <class T>
constexpr std::uint64_t struct_words =
    std::uint64_t{T::_capnpPrivate::dataWordSize} + T::_capnpPrivate::pointerCount;

// Counts the words of the structure, element by element, and refuses a list
// or text larger than the format stores. Sums stay far below 2^64: every
// count is the size of a list in memory.
class WordCount {
 public:
  // A text of `bytes` bytes, stored with its NUL.
  [[nodiscard]] bool text(std::uint64_t bytes, const ElementPath& place) {
    if (bytes >= max_list_elements) {
      return refuse(place, fmt::format("a text of {} bytes is longer than one text holds ({})",
                                       bytes, max_list_elements - 1));
    }
    words_ += words_for_bytes(bytes + 1);
    return true;
  }
  // A list of `count` structs of `element_words` each, after its tag word.
  [[nodiscard]] bool structs(std::uint64_t count, std::uint64_t element_words,
                             const ElementPath& place) {
    if (count > max_list_elements / element_words) {
      return refuse(place, fmt::format("{} elements are more than one list holds", count));
    }
    words_ += 1 + count * element_words;
    return true;
  }
  // A list of `count` 32-bit values.
  [[nodiscard]] bool values(std::uint64_t count, const ElementPath& place) {
    if (count > max_list_elements) {
      return refuse(place, fmt::format("{} values are more than one list holds ({})", count,
                                       max_list_elements));
    }
    words_ += words_for_bytes(4 * count);
    return true;
  }
  void add(std::uint64_t words) { words_ += words; }

  [[nodiscard]] std::uint64_t words() const noexcept { return words_; }
  [[nodiscard]] WriteFailure take_failure() && { return std::move(failure_); }

 private:
  bool refuse(const ElementPath& place, std::string message) {
    failure_ = WriteFailure::unstorable(place.to_string(), std::move(message));
    return false;
  }

  std::uint64_t words_ = 0;
  WriteFailure failure_;
};

bool count_bindings(WordCount& count, F field, const std::vector<Binding>& bindings) {
  const ElementPath list{{field}};
  if (!count.structs(bindings.size(), struct_words<schema::Binding>, list)) return false;
  for (std::size_t i = 0; i < bindings.size(); ++i) {
    const Binding& binding = bindings[i];
    const ElementPath at{{field, i}};
    if (!count.text(binding.name.size(), at.then(F::name)) ||
        !count.text(binding.label.size(), at.then(F::label)) ||
        !count.values(binding.values.size(), at.then(F::values)) ||
        !count.structs(binding.slices.size(), struct_words<schema::RegionSlice>,
                       at.then(F::slices))) {
      return false;
    }
  }
  return true;
}

bool count_host_exchange(WordCount& count, const HostExchange& host) {
  const ElementPath at{{F::host_exchange}};
  count.add(struct_words<schema::HostExchange>);
  if (!count.structs(host.pages.size(), struct_words<schema::HostPage>, at.then(F::pages)) ||
      !count.values(host.required_pages.size(), at.then(F::required_pages)) ||
      !count.structs(host.calls.size(), struct_words<schema::HostCall>, at.then(F::calls))) {
    return false;
  }
  for (std::size_t i = 0; i < host.calls.size(); ++i) {
    const HostCall& call = host.calls[i];
    const ElementPath call_at{{F::host_exchange}, {F::calls, i}};
    if (!count.text(call.name.size(), call_at.then(F::name)) ||
        !count.structs(call.page_refs_1.size(), struct_words<schema::HostPageRef>,
                       call_at.then(F::page_refs1)) ||
        !count.structs(call.page_refs_2.size(), struct_words<schema::HostPageRef>,
                       call_at.then(F::page_refs2))) {
      return false;
    }
  }
  return true;
}

capnp::Text::Reader text(const std::string& s) { return {s.c_str(), s.size()}; }

capnp::Data::Reader as_data(std::span<const std::uint8_t> bytes) {
  return {bytes.data(), bytes.size()};
}

void set_bindings(const std::vector<Binding>& bindings, capnp::List<schema::Binding>::Builder out) {
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

void set_page_refs(const std::vector<HostPageRef>& refs,
                   capnp::List<schema::HostPageRef>::Builder out) {
  for (unsigned i = 0; i < out.size(); ++i) {
    out[i].setPage(refs[i].page);
    out[i].setOffset(refs[i].offset);
    out[i].setAux(refs[i].aux);
    out[i].setLength(refs[i].length);
  }
}

void set_host_exchange(const HostExchange& host, schema::HostExchange::Builder out) {
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
    set_page_refs(call.page_refs_1,
                  calls[i].initPageRefs1(static_cast<unsigned>(call.page_refs_1.size())));
    set_page_refs(call.page_refs_2,
                  calls[i].initPageRefs2(static_cast<unsigned>(call.page_refs_2.size())));
  }
}

schema::Compression compression_enum(std::uint16_t code) {
  return code == compression_zstd ? schema::Compression::ZSTD : schema::Compression::NONE;
}

// The structure, in the order it is laid out; the blobs' data, allocated
// before it, is adopted where each blob is.
void set_structure(schema::Application::Builder root, const PackageModel& model,
                   std::vector<capnp::Orphan<capnp::Data>>& payloads, const Digest& build_digest) {
  root.setFormatVersion(format_version);
  root.setTileMemoryBase(tile_memory_base);
  root.setTileMemorySize(tile_memory_size);
  root.setCompiler(text(model.compiler));
  const std::string target(target_name);
  root.setTarget(text(target));

  auto blobs = root.initBlobs(static_cast<unsigned>(model.blobs.size()));
  for (unsigned i = 0; i < blobs.size(); ++i) {
    const BlobInfo& blob = model.blobs[i];
    blobs[i].setDigest(as_data(blob.digest));
    if (blob.storage.compression != compression_none) {
      blobs[i].setCompression(compression_enum(blob.storage.compression));
    }
    blobs[i].setUncompressedSize(blob.storage.declared_size);
    blobs[i].adoptData(std::move(payloads[i]));
  }

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
      // Validation has held every position below the blob count.
      segments[k].setBlob(static_cast<std::uint32_t>(segment.blob));
      segments[k].setBlobOffset(segment.blob_offset);
      segments[k].setDataSize(segment.data_size);
      segments[k].setAux(segment.aux);
    }
  }
  set_bindings(model.bindings_1,
               root.initBindings1(static_cast<unsigned>(model.bindings_1.size())));
  set_bindings(model.bindings_2,
               root.initBindings2(static_cast<unsigned>(model.bindings_2.size())));
  set_bindings(model.bindings_3,
               root.initBindings3(static_cast<unsigned>(model.bindings_3.size())));
  set_host_exchange(model.host_exchange, root.initHostExchange());

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
  root.setBuildDigest(as_data(build_digest));
}

}  // namespace

WriteResult<std::uint64_t> structure_words(const PackageModel& model) {
  WordCount count;
  count.add(struct_words<schema::Application>);
  const std::string_view target = target_name;
  bool fits =
      count.text(model.compiler.size(), ElementPath{{F::compiler}}) &&
      count.text(target.size(), ElementPath{{F::target}}) &&
      count.structs(model.blobs.size(), struct_words<schema::Blob>, ElementPath{{F::blobs}});
  if (fits) count.add(words_for_bytes(sizeof(Digest)) * model.blobs.size());
  fits = fits && count.structs(model.tiles.size(), struct_words<schema::TileImage>,
                               ElementPath{{F::tiles}});
  for (std::size_t i = 0; fits && i < model.tiles.size(); ++i) {
    fits = count.structs(model.tiles[i].segments.size(), struct_words<schema::Segment>,
                         ElementPath{{F::tiles, i}, {F::segments}});
  }
  fits = fits && count_bindings(count, F::bindings1, model.bindings_1) &&
         count_bindings(count, F::bindings2, model.bindings_2) &&
         count_bindings(count, F::bindings3, model.bindings_3) &&
         count_host_exchange(count, model.host_exchange) &&
         count.structs(model.entry_points.size(), struct_words<schema::EntryPoint>,
                       ElementPath{{F::entry_points}});
  for (std::size_t i = 0; fits && i < model.entry_points.size(); ++i) {
    fits =
        count.text(model.entry_points[i].name.size(), ElementPath{{F::entry_points, i}, {F::name}});
  }
  fits = fits &&
         count.structs(model.device_config_writes.size(), struct_words<schema::DeviceConfigWrite>,
                       ElementPath{{F::device_config_writes}});
  if (!fits) return std::unexpected(std::move(count).take_failure());
  count.add(words_for_bytes(sizeof(Digest)));  // the build digest
  return count.words();
}

WriteResult<void> check_payload_size(std::size_t blob, std::uint64_t size) {
  if (size <= max_list_elements) return {};
  return std::unexpected(WriteFailure::unstorable(
      ElementPath{{F::blobs, blob}, {F::data}}.to_string(),
      fmt::format("{} stored bytes are more than one blob holds ({})", size, max_list_elements)));
}

WriteResult<void> build_message(std::span<capnp::word> words, const PackageModel& model,
                                const Digest& build_digest) {
  const auto internal = [](std::string what) {
    return std::unexpected(
        WriteFailure::unstorable("", "the message could not be laid out: " + std::move(what)));
  };
  try {
    capnp::FlatMessageBuilder message(kj::arrayPtr(words.data(), words.size()));
    // The orphanage's first use allocates the root pointer; each blob's data
    // then follows it, before the root struct.
    capnp::Orphanage orphanage = message.getOrphanage();
    std::vector<capnp::Orphan<capnp::Data>> payloads;
    payloads.reserve(model.blobs.size());
    for (const BlobInfo& blob : model.blobs) {
      payloads.push_back(
          orphanage.newOrphan<capnp::Data>(static_cast<unsigned>(blob.storage.stored_size)));
      if (blob.storage.stored_size == 0) continue;
      const auto* start = reinterpret_cast<const std::uint8_t*>(payloads.back().get().begin());
      const auto offset =
          static_cast<std::uint64_t>(start - reinterpret_cast<const std::uint8_t*>(words.data()));
      if (framing_bytes + offset != blob.storage.file_offset) {
        return internal(fmt::format("a blob's data lands at {}, not {}", framing_bytes + offset,
                                    blob.storage.file_offset));
      }
    }
    set_structure(message.initRoot<schema::Application>(), model, payloads, build_digest);
    message.requireFilled();
  } catch (const kj::Exception& e) {
    return internal(printable(e.getDescription()));
  } catch (const std::bad_alloc&) {
    return std::unexpected(WriteFailure::unstorable("", "memory allocation failed"));
  }
  return {};
}

}  // namespace zem
