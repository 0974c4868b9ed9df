// The checked standard output: buffered writes that remember why they failed.
#include "cli/checked_output.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace tessaly::cli {

int CheckedOutput::Finish() {
  Drain();
  return error_;
}

CheckedOutput::int_type CheckedOutput::overflow(int_type c) {
  if (!Drain()) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

bool CheckedOutput::Drain() {
  const char* data = pbase();
  std::size_t left = static_cast<std::size_t>(pptr() - pbase());
  setp(buffer_.data(), buffer_.data() + buffer_.size());
  while (left > 0 && error_ == 0) {
    const ssize_t n = ::write(fd_, data, left);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      // Standard output left non-blocking by another program: wait until it takes more.
      pollfd ready{fd_, POLLOUT, 0};
      ::poll(&ready, 1, -1);
      continue;
    }
    if (n <= 0) {
      error_ = n < 0 ? errno : EIO;
      break;
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  return error_ == 0;
}

}  // namespace tessaly::cli
