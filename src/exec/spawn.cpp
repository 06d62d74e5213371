// exec spawn: a detached child in a session of its own, never waited for.

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "base/io.h"
#include "base/os_error.h"
#include "base/sys.h"
#include "exec/child_run.h"
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

// The largest pipe an unprivileged process may ask for, or 0 when unknown.
int pipe_max_size() {
  const auto text = base::read_file("/proc/sys/fs/pipe-max-size");
  if (!text.ok()) return 0;
  return std::atoi(std::string(text->view()).c_str());
}

// This process prints its result and exits right after the start, so the stdin data cannot
// wait for a slow reader. The pipe is grown to the data's size where the system allows it
// (up to /proc/sys/fs/pipe-max-size, 1 MiB by default, for an unprivileged user); what the
// pipe then takes at once is delivered, followed by end of file, and a rest beyond that is
// dropped.
void deliver_detached_stdin(ChildProcess& child, std::string_view data) {
  Fd pipe = std::move(child.stdin_pipe);
  if (!pipe.valid()) return;
  const int capacity = ::fcntl(pipe.get(), F_GETPIPE_SZ);
  if (capacity >= 0 && data.size() > static_cast<std::size_t>(capacity)) {
    constexpr std::size_t kMaxRequest = 1u << 30;
    const int want = static_cast<int>(std::min(data.size(), kMaxRequest));
    // Beyond the system's limit the request fails as a whole; then take the limit itself.
    if (::fcntl(pipe.get(), F_SETPIPE_SZ, want) < 0) {
      if (const auto limit = pipe_max_size(); limit > capacity) {
        ::fcntl(pipe.get(), F_SETPIPE_SZ, limit);
      }
    }
  }
  (void)base::set_nonblocking(pipe.get());
  (void)base::retry_on_eintr([&] { return ::write(pipe.get(), data.data(), data.size()); });
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
  if (stdin_data) deliver_detached_stdin(child, *stdin_data);

  json::JsonValue result = json::object();
  result["pid"] = static_cast<std::uint64_t>(child.pid);
  result["success"] = true;
  return result;
}

}  // namespace tovrel::exec
