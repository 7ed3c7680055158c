#include <algorithm>

#include "harnesses.hpp"
#include "zem_package/device_record.hpp"
#include "zem_package/expected_record.hpp"
#include "zem_package/record_diff.hpp"

namespace zem::fuzz {

void template_record(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 6) {
    return;
  }
  const std::uint32_t load_base =
      static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
      static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
  const std::size_t record_length =
      std::min<std::size_t>(bytes.size() - 6, static_cast<std::size_t>(bytes[4] | bytes[5] << 8));
  const auto record = bytes.subspan(6, record_length);
  const auto image = bytes.subspan(6 + record_length);

  // The verifier's stages, as the library offers them: the setup, the
  // patched words, the comparison with the record.
  const TileMemory memory{7, load_base, {image.begin(), image.end()}};
  const auto expected = expected_record(memory);
  if (!expected || !*expected) {
    return;
  }
  static_cast<void>(diff_record(**expected, device_record(record, record.size()), DiffOptions{}));
}

}  // namespace zem::fuzz
