#include <stdexcept>
#include <string>

#include "harnesses.hpp"
#include "zem_package/manifest.hpp"

namespace zem::fuzz {

void manifest_reader(std::span<const std::uint8_t> bytes) {
  auto manifest = parse_manifest(bytes);
  if (!manifest) {
    static_cast<void>(manifest.error().to_string());
    return;
  }
  // What was read, written back, reads as the same manifest: the reader and
  // the writer of manifests agree on everything the reader accepts.
  const std::string text = manifest_text(*manifest);
  auto again = parse_manifest({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
  if (!again) {
    throw std::logic_error("a manifest written from one read is refused: " +
                           again.error().to_string());
  }
  if (*again != *manifest) {
    throw std::logic_error("a manifest written from one read reads as another");
  }
}

}  // namespace zem::fuzz
