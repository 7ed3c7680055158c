#include "large_package.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>
#include <stdexcept>
#include <string_view>

#include "package_builder.hpp"
#include "package_payloads.hpp"
#include "synthetic_content.hpp"

namespace zem::bench {
namespace {

// Segment addresses and sizes keep this alignment, so every tile image is a
// whole number of words and the patch words run exactly to its end.
constexpr std::uint32_t alignment = 16;
constexpr std::uint32_t min_part_size = 8 * 1024;

// A few runtime blobs that many tiles load, each a few tens of KiB.
constexpr std::uint32_t shared_blob_count = 4;

// The program every tile runs in the shared-program layout.
constexpr std::uint32_t program_size = 384 * 1024;

// Where the template tile's image keeps its setup: twelve words at 0x40.
constexpr std::size_t setup_offset = 0x40;
constexpr std::size_t setup_bytes = 12 * 4;

constexpr std::size_t binding_count = 3000;
constexpr std::size_t host_page_count = 2048;
constexpr std::size_t host_call_count = 200;
constexpr std::size_t device_write_count = 1024;

// Independent random streams, so that each part of the model depends only on
// the seed and its own place.
enum Stream : std::uint64_t {
  shared_contents = 1ULL << 40U,
  tile_layout = 2ULL << 40U,
  tile_contents = 3ULL << 40U,
  compression_choice = 4ULL << 40U,
  tables = 5ULL << 40U,
};

std::uint32_t align_down(std::uint64_t value) {
  return static_cast<std::uint32_t>(value - value % alignment);
}

// Splits `total` bytes into `count` aligned parts of at least `minimum` bytes
// in random proportions; the last part takes what rounding left over.
std::vector<std::uint32_t> split(std::uint32_t total, std::size_t count, std::uint32_t minimum,
                                 Rng& rng) {
  std::vector<std::uint64_t> weights(count);
  for (std::uint64_t& weight : weights) weight = rng.between(1, 8);
  const std::uint64_t weight_sum =
      std::accumulate(weights.begin(), weights.end(), std::uint64_t{0});
  const std::uint64_t spare = total - std::uint64_t{minimum} * count;
  std::vector<std::uint32_t> parts;
  std::uint64_t used = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t part = i + 1 < count ? minimum + align_down(spare * weights[i] / weight_sum)
                                             : static_cast<std::uint32_t>(total - used);
    parts.push_back(part);
    used += part;
  }
  return parts;
}

struct Part {
  std::uint32_t memory_size = 0;
  std::uint32_t data_size = 0;
  std::uint64_t blob = 0;
};

class ModelBuilder {
 public:
  ModelBuilder(const LargePackageOptions& options, LargeModel& out)
      : options_(options), out_(out), app_(out.model) {}

  void build() {
    if (options_.tiles == 0) throw std::invalid_argument("a package needs at least one tile");
    if (options_.compressed_percent > 100) {
      throw std::invalid_argument("the compressed share is a percentage, at most 100");
    }
    app_.compiler = "3.2.0";
    out_.template_tile = options_.tiles / 2;
    if (options_.layout == TileLayout::shared_program) {
      add_program();
    } else {
      add_shared_blobs();
    }
    for (std::uint32_t t = 0; t < options_.tiles; ++t) add_tile(t);
    add_bindings();
    add_host_exchange();
    add_entry_points_and_writes();
    testing::index_blobs(app_);
    if (app_.blobs_by_digest.size() != app_.blobs.size()) {
      throw std::logic_error("two generated blobs have the same contents");
    }
    for (std::size_t b = 0; b < app_.blobs.size(); ++b) {
      Rng rng(Rng::derive(options_.seed, compression_choice + b));
      out_.compressed.push_back(rng.chance(options_.compressed_percent, 100));
    }
  }

 private:
  std::uint64_t add_blob(std::span<const std::uint8_t> contents) {
    app_.blobs.push_back(testing::make_blob(contents));
    return app_.blobs.size() - 1;
  }

