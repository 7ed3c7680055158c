#pragma once

// Large buffers straight from the kernel, in ordinary pages.
//
// A read fills a lot of new memory at once: the message buffer and every
// blob's contents, each as large as the file or larger. Mapped apart from
// the heap, such a buffer goes back to the kernel whole when it is freed.
//
// The buffers are marked not to be backed by transparent huge pages. A huge
// page saves faults when the kernel has one at hand, but when it has none it
// compacts memory first, and under a hypervisor that takes back the guest's
// free memory (free page reporting hands back free blocks of 2 MiB and more)
// every huge page after a pause must first be supplied again by the host.
// Measured on a 2-core virtual machine, filling a 228 MiB buffer from the
// page cache took 0.07 s in huge pages straight after another run but 0.55 to
// 0.83 s after a pause of three seconds; in 4 KiB pages it took 0.10 and 0.14
// to 0.18 s. Ordinary pages make a run cost the same whenever it comes.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

namespace zem {

// Buffers below this size come from the ordinary allocator, which also keeps
// them visible to memory checkers; larger ones are mapped.
inline constexpr std::size_t mapped_buffer_threshold = std::size_t{2} << 20U;

class MappedRegion {
 public:
  // At least `size` bytes of zeroed, untouched memory, or nothing when the
  // kernel refuses the mapping. Pages never touched cost nothing.
  [[nodiscard]] static std::optional<MappedRegion> map(std::size_t requested) {
    if (requested == 0) return MappedRegion(nullptr, 0);
    const long page_size = ::sysconf(_SC_PAGESIZE);
    const std::size_t page = page_size > 0 ? static_cast<std::size_t>(page_size) : 4096;
    if (requested > SIZE_MAX - page) return std::nullopt;
    const std::size_t size = (requested + page - 1) / page * page;
    void* memory =
        ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return std::nullopt;
    // Advice only: a kernel without transparent huge pages refuses it, and
    // then there are none to avoid.
    static_cast<void>(::madvise(memory, size, MADV_NOHUGEPAGE));
    return MappedRegion(static_cast<std::uint8_t*>(memory), size);
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
  // What was mapped: the size asked for, rounded up to whole pages.
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
