#include "exec/process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>

#include "base/sys.h"
#include "base/utf8.h"

extern char** environ;

namespace tovrel::exec {

ProcessCommand command_new(std::string program) {
  ProcessCommand command;
  command.arguments.push_back(program);
  command.program = std::move(program);
  return command;
}

void command_add_args(ProcessCommand& command, const std::vector<std::string>& args) {
  command.arguments.insert(command.arguments.end(), args.begin(), args.end());
}

void command_env_set(ProcessCommand& command, std::string name, std::string value) {
  command.env_overrides.insert_or_assign(std::move(name), std::move(value));
}

void apply_env_entries(ProcessCommand& command, const std::vector<std::string>& envs) {
  for (const std::string& entry : envs) {
    const std::size_t eq = entry.find('=');
    if (eq == std::string::npos) continue;
    command_env_set(command, entry.substr(0, eq), entry.substr(eq + 1));
  }
}

void command_set_cwd(ProcessCommand& command, std::string dir) {
  command.working_directory = std::move(dir);
}

std::vector<std::string> child_environment(const ProcessCommand& command) {
  std::vector<std::string> out;
  if (command.env_overrides.empty()) {
    for (char** e = environ; e && *e; ++e) out.emplace_back(*e);
    return out;
  }
  std::map<std::string, std::string> merged;
  for (char** e = environ; e && *e; ++e) {
    const char* eq = strchr(*e, '=');
    if (!eq) continue;  // not a variable; nothing to hand on
    merged.emplace(std::string(const_cast<const char*>(*e), eq), std::string(eq + 1));
  }
  for (const auto& [name, value] : command.env_overrides) merged.insert_or_assign(name, value);
  out.reserve(merged.size());
  for (const auto& [name, value] : merged) out.push_back(name + "=" + value);
  return out;
}

namespace {

// The search path of the child's environment; without PATH, the C library's default.
std::string child_path(const ProcessCommand& command) {
  if (!command.env_overrides.empty()) {
    auto it = command.env_overrides.find("PATH");
    if (it != command.env_overrides.end()) return it->second;
  }
  if (const char* path = getenv("PATH")) return path;
  return "/bin:/usr/bin";
}

// The paths to try, in order. An empty PATH element is the (child's) current directory.
std::vector<std::string> exec_candidates(const ProcessCommand& command) {
  const std::string& program = command.program;
  if (program.empty()) return {};
  if (program.find('/') != std::string::npos) return {program};
  std::vector<std::string> out;
  const std::string path = child_path(command);
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = path.find(':', start);
    const std::string dir = path.substr(start, colon == std::string::npos ? colon : colon - start);
    out.push_back(dir.empty() ? program : dir + "/" + program);
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return out;
}

// The two ends of one of the child's streams: the one the child gets and the one we keep.
struct StreamEnds {
  Fd owned_child_end;  // ours to close after the fork (/dev/null, the pipe's child end)
  int child_end = -1;  // what becomes the child's descriptor
  Fd parent_end;       // the pipe end we keep
};

int prepare_stream(StdioChoice& choice, int target, StreamEnds& ends) {
  if (std::holds_alternative<NullDevice>(choice)) {
    ends.owned_child_end = base::open_file("/dev/null", target == 0 ? O_RDONLY : O_WRONLY);
    if (!ends.owned_child_end.valid()) return errno;
    ends.child_end = ends.owned_child_end.get();
  } else if (std::holds_alternative<Pipe>(choice)) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return errno;
    const int child = target == 0 ? fds[0] : fds[1];
    const int parent = target == 0 ? fds[1] : fds[0];
    ends.owned_child_end.reset(child);
    ends.child_end = child;
    ends.parent_end.reset(parent);
  } else {
    ends.child_end = std::get<Descriptor>(choice).fd.get();
    if (ends.child_end < 0) return EBADF;
  }
  return 0;
}

[[noreturn]] void child_fail(int error_fd, int err) {
  while (::write(error_fd, &err, sizeof err) < 0 && errno == EINTR) {
  }
  ::_exit(127);
}

bool keep_searching(int err) {
  return err == ENOENT || err == ENOTDIR || err == ESTALE || err == ENODEV || err == ETIMEDOUT;
}

// The child's side, from the fork to the exec. Only system calls and the hooks.
[[noreturn]] void run_child(const ProcessCommand& command, const std::array<int, 3>& child_ends,
                            int error_fd, const std::vector<std::string>& candidates,
                            char* const* argv, char* const* envp) {
  // Our ends are all above 2 (descriptors 0-2 are open from start-up on), so no dup2 below
  // overwrites a source that a later one still needs.
  for (int target = 0; target < 3; ++target) {
    const int fd = child_ends[static_cast<std::size_t>(target)];
    if (fd == target) {
      if (::fcntl(fd, F_SETFD, 0) != 0) child_fail(error_fd, errno);
      continue;
    }
    while (::dup2(fd, target) < 0) {
      if (errno != EINTR) child_fail(error_fd, errno);
    }
  }
  if (command.working_directory && ::chdir(command.working_directory->c_str()) != 0) {
    child_fail(error_fd, errno);
  }
  struct sigaction dfl;
  memset(&dfl, 0, sizeof dfl);
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  ::sigaction(SIGPIPE, &dfl, nullptr);
  for (const PreExecHook& hook : command.pre_exec_hooks) {
    if (const int err = hook()) child_fail(error_fd, err);
  }
  int err = ENOENT;
  bool denied = false;
  for (const std::string& path : candidates) {
    ::execve(path.c_str(), argv, envp);
    err = errno;
    if (err == EACCES) {
      denied = true;
    } else if (!keep_searching(err)) {
      break;
    }
  }
  // Like the shell: a file found but not executable outweighs later misses.
  if (denied && keep_searching(err)) err = EACCES;
  child_fail(error_fd, err);
}

}  // namespace

