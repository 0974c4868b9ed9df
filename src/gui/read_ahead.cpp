// Read-ahead of a run: workers through RunOrdered on a feeder thread, files handed to the window
// through its event loop.
#include "gui/read_ahead.h"

#include <QEventLoop>
#include <QObject>

#include <new>
#include <thread>

#include "app/ordered_runner.h"
#include "app/results.h"
#include "app/saving.h"
#include "base/text.h"
#include "gui/bitmap_qimage.h"

namespace tessaly {

namespace {

RunItem Failed(const std::filesystem::path& file, std::string reason) {
  RunItem item;
  item.path = file;
  item.reason = std::move(reason);
  return item;
}

}  // namespace

RunItem ReadRunItem(const ExpandedName& name, const ProcessingOptions& options,
                    FileWriters& writers) {
  RunItem item;
  item.path = name.path;
  if (!name.error.empty()) {
    item.reason = name.error;
    return item;
  }
  if (std::optional<std::string> reason = SkipReason(name.path)) {
    item.kind = RunItem::Kind::kOtherKind;
    item.reason = std::move(*reason);
    return item;
  }
  if (AsciiUpper(name.path.extension().string()) == ".PNG" && IsToolResult(name.path)) {
    item.kind = RunItem::Kind::kToolResult;
    return item;
  }
  try {
    TExtBitmap input = LoadPicture(name.path);
    item.input = BitmapToQImage(input);
    item.result = ProcessLoadedPicture(name.path, std::move(input), options);
    item.output = BitmapToQImage(item.result.output);
    const std::filesystem::path& target = item.result.proposed_name;
    // The window checks again at the file's turn; here it only spares the work.
    if (item.result.changed && !IsUpToDate(target, name.path)) {
      EncodePicture(item.result);
      // A target that stands already may not be replaced, so its file is written only once
      // the save at its turn is agreed.
      if (!NameIsTaken(target)) item.prepared = writers.Write(target, item.result.png);
    }
    item.kind = RunItem::Kind::kPicture;
  } catch (const std::bad_alloc&) {
    return Failed(name.path, OutOfMemoryMessage(name.path));
  } catch (const std::exception& error) {
    return Failed(name.path, error.what());
  }
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
