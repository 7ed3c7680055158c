#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "zem_package/io.hpp"
#include "zem_package/template_patching.hpp"

namespace zem {

// Little-endian 32-bit words read in place from bytes: the patch table as
// it lies in a tile image, looked at without copying the image's tail.
class LeWords {
 public:
  LeWords() = default;
  // The whole words of `bytes`; a tail of 1 to 3 bytes is not part of them.
  explicit LeWords(std::span<const std::uint8_t> bytes) noexcept
      : bytes_(bytes.first(bytes.size() / 4 * 4)) {}

  [[nodiscard]] std::size_t size() const noexcept { return bytes_.size() / 4; }
  [[nodiscard]] bool empty() const noexcept { return bytes_.empty(); }
  // Word `i`; the caller keeps `i` below size().
  [[nodiscard]] std::uint32_t operator[](std::size_t i) const noexcept {
    return io::load_u32_le(bytes_.subspan(4 * i).first<4>());
  }
  // Words `offset` to `offset + count`; the caller keeps them inside.
  [[nodiscard]] LeWords subspan(std::size_t offset, std::size_t count) const noexcept {
    return LeWords(bytes_.subspan(4 * offset, 4 * count));
  }
  [[nodiscard]] LeWords subspan(std::size_t offset) const noexcept {
    return LeWords(bytes_.subspan(4 * offset));
  }

 private:
  std::span<const std::uint8_t> bytes_;
};

// `patch` over a table read in place from a tile image's bytes: what
// gathering a template does, without copying the table.
[[nodiscard]] TemplateResult<std::size_t> patch_group(std::span<std::uint32_t> target,
                                                      LeWords table,
                                                      std::vector<AppliedPatch>* applied);

}  // namespace zem
