// Standard output of tessaly-cli: the report and the JSON catalogue, written so that a failed
// write is known, with its reason, when the run ends.
#pragma once

#include <array>
#include <streambuf>

namespace tessaly::cli {

// A buffer that writes to a descriptor with write(2) and keeps the first failure's error number
// (std::cout forgets it once a line's flush has failed). After a failure the rest is dropped.
class CheckedOutput : public std::streambuf {
 public:
  explicit CheckedOutput(int fd) : fd_(fd) {
    setp(buffer_.data(), buffer_.data() + buffer_.size());
  }
  ~CheckedOutput() override { Drain(); }
  CheckedOutput(const CheckedOutput&) = delete;
  CheckedOutput& operator=(const CheckedOutput&) = delete;

  // Writes what is buffered; 0 when every write succeeded, else the first failure's errno.
  int Finish();

 protected:
  int_type overflow(int_type c) override;
  int sync() override { return Drain() ? 0 : -1; }

 private:
  bool Drain();

  int fd_;
  int error_ = 0;
  std::array<char, 16384> buffer_{};
};

}  // namespace tessaly::cli
