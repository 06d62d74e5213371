#include "base/output.h"

#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include "base/os_error.h"
#include "base/running_child.h"
#include "base/sys.h"

namespace tovrel::base {

namespace {

constexpr std::string_view kInternalErrorPrefix = "tovrel: internal error: ";

// A descriptor that is not open swallows everything: nothing is lost that anyone could have
// read.
std::optional<std::string> write_outcome(int result) {
  if (result == 0 || result == EBADF) return std::nullopt;
  return write_failure_text(result);
}

}  // namespace

LineWriter::LineWriter(Sink sink) : sink_(std::move(sink)) { buffer_.reserve(kCapacity); }

std::optional<std::string> LineWriter::write_raw(std::string_view bytes) {
  return write_outcome(write_all_with(sink_, bytes));
}

std::optional<std::string> LineWriter::flush() {
  std::lock_guard guard(mutex_);
  return flush_buffer();
}

std::optional<std::string> LineWriter::flush_buffer() {
  if (buffer_.empty()) return std::nullopt;
  std::string pending;
  pending.swap(buffer_);
  buffer_.reserve(kCapacity);
  return write_raw(pending);
}

std::optional<std::string> LineWriter::buffered_write(std::string_view bytes) {
  if (buffer_.size() + bytes.size() > kCapacity) {
    if (auto err = flush_buffer()) return err;
  }
  if (bytes.size() >= kCapacity) return write_raw(bytes);
  buffer_.append(bytes);
  return std::nullopt;
}

std::optional<std::string> LineWriter::write(std::string_view bytes) {
  std::lock_guard guard(mutex_);
  // memrchr is vectorised; a plain backward scan costs more than the write for large data.
  const void* hit = bytes.empty() ? nullptr : ::memrchr(bytes.data(), '\n', bytes.size());
  if (!hit) return buffered_write(bytes);
  const std::size_t nl = static_cast<std::size_t>(static_cast<const char*>(hit) - bytes.data());
  if (auto err = buffered_write(bytes.substr(0, nl + 1))) return err;
  if (auto err = flush_buffer()) return err;
  return buffered_write(bytes.substr(nl + 1));
}

LineWriter& stdout_writer() {
  // Never destroyed: threads may still write while the process exits.
  static LineWriter* writer =
      new LineWriter([](const char* d, std::size_t n) { return write_some(1, d, n); });
  return *writer;
}

std::optional<std::string> stderr_write(std::string_view bytes) {
  static std::mutex* mutex = new std::mutex;
  std::lock_guard guard(*mutex);
  return write_outcome(write_all(2, bytes));
}

void exit_process(int status) {
  (void)stdout_writer().flush();
  ::_exit(status);
}

void end_by_signal(int sig) noexcept {
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  ::sigaction(sig, &dfl, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, sig);
  ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  // To this thread, where it is not blocked: the default action ends the whole process.
  ::raise(sig);
  ::_exit(128 + sig);
}

void out_of_memory() noexcept {
  static constexpr std::string_view kText = "tovrel: internal error: memory allocation failed\n";
  end_running_child();
  (void)write_all(2, kText);
  ::_exit(101);
}

void internal_failure(std::string_view message) {
  std::string text(kInternalErrorPrefix);
  text += message;
  text += '\n';
  end_running_child();
  (void)stderr_write(text);  // nowhere left to report a failure of this one
  exit_process(101);
}

void printing_failed(std::string_view cause, int fd) {
  internal_failure(
      with_cause(fd == 2 ? "failed printing to stderr" : "failed printing to stdout", cause));
}

}  // namespace tovrel::base
