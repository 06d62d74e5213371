// exec spawn: a detached child in a session of its own, never waited for.

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <climits>

#include "base/os_error.h"
#include "base/sys.h"
#include "exec/messages.h"
#include "exec/operations.h"
#include "exec/process.h"
#include "json/error_result.h"

namespace tovrel::exec {

namespace {

// {"error","success":false}.
json::JsonValue failed(json::JsonValue error) {
  error["success"] = false;
  return error;
}

// The pre-exec hook: a new session and process group, no controlling terminal. Its result
// is ignored; it always lets the start go on.
int detach_session() {
  ::setsid();
  return 0;
}

// Closes every descriptor but `keep`.
void close_all_but(int keep) {
  if (::close_range(0, static_cast<unsigned>(keep) - 1, 0) == 0 &&
      ::close_range(static_cast<unsigned>(keep) + 1, UINT_MAX, 0) == 0) {
    return;
  }
  const long count = ::sysconf(_SC_OPEN_MAX);  // kernels before close_range
  for (int fd = 0; fd < count; ++fd) {
    if (fd != keep) ::close(fd);
  }
}

// The rest of the stdin data goes to the child from a writer process of our own, which
// outlives us: it ends when all is written or when the child can take no more (EPIPE; we
// ignore SIGPIPE and so does it). It sits in a session of its own, so that what ends our
// process group does not cut the child's input short, and holds no descriptor of ours but the
// pipe, so that a caller waiting for end of file on our output is not held up by it. When it
// cannot be started (a process limit), we write the rest ourselves and answer only once the
// child has taken it all or can take no more: slower for the caller, but the child's input is
// never cut short.
void start_stdin_writer(Fd pipe, std::string_view rest) {
  const pid_t writer = ::fork();
  if (writer > 0) return;
  if (writer < 0) {
    (void)base::write_all(pipe.get(), rest);  // waits out the non-blocking pipe
    return;
  }
  ::setsid();
  const int fd = pipe.release();
  close_all_but(fd);
  (void)base::write_all(fd, rest);
  ::_exit(0);
}

// We print our result and exit right after the start, so the stdin data cannot wait for the
// child to read it: what the pipe takes at once is written here, the rest by a writer process.
void deliver_detached_stdin(Fd pipe, std::string_view data) {
  (void)base::set_nonblocking(pipe.get());
  const ssize_t n = base::write_now(pipe.get(), data.data(), data.size());
  if (n < 0 && errno != EAGAIN) return;  // the child takes nothing more
  if (n > 0) data.remove_prefix(static_cast<std::size_t>(n));
  if (!data.empty()) start_stdin_writer(std::move(pipe), data);
}

}  // namespace

json::JsonValue spawn_detached(const SpawnArgs& args, std::optional<std::string_view> stdin_data) {
  ProcessCommand command = command_new(args.cmd);
  command_add_args(command, args.args);
  apply_env_entries(command, args.envs);
  if (stdin_data) command.stdin_choice = Pipe{};
  if (args.log) {
    Fd file = base::open_file(*args.log, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (!file.valid()) {
      return failed(json::error_result(kFailedToOpenLog, base::os_error_text(errno)));
    }
    // One open file for both streams: one offset, so their writes follow each other.
    const int dup = ::fcntl(file.get(), F_DUPFD_CLOEXEC, 3);
    if (dup < 0) return failed(json::error_result(kFailedToCloneLog, base::os_error_text(errno)));
    command.stdout_choice = Descriptor{std::move(file)};
    command.stderr_choice = Descriptor{Fd(dup)};
  }
  command.pre_exec_hooks.push_back(detach_session);

  auto spawned = command_spawn(command);
  if (const auto* error = std::get_if<SpawnError>(&spawned)) {
    return failed(json::error_result(spawn_failure_text(error->errnum)));
  }
  ChildProcess& child = std::get<ChildProcess>(spawned);
  if (stdin_data) deliver_detached_stdin(std::move(child.stdin_pipe), *stdin_data);

  json::JsonValue result = json::object();
  result["pid"] = static_cast<std::uint64_t>(child.pid);
  result["success"] = true;
  return result;
}

}  // namespace tovrel::exec
