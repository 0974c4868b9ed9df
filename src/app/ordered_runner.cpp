// The writers of a run: a fixed set of threads writing files ahead of their saves.
#include "app/ordered_runner.h"

#include "app/saving.h"

namespace tessaly {

std::unique_ptr<PendingFile> Prepared(PreparedFile& prepared) {
  if (!prepared.valid()) return nullptr;
  try {
    return prepared.get();
  } catch (const std::future_error&) {
    return nullptr;  // dropped before it was begun
  }
}

FileWriters::FileWriters(int threads) {
  for (int t = 0; t < threads; ++t) {
    try {
      threads_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      break;
    }
  }
}

FileWriters::~FileWriters() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
    queue_.clear();
  }
  queued_.notify_all();
  for (std::thread& t : threads_) t.join();
}

PreparedFile FileWriters::Write(std::filesystem::path name, std::vector<std::uint8_t> bytes,
                                FolderRef folder) {
  std::packaged_task<std::unique_ptr<PendingFile>()> task(
      [name = std::move(name), bytes = std::move(bytes), folder = std::move(folder)] {
        return PrepareFile(name, bytes, folder);
      });
  PreparedFile file = task.get_future();
  if (threads_.empty()) {
    task();
    return file;
  }
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(task));
  }
  queued_.notify_one();
  return file;
}

void FileWriters::Work() {
  for (;;) {
    std::packaged_task<std::unique_ptr<PendingFile>()> task;
    {
      std::unique_lock lock(mutex_);
      queued_.wait(lock, [this] { return closing_ || !queue_.empty(); });
      if (queue_.empty()) return;
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    task();
  }
}

}  // namespace tessaly
