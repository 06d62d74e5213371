#pragma once
// The forwarder threads of `exec stream`: each drains one output pipe of the child and passes
// every chunk on as soon as it is read; and their end once the child has ended, when after
// kPipeDrainGrace they read only what the pipes hold then. That bounds how long a descendant
// that holds the pipes open can keep us, not how long our own writes take: a reader of our
// output that stalls holds a forwarder in its write for as long as it stalls.

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <span>
#include <string_view>
#include <thread>
#include <vector>

#include "exec/process.h"

namespace tovrel::exec {

// Raised once, seen by every forwarder: as a flag between reads and as a readable descriptor
// while they wait in poll.
class StopEvent {
 public:
  StopEvent();
  StopEvent(const StopEvent&) = delete;
  StopEvent& operator=(const StopEvent&) = delete;
  void raise();
  bool raised() const { return raised_.load(std::memory_order_acquire); }
  int fd() const { return fd_.get(); }

 private:
  std::atomic<bool> raised_{false};
  Fd fd_;
};

// Reads `pipe` to end of file into `buffer`, handing each chunk to `sink` as soon as it is
// read. When `stop` is raised first, it reads only what the pipe holds then. Read errors end
// the reading silently. Closes the pipe.
void forward_pipe(Fd pipe, const StopEvent& stop, std::span<char> buffer,
                  const std::function<void(std::string_view)>& sink);

// The threads of one child. Threads that cannot be started or joined end the process as an
// internal failure.
class IoThreads {
 public:
  IoThreads() = default;
  IoThreads(const IoThreads&) = delete;
  IoThreads& operator=(const IoThreads&) = delete;
  ~IoThreads();

  // Starts `body` on a thread of its own. A body that throws counts as finished.
  void start(std::function<void(const StopEvent&)> body);
  // Lets the threads finish for at most `grace`, then raises the stop, and joins them all
  // (a thread held in a write is waited for).
  void finish(std::chrono::milliseconds grace);

 private:
  struct Worker {
    std::thread thread;
    std::future<void> done;
  };
  StopEvent stop_;
  std::vector<Worker> workers_;
};

}  // namespace tovrel::exec
