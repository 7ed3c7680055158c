#pragma once

namespace zem {

// How a package is read.
struct ReadOptions {
  // Threads that decompress, hash and check blobs, the calling thread
  // included. With 1 everything runs on the calling thread; with more, the
  // outcome is the same: the first failing blob in file order is reported,
  // and every thread started is joined before the read returns.
  unsigned threads = 1;
};

}  // namespace zem
