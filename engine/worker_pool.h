// A fixed set of worker threads for the whole analysis.
//
// The pool is made once (no thread is created per run or per phase) and
// runs one batch of tasks at a time: ForEach(count, task) calls task(i, w)
// for every i in 0 .. count-1, on the workers and on the calling thread,
// and returns when all have finished. w names the thread that runs the
// call (0 .. size()-1; the caller is 0), so a task can use per-thread
// scratch storage. The caller takes indices itself and waits only for tasks
// that a worker has already begun, never for a worker to wake up.
//
// Waiting: a run of the analysis posts two batches a fraction of a
// millisecond apart, and waking a sleeping thread (above all a halted
// virtual CPU) can take tens of microseconds, as long as the tasks
// themselves. So a worker that runs out of indices first watches for the
// next batch for a short while (kSpinTime), and only then sleeps on a
// condition variable; the caller likewise watches for the last task of a
// batch to finish before it sleeps. Between analyses, and in the long
// serial phases, every worker sleeps: nothing spins for longer than
// kSpinTime after its last batch.
//
// Which thread runs which index is not fixed; callers make the result
// independent of it (each task writes its own disjoint part of the output).
// A task that throws: the remaining tasks of the batch still run, and
// ForEach rethrows the first exception once the batch is over.
//
// Workers block the console interrupt signals because they are created
// after the main thread has blocked them (they inherit its mask).
#ifndef KORVELAN_ENGINE_WORKER_POOL_H_
#define KORVELAN_ENGINE_WORKER_POOL_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace korvelan::engine {

class WorkerPool {
 public:
  using Task = std::function<void(std::size_t index, unsigned worker)>;

  // How long an idle thread watches for work before it sleeps.
  static constexpr std::chrono::microseconds kSpinTime{400};

  // `threads` threads in all, the caller included (0 counts as 1): threads
  // - 1 workers are started here. When the system refuses a thread the pool
  // keeps those it has (results never depend on the number of threads).
  explicit WorkerPool(unsigned threads);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  unsigned size() const { return static_cast<unsigned>(workers_.size()) + 1; }

  // Runs the batch. Not reentrant: a task must not call ForEach.
  void ForEach(std::size_t count, const Task& task);

 private:
  void WorkerLoop(unsigned worker);
  // Takes the next index of the batch (next_ < count_, lock held) and runs
  // it with the lock released.
  void RunOne(std::unique_lock<std::mutex>& lock, unsigned worker);
  // Watches (lock released) for a batch after `seen` or the pool's end;
  // false when kSpinTime passed without either.
  bool SpinForBatch(std::uint64_t seen) const;
  // Watches (lock released) for the batch's last task to finish.
  bool SpinForFinish(std::size_t count) const;

  std::mutex mutex_;
  std::condition_variable wake_;      // workers: indices to take, or the end
  std::condition_variable finished_;  // caller: the last task finished
  const Task* task_ = nullptr;
  std::size_t count_ = 0;  // indices of the batch (0 between batches)
  std::size_t next_ = 0;   // next index to hand out
  // Indices finished; written with the lock held, watched without it.
  std::atomic<std::size_t> done_{0};
  // Batches posted so far, and the end of the pool; the same.
  std::atomic<std::uint64_t> posted_{0};
  std::atomic<bool> stopping_{false};
  unsigned sleepers_ = 0;       // workers waiting on wake_
  bool caller_asleep_ = false;  // the caller waits on finished_
  std::exception_ptr error_;
  std::vector<std::jthread> workers_;
};

}  // namespace korvelan::engine

#endif  // KORVELAN_ENGINE_WORKER_POOL_H_