  void add_shared_blobs() {
    for (std::uint32_t s = 0; s < shared_blob_count; ++s) {
      Rng rng(Rng::derive(options_.seed, shared_contents + s));
      const std::uint32_t size = align_down(rng.between(32, 96) * 1024);
      add_blob(program_bytes(size, rng));
      shared_sizes_.push_back(size);
    }
  }

  // The program all tiles share starts with the template setup, which names
  // regions and a patch table that each tile holds in its first segment.
  void add_program() {
    Rng rng(Rng::derive(options_.seed, shared_contents));
    const std::vector<std::uint8_t> image = testing::make_template_tile().image;
    std::vector<std::uint8_t> program(image.begin() + setup_offset,
                                      image.begin() + setup_offset + setup_bytes);
    const std::vector<std::uint8_t> rest = program_bytes(program_size - setup_bytes, rng);
    program.insert(program.end(), rest.begin(), rest.end());
    add_blob(program);
    shared_sizes_.push_back(program_size);
  }

  // The template tile's image with the regions' words raised by `tile` + 1,
  // so that every tile expects a record of its own, and the setup left out
  // when the shared program holds it; the record it expects is noted.
  std::vector<std::uint8_t> template_part(std::uint32_t t) {
    const testing::TemplateTile tile = testing::make_template_tile();
    std::vector<std::uint8_t> bytes = tile.image;
    if (options_.layout == TileLayout::own_blobs) {
      return bytes;
    }
    const std::uint32_t raise = t + 1;
    for (const std::size_t region : {std::size_t{0x400}, std::size_t{0x800}}) {
      const std::size_t words = region == 0x400 ? 6 : 4;
      for (std::size_t k = 0; k < words; ++k) {
        std::uint32_t word = 0;
        std::memcpy(&word, bytes.data() + region + 4 * k, 4);  // little-endian host
        word += raise;
        std::memcpy(bytes.data() + region + 4 * k, &word, 4);
      }
    }
    if (options_.layout == TileLayout::shared_program) {
      std::fill_n(bytes.begin() + setup_offset, setup_bytes, 0);
    }
    std::vector<std::uint32_t> record = tile.record;
    for (std::uint32_t& word : record) word += raise;  // patching adds the same deltas
    out_.records.resize(options_.tiles);
    out_.records[t] = std::move(record);
    return bytes;
  }

  [[nodiscard]] bool has_template(std::uint32_t t) const {
    return options_.layout != TileLayout::own_blobs || t == out_.template_tile;
  }

  // The contents of part `index` of tile `t`: code first, then code or
  // tables, and a data part last whose tail stays zero (its data size is
  // smaller than its memory size).
  std::vector<std::uint8_t> part_contents(std::uint32_t t, std::size_t index, std::size_t count,
                                          std::uint32_t data_size) {
    Rng rng(Rng::derive(options_.seed, tile_contents + std::uint64_t{t} * 64 + index));
    if (index == 0) {
      if (!has_template(t)) return program_bytes(data_size, rng);
      // A template tile's first segment starts at its load base with the
      // template setup (unless the program holds it), its two regions and
      // the patch table.
      std::vector<std::uint8_t> bytes = template_part(t);
      const std::vector<std::uint8_t> rest = program_bytes(data_size - bytes.size(), rng);
      bytes.insert(bytes.end(), rest.begin(), rest.end());
      return bytes;
    }
    std::vector<std::uint8_t> bytes;
    const bool tables = index + 1 == count || rng.chance(1, 2);
    append_section(bytes, tables ? SectionKind::tables : SectionKind::code, data_size, rng);
    return bytes;
  }

