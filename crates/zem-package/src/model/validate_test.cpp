// Tests of package validation: every message, the edges of every
// rule, and the order of the rules where two of them could fail at once.
//
// Every case starts from one valid model, built in code, and changes it; the
// expected result is the exact text form of the error.

#include <cstdint>
#include <functional>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "errors/invalid_message.hpp"

#include "zem_package/application.hpp"
#include "zem_package/package_error.hpp"

namespace zem {
namespace {

constexpr std::uint64_t u64_max = std::numeric_limits<std::uint64_t>::max();

Blob blob_of_size(std::size_t size, std::uint8_t fill) {
  Blob blob;
  blob.data = ByteBuffer::copy_of(std::vector<std::uint8_t>(size, fill));
  blob.digest.fill(fill);  // validation never looks at the digest
  return blob;
}

Segment segment(std::uint32_t address, std::uint32_t memory_size, std::uint64_t blob = 0,
                std::uint64_t blob_offset = 0, std::uint32_t data_size = 0) {
  return Segment{.address = address,
                 .memory_size = memory_size,
                 .blob = blob,
                 .blob_offset = blob_offset,
                 .data_size = data_size,
                 .aux = 0};
}

RegionSlice slice(std::uint32_t physical_tile, std::uint32_t address, std::uint64_t length) {
  return RegionSlice{
      .physical_tile = physical_tile, .address = address, .offset = 0, .length = length};
}

HostPageRef page_ref(std::uint32_t page, std::uint64_t offset, std::uint64_t length) {
  return HostPageRef{.page = page, .offset = offset, .aux = 0, .length = length};
}

// A valid model that touches every rule:
// - blob 0 has 0x100 bytes, blob 1 has 0x20;
// - tile 5 has two segments that touch (0x4c000..0x4c100, 0x4c100..0x4c200);
// - tile 6 has one segment that ends exactly at the end of tile memory;
// - bindings alpha (tile 5), beta (tile 6, ending at 0xe8000) and gamma (no
//   slices), one in each list;
// - pages 1 (0x1000 bytes) and 2 (0x40 bytes), both required; the startup
//   word at offset 0 of page 1;
// - host calls call_a (a reference in each list, the second ending exactly at
//   the end of page 2) and call_b;
// - two aligned device configuration writes.
Application valid_application() {
  Application app;
  app.compiler = "1.2.3";
  app.blobs.push_back(blob_of_size(0x100, 0xaa));
  app.blobs.push_back(blob_of_size(0x20, 0xbb));

  app.tiles.push_back(TileImage{
      .physical_tile = 5,
      .aux_1 = 0,
      .aux_2 = 0,
      .aux_3 = 0,
      .segments = {segment(0x4c000, 0x100, 0, 0, 0x10), segment(0x4c100, 0x100, 1, 0x10, 0x10)}});
  app.tiles.push_back(TileImage{.physical_tile = 6,
                                .aux_1 = 0,
                                .aux_2 = 0,
                                .aux_3 = 0,
                                .segments = {segment(0xe7f00, 0x100, 0, 0, 0x100)}});

  app.bindings_1.push_back(Binding{
      .name = "alpha", .label = "l", .values = {1, 2}, .slices = {slice(5, 0x4c000, 0x100)}});
  app.bindings_2.push_back(
      Binding{.name = "beta", .label = "", .values = {}, .slices = {slice(6, 0xe7f00, 0x100)}});
  app.bindings_3.push_back(Binding{.name = "gamma", .label = "", .values = {}, .slices = {}});

  HostExchange& host = app.host_exchange;
  host.startup_page = 1;
  host.startup_offset = 0;
  host.pages = {HostPage{.id = 1, .size = 0x1000}, HostPage{.id = 2, .size = 0x40}};
  host.required_pages = {2, 1};
  host.calls.push_back(HostCall{.name = "call_a",
                                .aux_1 = 0,
                                .aux_2 = 0,
                                .invocations = 1,
                                .page_refs_1 = {page_ref(1, 0, 0x10)},
                                .page_refs_2 = {page_ref(2, 0x30, 0x10)}});
  host.calls.push_back(HostCall{.name = "call_b",
                                .aux_1 = 0,
                                .aux_2 = 0,
                                .invocations = 3,
                                .page_refs_1 = {},
                                .page_refs_2 = {page_ref(2, 0, 0x40)}});

  app.device_config_writes = {DeviceConfigWrite{.address = 0x100, .value = 1},
                              DeviceConfigWrite{.address = 0x104, .value = 2}};
  return app;
}

// "ok", or the text form of the error.
std::string outcome(const Application& app) {
  const Result<void> result = app.validate();
  if (result) {
    return "ok";
  }
  // Every validation failure is the Invalid variant.
  EXPECT_NE(invalid_message(result.error()), nullptr) << result.error().to_string();
  return result.error().to_string();
}

struct Case {
  const char* name;
  std::function<void(Application&)> change;
  std::string expected;  // "ok" or the error's text form
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::string case_name(const testing::TestParamInfo<Case>& info) { return info.param.name; }

class ValidateCase : public testing::TestWithParam<Case> {};

TEST_P(ValidateCase, GivesExpectedOutcome) {
  Application app = valid_application();
  GetParam().change(app);
  EXPECT_EQ(outcome(app), GetParam().expected);
}

TEST(Validate, ValidModelPasses) { EXPECT_EQ(outcome(valid_application()), "ok"); }

TEST(Validate, DefaultApplicationHasNoTiles) {
  EXPECT_EQ(outcome(Application{}), R"(Invalid("application has no tiles"))");
}

TEST(Validate, DoesNotChangeTheModel) {
  const Application app = valid_application();
  Application broken = valid_application();
  broken.tiles[0].segments[1].address = 0x4c080;
  const std::vector<TileImage> tiles_before = broken.tiles;
  EXPECT_NE(outcome(broken), "ok");
  EXPECT_EQ(broken.tiles, tiles_before);  // in particular, not sorted
  EXPECT_EQ(outcome(app), "ok");
  EXPECT_EQ(outcome(app), "ok");  // no state kept between calls
}

// One case for every message, and the edges of each rule.
const Case rejected[] = {
    // No tiles.
    {"no_tiles", [](Application& a) { a.tiles.clear(); }, R"(Invalid("application has no tiles"))"},

    // Device configuration writes.
    {"write_at_odd_address", [](Application& a) { a.device_config_writes[1].address = 0x101; },
     R"(Invalid("unaligned or duplicate device configuration write"))"},
    {"write_at_address_0x102", [](Application& a) { a.device_config_writes[1].address = 0x102; },
     R"(Invalid("unaligned or duplicate device configuration write"))"},
    {"duplicate_write", [](Application& a) { a.device_config_writes[1].address = 0x100; },
     R"(Invalid("unaligned or duplicate device configuration write"))"},
    {"duplicate_write_with_other_value_later_in_list",
     [](Application& a) {
       a.device_config_writes.push_back(DeviceConfigWrite{.address = 0x100, .value = 9});
     },
     R"(Invalid("unaligned or duplicate device configuration write"))"},

    // Duplicate tiles.
    {"duplicate_physical_tile", [](Application& a) { a.tiles[1].physical_tile = 5; },
     R"(Invalid("duplicate physical tile 5"))"},
    {"duplicate_physical_tile_without_segments",
     [](Application& a) {
       a.tiles.push_back(
           TileImage{.physical_tile = 6, .aux_1 = 1, .aux_2 = 2, .aux_3 = 3, .segments = {}});
     },
     R"(Invalid("duplicate physical tile 6"))"},
    {"duplicate_physical_tile_4294967295",
     [](Application& a) {
       a.tiles[0].physical_tile = 0xffffffff;
       a.tiles[1].physical_tile = 0xffffffff;
     },
     R"(Invalid("duplicate physical tile 4294967295"))"},

    // Segment address overflow.
    {"segment_address_overflow",
     [](Application& a) { a.tiles[0].segments[1] = segment(0xfffffff0, 0x20); },
     R"(Invalid("segment address overflow"))"},
    {"segment_end_exactly_2_pow_32",
     [](Application& a) { a.tiles[0].segments[1] = segment(0xffffffff, 1); },
     R"(Invalid("segment address overflow"))"},
    {"segment_of_size_0xffffffff_at_1",
     [](Application& a) { a.tiles[0].segments[1] = segment(1, 0xffffffff); },
     R"(Invalid("segment address overflow"))"},

    // Invalid segments.
    {"segment_end_0xffffffff_fits_but_is_invalid",
     [](Application& a) { a.tiles[0].segments[1] = segment(0xffffff00, 0xff); },
     R"(Invalid("invalid segment on tile 5"))"},
    {"segment_below_tile_memory_even_when_empty",
     [](Application& a) { a.tiles[0].segments[1] = segment(0x4bffc, 0); },
     R"(Invalid("invalid segment on tile 5"))"},
    {"segment_at_address_0", [](Application& a) { a.tiles[0].segments[1] = segment(0, 0x10); },
     R"(Invalid("invalid segment on tile 5"))"},
    {"segment_one_byte_past_tile_memory_end",
     [](Application& a) { a.tiles[1].segments[0].memory_size = 0x101; },
     R"(Invalid("invalid segment on tile 6"))"},
    {"segment_starting_at_tile_memory_end",
     [](Application& a) { a.tiles[1].segments[0] = segment(0xe8000, 1); },
     R"(Invalid("invalid segment on tile 6"))"},
    {"empty_segment_past_tile_memory_end",
     [](Application& a) { a.tiles[1].segments[0] = segment(0xe8001, 0); },
     R"(Invalid("invalid segment on tile 6"))"},
    {"data_size_larger_than_memory_size",
     [](Application& a) { a.tiles[0].segments[0] = segment(0x4c000, 0xff, 0, 0, 0x100); },
     R"(Invalid("invalid segment on tile 5"))"},
    {"blob_position_past_blob_list", [](Application& a) { a.tiles[0].segments[0].blob = 2; },
     R"(Invalid("invalid segment on tile 5"))"},
    {"blob_position_past_blob_list_without_data",
     [](Application& a) { a.tiles[0].segments[0] = segment(0x4c000, 0x100, 2, 0, 0); },
     R"(Invalid("invalid segment on tile 5"))"},
    {"blob_position_2_pow_32",
     [](Application& a) { a.tiles[0].segments[0].blob = std::uint64_t{1} << 32U; },
     R"(Invalid("invalid segment on tile 5"))"},
    {"no_blobs_at_all", [](Application& a) { a.blobs.clear(); },
     R"(Invalid("invalid segment on tile 5"))"},
    {"blob_range_one_byte_past_data",
     [](Application& a) { a.tiles[0].segments[0] = segment(0x4c000, 0x100, 0, 0xf1, 0x10); },
     R"(Invalid("invalid segment on tile 5"))"},
    {"blob_range_past_smaller_blob",
     [](Application& a) { a.tiles[0].segments[1] = segment(0x4c100, 0x100, 1, 0, 0x21); },
     R"(Invalid("invalid segment on tile 5"))"},
    {"empty_blob_range_past_data",
     [](Application& a) { a.tiles[0].segments[0] = segment(0x4c000, 0x100, 0, 0x101, 0); },
     R"(Invalid("invalid segment on tile 5"))"},
    {"blob_range_wraps_past_2_pow_64",
     [](Application& a) { a.tiles[0].segments[0] = segment(0x4c000, 0x100, 0, u64_max, 1); },
     R"(Invalid("invalid segment on tile 5"))"},
    {"invalid_segment_on_second_tile",
     [](Application& a) { a.tiles[1].segments[0].data_size = 0x101; },
     R"(Invalid("invalid segment on tile 6"))"},

    // Overlapping segments.
    {"overlap_reported_in_sorted_order",
     [](Application& a) {
       a.tiles[0].segments = {segment(0x4c080, 0x180), segment(0x4c000, 0x100)};
     },
     R"(Invalid("overlapping segments on tile 5: 0x4c000..0x4c100 and 0x4c080..0x4c200"))"},
    {"overlap_of_equal_starts_sorted_by_end",
     [](Application& a) {
       a.tiles[0].segments = {segment(0x4c000, 0x200), segment(0x4c000, 0x100)};
     },
     R"(Invalid("overlapping segments on tile 5: 0x4c000..0x4c100 and 0x4c000..0x4c200"))"},
    {"overlap_of_identical_ranges",
     [](Application& a) {
       a.tiles[0].segments = {segment(0x4c000, 0x100), segment(0x4c000, 0x100)};
     },
     R"(Invalid("overlapping segments on tile 5: 0x4c000..0x4c100 and 0x4c000..0x4c100"))"},
    {"overlap_by_one_byte", [](Application& a) { a.tiles[0].segments[1].address = 0x4c0ff; },
     R"(Invalid("overlapping segments on tile 5: 0x4c000..0x4c100 and 0x4c0ff..0x4c1ff"))"},
    {"overlap_of_contained_range",
     [](Application& a) {
       a.tiles[0].segments = {segment(0x4c000, 0x1000), segment(0x4c800, 0x10)};
     },
     R"(Invalid("overlapping segments on tile 5: 0x4c000..0x4d000 and 0x4c800..0x4c810"))"},
    {"first_overlap_in_sorted_order_reported",
     [](Application& a) {
       a.tiles[0].segments = {segment(0x50000, 0x100), segment(0x500f0, 0x100),
                              segment(0x4d080, 0x10), segment(0x4d000, 0x100)};
     },
     R"(Invalid("overlapping segments on tile 5: 0x4d000..0x4d100 and 0x4d080..0x4d090"))"},
    {"overlap_with_zero_size_segment_between",
     [](Application& a) {
       a.tiles[0].segments = {segment(0x4c000, 0x100), segment(0x4c0f8, 0), segment(0x4c0f0, 0x20)};
     },
     R"(Invalid("overlapping segments on tile 5: 0x4c000..0x4c100 and 0x4c0f0..0x4c110"))"},
    {"overlap_up_to_tile_memory_end",
     [](Application& a) { a.tiles[1].segments.push_back(segment(0xe7000, 0x1000)); },
     R"(Invalid("overlapping segments on tile 6: 0xe7000..0xe8000 and 0xe7f00..0xe8000"))"},

    // Binding names.
    {"empty_binding_name", [](Application& a) { a.bindings_3[0].name.clear(); },
     R"(Invalid("empty or duplicate binding "))"},
    {"duplicate_binding_in_same_list",
     [](Application& a) { a.bindings_1.push_back(a.bindings_1[0]); },
     R"(Invalid("empty or duplicate binding alpha"))"},
    {"duplicate_binding_across_lists_1_and_3",
     [](Application& a) { a.bindings_3[0].name = "alpha"; },
     R"(Invalid("empty or duplicate binding alpha"))"},
    {"duplicate_binding_across_lists_2_and_3",
     [](Application& a) { a.bindings_3[0].name = "beta"; },
     R"(Invalid("empty or duplicate binding beta"))"},
    {"duplicate_binding_name_with_double_quote",
     [](Application& a) {
       a.bindings_1[0].name = "a\"b";
       a.bindings_2[0].name = "a\"b";
     },
     R"(Invalid("empty or duplicate binding a\"b"))"},
    {"duplicate_binding_name_with_backslash_and_newline",
     [](Application& a) {
       a.bindings_1[0].name = "x\\y\nz";
       a.bindings_3[0].name = "x\\y\nz";
     },
     R"(Invalid("empty or duplicate binding x\\y\nz"))"},

