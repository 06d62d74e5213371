#pragma once
// The process-wide standard output writer, unbuffered standard error, and the ways the
// process ends with a status. Every end of the process flushes standard output first.

#include <sys/types.h>

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace tovrel::base {

// A line-buffered writer over a descriptor-like sink: bytes up to the last newline of a write
// reach the sink before the write returns; the rest waits in a 1024-byte buffer. A write that
// does not fit in the buffer goes out as it comes. EINTR is repeated, a sink that accepts no
// bytes fails with "failed to write whole buffer", and EBADF counts as fully written. The
// sink of standard output waits out EAGAIN, so a non-blocking pipe loses nothing.
class LineWriter {
 public:
  static constexpr std::size_t kCapacity = 1024;
  // Writes like write(2): returns the count accepted, or -1 with errno set.
  using Sink = std::function<ssize_t(const char* data, std::size_t size)>;

  explicit LineWriter(Sink sink);

  // Both return the error text of the failed write, if any. Each call is whole under the
  // writer's own lock: the bytes of one write never interleave with another thread's.
  std::optional<std::string> write(std::string_view bytes);
  std::optional<std::string> flush();

 private:
  // The three below run under mutex_.
  std::optional<std::string> write_raw(std::string_view bytes);
  std::optional<std::string> buffered_write(std::string_view bytes);
  std::optional<std::string> flush_buffer();

  Sink sink_;
  std::string buffer_;
  std::mutex mutex_;
};

// The writer over descriptor 1, shared by every part of the process.
LineWriter& stdout_writer();

// Writes to descriptor 2 unbuffered, under a lock of its own. Returns the error text of a
// failed write; descriptor 2 not being open counts as written.
std::optional<std::string> stderr_write(std::string_view bytes);

// Flushes standard output (ignoring a failure) and ends the process with `status`.
[[noreturn]] void exit_process(int status);

// Ends the process by `sig` as its default action would (a status that says so to our
// parent), whatever handler or mask this process has set for it; standard output is not
// flushed, as that action would not. A signal whose default action does not end a process
// ends it with status 128 + `sig` instead. Async-signal-safe.
[[noreturn]] void end_by_signal(int sig) noexcept;

// Reports an allocation that cannot be met as an internal failure, "tovrel: internal error:
// memory allocation failed", and ends the process with status 101, a running child
// (base/running_child.h) first. Allocates nothing, and leaves standard output as it is, since
// flushing it could need memory.
[[noreturn]] void out_of_memory() noexcept;

// Reports an internal failure on standard error ("tovrel: internal error: {message}") and
// ends the process with status 101, a running child first.
[[noreturn]] void internal_failure(std::string_view message);

// The internal failure of a write to standard output (`fd` 1) or standard error (2) that
// failed: "failed printing to stdout: {cause}" (or "stderr"), with the writer's error text as
// the cause.
[[noreturn]] void printing_failed(std::string_view cause, int fd = 1);

}  // namespace tovrel::base
