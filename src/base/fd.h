#pragma once
// The owner of a file descriptor: closes it when the owner dies. Every module that holds a
// descriptor holds it in an Fd, so no path can forget a close.

namespace tovrel::base {

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the held descriptor (errno is kept as it was) and holds `fd` instead.
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

}  // namespace tovrel::base
