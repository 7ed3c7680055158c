#include "zem_package/reader.hpp"

#include <capnp/serialize.h>
#include <unistd.h>

#include "blobs.hpp"
#include "capnp_boundary.hpp"
#include "framing.hpp"
#include "zem_package/events.hpp"

namespace zem {
namespace {

// Closes the package file when the read ends, whichever way it ends.
class FileCloser {
 public:
  explicit FileCloser(int fd) : fd_(fd) {}
  FileCloser(const FileCloser&) = delete;
  FileCloser& operator=(const FileCloser&) = delete;
  ~FileCloser() {
    if (fd_ >= 0) ::close(fd_);
  }

 private:
  int fd_;
};

PackageError incompatible_header() { return PackageError::invalid("incompatible package header"); }

// The header must hold the fixed values. A field beyond the end of the data
// section reads as 0 and so fails its comparison; the section length only
// decides that a bad `target` text reports its own error first.
Result<void> check_header(schema::Application::Reader root) {
  if (root.getFormatVersion() != format_version) {
    return std::unexpected(incompatible_header());
  }
  auto target = read_text(root.getTarget());
  if (!target) return std::unexpected(std::move(target).error());
  if (*target != target_name) {
    return std::unexpected(incompatible_header());
  }
  if (root.getTileMemoryBase() != tile_memory_base ||
      root.getTileMemorySize() != tile_memory_size) {
    return std::unexpected(incompatible_header());
  }
  return {};
}

Result<std::vector<EntryPoint>> read_entry_points(capnp::List<schema::EntryPoint>::Reader list) {
  std::vector<EntryPoint> entry_points;
  entry_points.reserve(list.size());
  for (const schema::EntryPoint::Reader entry : list) {
    auto name = read_text(entry.getName());
    if (!name) return std::unexpected(std::move(name).error());
    entry_points.push_back(EntryPoint{std::move(*name), entry.getAux(), entry.getExternalSyncs()});
  }
  return entry_points;
}

std::vector<DeviceConfigWrite> read_device_config_writes(
    capnp::List<schema::DeviceConfigWrite>::Reader list) {
  std::vector<DeviceConfigWrite> writes;
  writes.reserve(list.size());
  for (const schema::DeviceConfigWrite::Reader write : list) {
    writes.push_back(DeviceConfigWrite{write.getAddress(), write.getValue()});
  }
  return writes;
}

std::vector<std::uint32_t> read_u32_list(capnp::List<std::uint32_t>::Reader list) {
  std::vector<std::uint32_t> values;
  values.reserve(list.size());
  for (const std::uint32_t value : list) {
    values.push_back(value);
  }
  return values;
}

std::vector<Segment> read_segments(capnp::List<schema::Segment>::Reader list) {
  std::vector<Segment> segments;
  segments.reserve(list.size());
  for (const schema::Segment::Reader segment : list) {
    segments.push_back(Segment{segment.getAddress(), segment.getMemorySize(), segment.getBlob(),
                               segment.getBlobOffset(), segment.getDataSize(), segment.getAux()});
  }
  return segments;
}

std::vector<RegionSlice> read_slices(capnp::List<schema::RegionSlice>::Reader list) {
  std::vector<RegionSlice> slices;
  slices.reserve(list.size());
  for (const schema::RegionSlice::Reader slice : list) {
    slices.push_back(RegionSlice{slice.getPhysicalTile(), slice.getAddress(), slice.getOffset(),
                                 slice.getLength()});
  }
  return slices;
}

std::vector<HostPageRef> read_page_refs(capnp::List<schema::HostPageRef>::Reader list) {
  std::vector<HostPageRef> refs;
  refs.reserve(list.size());
  for (const schema::HostPageRef::Reader ref : list) {
    refs.push_back(HostPageRef{ref.getPage(), ref.getOffset(), ref.getAux(), ref.getLength()});
  }
  return refs;
}

// No package is refused for its size, but what the reader traverses is
// counted against a budget proportional to the file. The reader visits each
// object of a package about once, so every real package stays far below it.
// A list of zero-sized elements, though, costs a file almost nothing and may
// declare 2^29 elements, each of which would become a model record: Cap'n
// Proto counts such a list as one word per element, so an amplified package
// exhausts the budget and is refused instead of filling memory.
std::uint64_t traversal_budget(std::size_t message_words) {
  constexpr std::uint64_t words_per_file_word = 8;
  constexpr std::uint64_t constant = 1 << 12;
  return words_per_file_word * message_words + constant;
}

// Steps of the read after the framing, all inside one Cap'n Proto boundary.
Result<PackageContents> read_message(const FramedMessage& framed) {
  capnp::ReaderOptions options;
  options.traversalLimitInWords = traversal_budget(framed.words().size());
  options.nestingLimit = 64;
  capnp::FlatArrayMessageReader message(framed.words(), options);
  const schema::Application::Reader root = message.getRoot<schema::Application>();

  ZEM_TRY(check_header(root));
  auto compiler = read_text(root.getCompiler());
  if (!compiler) return std::unexpected(std::move(compiler).error());

  Application application;
  application.compiler = std::move(*compiler);
  ZEM_TRY(read_blobs(root.getBlobs(), application));

  auto tiles = read_tiles(root.getTiles());
  if (!tiles) return std::unexpected(std::move(tiles).error());
  application.tiles = std::move(*tiles);

  // Getting a list follows its pointer, so each list is got only when its
  // turn comes: an error in an earlier list must win over a malformed
  // pointer to a later one.
  const auto take_bindings = [](capnp::List<schema::Binding>::Reader list,
                                std::vector<Binding>& into) -> Result<void> {
    auto bindings = read_bindings(list);
    if (!bindings) return std::unexpected(std::move(bindings).error());
    into = std::move(*bindings);
    return {};
  };
  ZEM_TRY(take_bindings(root.getBindings1(), application.bindings_1));
  ZEM_TRY(take_bindings(root.getBindings2(), application.bindings_2));
  ZEM_TRY(take_bindings(root.getBindings3(), application.bindings_3));

  auto host_exchange = read_host_exchange(root.getHostExchange());
  if (!host_exchange) return std::unexpected(std::move(host_exchange).error());
  application.host_exchange = std::move(*host_exchange);

  auto entry_points = read_entry_points(root.getEntryPoints());
  if (!entry_points) return std::unexpected(std::move(entry_points).error());
  application.entry_points = std::move(*entry_points);
  application.device_config_writes = read_device_config_writes(root.getDeviceConfigWrites());

  // The stored digest is only looked at after validation, so a pointer
  // failure here is kept to be reported in its turn.
  auto stored_build_digest = capnp_boundary([&]() -> Result<std::vector<std::uint8_t>> {
    const capnp::Data::Reader digest = root.getBuildDigest();
    return std::vector<std::uint8_t>(digest.begin(), digest.end());
  });
  return PackageContents{std::move(application), std::move(stored_build_digest)};
}

}  // namespace

Result<std::vector<TileImage>> read_tiles(capnp::List<schema::TileImage>::Reader tiles) {
  return capnp_boundary([&]() -> Result<std::vector<TileImage>> {
    std::vector<TileImage> result;
    result.reserve(tiles.size());
    for (const schema::TileImage::Reader tile : tiles) {
      result.push_back(TileImage{tile.getPhysicalTile(), tile.getAux1(), tile.getAux2(),
                                 tile.getAux3(), read_segments(tile.getSegments())});
    }
    return result;
  });
}

Result<std::vector<Binding>> read_bindings(capnp::List<schema::Binding>::Reader bindings) {
  return capnp_boundary([&]() -> Result<std::vector<Binding>> {
    std::vector<Binding> result;
    result.reserve(bindings.size());
    for (const schema::Binding::Reader binding : bindings) {
      auto name = read_text(binding.getName());
      if (!name) return std::unexpected(std::move(name).error());
      auto label = read_text(binding.getLabel());
      if (!label) return std::unexpected(std::move(label).error());
      auto values = read_u32_list(binding.getValues());
      result.push_back(Binding{std::move(*name), std::move(*label), std::move(values),
                               read_slices(binding.getSlices())});
    }
    return result;
  });
}

Result<HostExchange> read_host_exchange(schema::HostExchange::Reader host_exchange) {
  return capnp_boundary([&]() -> Result<HostExchange> {
    HostExchange result;
    result.aux = host_exchange.getAux();
    result.startup_page = host_exchange.getStartupPage();
    result.startup_offset = host_exchange.getStartupOffset();
    for (const schema::HostPage::Reader page : host_exchange.getPages()) {
      result.pages.push_back(HostPage{page.getId(), page.getSize()});
    }
    result.required_pages = read_u32_list(host_exchange.getRequiredPages());
    const auto calls = host_exchange.getCalls();
    result.calls.reserve(calls.size());
    for (const schema::HostCall::Reader call : calls) {
      auto name = read_text(call.getName());
      if (!name) return std::unexpected(std::move(name).error());
      HostCall converted{
          std::move(*name), call.getAux1(), call.getAux2(), call.getInvocations(), {}, {}};
      converted.page_refs_1 = read_page_refs(call.getPageRefs1());
      converted.page_refs_2 = read_page_refs(call.getPageRefs2());
      result.calls.push_back(std::move(converted));
    }
    return result;
  });
}

Result<PackageContents> read_package_contents(int fd) {
  const FileCloser closer(fd);
  if (events::enabled(events::Level::info)) {
    events::emit(events::Level::info, "reading application package");
  }
  return capnp_boundary([&]() -> Result<PackageContents> {
    auto framed = read_framed_message(fd);
    if (!framed) return std::unexpected(std::move(framed).error());
    return read_message(*framed);
  });
}

Result<Application> Application::read(int fd) {
  auto contents = read_package_contents(fd);
  if (!contents) return std::unexpected(std::move(contents).error());
  ZEM_TRY(complete_read(*contents));
  return std::move(contents->application);
}

}  // namespace zem
