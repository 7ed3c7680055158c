#pragma once

// The build digest's byte stream, written once as templates over a byte sink.
//
// Production feeds the stream to a running SHA-256 (`BuildDigestStream`);
// tests feed it to a sink that collects the bytes, so the exact stream can be
// pinned byte for byte. Every integer is little-endian whatever the host, and
// items follow each other with no separator, padding or alignment.

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "zem_package/application.hpp"

namespace zem::build_stream {

// Anything that takes the stream's bytes in order.
template <class S>
concept ByteSink = requires(S& sink, std::span<const std::uint8_t> bytes) { sink.append(bytes); };

// Fixed texts of the stream.
inline constexpr std::string_view external_syncs_label = "external-syncs";

template <ByteSink Sink>
void put_u32(Sink& sink, std::uint32_t value) {
  const std::array<std::uint8_t, 4> bytes{
      static_cast<std::uint8_t>(value),
      static_cast<std::uint8_t>(value >> 8U),
      static_cast<std::uint8_t>(value >> 16U),
      static_cast<std::uint8_t>(value >> 24U),
  };
  sink.append(bytes);
}

template <ByteSink Sink>
void put_u64(Sink& sink, std::uint64_t value) {
  std::array<std::uint8_t, 8> bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>(value >> (8U * i));
  }
  sink.append(bytes);
}

// The count of a list goes before its elements, as u64.
template <ByteSink Sink>
void put_count(Sink& sink, std::size_t count) {
  put_u64(sink, static_cast<std::uint64_t>(count));
}

// Bytes with no length in front of them: digests and labels.
template <ByteSink Sink>
void put_raw(Sink& sink, std::string_view text) {
  sink.append(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()),
                                            text.size()));
}

template <ByteSink Sink>
void put_raw(Sink& sink, const Digest& digest) {
  sink.append(digest);
}

// A string item: u64 byte length, then the bytes.
template <ByteSink Sink>
void put_string(Sink& sink, std::string_view text) {
  put_count(sink, text.size());
  put_raw(sink, text);
}

template <ByteSink Sink>
void put_segment(Sink& sink, const Segment& segment) {
  put_u32(sink, segment.address);
  put_u32(sink, segment.memory_size);
  // 8 bytes: the model holds the position as 64 bits, though the file has 32.
  put_u64(sink, segment.blob);
  put_u64(sink, segment.blob_offset);
  put_u32(sink, segment.data_size);
  put_u32(sink, segment.aux);
}

template <ByteSink Sink>
void put_tile(Sink& sink, const TileImage& tile) {
  put_u32(sink, tile.physical_tile);
  put_u32(sink, tile.aux_1);
  put_u32(sink, tile.aux_2);
  put_u32(sink, tile.aux_3);
  put_count(sink, tile.segments.size());
  for (const Segment& segment : tile.segments) {
    put_segment(sink, segment);
  }
}

template <ByteSink Sink>
void put_bindings(Sink& sink, const std::vector<Binding>& bindings) {
  put_count(sink, bindings.size());
  for (const Binding& binding : bindings) {
    put_string(sink, binding.name);
    put_string(sink, binding.label);
    put_count(sink, binding.values.size());
    for (const std::uint32_t value : binding.values) {
      put_u32(sink, value);
    }
    put_count(sink, binding.slices.size());
    for (const RegionSlice& slice : binding.slices) {
      put_u32(sink, slice.physical_tile);
      put_u32(sink, slice.address);
      put_u64(sink, slice.offset);
      put_u64(sink, slice.length);
    }
  }
}

template <ByteSink Sink>
void put_page_refs(Sink& sink, const std::vector<HostPageRef>& refs) {
  put_count(sink, refs.size());
  for (const HostPageRef& ref : refs) {
    put_u32(sink, ref.page);
    put_u64(sink, ref.offset);
    put_u64(sink, ref.aux);
    put_u64(sink, ref.length);
  }
}

template <ByteSink Sink>
void put_host_exchange(Sink& sink, const HostExchange& host) {
  put_u32(sink, host.aux);
  put_u32(sink, host.startup_page);
  put_u64(sink, host.startup_offset);
  put_count(sink, host.pages.size());
  for (const HostPage& page : host.pages) {
    put_u32(sink, page.id);
    put_u64(sink, page.size);
  }
  put_count(sink, host.required_pages.size());
  for (const std::uint32_t id : host.required_pages) {
    put_u32(sink, id);
  }
  put_count(sink, host.calls.size());
  for (const HostCall& call : host.calls) {
    put_string(sink, call.name);
    put_u32(sink, call.aux_1);
    put_u32(sink, call.aux_2);
    put_u32(sink, call.invocations);
    put_page_refs(sink, call.page_refs_1);
    put_page_refs(sink, call.page_refs_2);
  }
}

template <ByteSink Sink>
void put_entry_point(Sink& sink, const EntryPoint& entry) {
  put_string(sink, entry.name);
  put_u32(sink, entry.aux);
  // Zero means "no external syncs" and leaves no trace in the stream; a
  // non-zero count is announced by its label.
  if (entry.external_syncs != 0) {
    put_raw(sink, external_syncs_label);
    put_u32(sink, entry.external_syncs);
  }
}

// The whole stream of an application: the fixed header, then every part of
// the model in its order. `Model` is an `Application` or a `PackageModel`:
// `blobs_by_digest` and blob contents are not part of the stream, a blob
// enters only through its digest, which the reader has checked against the
// contents.
template <ByteSink Sink, class Model>
void put_application(Sink& sink, const Model& app) {
  // The header: the fixed values, not values read back from a file.
  put_u32(sink, format_version);
  put_string(sink, target_name);
  put_u32(sink, tile_memory_base);
  put_u32(sink, tile_memory_size);

  put_string(sink, app.compiler);

  put_count(sink, app.blobs.size());
  for (const auto& blob : app.blobs) {
    put_raw(sink, blob.digest);
  }

  put_count(sink, app.tiles.size());
  for (const TileImage& tile : app.tiles) {
    put_tile(sink, tile);
  }

  put_bindings(sink, app.bindings_1);
  put_bindings(sink, app.bindings_2);
  put_bindings(sink, app.bindings_3);

  put_host_exchange(sink, app.host_exchange);

  put_count(sink, app.entry_points.size());
  for (const EntryPoint& entry : app.entry_points) {
    put_entry_point(sink, entry);
  }

  put_count(sink, app.device_config_writes.size());
  for (const DeviceConfigWrite& write : app.device_config_writes) {
    put_u32(sink, write.address);
    put_u32(sink, write.value);
  }
}

}  // namespace zem::build_stream
