#include "engine/worker_pool.h"

#include <system_error>

namespace korvelan::engine {

namespace {

// A hint that this thread only waits (lets the sibling hyperthread run and
// saves power); no effect on other processors.
inline void Relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Polls `ready` until it holds or WorkerPool::kSpinTime has passed. The
// clock is read only every 64 polls (a poll is a few nanoseconds), and
// there the processor is offered to any other thread that waits for it: on
// a machine with more runnable threads than processors, a spinning thread
// would otherwise hold back the very task it waits for.
template <class Ready>
bool SpinUntil(const Ready& ready) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + WorkerPool::kSpinTime;
  for (;;) {
    for (int i = 0; i < 64; ++i) {
      if (ready()) return true;
      Relax();
    }
    if (Clock::now() >= end) return ready();
    std::this_thread::yield();
  }
}

}  // namespace

WorkerPool::WorkerPool(unsigned threads) {
  const unsigned extra = threads > 1 ? threads - 1 : 0;
  workers_.reserve(extra);
  for (unsigned w = 1; w <= extra; ++w) {
    try {
      workers_.emplace_back([this, w] { WorkerLoop(w); });
    } catch (const std::system_error&) {
      break;  // fewer threads: slower, never different
    }
  }
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_.store(true);
  }
  wake_.notify_all();
  workers_.clear();  // joins
}

bool WorkerPool::SpinForBatch(std::uint64_t seen) const {
  return SpinUntil([&] {
    return posted_.load(std::memory_order_acquire) != seen ||
           stopping_.load(std::memory_order_acquire);
  });
}

bool WorkerPool::SpinForFinish(std::size_t count) const {
  return SpinUntil([&] { return done_.load(std::memory_order_acquire) == count; });
}

void WorkerPool::RunOne(std::unique_lock<std::mutex>& lock, unsigned worker) {
  const std::size_t i = next_++;
  const Task* task = task_;
  lock.unlock();
  std::exception_ptr error;
  try {
    (*task)(i, worker);
  } catch (...) {
    error = std::current_exception();
  }
  lock.lock();
  if (error && !error_) error_ = error;
  if (done_.fetch_add(1) + 1 == count_ && caller_asleep_) finished_.notify_one();
}

void WorkerPool::WorkerLoop(unsigned worker) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (stopping_.load()) return;
    if (next_ < count_) {
      RunOne(lock, worker);
      continue;
    }
    // A worker that finds no index left watches for the next batch, then
    // sleeps: the caller never waits for a worker that is not running a
    // task, so a busy machine costs speed, never a stall.
    const std::uint64_t seen = posted_.load();
    lock.unlock();
    const bool posted = SpinForBatch(seen);
    lock.lock();
    if (posted) continue;
    ++sleepers_;
    wake_.wait(lock, [&] { return stopping_.load() || next_ < count_; });
    --sleepers_;
  }
}

void WorkerPool::ForEach(std::size_t count, const Task& task) {
  if (count == 0) return;
  std::unique_lock<std::mutex> lock(mutex_);
  task_ = &task;
  count_ = count;
  next_ = 0;
  done_.store(0);
  error_ = nullptr;
  posted_.fetch_add(1);
  if (count > 1 && sleepers_ > 0) {
    lock.unlock();
    wake_.notify_all();
    lock.lock();
  }
  while (next_ < count_) RunOne(lock, 0);
  // The tasks others took must finish before `task` may go out of scope.
  if (done_.load() != count) {
    lock.unlock();
    const bool finished = SpinForFinish(count);
    lock.lock();
    if (!finished) {
      caller_asleep_ = true;
      finished_.wait(lock, [&] { return done_.load() == count; });
      caller_asleep_ = false;
    }
  }
  task_ = nullptr;
  count_ = 0;
  next_ = 0;
  std::exception_ptr error = error_;
  error_ = nullptr;
  lock.unlock();
  if (error) std::rethrow_exception(error);
}

}  // namespace korvelan::engine
