#pragma once

// Large buffers straight from the kernel, backed by huge pages where it can.
//
// A read fills a lot of new memory at once: the message buffer and every
// blob's contents, each as large as the file or larger. The kernel supplies
// new memory a page at a time, on first touch, and with 4 KiB pages that
// supply costs as much as decompressing the bytes, many times more under
// some hypervisors. Marked for transparent huge pages, one fault supplies
// 2 MiB instead. Where the kernel does not offer huge pages the advice is
// ignored and the region works as any other memory.

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

namespace zem {

// Buffers below this size gain nothing from huge pages; they come from the
// ordinary allocator, which also keeps them visible to memory checkers.
inline constexpr std::size_t huge_page_size = std::size_t{2} << 20U;

class MappedRegion {
 public:
  // At least `size` bytes of zeroed, untouched memory, or nothing when the
  // kernel refuses the mapping. The region starts and ends on huge page
  // boundaries: a huge page can only back a whole aligned 2 MiB, so an
  // unaligned start or end would leave one to 4 KiB pages, hundreds of
  // faults. Pages never touched cost nothing.
  [[nodiscard]] static std::optional<MappedRegion> map(std::size_t requested) {
    if (requested == 0) return MappedRegion(nullptr, 0);
    if (requested > SIZE_MAX - 2 * huge_page_size) return std::nullopt;
    const std::size_t size = (requested + huge_page_size - 1) & ~(huge_page_size - 1);
    const std::size_t reserved = size + huge_page_size;
    void* memory =
        ::mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return std::nullopt;
    // Give back what lies before the first boundary and after the region.
    const auto start = reinterpret_cast<std::uintptr_t>(memory);
    const std::uintptr_t aligned = (start + huge_page_size - 1) & ~(huge_page_size - 1);
    if (aligned > start) static_cast<void>(::munmap(memory, aligned - start));
    const std::uintptr_t end = aligned + size;
    if (start + reserved > end)
      static_cast<void>(::munmap(reinterpret_cast<void*>(end), start + reserved - end));
    auto* data = reinterpret_cast<std::uint8_t*>(aligned);
    // Advice only: an error (no huge page support) changes nothing.
    static_cast<void>(::madvise(data, size, MADV_HUGEPAGE));
    return MappedRegion(data, size);
  }

  MappedRegion(const MappedRegion&) = delete;
  MappedRegion& operator=(const MappedRegion&) = delete;
  MappedRegion(MappedRegion&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
  MappedRegion& operator=(MappedRegion&& other) noexcept {
    if (this != &other) {
      unmap();
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
    }
    return *this;
  }
  ~MappedRegion() { unmap(); }

  [[nodiscard]] std::uint8_t* data() const noexcept { return data_; }
  // What was mapped: the size asked for, rounded up to whole huge pages.
  [[nodiscard]] std::size_t size() const noexcept { return size_; }

 private:
  MappedRegion(std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  void unmap() noexcept {
    if (data_ != nullptr) ::munmap(data_, size_);
  }

  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace zem
