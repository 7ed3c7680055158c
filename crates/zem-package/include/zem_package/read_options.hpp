#pragma once

#include <cstdint>

#include "zem_package/api.hpp"

namespace zem {

// How a read meets a failure.
enum class ReadMode : std::uint8_t {
  // It stops at the first failure and reports it: what every check needs.
  strict,
  // It reads what it can of a package that may be broken, for tools that
  // show it: past a failing blob it goes on checking every other blob, past
  // a failing part of the structure it goes on with every part that does not
  // depend on the one that failed, and when every part was read it completes
  // the read too. Only a framing or header that cannot be read stops it.
  survey,
};

// The most threads `available_threads` gives: beyond this many, checking
// blobs is limited by memory bandwidth, not processors.
inline constexpr unsigned available_thread_limit = 16;

// The processors this process may run on (its affinity mask), at most
// `available_thread_limit`; 1 when the system cannot say.
[[nodiscard]] ZEM_PACKAGE_API unsigned available_threads() noexcept;

// How a package is read.
struct ReadOptions {
  // Threads that decompress, hash and check blobs, the calling thread
  // included. With 1 everything runs on the calling thread; with more, the
  // outcome is the same: the first failing blob in file order is reported
  // (and in a survey every failing blob, in file order), and every thread
  // started is joined before the read returns.
  unsigned threads = 1;
  ReadMode mode = ReadMode::strict;
};

}  // namespace zem
