#include "exec/pump.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <system_error>

#include "base/os_error.h"
#include "base/sys.h"
#include "base/output.h"
#include "exec/messages.h"

namespace tovrel::exec {

StopEvent::StopEvent() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void StopEvent::raise() {
  raised_.store(true, std::memory_order_release);
  if (fd_.valid()) {
    const std::uint64_t one = 1;
    ssize_t ignored = ::write(fd_.get(), &one, sizeof one);
    (void)ignored;
  }
}

namespace {

// Waits until `fd` is ready for `events` or the stop is raised; false when stopped.
bool wait_ready(int fd, short events, const StopEvent& stop) {
  for (;;) {
    if (stop.raised()) return false;
    pollfd p[2] = {{fd, events, 0}, {stop.fd(), POLLIN, 0}};
    // Without an eventfd the stop is only seen by the flag, so poll with a short timeout.
    const int n = ::poll(p, stop.fd() >= 0 ? 2 : 1, stop.fd() >= 0 ? -1 : 50);
    if (n < 0 && errno != EINTR) {
      // poll itself failed (no memory): pause instead of spinning, then let the caller retry.
      ::usleep(1000);
      return true;
    }
    if (n > 0 && p[0].revents) return true;
  }
}

}  // namespace

void pump_pipe(Fd pipe, const StopEvent& stop, std::size_t chunk_size,
               const std::function<void(std::string_view)>& sink) {
  (void)base::set_nonblocking(pipe.get());
  std::string buffer(chunk_size, '\0');
  for (;;) {
    if (stop.raised()) {
      // Only what the pipe holds now: a descendant that keeps writing cannot hold us here.
      int pending = 0;
      if (::ioctl(pipe.get(), FIONREAD, &pending) != 0) return;
      while (pending > 0) {
        const std::size_t want =
            std::min<std::size_t>(chunk_size, static_cast<std::size_t>(pending));
        const ssize_t n = ::read(pipe.get(), buffer.data(), want);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        pending -= static_cast<int>(n);
        sink(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
      }
      return;
    }
    const ssize_t n = ::read(pipe.get(), buffer.data(), chunk_size);
    if (n > 0) {
      sink(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
      continue;
    }
    if (n == 0) return;
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return;
    wait_ready(pipe.get(), POLLIN, stop);
  }
}

std::size_t write_nonblocking(int fd, std::string_view data) {
  std::size_t written = 0;
  while (written < data.size()) {
    const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
    if (n > 0) {
      written += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return written;
    return data.size();  // EPIPE and the like: the rest cannot be delivered
  }
  return written;
}

void feed_pipe(Fd pipe, std::string_view data, const StopEvent& stop) {
  (void)base::set_nonblocking(pipe.get());
  while (!data.empty()) {
    data.remove_prefix(write_nonblocking(pipe.get(), data));
    if (data.empty() || !wait_ready(pipe.get(), POLLOUT, stop)) break;
  }
}

std::thread start_thread(std::function<void()> body) {
  try {
    return std::thread(std::move(body));
  } catch (const std::system_error& e) {
    base::internal_failure(base::with_cause(kFailedToSpawnThread, e.what()));
  }
}

IoThreads::~IoThreads() {
  if (!workers_.empty()) finish(std::chrono::milliseconds(0));
}

void IoThreads::start(std::function<void(const StopEvent&)> body) {
  auto promise = std::make_shared<std::promise<void>>();
  Worker worker;
  worker.done = promise->get_future();
  worker.thread = start_thread([this, body = std::move(body), promise] {
    try {
      body(stop_);
    } catch (...) {
      // An abnormal end counts as finished; the caller sees what the body left behind.
    }
    promise->set_value();
  });
  workers_.push_back(std::move(worker));
}

void IoThreads::finish(std::chrono::milliseconds grace) {
  const auto deadline = std::chrono::steady_clock::now() + grace;
  for (Worker& w : workers_) {
    if (w.done.wait_until(deadline) != std::future_status::ready) {
      stop_.raise();
      break;
    }
  }
  for (Worker& w : workers_) {
    try {
      w.thread.join();
    } catch (const std::system_error& e) {
      base::internal_failure(base::with_cause(kFailedToJoinThread, e.what()));
    }
  }
  workers_.clear();
}

}  // namespace tovrel::exec
