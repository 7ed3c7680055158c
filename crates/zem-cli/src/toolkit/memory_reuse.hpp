#pragma once

namespace zem::toolkit {

// Has the allocator keep the memory a run frees for the run's later
// allocations, instead of handing it back to the kernel and asking for fresh
// pages again. Call it first in `main`, before any thread starts.
void reuse_freed_memory() noexcept;

}  // namespace zem::toolkit
