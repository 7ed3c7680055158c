// Validation and the build digest over large, valid, generated models.
//
// Each benchmark runs at scale 1 (1,000,000 segments, 200,000 bindings) and
// scale 2 (everything doubled). Both operations are meant to be close to
// linear in the size of the model, so the time at scale 2 should be about
// twice the time at scale 1.
//
//   build/bench/zem_model_bench --benchmark_repetitions=10 --benchmark_report_aggregates_only=true

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include "zem_package/application.hpp"

namespace {

using zem::Application;

struct Sizes {
  std::uint32_t tiles;
  std::uint32_t segments_per_tile;
  std::uint32_t bindings;
  std::uint32_t pages;
  std::uint32_t calls;
  std::uint32_t entry_points;
  std::uint32_t device_writes;
};

constexpr Sizes sizes_at(std::uint32_t scale) {
  return Sizes{.tiles = 1000 * scale,
               .segments_per_tile = 1000,
               .bindings = 200'000 * scale,
               .pages = 20'000 * scale,
               .calls = 20'000 * scale,
               .entry_points = 10'000 * scale,
               .device_writes = 10'000 * scale};
}

constexpr std::uint32_t segment_stride = 0x200;  // 1000 slots fill 0x7d000 of tile memory
constexpr std::size_t blob_size = 0x1000;
constexpr std::size_t blob_count = 4;

// A valid model of the given scale. Segments are listed in a scrambled order
// so that the overlap rule's sort has real work to do.
std::unique_ptr<Application> make_model(std::uint32_t scale) {
  const Sizes sizes = sizes_at(scale);
  auto app = std::make_unique<Application>();
  app->compiler = "1.0.0";

  for (std::size_t b = 0; b < blob_count; ++b) {
    zem::Blob blob;
    blob.data = zem::ByteBuffer::copy_of(
        std::vector<std::uint8_t>(blob_size, static_cast<std::uint8_t>(b)));
    blob.digest.fill(static_cast<std::uint8_t>(b));
    app->blobs.push_back(std::move(blob));
  }

  app->tiles.reserve(sizes.tiles);
  for (std::uint32_t t = 0; t < sizes.tiles; ++t) {
    zem::TileImage tile;
    tile.physical_tile = t * 3 + 1;
    tile.segments.reserve(sizes.segments_per_tile);
    for (std::uint32_t i = 0; i < sizes.segments_per_tile; ++i) {
      // 7919 is coprime with 1000: every slot is used once.
      const std::uint32_t slot = (i * 7919U) % sizes.segments_per_tile;
      // Every other segment touches the next one; the rest leave a gap.
      const std::uint32_t memory_size = (slot % 2 == 0) ? segment_stride : segment_stride / 2;
      tile.segments.push_back(zem::Segment{.address = zem::tile_memory_base + slot * segment_stride,
                                           .memory_size = memory_size,
                                           .blob = slot % blob_count,
                                           .blob_offset = slot % 0x100,
                                           .data_size = (slot * 13U) % 0x100,
                                           .aux = slot});
    }
    app->tiles.push_back(std::move(tile));
  }

  std::vector<zem::Binding>* const lists[] = {&app->bindings_1, &app->bindings_2, &app->bindings_3};
  for (std::vector<zem::Binding>* list : lists) {
    list->reserve(sizes.bindings / 3 + 1);
  }
  for (std::uint32_t i = 0; i < sizes.bindings; ++i) {
    const std::uint32_t tile = i % sizes.tiles;
    lists[i % 3]->push_back(zem::Binding{
        .name = fmt::format("binding_{:07}", i),
        .label = "label",
        .values = {i},
        .slices = {zem::RegionSlice{.physical_tile = tile * 3 + 1,
                                    .address = zem::tile_memory_base + (i % 1000) * segment_stride,
                                    .offset = i,
                                    .length = 0x40}}});
  }

  zem::HostExchange& host = app->host_exchange;
  host.startup_page = 0;
  host.startup_offset = 0;
  host.pages.reserve(sizes.pages);
  host.required_pages.reserve(sizes.pages);
  for (std::uint32_t p = 0; p < sizes.pages; ++p) {
    host.pages.push_back(zem::HostPage{.id = p, .size = 0x10000});
    host.required_pages.push_back(sizes.pages - 1 - p);
  }
  host.calls.reserve(sizes.calls);
  for (std::uint32_t c = 0; c < sizes.calls; ++c) {
    host.calls.push_back(zem::HostCall{
        .name = fmt::format("call_{}", c),
        .aux_1 = c,
        .aux_2 = 0,
        .invocations = 1 + c % 4,
        .page_refs_1 = {zem::HostPageRef{
            .page = c % sizes.pages, .offset = 0x100, .aux = 0, .length = 0x100}},
        .page_refs_2 = {zem::HostPageRef{
            .page = (c * 7U) % sizes.pages, .offset = 0, .aux = 1, .length = 0x10000}}});
  }

  app->entry_points.reserve(sizes.entry_points);
  for (std::uint32_t e = 0; e < sizes.entry_points; ++e) {
    app->entry_points.push_back(
        zem::EntryPoint{.name = fmt::format("entry_{}", e), .aux = e, .external_syncs = e % 3});
  }

  app->device_config_writes.reserve(sizes.device_writes);
  for (std::uint32_t w = 0; w < sizes.device_writes; ++w) {
    app->device_config_writes.push_back(zem::DeviceConfigWrite{.address = w * 4, .value = w});
  }
  return app;
}

// Models are built once per scale and shared by the benchmarks.
const Application& model(std::int64_t scale) {
  static std::array<std::unique_ptr<Application>, 3> models;
  auto& slot = models.at(static_cast<std::size_t>(scale));
  if (!slot) {
    slot = make_model(static_cast<std::uint32_t>(scale));
  }
  return *slot;
}

std::int64_t segment_count(const Application& app) {
  std::size_t count = 0;
  for (const zem::TileImage& tile : app.tiles) {
    count += tile.segments.size();
  }
  return static_cast<std::int64_t>(count);
}

void BM_Validate(benchmark::State& state) {
  const Application& app = model(state.range(0));
  if (!app.validate()) {
    state.SkipWithError("the generated model is not valid");
    return;
  }
  for (auto _ : state) {
    auto result = app.validate();
    benchmark::DoNotOptimize(result);
  }
  state.counters["segments"] = static_cast<double>(segment_count(app));
  state.SetItemsProcessed(state.iterations() * segment_count(app));
}

void BM_BuildDigest(benchmark::State& state) {
  const Application& app = model(state.range(0));
  for (auto _ : state) {
    zem::Digest digest = app.build_digest();
    benchmark::DoNotOptimize(digest);
  }
  state.counters["segments"] = static_cast<double>(segment_count(app));
  state.SetItemsProcessed(state.iterations() * segment_count(app));
}

BENCHMARK(BM_Validate)->ArgName("scale")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildDigest)->ArgName("scale")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace
