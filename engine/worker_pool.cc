#include "engine/worker_pool.h"

#include <system_error>

namespace korvelan::engine {

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
    stopping_ = true;
  }
  wake_.notify_all();
  workers_.clear();  // joins
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
  if (++done_ == count_) finished_.notify_one();
}

void WorkerPool::WorkerLoop(unsigned worker) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    // A worker that wakes after its batch is over finds no index left and
    // sleeps again: the caller never waits for a worker that is not
    // running a task, so a busy machine costs speed, never a stall.
    wake_.wait(lock, [&] { return stopping_ || next_ < count_; });
    if (stopping_) return;
    RunOne(lock, worker);
  }
}

void WorkerPool::ForEach(std::size_t count, const Task& task) {
  if (count == 0) return;
  std::unique_lock<std::mutex> lock(mutex_);
  task_ = &task;
  count_ = count;
  next_ = 0;
  done_ = 0;
  error_ = nullptr;
  if (count > 1 && !workers_.empty()) {
    lock.unlock();
    wake_.notify_all();
    lock.lock();
  }
  while (next_ < count_) RunOne(lock, 0);
  // The tasks others took must finish before `task` may go out of scope.
  finished_.wait(lock, [&] { return done_ == count_; });
  task_ = nullptr;
  count_ = 0;
  next_ = 0;
  std::exception_ptr error = error_;
  error_ = nullptr;
  lock.unlock();
  if (error) std::rethrow_exception(error);
}

}  // namespace korvelan::engine
