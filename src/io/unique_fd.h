#pragma once

// A file descriptor with one owner, closed when the owner goes, also when an exception unwinds.

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace oxtrel {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes now and reports close's verdict (0 or errno): a written file's last errors show here.
  int close() {
    if (fd_ < 0) return 0;
    return ::close(release()) == 0 ? 0 : errno;
  }

 private:
  int fd_ = -1;
};

}  // namespace oxtrel
