// Runs work items on several threads and hands their results to the calling
// thread strictly in input order, with a bounded number of results waiting,
// so a batch saves and asks questions exactly as a sequential run would.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace tessaly {

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
  // A stop request comes from a signal handler, which cannot wake a waiting
  // thread, so waits are cut into steps this long.
  constexpr std::chrono::milliseconds kStopCheck{50};
  auto stop_asked = [&] { return stopped && stopped(); };
  jobs = std::max(jobs, 1);
  window = std::max<std::size_t>(window, static_cast<std::size_t>(jobs));
  std::mutex mutex;
  std::condition_variable changed;
  std::map<std::size_t, Result> ready;
  std::size_t next_to_take = 0;
  std::size_t next_to_consume = 0;

  auto worker = [&] {
    for (;;) {
      std::size_t index;
      {
        std::unique_lock lock(mutex);
        while (!changed.wait_for(lock, kStopCheck, [&] {
          return next_to_take >= count || next_to_take < next_to_consume + window;
        })) {
          if (stop_asked()) return;
        }
        if (next_to_take >= count || stop_asked()) return;
        index = next_to_take++;
      }
      Result result = work(index);
      {
        std::lock_guard lock(mutex);
        ready.emplace(index, std::move(result));
      }
      changed.notify_all();
    }
  };

  std::vector<std::thread> threads;
  // Stops the workers and joins them on every way out, a throwing consume included.
  struct Joiner {
    std::function<void()> stop;
    std::vector<std::thread>& threads;
    ~Joiner() {
      stop();
      for (auto& t : threads) t.join();
    }
  } joiner{[&] {
             {
               std::lock_guard lock(mutex);
               next_to_take = count;
             }
             changed.notify_all();
           },
           threads};
  // A thread that cannot start (a process or memory limit) leaves fewer workers; with none at
  // all the items are worked on this thread, one after the other.
  for (int t = 0; t < jobs; ++t) {
    try {
      threads.emplace_back(worker);
    } catch (const std::system_error&) {
      break;
    }
  }
  if (threads.empty()) {
    for (; next_to_consume < count && !stop_asked(); ++next_to_consume) {
      consume(next_to_consume, work(next_to_consume));
    }
    return next_to_consume;
  }
  while (next_to_consume < count && !stop_asked()) {
    Result result;
    {
      std::unique_lock lock(mutex);
      if (!changed.wait_for(lock, kStopCheck, [&] { return ready.count(next_to_consume) != 0; })) {
        continue;
      }
      auto it = ready.find(next_to_consume);
      result = std::move(it->second);
      ready.erase(it);
    }
    consume(next_to_consume, std::move(result));
    {
      std::lock_guard lock(mutex);
      ++next_to_consume;
    }
    changed.notify_all();
  }
  return next_to_consume;
}

}  // namespace tessaly