    // Binding slices.
    {"slice_length_2_pow_32",
     [](Application& a) { a.bindings_1[0].slices[0].length = 0x100000000; },
     R"(Invalid("binding alpha slice is too large"))"},
    {"slice_length_u64_max", [](Application& a) { a.bindings_1[0].slices[0].length = u64_max; },
     R"(Invalid("binding alpha slice is too large"))"},
    {"slice_address_overflow",
     [](Application& a) { a.bindings_1[0].slices[0] = slice(5, 0xffffff00, 0x100); },
     R"(Invalid("binding address overflow"))"},
    {"slice_of_length_0xffffffff_at_1",
     [](Application& a) { a.bindings_1[0].slices[0] = slice(5, 1, 0xffffffff); },
     R"(Invalid("binding address overflow"))"},
    {"slice_on_unknown_tile", [](Application& a) { a.bindings_1[0].slices[0].physical_tile = 9; },
     R"(Invalid("binding alpha references invalid tile memory"))"},
    {"slice_below_tile_memory",
     [](Application& a) { a.bindings_1[0].slices[0] = slice(5, 0x4bfff, 1); },
     R"(Invalid("binding alpha references invalid tile memory"))"},
    {"empty_slice_below_tile_memory",
     [](Application& a) { a.bindings_1[0].slices[0] = slice(5, 0x4bfff, 0); },
     R"(Invalid("binding alpha references invalid tile memory"))"},
    {"slice_one_byte_past_tile_memory_end",
     [](Application& a) { a.bindings_2[0].slices[0].length = 0x101; },
     R"(Invalid("binding beta references invalid tile memory"))"},
    {"empty_slice_past_tile_memory_end",
     [](Application& a) { a.bindings_2[0].slices[0] = slice(6, 0xe8001, 0); },
     R"(Invalid("binding beta references invalid tile memory"))"},
    {"slice_end_0xffffffff_fits_but_is_invalid",
     [](Application& a) { a.bindings_2[0].slices[0] = slice(6, 0xffffff00, 0xff); },
     R"(Invalid("binding beta references invalid tile memory"))"},
    {"second_slice_of_binding_invalid",
     [](Application& a) {
       a.bindings_3[0].slices = {slice(5, 0x4c000, 0x10), slice(7, 0x4c000, 0x10)};
     },
     R"(Invalid("binding gamma references invalid tile memory"))"},

