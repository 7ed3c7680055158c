#include "toolkit/memory_reuse.hpp"

#include <malloc.h>

namespace zem::toolkit {

void reuse_freed_memory() noexcept {
  // A run first reads the package, its threads building and freeing blob
  // contents and tile images of hundreds of KiB each, then allocates what it
  // finds (a verdict per tile and device, and so on). By default the
  // allocator gives most freed memory back to the kernel and each thread
  // keeps its own pool, so those later allocations take new pages, and on a
  // virtual machine every new page costs a fault of several microseconds: a
  // fleet of 16 devices of 1,024 tiles spent more time there than in reading
  // a device's records. One pool that keeps what is freed lets them reuse the
  // pages already there. A run's peak is unchanged: what is kept was in use.
  //
  // Blocks below this size come from the pool; the message buffer and other
  // large buffers are mapped apart and go back to the kernel when freed.
  constexpr int pooled_below = 32 << 20;
  // Free memory at the pool's end is given back only past this much.
  constexpr int kept_free = 256 << 20;
  // Advice only: each call that fails leaves that default in place.
  static_cast<void>(::mallopt(M_ARENA_MAX, 1));
  static_cast<void>(::mallopt(M_MMAP_THRESHOLD, pooled_below));
  static_cast<void>(::mallopt(M_TRIM_THRESHOLD, kept_free));
}

}  // namespace zem::toolkit
