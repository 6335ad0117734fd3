// A loop over independent items spread over threads, failing as the plain
// loop would: the studies' files read and ranked, the P-value columns'
// q-values, the pages written from one result, each into its own slot, so
// that no thread count changes a byte. The threads live for one loop: for
// items of a millisecond or more, not for the runs (see worker_pool.h).
// Header only: the packages compile the sources from a fixed list.
#ifndef KORVELAN_ENGINE_IN_ORDER_H_
#define KORVELAN_ENGINE_IN_ORDER_H_

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

namespace korvelan::engine {

// Calls work(i) for every i in [0, count) on up to `threads` threads (the
// caller's among them); work(i) must touch only what belongs to item i.
// When calls throw, the exception of the lowest i is rethrown once every
// call has ended: the one the loop from 0 would have met first. (The loop
// would have stopped there; later items' work is then only wasted.) One
// thread, or threads the system will not start, is the plain loop.
template <typename Work>
void EachInOrder(std::size_t count, unsigned threads, Work&& work) {
  const std::size_t helpers = std::min<std::size_t>(threads, count);
  if (helpers <= 1) {
    for (std::size_t i = 0; i < count; ++i) work(i);
    return;
  }
  std::vector<std::exception_ptr> failed(count);
  std::atomic<std::size_t> next{0};
  auto take = [&] {
    for (std::size_t i = next++; i < count; i = next++) {
      try {
        work(i);
      } catch (...) {
        failed[i] = std::current_exception();
      }
    }
  };
  {
    std::vector<std::jthread> pool;
    try {
      for (std::size_t t = 1; t < helpers; ++t) pool.emplace_back(take);
    } catch (const std::system_error&) {
      // Fewer threads than asked: the caller's takes what is left.
    }
    take();
  }  // joined here
  for (const std::exception_ptr& error : failed) {
    if (error) std::rethrow_exception(error);
  }
}

}  // namespace korvelan::engine

#endif  // KORVELAN_ENGINE_IN_ORDER_H_
