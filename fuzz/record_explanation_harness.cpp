#include <algorithm>
#include <cstddef>

#include "harnesses.hpp"
#include "format/record_json.hpp"
#include "zem_package/address_owners.hpp"
#include "zem_package/device_record.hpp"
#include "zem_package/expected_record.hpp"
#include "zem_package/record_diff.hpp"
#include "zem_package/record_hints.hpp"

namespace zem::fuzz {
namespace {

// Reads little-endian numbers off the front of the input, and zeros once it
// has run out, so that every input means something.
class Numbers {
 public:
  explicit Numbers(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  template <class T>
  T next() {
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T) && !bytes_.empty(); ++i) {
      value = static_cast<T>(value | static_cast<T>(bytes_.front()) << (8 * i));
      bytes_ = bytes_.subspan(1);
    }
    return value;
  }
  std::span<const std::uint8_t> take(std::size_t size) {
    const std::span<const std::uint8_t> taken = bytes_.first(std::min(size, bytes_.size()));
    bytes_ = bytes_.subspan(taken.size());
    return taken;
  }
  [[nodiscard]] std::span<const std::uint8_t> rest() const { return bytes_; }

 private:
  std::span<const std::uint8_t> bytes_;
};

constexpr std::uint32_t tile = 7;

}  // namespace

void record_explanation(std::span<const std::uint8_t> bytes) {
  Numbers in(bytes);
  const auto load_base = in.next<std::uint32_t>();
  const std::span<const std::uint8_t> record = in.take(in.next<std::uint16_t>());
  // Segments and binding slices of any shape, overlapping or outside the
  // image or the blob, as a package that failed validation may hold them.
  PackageModel model;
  model.tiles.push_back(TileImage{tile, 0, 0, 0, {}});
  const std::size_t segments = in.next<std::uint8_t>() % 8;
  for (std::size_t i = 0; i < segments; ++i) {
    model.tiles[0].segments.push_back(Segment{in.next<std::uint32_t>(), in.next<std::uint16_t>(),
                                              in.next<std::uint8_t>(), in.next<std::uint16_t>(),
                                              in.next<std::uint16_t>(), 0});
  }
  const std::size_t slices = in.next<std::uint8_t>() % 8;
  for (std::size_t i = 0; i < slices; ++i) {
    std::vector<Binding>& list = i % 3 == 0   ? model.bindings_1
                                 : i % 3 == 1 ? model.bindings_2
                                              : model.bindings_3;
    list.push_back(
        Binding{"b<\"&",
                "",
                {},
                {RegionSlice{in.next<std::uint8_t>() % 2 == 0 ? tile : 8, in.next<std::uint32_t>(),
                             in.next<std::uint16_t>(), in.next<std::uint64_t>()}}});
  }
  const std::span<const std::uint8_t> image = in.rest();
  // A blob stored plain, whose bytes have a place in the file, and one
  // compressed; segments may name neither.
  for (const std::uint16_t compression : {compression_none, compression_zstd}) {
    model.blobs.push_back(
        BlobInfo{{}, image.size(), {compression, image.size(), image.size(), 100}});
  }

  const TileMemory memory{tile, load_base, {image.begin(), image.end()}};
  const auto found = expected_record(memory);
  if (!found || !*found) return;
  const ExpectedRecord& expected = **found;
  const AddressOwners owners(model);
  RecordIndex others;
  others.add(tile, expected.words.words);
  std::vector<std::uint32_t> record_words(record.size() / 4);
  for (std::size_t i = 0; i < record_words.size(); ++i) {
    for (std::size_t b = 0; b < 4; ++b) {
      record_words[i] |= static_cast<std::uint32_t>(record[4 * i + b]) << (8 * b);
    }
  }
  others.add(tile + 1, record_words);
  // A record that holds more than was read, as a cut one does, when its
  // first byte says so.
  DeviceRecord input = device_record(record, record.size());
  input.more_than_size = !record.empty() && record[0] == 0xff;
  for (const std::size_t max : {std::size_t{0}, std::size_t{3}, std::size_t{1000}}) {
    const RecordDiff diff = diff_record(expected, input, {max, &owners, &others});
    static_cast<void>(tile_diff_json(expected, diff, model, max).dump());
  }
}

}  // namespace zem::fuzz
