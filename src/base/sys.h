#pragma once
// The platform layer: each system call this program repeats is wrapped once here. Every call
// is retried on EINTR; reads and writes on a descriptor that a caller made non-blocking wait
// with poll until it is ready instead of failing with EAGAIN (the file description is shared
// with the caller, so its O_NONBLOCK flag is left as it is). Failures are errno values.

#include <errno.h>
#include <sys/types.h>
#include <time.h>

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "base/fd.h"

namespace tovrel::base {

// The cause given when a descriptor accepts no bytes of a write.
inline constexpr std::string_view kWroteNothing = "failed to write whole buffer";

// Repeats `call` while it fails with EINTR (a negative result and errno EINTR); its result.
template <class Call>
auto retry_on_eintr(Call call) {
  for (;;) {
    const auto result = call();
    if (result >= 0 || errno != EINTR) return result;
  }
}

// open(2) with O_CLOEXEC added; an invalid Fd with errno set on failure.
Fd open_file(const std::string& path, int flags, mode_t mode = 0);

// Waits until `fd` is ready for `events` (POLLIN, POLLOUT); 0 or the errno of poll.
int wait_until_ready(int fd, short events);

// read(2) and write(2), EINTR retried and EAGAIN waited out: the count or -1 with errno.
ssize_t read_some(int fd, void* buffer, std::size_t size);
ssize_t write_some(int fd, const void* data, std::size_t size);

// One read(2) or write(2) on a descriptor of ours made non-blocking (a pipe end we made, an
// eventfd): EINTR is retried, EAGAIN is not waited out. The count, or -1 with errno (EAGAIN
// when nothing can be moved now).
ssize_t read_now(int fd, void* buffer, std::size_t size);
ssize_t write_now(int fd, const void* data, std::size_t size);

// Reads what `fd` (a pipe) holds at this moment and no more, so that a writer that keeps
// writing cannot hold the caller: `room(want)` gives the space for the next read (at most
// `want` of it is used; empty stops the reading), and `commit(count)` takes each count read.
// A failed read, or end of file, ends it.
void read_held(int fd, const std::function<std::span<char>(std::size_t want)>& room,
               const std::function<void(std::size_t count)>& commit);

// Reads until `size` bytes or the end of the input, whichever comes first, as read_some does:
// the count (less than `size` only at the end), or -1 with errno. Pipes hand over at most what
// they hold at a time; this gathers them into one buffer.
ssize_t read_up_to(int fd, char* buffer, std::size_t size);

// sendfile(2) of up to `size` bytes from `in_fd`, at its offset, to `out_fd`; EINTR retried
// and EAGAIN of `out_fd` waited out: the count (0 at the end of the input) or -1 with errno.
ssize_t send_some(int out_fd, int in_fd, std::size_t size);

// Writes like write(2): the count accepted, or -1 with errno set.
using WriteFn = std::function<ssize_t(const char* data, std::size_t size)>;

// The result of a whole write: 0 when all bytes went out, an errno value, or kNoProgress when
// the sink accepted nothing.
inline constexpr int kNoProgress = -1;
int write_all(int fd, std::string_view bytes);
int write_all_with(const WriteFn& write, std::string_view bytes);
// The cause text of a failed whole write: the OS error text, or kWroteNothing.
std::string write_failure_text(int result);

// The path without its last name, ignoring trailing '/': "" for a bare name, "/" for a name
// under the root.
std::string_view parent_directory(std::string_view path);

// `mkdir -p` with mode 0777 (before the umask): 0 when `path` is a directory afterwards (also
// through a symbolic link; "" is taken as present), else the errno of the level that failed.
// The deepest level is tried first, so the common case costs one call.
int make_directories(std::string_view path);

// Sleeps the whole duration: an interrupting signal does not shorten it. 0 or errno.
int sleep_fully(timespec duration);

// Sets O_NONBLOCK on a descriptor that is ours alone (a pipe end we made); 0 or errno.
int set_nonblocking(int fd);

// pidfd_open(2): a descriptor (close-on-exec) that stays bound to process `pid` even once its
// id is reused; invalid with errno set where there is no such process or the system has no
// pidfds (ENOSYS).
Fd pidfd_open(pid_t pid);

// pidfd_send_signal(2): `sig` (0: only the checks) to the process behind `pidfd`; EINTR
// retried. 0, or -1 with errno (ESRCH once it has been reaped).
int pidfd_send_signal(int pidfd, int sig);

}  // namespace tovrel::base