    // Page table.
    {"duplicate_page_id_with_same_size",
     [](Application& a) { a.host_exchange.pages.push_back(HostPage{.id = 1, .size = 0x1000}); },
     R"(Invalid("invalid host page table"))"},
    {"duplicate_page_id_with_other_size", [](Application& a) { a.host_exchange.pages[1].id = 1; },
     R"(Invalid("invalid host page table"))"},

    // Required pages.
    {"required_page_missing", [](Application& a) { a.host_exchange.required_pages.push_back(3); },
     R"(Invalid("invalid host page table"))"},
    {"required_page_with_empty_page_table",
     [](Application& a) {
       a.host_exchange.pages.clear();
       a.host_exchange.calls.clear();
     },
     R"(Invalid("invalid host page table"))"},

    // Startup protocol.
    {"startup_page_unknown", [](Application& a) { a.host_exchange.startup_page = 9; },
     R"(Invalid("invalid host startup protocol"))"},
    {"startup_word_one_byte_past_page",
     [](Application& a) { a.host_exchange.startup_offset = 0x1000 - 3; },
     R"(Invalid("invalid host startup protocol"))"},
    {"startup_offset_at_page_end", [](Application& a) { a.host_exchange.startup_offset = 0x1000; },
     R"(Invalid("invalid host startup protocol"))"},
    {"startup_word_wraps_past_2_pow_64",
     [](Application& a) { a.host_exchange.startup_offset = u64_max - 1; },
     R"(Invalid("invalid host startup protocol"))"},
    {"startup_page_too_small_for_a_word",
     [](Application& a) {
       a.host_exchange.pages.push_back(HostPage{.id = 3, .size = 3});
       a.host_exchange.startup_page = 3;
     },
     R"(Invalid("invalid host startup protocol"))"},

