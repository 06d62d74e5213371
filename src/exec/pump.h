#pragma once
// The I/O threads of a child run by `exec run` or `exec stream`: readers that drain its output
// pipes and a writer that feeds its standard input, and their bounded end.
//
// Once the child has ended (or been killed), its pipes normally reach end of file at once. A
// descendant that inherited them (`sh -c 'sleep 30 & echo hi'`) can hold them open for as
// long as it lives; the threads then get kPipeDrainGrace more to see end of file, after which
// each reader takes only what its pipe holds at that moment and ends, and the writer drops
// the rest of its data. The result (or exit status) is the child's all the same.

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "exec/process.h"

namespace tovrel::exec {

// How long the pipes may stay open once the child has ended.
inline constexpr std::chrono::milliseconds kPipeDrainGrace{200};

// Raised once, seen by every I/O thread: as a flag between reads and as a readable
// descriptor while they wait in poll.
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

// Reads `pipe` to end of file, handing every chunk of at most `chunk_size` bytes to `sink` as
// soon as it is read. When `stop` is raised first, it reads only what the pipe holds then.
// Read errors end the reading silently. Closes the pipe.
void pump_pipe(Fd pipe, const StopEvent& stop, std::size_t chunk_size,
               const std::function<void(std::string_view)>& sink);

// Writes `data` to `pipe` until all is written, a write fails (the reader went away: the rest
// is dropped) or `stop` is raised. Closes the pipe, so the reader sees end of file.
void feed_pipe(Fd pipe, std::string_view data, const StopEvent& stop);

// Writes as much of `data` as the pipe takes without blocking; returns the count written, or
// data.size() when a write failed for good (nothing more can be delivered).
std::size_t write_nonblocking(int fd, std::string_view data);

// The I/O threads of one child. Threads that cannot be started or joined end the process as
// an internal failure.
class IoThreads {
 public:
  IoThreads() = default;
  IoThreads(const IoThreads&) = delete;
  IoThreads& operator=(const IoThreads&) = delete;
  ~IoThreads();

  // Starts `body` on a thread of its own. A body that throws counts as finished.
  void start(std::function<void(const StopEvent&)> body);
  // Lets the threads finish for at most `grace`, then raises the stop, and joins them all.
  void finish(std::chrono::milliseconds grace);

 private:
  struct Worker {
    std::thread thread;
    std::future<void> done;
  };
  StopEvent stop_;
  std::vector<Worker> workers_;
};

// Starts a thread running `body`, or ends the process as an internal failure.
std::thread start_thread(std::function<void()> body);

}  // namespace tovrel::exec
