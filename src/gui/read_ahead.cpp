// Read-ahead of a run: workers through RunOrdered on a feeder thread, files handed to the window
// through its event loop.
#include "gui/read_ahead.h"

#include <QEventLoop>
#include <QObject>

#include <thread>

#include "app/ordered_runner.h"
#include "gui/bitmap_qimage.h"

namespace tessaly {

RunItem ReadRunItem(const ExpandedName& name, const ProcessingOptions& options,
                    FileWriters& writers) {
  RunItem item;
  RunOptions run;
  run.processing = options;
  FileHooks hooks;
  hooks.loaded = [&item](const TExtBitmap& input) { item.input = BitmapToQImage(input); };
  hooks.processed = [&item](const PictureResult& result) {
    item.output = BitmapToQImage(result.output);
  };
  item.work = ReadFileWork(name, run, writers, hooks);
  return item;
}

std::size_t ReadAhead::HandEach(const Handle& handle) {
  QEventLoop loop;
  // Lives on this thread, so what the feeder asks of it runs here.
  QObject receiver;
  auto take = [&](std::size_t index) {
    std::optional<RunItem> item;
    {
      std::lock_guard lock(mutex_);
      if (stop_) return;
      item.swap(offered_);
    }
    try {
      handle(index, std::move(*item));
    } catch (...) {
      error_ = std::current_exception();
      Stop();
    }
    {
      std::lock_guard lock(mutex_);
      handed_ = index + 1;
    }
    changed_.notify_all();
  };
  std::thread feeder([&] {
    RunOrdered<RunItem>(
        count_, jobs_, static_cast<std::size_t>(jobs_) * 2, read_,
        [&](std::size_t index, RunItem&& item) {
          std::optional<RunItem> dropped;
          std::unique_lock lock(mutex_);
          if (stop_) return;
          offered_ = std::move(item);
          QMetaObject::invokeMethod(
              &receiver, [&take, index] { take(index); }, Qt::QueuedConnection);
          changed_.wait(lock, [&] { return handed_ > index || stop_; });
          // Not taken when the run stopped first; dropped once the lock is let go, with its
          // temporary file.
          dropped.swap(offered_);
        },
        [this] { return stop_.load(); });
    QMetaObject::invokeMethod(
        &receiver, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  loop.exec();
  // The loop also ends when the application quits; the run then stops where it is.
  if (feeder.joinable()) {
    {
      std::lock_guard lock(mutex_);
      if (handed_ < count_) stop_ = true;
    }
    changed_.notify_all();
    feeder.join();
  }
  if (error_) std::rethrow_exception(error_);
  return handed_;
}

void ReadAhead::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
}

}  // namespace tessaly