std::variant<ChildProcess, SpawnError> command_spawn(ProcessCommand& command) {
  std::vector<std::string> env_strings;
  std::vector<char*> envp_storage;
  char* const* envp = environ;
  if (!command.env_overrides.empty()) {
    env_strings = child_environment(command);
    for (std::string& s : env_strings) envp_storage.push_back(s.data());
    envp_storage.push_back(nullptr);
    envp = envp_storage.data();
  }
  std::vector<std::string> arg_strings = command.arguments;
  std::vector<char*> argv;
  for (std::string& s : arg_strings) argv.push_back(s.data());
  argv.push_back(nullptr);
  const std::vector<std::string> candidates = exec_candidates(command);

  std::array<StreamEnds, 3> ends;
  StdioChoice* choices[3] = {&command.stdin_choice, &command.stdout_choice, &command.stderr_choice};
  for (int i = 0; i < 3; ++i) {
    if (const int err = prepare_stream(*choices[i], i, ends[static_cast<std::size_t>(i)])) {
      return SpawnError{err};
    }
  }
  int error_pipe[2];
  if (::pipe2(error_pipe, O_CLOEXEC) != 0) return SpawnError{errno};
  Fd error_read(error_pipe[0]);
  Fd error_write(error_pipe[1]);

  const std::array<int, 3> child_ends = {ends[0].child_end, ends[1].child_end, ends[2].child_end};
  const pid_t pid = ::fork();
  if (pid < 0) return SpawnError{errno};
  if (pid == 0) {
    run_child(command, child_ends, error_write.get(), candidates, argv.data(), envp);
  }
  error_write.reset();
  for (StreamEnds& e : ends) e.owned_child_end.reset();

  // The error pipe closes on a successful exec: no bytes means the program runs.
  int child_err = 0;
  std::size_t got = 0;
  while (got < sizeof child_err) {
    const ssize_t n =
        ::read(error_read.get(), reinterpret_cast<char*>(&child_err) + got, sizeof child_err - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got > 0) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return SpawnError{got == sizeof child_err ? child_err : EIO};
  }
  ChildProcess child;
  child.pid = pid;
  child.stdin_pipe = std::move(ends[0].parent_end);
  child.stdout_pipe = std::move(ends[1].parent_end);
  child.stderr_pipe = std::move(ends[2].parent_end);
  return child;
}

std::optional<std::string> resolve_stdin_data(const std::optional<std::string>& stdin_text,
                                              bool stdin_pipe) {
  if (stdin_text) return stdin_text;
  if (!stdin_pipe) return std::nullopt;
  std::string bytes;
  char buf[65536];
  for (;;) {
    const ssize_t n = base::read_some(0, buf, sizeof buf);
    if (n <= 0) break;  // end of file, or a failure that keeps what came before it
    bytes.append(buf, static_cast<std::size_t>(n));
  }
  if (bytes.empty() || !base::is_valid_utf8(bytes)) return std::nullopt;
  return bytes;
}

}  // namespace tovrel::exec
