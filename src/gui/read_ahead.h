// The window's read-ahead for runs of several files: while the window shows one file, asks about
// it and saves it, the next ones are read, decoded, rendered, encoded and written ahead on worker
// threads, through the per-file pipeline and the batch tool's ordered runner. The window still
// takes the files one at a time, in the order given, on its own thread. Used by the main form.
#pragma once

#include <QImage>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "app/folders.h"
#include "app/run_step.h"

namespace tessaly {

// One file of a run as the workers leave it for the window: the run step's work, and the
// pictures the panes show once it was processed.
struct RunItem {
  FileWork work;
  QImage input;
  QImage output;
};

// The workers' part of one file (ReadFileWork): all that needs no answer from the user; the
// tool's own results are left out. Never throws: a failure is the work's error.
RunItem ReadRunItem(const ExpandedName& name, const ProcessingOptions& options,
                    FileWriters& writers);

// Reads `count` files ahead with `read` on `jobs` worker threads and hands them to the thread
// that calls HandEach, one at a time and in order.
class ReadAhead {
 public:
  using Read = std::function<RunItem(std::size_t)>;
  using Handle = std::function<void(std::size_t, RunItem&&)>;

  ReadAhead(std::size_t count, int jobs, Read read)
      : count_(count), jobs_(jobs), read_(std::move(read)) {}
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Runs the calling thread's event loop while the files are read and calls `handle` there for
  // each, in order, the next only once `handle` has returned. Returns when every file has been
  // handed over, or after Stop, once the workers have ended and every file read ahead but not
  // handed over is dropped. An error escaping `handle` stops the run and is thrown here. Returns
  // how many files were handed over.
  std::size_t HandEach(const Handle& handle);
  // No file is handed over after this. Called on the thread of HandEach, from `handle` or from
  // an event.
  void Stop();

 private:
  std::size_t count_;
  int jobs_;
  Read read_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::atomic<bool> stop_{false};
  std::optional<RunItem> offered_;  // the next file, until the window takes it
  std::size_t handed_ = 0;          // files the window has finished with
  std::exception_ptr error_;
};

}  // namespace tessaly
