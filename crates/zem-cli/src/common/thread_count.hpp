#pragma once

#include "common/failure.hpp"

namespace zem::cli {

// The most threads that ZEM_THREADS may ask for: each keeps a buffer as large
// as the largest blob, so the count bounds the tool's memory.
inline constexpr unsigned thread_limit = 256;

// The threads a tool checks a package's blobs with. `setting` is the value
// of the environment variable ZEM_THREADS, or null when it is not set: a
// whole number from 1 to 256 written as a tile number is ("4", "+4" and "04"
// alike; "1" runs everything on the calling thread). Unset or empty, it is
// the number of processors this process may run on (its affinity mask), at
// most 16.
[[nodiscard]] Outcome<unsigned> thread_count(const char* setting);

}  // namespace zem::cli
