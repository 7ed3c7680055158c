// The verifier's small hot pieces, on the largest inputs a package allows.
//
//   zem_micro_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
//
// - The template setup scan over a full tile image (638,976 bytes, the whole
//   of tile memory) whose only setup is its last window: realistic code, and
//   an image where every word is the setup's first word, so that no window is
//   rejected by its first test.
// - `patch` on a group with the most mask words a header can declare, 65,535,
//   every mask bit set or one in four.
//
// The build digest of a model with a million segments is measured by
// zem_model_bench (BM_BuildDigest/scale:1), beside validation.

#include <benchmark/benchmark.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "synthetic_content.hpp"
#include "record/le_words.hpp"
#include "zem_package/application.hpp"
#include "zem_package/expected_record.hpp"
#include "zem_package/template_patching.hpp"
#include "zem_package/template_setup.hpp"

namespace {

constexpr std::uint32_t setup_first_word = 0x22bbffe0;

void put_word(std::vector<std::uint8_t>& image, std::size_t word, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    image[4 * word + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

// A full tile image whose only template setup is its last window.
std::vector<std::uint8_t> scan_image(bool first_word_everywhere) {
  std::vector<std::uint8_t> image(zem::tile_memory_size);
  const std::size_t words = image.size() / 4;
  if (first_word_everywhere) {
    for (std::size_t w = 0; w < words; ++w) put_word(image, w, setup_first_word);
  } else {
    zem::bench::Rng rng(7);
    const std::vector<std::uint8_t> code = zem::bench::program_bytes(image.size(), rng);
    std::memcpy(image.data(), code.data(), image.size());
  }
  const std::size_t at = words - 12;
  const std::uint32_t setup[12] = {
      setup_first_word, 0x1944c400, 0x1954c800, 0x19600006, 0x19700004, 0, 0, 0, 0,
      0x1920001b,       0x4fb2f004, 0x0004cc00};
  for (std::size_t i = 0; i < 12; ++i) put_word(image, at + i, setup[i]);
  return image;
}

void BM_LocateTemplateSetup(benchmark::State& state) {
  const std::vector<std::uint8_t> image = scan_image(state.range(0) == 1);
  const auto found = zem::find_template_setup(image);
  if (!found || found->setup.patch_table != 0x4cc00) {
    state.SkipWithError("the planted setup is not the one found");
    return;
  }
  for (auto _ : state) {
    auto setup = zem::find_template_setup(image);
    benchmark::DoNotOptimize(setup);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(image.size()));
}

// A patch group of 65,535 mask words with `bits_per_word` of every 32 set,
// its selector words marking every other patched position short, and all the
// deltas it needs; and a target that holds every position it names.
struct PatchCase {
  std::vector<std::uint32_t> table;
  std::vector<std::uint8_t> table_bytes;  // `table` as a tile image holds it
  std::vector<std::uint32_t> target;
  std::size_t patched = 0;
};

PatchCase patch_case(std::uint32_t bits_per_word) {
  constexpr std::uint32_t mask_words = 0xffff;
  const std::uint32_t mask = bits_per_word == 32 ? 0xffffffffU : 0x11111111U;
  PatchCase c;
  c.table.push_back(mask_words << 16U);  // first position 0
  for (std::uint32_t k = 0; k < mask_words; ++k) c.table.push_back(mask);
  c.patched = static_cast<std::size_t>(mask_words) * static_cast<std::size_t>(std::popcount(mask));
  const std::size_t selector_words = (c.patched + 31) / 32;
  for (std::size_t s = 0; s < selector_words; ++s) c.table.push_back(0x55555555U);
  // Set selector bits count even beyond the last patched position.
  const std::size_t shorts = selector_words * 16;
  for (std::size_t w = 0; w < (shorts + 1) / 2; ++w) c.table.push_back(0xfffe0003U);
  std::size_t longs = 0;
  for (std::size_t n = 0; n < c.patched; ++n) longs += (n % 2 == 1) ? 1 : 0;
  for (std::size_t l = 0; l < longs; ++l)
    c.table.push_back(static_cast<std::uint32_t>(l * 2654435761U));
  c.target.assign(static_cast<std::size_t>(mask_words) * 32, 1);
  c.table_bytes = zem::record_bytes(c.table);
  return c;
}

void BM_Patch(benchmark::State& state) {
  PatchCase c = patch_case(static_cast<std::uint32_t>(state.range(0)));
  const auto used = zem::patch(c.target, c.table);
  if (!used || *used != c.table.size()) {
    state.SkipWithError("the generated patch group is not read whole");
    return;
  }
  // Timed as the tools patch: reading the table in place from image bytes.
  const zem::LeWords table(c.table_bytes);
  for (auto _ : state) {
    auto count = zem::patch_group(c.target, table, nullptr);
    benchmark::DoNotOptimize(count);
    benchmark::ClobberMemory();
  }
  state.counters["patched"] = static_cast<double>(c.patched);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(c.patched));
}

BENCHMARK(BM_LocateTemplateSetup)->ArgName("first_word_everywhere")->Arg(0)->Arg(1);
BENCHMARK(BM_Patch)->ArgName("mask_bits_per_word")->Arg(32)->Arg(8)->Unit(benchmark::kMillisecond);

}  // namespace