    // Host call invocations.
    {"host_call_without_invocations",
     [](Application& a) { a.host_exchange.calls[1].invocations = 0; },
     R"(Invalid("host call call_b has no invocations"))"},

    // Host call page references.
    {"first_list_references_missing_page",
     [](Application& a) { a.host_exchange.calls[0].page_refs_1[0].page = 9; },
     R"(Invalid("host call call_a references missing page"))"},
    {"second_list_references_missing_page",
     [](Application& a) { a.host_exchange.calls[1].page_refs_2[0].page = 3; },
     R"(Invalid("host call call_b references missing page"))"},
    {"first_list_exceeds_page",
     [](Application& a) { a.host_exchange.calls[0].page_refs_1[0] = page_ref(1, 0xff1, 0x10); },
     R"(Invalid("host call call_a exceeds page bounds"))"},
    {"second_list_exceeds_page_by_one_byte",
     [](Application& a) { a.host_exchange.calls[0].page_refs_2[0].offset = 0x31; },
     R"(Invalid("host call call_a exceeds page bounds"))"},
    {"empty_range_past_page_end",
     [](Application& a) { a.host_exchange.calls[1].page_refs_2[0] = page_ref(2, 0x41, 0); },
     R"(Invalid("host call call_b exceeds page bounds"))"},
    {"page_range_wraps_past_2_pow_64_by_offset",
     [](Application& a) { a.host_exchange.calls[0].page_refs_1[0] = page_ref(1, u64_max, 2); },
     R"(Invalid("host call call_a exceeds page bounds"))"},
    {"page_range_wraps_past_2_pow_64_by_length",
     [](Application& a) { a.host_exchange.calls[0].page_refs_1[0] = page_ref(1, 2, u64_max); },
     R"(Invalid("host call call_a exceeds page bounds"))"},
    {"host_call_name_with_double_quote",
     [](Application& a) {
       a.host_exchange.calls[0].name = "say \"hi\"";
       a.host_exchange.calls[0].invocations = 0;
     },
     R"(Invalid("host call say \"hi\" has no invocations"))"},
};

INSTANTIATE_TEST_SUITE_P(ValidateRejects, ValidateCase, testing::ValuesIn(rejected), case_name);

// Edges that must pass.
const Case accepted[] = {
    {"segment_ending_exactly_at_tile_memory_end",
     [](Application& a) { a.tiles[1].segments[0] = segment(0xe7f00, 0x100); }, "ok"},
    {"segment_filling_all_tile_memory",
     [](Application& a) { a.tiles[1].segments[0] = segment(0x4c000, 0x9c000); }, "ok"},
    {"empty_segment_at_tile_memory_end",
     [](Application& a) { a.tiles[1].segments.push_back(segment(0xe8000, 0)); }, "ok"},
    {"empty_segment_inside_another",
     [](Application& a) { a.tiles[0].segments.push_back(segment(0x4c080, 0)); }, "ok"},
    {"empty_segment_at_start_of_another",
     [](Application& a) { a.tiles[0].segments.push_back(segment(0x4c000, 0)); }, "ok"},
    {"touching_segments_listed_backwards",
     [](Application& a) {
       a.tiles[0].segments = {segment(0x4c100, 0x100), segment(0x4c000, 0x100)};
     },
     "ok"},
    {"same_ranges_on_different_tiles",
     [](Application& a) { a.tiles[1].segments = a.tiles[0].segments; }, "ok"},
    {"blob_range_ending_at_end_of_data",
     [](Application& a) { a.tiles[0].segments[1] = segment(0x4c100, 0x100, 1, 0x10, 0x10); }, "ok"},
    {"empty_blob_range_at_end_of_data",
     [](Application& a) { a.tiles[0].segments[1] = segment(0x4c100, 0x100, 1, 0x20, 0); }, "ok"},
    {"data_size_equal_to_memory_size",
     [](Application& a) { a.tiles[0].segments[1] = segment(0x4c100, 0x20, 1, 0, 0x20); }, "ok"},
    {"tiles_without_segments",
     [](Application& a) {
       a.tiles[0].segments.clear();
       a.tiles[1].segments.clear();
     },
     "ok"},
    {"tile_number_0",
     [](Application& a) {
       a.tiles[0].physical_tile = 0;
       a.bindings_1[0].slices[0].physical_tile = 0;
     },
     "ok"},
    {"no_device_config_writes", [](Application& a) { a.device_config_writes.clear(); }, "ok"},
    {"device_config_write_at_0_and_same_values",
     [](Application& a) {
       a.device_config_writes = {DeviceConfigWrite{.address = 0, .value = 7},
                                 DeviceConfigWrite{.address = 0xfffffffc, .value = 7}};
     },
     "ok"},
    {"binding_names_differing_only_in_case", [](Application& a) { a.bindings_3[0].name = "Alpha"; },
     "ok"},
    {"binding_name_prefix_of_another", [](Application& a) { a.bindings_3[0].name = "alph"; }, "ok"},
    {"empty_slice_at_tile_memory_end",
     [](Application& a) { a.bindings_3[0].slices = {slice(5, 0xe8000, 0)}; }, "ok"},
    {"slice_filling_all_tile_memory",
     [](Application& a) { a.bindings_3[0].slices = {slice(6, 0x4c000, 0x9c000)}; }, "ok"},
    {"slice_outside_any_segment_on_known_tile",
     [](Application& a) { a.bindings_3[0].slices = {slice(5, 0xe0000, 0x10)}; }, "ok"},
    {"slice_offset_is_not_checked",
     [](Application& a) { a.bindings_1[0].slices[0].offset = u64_max; }, "ok"},
    {"same_slice_in_two_bindings",
     [](Application& a) { a.bindings_3[0].slices = a.bindings_1[0].slices; }, "ok"},
    {"no_host_calls_and_unknown_startup_page",
     [](Application& a) {
       a.host_exchange.calls.clear();
       a.host_exchange.startup_page = 9;
       a.host_exchange.startup_offset = u64_max;
     },
     "ok"},
    {"no_host_exchange_at_all", [](Application& a) { a.host_exchange = HostExchange{}; }, "ok"},
    {"startup_word_ending_at_page_end",
     [](Application& a) { a.host_exchange.startup_offset = 0x1000 - 4; }, "ok"},
    {"required_page_listed_twice",
     [](Application& a) {
       a.host_exchange.required_pages = {1, 1, 2};
     },
     "ok"},
    {"no_required_pages", [](Application& a) { a.host_exchange.required_pages.clear(); }, "ok"},
    {"page_of_size_0_unreferenced",
     [](Application& a) { a.host_exchange.pages.push_back(HostPage{.id = 0, .size = 0}); }, "ok"},
    {"empty_range_at_page_end",
     [](Application& a) { a.host_exchange.calls[1].page_refs_2[0] = page_ref(2, 0x40, 0); }, "ok"},
    {"host_call_without_page_refs",
     [](Application& a) {
       a.host_exchange.calls[0].page_refs_1.clear();
       a.host_exchange.calls[0].page_refs_2.clear();
     },
     "ok"},
    {"host_call_with_default_invocations",
     [](Application& a) {
       HostCall call;  // invocations keeps its default, 1
       call.name = "call_c";
       a.host_exchange.calls.push_back(call);
     },
     "ok"},
    {"host_calls_with_same_name", [](Application& a) { a.host_exchange.calls[1].name = "call_a"; },
     "ok"},
    {"empty_host_call_name", [](Application& a) { a.host_exchange.calls[1].name.clear(); }, "ok"},
};

INSTANTIATE_TEST_SUITE_P(ValidateAccepts, ValidateCase, testing::ValuesIn(accepted), case_name);

// Two rules fail at once: the earlier rule is the one reported.
const Case rule_order[] = {
    {"no_tiles_before_bad_device_write",
     [](Application& a) {
       a.tiles.clear();
       a.device_config_writes[1].address = 0x100;
     },
     R"(Invalid("application has no tiles"))"},
    {"no_tiles_before_bad_binding_and_host_exchange",
     [](Application& a) {
       a.tiles.clear();
       a.bindings_1[0].name.clear();
       a.host_exchange.startup_page = 9;
     },
     R"(Invalid("application has no tiles"))"},
    {"device_writes_before_duplicate_tile",
     [](Application& a) {
       a.device_config_writes[0].address = 0x103;
       a.tiles[1].physical_tile = 5;
     },
     R"(Invalid("unaligned or duplicate device configuration write"))"},
    {"duplicate_tile_before_its_invalid_segments",
     [](Application& a) {
       a.tiles[1].physical_tile = 5;
       a.tiles[1].segments = {segment(0x10, 0x10), segment(0xfffffff0, 0x20)};
     },
     R"(Invalid("duplicate physical tile 5"))"},
    {"duplicate_tile_before_its_overlap",
     [](Application& a) {
       a.tiles[1].physical_tile = 5;
       a.tiles[1].segments = {segment(0x4c000, 0x100), segment(0x4c000, 0x100)};
     },
     R"(Invalid("duplicate physical tile 5"))"},
    {"earlier_tile_overlap_before_later_duplicate_tile",
     [](Application& a) {
       a.tiles[0].segments[1].address = 0x4c080;
       a.tiles.push_back(
           TileImage{.physical_tile = 5, .aux_1 = 0, .aux_2 = 0, .aux_3 = 0, .segments = {}});
     },
     R"(Invalid("overlapping segments on tile 5: 0x4c000..0x4c100 and 0x4c080..0x4c180"))"},
    {"earlier_tile_overlap_before_later_tile_invalid_segment",
     [](Application& a) {
       a.tiles[0].segments[1].address = 0x4c080;
       a.tiles[1].segments[0].address = 0x10;
     },
     R"(Invalid("overlapping segments on tile 5: 0x4c000..0x4c100 and 0x4c080..0x4c180"))"},
    {"invalid_segment_before_overlap_listed_earlier",
     [](Application& a) {
       a.tiles[0].segments = {segment(0x4c000, 0x100), segment(0x4c080, 0x100),
                              segment(0x10, 0x10)};
     },
     R"(Invalid("invalid segment on tile 5"))"},
    {"invalid_segment_before_later_overflow",
     [](Application& a) {
       a.tiles[0].segments = {segment(0x10, 0x10), segment(0xfffffff0, 0x20)};
     },
     R"(Invalid("invalid segment on tile 5"))"},
    {"overflow_before_later_invalid_segment",
     [](Application& a) {
       a.tiles[0].segments = {segment(0xfffffff0, 0x20), segment(0x10, 0x10)};
     },
     R"(Invalid("segment address overflow"))"},
    {"tiles_before_bindings",
     [](Application& a) {
       a.bindings_3[0].name = "alpha";
       a.tiles[1].segments[0].blob = 7;
     },
     R"(Invalid("invalid segment on tile 6"))"},
    {"binding_on_tile_listed_later_is_known",
     [](Application& a) {
       std::swap(a.tiles[0], a.tiles[1]);
       a.bindings_1[0].slices[0].physical_tile = 6;
     },
     "ok"},
    {"binding_name_before_its_slices",
     [](Application& a) {
       a.bindings_3[0].name = "beta";
       a.bindings_3[0].slices = {slice(5, 0x4c000, u64_max)};
     },
     R"(Invalid("empty or duplicate binding beta"))"},
    {"binding_lists_in_order",
     [](Application& a) {
       a.bindings_2[0].slices[0].physical_tile = 9;
       a.bindings_3[0].name = "alpha";
     },
     R"(Invalid("binding beta references invalid tile memory"))"},
    {"slices_in_list_order",
     [](Application& a) {
       a.bindings_1[0].slices = {slice(9, 0x4c000, 1), slice(5, 0x4c000, u64_max)};
     },
     R"(Invalid("binding alpha references invalid tile memory"))"},
    {"too_large_before_address_overflow",
     [](Application& a) { a.bindings_1[0].slices[0] = slice(9, 0xffffff00, 0x100000000); },
     R"(Invalid("binding alpha slice is too large"))"},
    {"address_overflow_before_invalid_tile_memory",
     [](Application& a) { a.bindings_1[0].slices[0] = slice(9, 0xffffff00, 0x100); },
     R"(Invalid("binding address overflow"))"},
    {"bindings_before_page_table",
     [](Application& a) {
       a.bindings_1[0].slices[0].length = 0x100000000;
       a.host_exchange.pages[1].id = 1;
     },
     R"(Invalid("binding alpha slice is too large"))"},
    {"page_table_before_host_call",
     [](Application& a) {
       a.host_exchange.pages.push_back(HostPage{.id = 2, .size = 0x40});
       a.host_exchange.calls[0].invocations = 0;
     },
     R"(Invalid("invalid host page table"))"},
    {"required_pages_before_startup_protocol",
     [](Application& a) {
       a.host_exchange.required_pages.push_back(9);
       a.host_exchange.startup_page = 9;
     },
     R"(Invalid("invalid host page table"))"},
    {"required_pages_checked_without_host_calls",
     [](Application& a) {
       a.host_exchange.calls.clear();
       a.host_exchange.required_pages.push_back(9);
     },
     R"(Invalid("invalid host page table"))"},
    {"startup_protocol_before_host_calls",
     [](Application& a) {
       a.host_exchange.startup_offset = 0x1000;
       a.host_exchange.calls[0].invocations = 0;
     },
     R"(Invalid("invalid host startup protocol"))"},
    {"invocations_before_page_refs",
     [](Application& a) {
       a.host_exchange.calls[0].invocations = 0;
       a.host_exchange.calls[0].page_refs_1[0].page = 9;
     },
     R"(Invalid("host call call_a has no invocations"))"},
    {"first_page_ref_list_before_second",
     [](Application& a) {
       a.host_exchange.calls[0].page_refs_2[0].page = 9;
       a.host_exchange.calls[0].page_refs_1[0].length = 0x1001;
     },
     R"(Invalid("host call call_a exceeds page bounds"))"},
    {"page_refs_in_list_order",
     [](Application& a) {
       a.host_exchange.calls[1].page_refs_2 = {page_ref(2, 0, 0x41), page_ref(9, 0, 0)};
     },
     R"(Invalid("host call call_b exceeds page bounds"))"},
    {"host_calls_in_list_order",
     [](Application& a) {
       a.host_exchange.calls[0].page_refs_2[0].page = 9;
       a.host_exchange.calls[1].invocations = 0;
     },
     R"(Invalid("host call call_a references missing page"))"},
};

INSTANTIATE_TEST_SUITE_P(ValidateRuleOrder, ValidateCase, testing::ValuesIn(rule_order), case_name);

// The overlap rule's work is per tile: many segments, listed in an order far
// from sorted, are accepted, and one overlap among them is found.
TEST(Validate, ManyShuffledSegmentsOnOneTile) {
  Application app = valid_application();
  std::vector<Segment>& segments = app.tiles[0].segments;
  segments.clear();
  constexpr std::uint32_t count = 0x9c00;  // 16-byte segments fill tile memory
  for (std::uint32_t i = 0; i < count; ++i) {
    // 7919 is odd, so i * 7919 mod count visits every slot once.
    const std::uint32_t slot = (i * 7919U) % count;
    segments.push_back(segment(tile_memory_base + slot * 0x10, 0x10));
  }
  EXPECT_EQ(outcome(app), "ok");

  segments[count / 2].memory_size = 0x11;
  const std::uint32_t start = segments[count / 2].address;
  EXPECT_EQ(
      outcome(app),
      fmt::format(R"(Invalid("overlapping segments on tile 5: 0x{:x}..0x{:x} and 0x{:x}..0x{:x}"))",
                  start, start + 0x11, start + 0x10, start + 0x20));
}

// Binding names are checked for repeats in bulk (partitioned by hash), which
// must give exactly what walking the bindings with one set of the names seen
// so far gives. Cross-checked against that walk on many random name lists,
// large enough to span several partitions.
std::string first_bad_binding_by_walking(const Application& app) {
  std::unordered_set<std::string> seen;
  for (const std::vector<Binding>* list : {&app.bindings_1, &app.bindings_2, &app.bindings_3}) {
    for (const Binding& binding : *list) {
      if (binding.name.empty() || !seen.insert(binding.name).second) {
        return PackageError::invalid("empty or duplicate binding " + binding.name).to_string();
      }
    }
  }
  return "ok";
}

TEST(Validate, BindingNameRepeatsMatchAWalkWithOneSet) {
  std::mt19937 random(20240601);
  for (const std::size_t count : {0U, 1U, 2U, 100U, 1023U, 1024U, 2048U, 5000U, 9000U}) {
    for (const std::size_t distinct : {count + 1, count * 2 + 1, count * 20 + 1}) {
      SCOPED_TRACE(fmt::format("{} bindings of {} possible names", count, distinct));
      Application app = valid_application();
      app.bindings_1.clear();
      app.bindings_2.clear();
      app.bindings_3.clear();
      std::vector<Binding>* const lists[] = {&app.bindings_1, &app.bindings_2, &app.bindings_3};
      for (std::size_t i = 0; i < count; ++i) {
        const std::size_t pick =
            std::uniform_int_distribution<std::size_t>(0, distinct - 1)(random);
        lists[std::uniform_int_distribution<std::size_t>(0, 2)(random)]->push_back(
            Binding{.name = fmt::format("name{}", pick), .label = "", .values = {}, .slices = {}});
      }
      EXPECT_EQ(outcome(app), first_bad_binding_by_walking(app));
    }
  }
}

TEST(Validate, EarliestRepeatAmongManyBindingsIsReported) {
  Application app = valid_application();
  app.bindings_1.clear();
  app.bindings_2.clear();
  app.bindings_3.clear();
  for (std::size_t i = 0; i < 6000; ++i) {
    (i < 2000   ? app.bindings_1
     : i < 4000 ? app.bindings_2
                : app.bindings_3)
        .push_back(Binding{.name = fmt::format("n{}", i),
                           .label = "",
                           .values = {},
                           .slices = {slice(5, 0x4c000, 1)}});
  }
  EXPECT_EQ(outcome(app), "ok");

  // Repeats at positions 5000 (of 10), 3000 (of 2999) and 4500 (of 3000's
  // name, a third use): the one at 3000 is the first met.
  app.bindings_3[1000].name = "n10";
  app.bindings_2[1000].name = "n2999";
  app.bindings_3[500].name = "n2999";
  EXPECT_EQ(outcome(app), R"(Invalid("empty or duplicate binding n2999"))");

  // A binding before the first repeat fails on its slice first; one after it
  // does not matter.
  app.bindings_3[0].slices[0].physical_tile = 77;
  EXPECT_EQ(outcome(app), R"(Invalid("empty or duplicate binding n2999"))");
  app.bindings_2[999].slices[0].physical_tile = 77;
  EXPECT_EQ(outcome(app), R"(Invalid("binding n2999 references invalid tile memory"))");

  // An empty name before the first repeat is reported as such.
  app.bindings_2[999].slices[0].physical_tile = 5;
  app.bindings_1[1500].name.clear();
  EXPECT_EQ(outcome(app), R"(Invalid("empty or duplicate binding "))");
}

}  // namespace
}  // namespace zem
