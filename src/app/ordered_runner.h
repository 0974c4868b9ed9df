// The threads of a run of many files: workers whose results are handed to the calling thread
// strictly in input order, with a bounded number of results waiting, so a batch saves and asks
// questions exactly as a sequential run would; and the writers that write files ahead of their
// saves.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "base/files.h"

namespace tessaly {

namespace ordered_run {

// A stop request comes from a signal handler, which cannot wake a waiting thread, so waits are
// cut into steps this long.
inline constexpr std::chrono::milliseconds kStopCheck{50};

// The shared state of one RunOrdered call.
template <class Result>
class Run {
 public:
  using Work = std::function<Result(std::size_t)>;
  using Consume = std::function<void(std::size_t, Result&&)>;
  using Stopped = std::function<bool()>;

  Run(std::size_t count, std::size_t window, const Work& work, const Stopped& stopped)
      : count_(count), window_(window), work_(work), stopped_(stopped) {}

  bool StopAsked() const { return stopped_ && stopped_(); }

  // One worker thread: takes the next item while the window allows and hands its result over.
  void Worker() {
    std::size_t index = 0;
    while (Take(index)) {
      Result result = work_(index);
      {
        std::lock_guard lock(mutex_);
        ready_.emplace(index, std::move(result));
      }
      changed_.notify_all();
    }
  }

  // No item is started after this.
  void StopTaking() {
    {
      std::lock_guard lock(mutex_);
      next_to_take_ = count_;
    }
    changed_.notify_all();
  }

  // Without workers: each item worked on by the calling thread, then consumed.
  std::size_t WorkAndConsume(const Consume& consume) {
    for (; next_to_consume_ < count_ && !StopAsked(); ++next_to_consume_) {
      consume(next_to_consume_, work_(next_to_consume_));
    }
    return next_to_consume_;
  }

  // The results in input order, as the workers hand them over.
  std::size_t ConsumeInOrder(const Consume& consume) {
    while (next_to_consume_ < count_ && !StopAsked()) {
      Result result;
      if (!TakeReady(result)) continue;
      consume(next_to_consume_, std::move(result));
      {
        std::lock_guard lock(mutex_);
        ++next_to_consume_;
      }
      changed_.notify_all();
    }
    return next_to_consume_;
  }

 private:
  bool Take(std::size_t& index) {
    std::unique_lock lock(mutex_);
    while (!changed_.wait_for(lock, kStopCheck, [&] {
      return next_to_take_ >= count_ || next_to_take_ < next_to_consume_ + window_;
    })) {
      if (StopAsked()) return false;
    }
    if (next_to_take_ >= count_ || StopAsked()) return false;
    index = next_to_take_++;
    return true;
  }

  // The next result in order, once it is there; false after a step of waiting without it.
  bool TakeReady(Result& result) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, kStopCheck, [&] { return ready_.count(next_to_consume_) != 0; })) {
      return false;
    }
    auto it = ready_.find(next_to_consume_);
    result = std::move(it->second);
    ready_.erase(it);
    return true;
  }

  const std::size_t count_;
  const std::size_t window_;
  const Work& work_;
  const Stopped& stopped_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::size_t, Result> ready_;
  std::size_t next_to_take_ = 0;
  std::size_t next_to_consume_ = 0;
};

}  // namespace ordered_run

// work(i) runs on a worker thread and must not throw; consume(i, result) runs on
// the calling thread for i = 0, 1, 2, ... At most `window` results are computed
// ahead of the one being consumed. Once `stopped` (checked often, from any
// thread) turns true, no new item is started or consumed; items under way are
// finished and dropped. Threads that cannot be started leave fewer workers, or none: then
// the calling thread works on each item before it consumes it. Returns how many items were
// consumed.
template <class Result>
std::size_t RunOrdered(std::size_t count, int jobs, std::size_t window,
                       const std::function<Result(std::size_t)>& work,
                       const std::function<void(std::size_t, Result&&)>& consume,
                       const std::function<bool()>& stopped = {}) {
  jobs = std::max(jobs, 1);
  window = std::max<std::size_t>(window, static_cast<std::size_t>(jobs));
  ordered_run::Run<Result> run(count, window, work, stopped);
  std::vector<std::thread> threads;
  // Stops the workers and joins them on every way out, a throwing consume included.
  struct Joiner {
    ordered_run::Run<Result>& run;
    std::vector<std::thread>& threads;
    ~Joiner() {
      run.StopTaking();
      for (auto& t : threads) t.join();
    }
  } joiner{run, threads};
  // A thread that cannot start (a process or memory limit) leaves fewer workers; with none at
  // all the items are worked on this thread, one after the other.
  for (int t = 0; t < jobs; ++t) {
    try {
      threads.emplace_back([&run] { run.Worker(); });
    } catch (const std::system_error&) {
      break;
    }
  }
  if (threads.empty()) return run.WorkAndConsume(consume);
  return run.ConsumeInOrder(consume);
}

// A file being written ahead by FileWriters; Prepared gives it once written.
using PreparedFile = std::future<std::unique_ptr<PendingFile>>;

// The prepared file, once written; null when there is none or it was never written.
std::unique_ptr<PendingFile> Prepared(PreparedFile& prepared);

// A fixed set of threads that write files ahead of their saves (PrepareFile) for a whole run.
// Creating, writing and flushing a file wait for the disk, not the processor, and flushes under
// way together are committed together, so a run writes on more threads than it decodes on,
// without starting a thread for each file. Threads that cannot be started leave fewer; with
// none, each file is written at once by the thread that hands it in.
class FileWriters {
 public:
  explicit FileWriters(int threads);
  // Files handed in but not yet begun are dropped (their Prepared gives null).
  ~FileWriters();
  FileWriters(const FileWriters&) = delete;
  FileWriters& operator=(const FileWriters&) = delete;

  // The file written ahead in `folder` when given (the target's folder held open), else in the
  // folder the name leads to.
  PreparedFile Write(std::filesystem::path name, std::vector<std::uint8_t> bytes,
                     FolderRef folder = nullptr);

 private:
  void Work();

  std::mutex mutex_;
  std::condition_variable queued_;
  std::deque<std::packaged_task<std::unique_ptr<PendingFile>()>> queue_;
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace tessaly
