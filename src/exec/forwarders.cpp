#include "exec/forwarders.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <system_error>

#include "base/os_error.h"
#include "base/output.h"
#include "base/sys.h"
#include "exec/messages.h"

namespace tovrel::exec {

StopEvent::StopEvent() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void StopEvent::raise() {
  raised_.store(true, std::memory_order_release);
  if (fd_.valid()) {
    const std::uint64_t one = 1;
    (void)base::write_now(fd_.get(), &one, sizeof one);
  }
}

namespace {

// Without an eventfd the stop is only seen as the flag: poll then looks at it this often.
constexpr int kStopCheckMs = 50;

// Waits until `fd` is readable or the stop is raised.
void wait_readable(int fd, const StopEvent& stop) {
  pollfd p[2] = {{fd, POLLIN, 0}, {stop.fd(), POLLIN, 0}};
  const bool with_event = stop.fd() >= 0;
  const int ready = base::retry_on_eintr(
      [&] { return ::poll(p, with_event ? 2 : 1, with_event ? -1 : kStopCheckMs); });
  if (ready < 0) base::internal_failure(base::with_cause(kPollFailed, base::os_error_text(errno)));
}

// Only what the pipe holds now: a descendant that keeps writing cannot hold us here.
void forward_held(int fd, std::span<char> buffer,
                  const std::function<void(std::string_view)>& sink) {
  base::read_held(
      fd, [buffer](std::size_t) { return buffer; },
      [&](std::size_t count) { sink(std::string_view(buffer.data(), count)); });
}

std::thread start_thread(std::function<void()> body) {
  try {
    return std::thread(std::move(body));
  } catch (const std::system_error& e) {
    base::internal_failure(base::with_cause(kFailedToSpawnThread, e.what()));
  }
}

}  // namespace

void forward_pipe(Fd pipe, const StopEvent& stop, std::span<char> buffer,
                  const std::function<void(std::string_view)>& sink) {
  // Ours alone; a wait in poll can then also see the stop.
  (void)base::set_nonblocking(pipe.get());
  for (;;) {
    if (stop.raised()) return forward_held(pipe.get(), buffer, sink);
    const ssize_t n = base::read_now(pipe.get(), buffer.data(), buffer.size());
    if (n > 0) {
      sink(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
    } else if (n == 0 || errno != EAGAIN) {
      return;
    } else {
      wait_readable(pipe.get(), stop);
    }
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
