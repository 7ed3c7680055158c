#pragma once

// The converters from the message's lists and structs into the model.

#include <string_view>
#include <vector>

#include "message/pointer_bounds.hpp"
#include "message/capnp_boundary.hpp"
#include "reading/read_place.hpp"
#include "zem_package/application.capnp.h"
#include "zem_package/application.hpp"

namespace zem {

// Converters from the message's lists and structs into the model. Each sets
// the read's place before it follows a pointer, so that a failure, thrown or
// returned, is placed where it happened.
class StructureReader {
  using Stage = ReadStage;
  using F = PackageField;

 public:
  // `bounds` checks each pointer before it is followed; none for a message
  // that was not framed by this library.
  explicit StructureReader(ReadPlace& place, const PointerBounds* bounds = nullptr)
      : place_(place), bounds_(bounds) {}

  // Each converter appends to `result` as it goes, so that a failure leaves
  // the elements before the failing one there.
  Result<void> tiles(capnp::List<schema::TileImage>::Reader list, std::vector<TileImage>& result) {
    result.reserve(list.size());
    for (unsigned i = 0; i < list.size(); ++i) {
      const schema::TileImage::Reader tile = list[i];
      place_.set(Stage::structure, {{F::tiles, i}, {F::segments}});
      place_.identify("physicalTile", tile.getPhysicalTile());
      follow(tile, 0, PointerUse::struct_list);
      result.push_back(TileImage{tile.getPhysicalTile(), tile.getAux1(), tile.getAux2(),
                                 tile.getAux3(), segments(tile.getSegments())});
    }
    return {};
  }

  // One of the three binding lists; `field` is the field that holds it.
  Result<void> bindings(capnp::List<schema::Binding>::Reader list, PackageField field,
                        std::vector<Binding>& result) {
    result.reserve(list.size());
    for (unsigned i = 0; i < list.size(); ++i) {
      const schema::Binding::Reader binding = list[i];
      place_.set(Stage::structure, {{field, i}, {F::name}});
      auto binding_name = read_text(binding.getName());
      if (!binding_name) return std::unexpected(std::move(binding_name).error());
      place_.set(Stage::structure, {{field, i}, {F::label}});
      place_.identify("name", *binding_name);
      auto label = read_text(binding.getLabel());
      if (!label) return std::unexpected(std::move(label).error());
      place_.set(Stage::structure, {{field, i}, {F::values}});
      place_.identify("name", *binding_name);
      follow(binding, 2, PointerUse::word_list);
      auto values = u32_list(binding.getValues());
      place_.set(Stage::structure, {{field, i}, {F::slices}});
      place_.identify("name", *binding_name);
      follow(binding, 3, PointerUse::struct_list);
      result.push_back(Binding{std::move(*binding_name), std::move(*label), std::move(values),
                               slices(binding.getSlices())});
    }
    return {};
  }

  Result<void> host_exchange(schema::HostExchange::Reader host, HostExchange& result) {
    result.aux = host.getAux();
    result.startup_page = host.getStartupPage();
    result.startup_offset = host.getStartupOffset();
    place_.set(Stage::structure, {{F::host_exchange}, {F::pages}});
    follow(host, 0, PointerUse::struct_list);
    for (const schema::HostPage::Reader page : host.getPages()) {
      result.pages.push_back(HostPage{page.getId(), page.getSize()});
    }
    place_.set(Stage::structure, {{F::host_exchange}, {F::required_pages}});
    follow(host, 1, PointerUse::word_list);
    result.required_pages = u32_list(host.getRequiredPages());
    place_.set(Stage::structure, {{F::host_exchange}, {F::calls}});
    follow(host, 2, PointerUse::struct_list);
    const auto calls = host.getCalls();
    result.calls.reserve(calls.size());
    for (unsigned i = 0; i < calls.size(); ++i) {
      const schema::HostCall::Reader call = calls[i];
      place_.set(Stage::structure, {{F::host_exchange}, {F::calls, i}, {F::name}});
      auto name = read_text(call.getName());
      if (!name) return std::unexpected(std::move(name).error());
      HostCall converted{
          std::move(*name), call.getAux1(), call.getAux2(), call.getInvocations(), {}, {}};
      place_.set(Stage::structure, {{F::host_exchange}, {F::calls, i}, {F::page_refs1}});
      place_.identify("name", converted.name);
      follow(call, 1, PointerUse::struct_list);
      converted.page_refs_1 = page_refs(call.getPageRefs1());
      place_.set(Stage::structure, {{F::host_exchange}, {F::calls, i}, {F::page_refs2}});
      place_.identify("name", converted.name);
      follow(call, 2, PointerUse::struct_list);
      converted.page_refs_2 = page_refs(call.getPageRefs2());
      result.calls.push_back(std::move(converted));
    }
    return {};
  }

  Result<void> entry_points(capnp::List<schema::EntryPoint>::Reader list,
                            std::vector<EntryPoint>& result) {
    result.reserve(list.size());
    for (unsigned i = 0; i < list.size(); ++i) {
      const schema::EntryPoint::Reader entry = list[i];
      place_.set(Stage::structure, {{F::entry_points, i}, {F::name}});
      auto name = read_text(entry.getName());
      if (!name) return std::unexpected(std::move(name).error());
      result.push_back(EntryPoint{std::move(*name), entry.getAux(), entry.getExternalSyncs()});
    }
    return {};
  }

  static void device_config_writes(capnp::List<schema::DeviceConfigWrite>::Reader list,
                                   std::vector<DeviceConfigWrite>& writes) {
    writes.reserve(list.size());
    for (const schema::DeviceConfigWrite::Reader write : list) {
      writes.push_back(DeviceConfigWrite{write.getAddress(), write.getValue()});
    }
  }

 private:
  static std::vector<std::uint32_t> u32_list(capnp::List<std::uint32_t>::Reader list) {
    std::vector<std::uint32_t> values;
    values.reserve(list.size());
    for (const std::uint32_t value : list) values.push_back(value);
    return values;
  }

  static std::vector<Segment> segments(capnp::List<schema::Segment>::Reader list) {
    std::vector<Segment> result;
    result.reserve(list.size());
    for (const schema::Segment::Reader segment : list) {
      result.push_back(Segment{segment.getAddress(), segment.getMemorySize(), segment.getBlob(),
                               segment.getBlobOffset(), segment.getDataSize(), segment.getAux()});
    }
    return result;
  }

  static std::vector<RegionSlice> slices(capnp::List<schema::RegionSlice>::Reader list) {
    std::vector<RegionSlice> result;
    result.reserve(list.size());
    for (const schema::RegionSlice::Reader slice : list) {
      result.push_back(RegionSlice{slice.getPhysicalTile(), slice.getAddress(), slice.getOffset(),
                                   slice.getLength()});
    }
    return result;
  }

  static std::vector<HostPageRef> page_refs(capnp::List<schema::HostPageRef>::Reader list) {
    std::vector<HostPageRef> refs;
    refs.reserve(list.size());
    for (const schema::HostPageRef::Reader ref : list) {
      refs.push_back(HostPageRef{ref.getPage(), ref.getOffset(), ref.getAux(), ref.getLength()});
    }
    return refs;
  }

  // Pointer field `index` of `reader` is about to be followed.
  template <class Reader>
  void follow(Reader reader, unsigned index, PointerUse use) const {
    if (bounds_ != nullptr) bounds_->check(reader, index, use);
  }

  ReadPlace& place_;
  const PointerBounds* bounds_;
};

}  // namespace zem
