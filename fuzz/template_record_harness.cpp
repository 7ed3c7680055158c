#include <algorithm>

#include "harnesses.hpp"
#include "template_record/patching.hpp"
#include "template_record/record_comparison.hpp"
#include "template_record/template_setup.hpp"

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

  namespace tr = template_record;
  const auto setup = tr::locate_template_setup(image);
  if (!setup) {
    return;
  }
  static_cast<void>(tr::template_setup_line(load_base, *setup));
  const auto words = tr::patched_template_words(image, load_base, *setup);
  if (!words) {
    return;
  }
  static_cast<void>(tr::compare_record(*words, record));
}

}  // namespace zem::fuzz
