#pragma once

#include <cstddef>
#include <functional>

namespace zem {

// Runs `work(i)` for every i below `count` on up to `threads` threads, the
// calling one included, each index once. Every thread started is joined
// before it returns; a thread that cannot be started leaves its share to the
// others. `work` must not throw.
void for_each_index(std::size_t count, unsigned threads,
                    const std::function<void(std::size_t)>& work);

}  // namespace zem