  void add_tile(std::uint32_t t) {
    Rng rng(Rng::derive(options_.seed, tile_layout + t));
    const std::uint32_t fill =
        align_down(std::uint64_t{tile_memory_size} * rng.between(85, 97) / 100);
    // Three tiles in four load one of the shared runtimes; with a shared
    // program, every tile loads it.
    const bool shared_program = options_.layout == TileLayout::shared_program;
    const bool loads_runtime = shared_program || rng.chance(3, 4);
    const std::uint64_t runtime = shared_program ? 0 : rng.below(shared_blob_count);
    const std::uint32_t shared_size = loads_runtime ? shared_sizes_[runtime] : 0;

    const std::size_t own_count = rng.between(2, 5);
    const std::vector<std::uint32_t> sizes =
        split(fill - shared_size, own_count, min_part_size, rng);
    std::vector<Part> parts;
    for (std::size_t i = 0; i < own_count; ++i) {
      Part part{.memory_size = sizes[i], .data_size = sizes[i], .blob = 0};
      if (i + 1 == own_count) {
        part.data_size = align_down(std::uint64_t{sizes[i]} * rng.between(40, 90) / 100);
      }
      part.blob = add_blob(part_contents(t, i, own_count, part.data_size));
      parts.push_back(part);
      // The runtime follows the code part.
      if (i == 0 && loads_runtime) {
        parts.push_back(
            Part{.memory_size = shared_size, .data_size = shared_size, .blob = runtime});
      }
    }

    // The memory the parts leave free becomes gaps, one after each part; the
    // last lies beyond the image's end.
    const std::vector<std::uint32_t> gaps = split(tile_memory_size - fill, parts.size(), 0, rng);
    TileImage tile;
    tile.physical_tile = t;
    tile.aux_1 = static_cast<std::uint32_t>(rng.below(4));
    std::uint32_t address = tile_memory_base;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      tile.segments.push_back(Segment{.address = address,
                                      .memory_size = parts[i].memory_size,
                                      .blob = parts[i].blob,
                                      .blob_offset = 0,
                                      .data_size = parts[i].data_size,
                                      .aux = static_cast<std::uint32_t>(i)});
      address += parts[i].memory_size + gaps[i];
    }
    app_.tiles.push_back(std::move(tile));
  }

  void add_bindings() {
    constexpr std::array<std::string_view, 8> words{"weights", "bias",  "input", "output",
                                                    "scratch", "state", "gate",  "norm"};
    constexpr std::array<std::string_view, 5> labels{"f32", "i16", "u8", "q8", ""};
    Rng rng(Rng::derive(options_.seed, tables));
    std::vector<Binding>* const lists[] = {&app_.bindings_1, &app_.bindings_2, &app_.bindings_3};
    for (std::size_t i = 0; i < binding_count; ++i) {
      const TileImage& tile = app_.tiles[rng.below(app_.tiles.size())];
      const Segment& segment = tile.segments[rng.below(tile.segments.size())];
      const std::uint32_t offset = align_down(rng.below(segment.memory_size));
      const std::uint32_t length = static_cast<std::uint32_t>(
          rng.between(1, std::min(segment.memory_size - offset, 0x4000U)));
      Binding binding;
      binding.name =
          fmt::format("t{}.{}_{}", tile.physical_tile, words[rng.below(words.size())], i);
      binding.label = labels[rng.below(labels.size())];
      for (std::uint64_t v = rng.below(4); v > 0; --v) {
        binding.values.push_back(static_cast<std::uint32_t>(rng.below(1024)));
      }
      binding.slices.push_back(RegionSlice{.physical_tile = tile.physical_tile,
                                           .address = segment.address + offset,
                                           .offset = rng.below(1024),
                                           .length = length});
      // Half in the first list, a third in the second, the rest in the third.
      lists[i % 6 < 3 ? 0 : (i % 6 < 5 ? 1 : 2)]->push_back(std::move(binding));
    }
  }

  void add_host_exchange() {
    Rng rng(Rng::derive(options_.seed, tables + 1));
    HostExchange& host = app_.host_exchange;
    for (std::size_t p = 0; p < host_page_count; ++p) {
      host.pages.push_back(HostPage{.id = static_cast<std::uint32_t>(0x1000 + 3 * p),
                                    .size = rng.between(1, 16) * 4096});
      if (p % 5 == 0) host.required_pages.push_back(host.pages.back().id);
    }
    host.startup_page = host.pages.front().id;
    host.startup_offset = 0x40;
    const auto page_ref = [&] {
      const HostPage& page = host.pages[rng.below(host.pages.size())];
      const std::uint64_t offset = rng.below(page.size);
      return HostPageRef{.page = page.id,
                         .offset = offset,
                         .aux = rng.below(4),
                         .length = rng.between(0, page.size - offset)};
    };
    for (std::size_t c = 0; c < host_call_count; ++c) {
      HostCall call;
      call.name = fmt::format("host_call_{}", c);
      call.aux_1 = static_cast<std::uint32_t>(rng.below(16));
      call.invocations = static_cast<std::uint32_t>(rng.between(1, 8));
      for (std::uint64_t r = rng.between(1, 3); r > 0; --r) call.page_refs_1.push_back(page_ref());
      for (std::uint64_t r = rng.between(0, 2); r > 0; --r) call.page_refs_2.push_back(page_ref());
      host.calls.push_back(std::move(call));
    }
  }

  void add_entry_points_and_writes() {
    Rng rng(Rng::derive(options_.seed, tables + 2));
    for (std::uint32_t e = 0; e < std::max<std::uint32_t>(1, options_.tiles / 8); ++e) {
      app_.entry_points.push_back(EntryPoint{.name = fmt::format("main_{}", e),
                                             .aux = e,
                                             .external_syncs = rng.chance(1, 4) ? 1U + e % 3 : 0U});
    }
    for (std::size_t w = 0; w < device_write_count; ++w) {
      app_.device_config_writes.push_back(
          DeviceConfigWrite{.address = static_cast<std::uint32_t>(0x10000 + 4 * w),
                            .value = static_cast<std::uint32_t>(rng.next())});
    }
  }

  const LargePackageOptions& options_;
  LargeModel& out_;
  Application& app_;
  std::vector<std::uint32_t> shared_sizes_;
};

}  // namespace

std::string_view layout_name(TileLayout layout) noexcept {
  switch (layout) {
    case TileLayout::own_blobs:
      return "own-blobs";
    case TileLayout::own_blobs_every_template:
      return "own-blobs-every-template";
    case TileLayout::shared_program:
      return "shared-program";
  }
  return "own-blobs";
}

LargeModel make_large_model(const LargePackageOptions& options) {
  LargeModel out;
  ModelBuilder(options, out).build();
  return out;
}

LargePackage make_large_package(const LargePackageOptions& options) {
  LargePackage result;
  {
    LargeModel large = make_large_model(options);
    if (auto valid = large.model.validate(); !valid) {
      throw std::logic_error("the generated model is not valid: " + valid.error().to_string());
    }
    testing::PackageOptions encodings;
    for (const bool compressed : large.compressed) {
      testing::BlobEncoding encoding;
      encoding.compressed = compressed;
      encodings.blob_encodings.push_back(encoding);
    }
    result.package = testing::build_package(large.model, encodings);
    result.template_tile = large.template_tile;
    for (const std::vector<std::uint32_t>& record : large.records) {
      result.records.push_back(testing::words_to_bytes(record));
    }

    LargePackageStats& stats = result.stats;
    const Application& app = large.model;
    stats.blobs = app.blobs.size();
    stats.compressed_blobs = static_cast<std::size_t>(std::ranges::count(large.compressed, true));
    std::vector<std::size_t> loads(app.blobs.size(), 0);
    for (const TileImage& tile : app.tiles) {
      stats.segments += tile.segments.size();
      for (const Segment& segment : tile.segments) ++loads[segment.blob];
    }
    stats.shared_blobs =
        static_cast<std::size_t>(std::ranges::count_if(loads, [](std::size_t n) { return n > 1; }));
    stats.bindings = app.bindings_1.size() + app.bindings_2.size() + app.bindings_3.size();
    stats.host_pages = app.host_exchange.pages.size();
    stats.host_calls = app.host_exchange.calls.size();
  }
  const PackagePayloads payloads = PackagePayloads::parse(result.package);
  result.stats.blob_bytes = payloads.content_bytes();
  result.stats.payload_bytes = payloads.payload_bytes();
  result.stats.package_bytes = result.package.size();
  result.record = result.records.empty()
                      ? testing::words_to_bytes(testing::make_template_tile().record)
                      : result.records[result.template_tile];
  return result;
}

}  // namespace zem::bench
