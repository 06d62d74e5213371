// command_spawn: the start of a child by vfork. The child shares our memory and we stay
// suspended until it has executed its program (or given up), so nothing of our address space
// is copied: a fork copies every page table and then pays a fault for each page either side
// writes. The price is what the child may do before its exec: it runs on our memory, so it
// calls the system directly (no wrapper of the C library or of a sanitizer keeps state for
// it), allocates nothing and lets no signal handler of ours run. A failure on its side comes
// back through a close-on-exec pipe, which also holds where a sanitizer turns vfork into fork.

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdint>

#include "base/sys.h"
#include "exec/process.h"

extern char** environ;

namespace tovrel::exec {

namespace {

// Signals 1 to 64, as the kernel numbers them; its signal sets are 8 bytes.
constexpr int kSignalCount = 64;
constexpr std::size_t kKernelSigsetSize = 8;

// The kernel's struct sigaction on x86-64.
struct KernelSigaction {
  std::uintptr_t handler;  // 0 is SIG_DFL, 1 is SIG_IGN
  unsigned long flags;
  std::uintptr_t restorer;
  std::uint64_t mask;
};

// Everything the child needs, made before the vfork.
struct ChildPlan {
  std::array<int, 3> stdio;
  const char* working_directory;
  const std::vector<PreExecHook>* hooks;
  std::vector<const char*> candidates;  // the paths to try, in order
  char* const* argv;
  char* const* envp;
  sigset_t mask;   // ours, given back to the child just before its exec
  int error_pipe;  // where the child writes the errno of a start that failed
};

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
  Fd owned_child_end;  // ours to close after the start (/dev/null, the pipe's child end)
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

bool keep_searching(int err) {
  return err == ENOENT || err == ENOTDIR || err == ESTALE || err == ENODEV || err == ETIMEDOUT;
}

long sys_call(long number, auto... args) {
  return base::retry_on_eintr([&] { return ::syscall(number, args...); });
}

// The child's side, from the vfork to the exec; returns only when the start failed, with its
// errno value.
int child_steps(const ChildPlan& plan) {
  // Our ends are all above 2 (descriptors 0-2 are open from start-up on), so no dup2 below
  // overwrites a source that a later one still needs.
  for (int target = 0; target < 3; ++target) {
    const int fd = plan.stdio[static_cast<std::size_t>(target)];
    const long r =
        fd == target ? sys_call(SYS_fcntl, fd, F_SETFD, 0) : sys_call(SYS_dup2, fd, target);
    if (r < 0) return errno;
  }
  if (plan.working_directory && sys_call(SYS_chdir, plan.working_directory) != 0) return errno;
  // A handler of ours would run on our memory: every handled signal goes back to its default
  // action, and so do SIGPIPE and SIGXFSZ, which we ignore and the program must not inherit
  // ignored.
  for (int sig = 1; sig <= kSignalCount; ++sig) {
    if (sig == SIGKILL || sig == SIGSTOP) continue;
    KernelSigaction old{};
    if (sys_call(SYS_rt_sigaction, sig, nullptr, &old, kKernelSigsetSize) != 0) continue;
    if (old.handler > 1 || sig == SIGPIPE || sig == SIGXFSZ) {
      const KernelSigaction dfl{};
      sys_call(SYS_rt_sigaction, sig, &dfl, nullptr, kKernelSigsetSize);
    }
  }
  for (const PreExecHook hook : *plan.hooks) {
    if (const int err = hook()) return err;
  }
  sys_call(SYS_rt_sigprocmask, SIG_SETMASK, &plan.mask, nullptr, kKernelSigsetSize);
  int err = ENOENT;
  bool denied = false;
  for (const char* path : plan.candidates) {
    sys_call(SYS_execve, path, plan.argv, plan.envp);
    err = errno;
    if (err == EACCES) {
      denied = true;
    } else if (!keep_searching(err)) {
      break;
    }
  }
  // Like the shell: a file found but not executable outweighs later misses.
  if (denied && keep_searching(err)) err = EACCES;
  return err;
}

// The child: its steps, and on failure their errno through the error pipe. Never returns.
[[noreturn]] void child_main(const ChildPlan& plan) {
  const int err = child_steps(plan);
  sys_call(SYS_write, plan.error_pipe, &err, sizeof err);
  ::syscall(SYS_exit_group, 127);
  __builtin_unreachable();
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

  ChildPlan plan;
  plan.stdio = {ends[0].child_end, ends[1].child_end, ends[2].child_end};
  plan.working_directory = command.working_directory ? command.working_directory->c_str() : nullptr;
  plan.hooks = &command.pre_exec_hooks;
  for (const std::string& c : candidates) plan.candidates.push_back(c.c_str());
  plan.argv = argv.data();
  plan.envp = envp;

  int error_pipe[2];
  if (::pipe2(error_pipe, O_CLOEXEC) != 0) return SpawnError{errno};
  const Fd error_read(error_pipe[0]);
  Fd error_write(error_pipe[1]);
  plan.error_pipe = error_write.get();

  // Every signal stays blocked in the child until its handlers are reset.
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &plan.mask);
  const pid_t pid = ::vfork();
  if (pid == 0) child_main(plan);
  const int vfork_error = errno;
  pthread_sigmask(SIG_SETMASK, &plan.mask, nullptr);
  if (pid < 0) return SpawnError{vfork_error};
  error_write.reset();
  for (StreamEnds& e : ends) e.owned_child_end.reset();

  // The pipe closes on a successful exec: no bytes means the program runs.
  int child_error = 0;
  const ssize_t got = base::retry_on_eintr(
      [&] { return ::read(error_read.get(), &child_error, sizeof child_error); });
  if (got > 0) {
    int status = 0;
    (void)base::retry_on_eintr([&] { return ::waitpid(pid, &status, 0); });
    return SpawnError{got == sizeof child_error ? child_error : EIO};
  }
  ChildProcess child;
  child.pid = pid;
  // Where the system has them: a descriptor that becomes readable when the child ends.
  child.pidfd = base::pidfd_open(pid);
  child.stdin_pipe = std::move(ends[0].parent_end);
  child.stdout_pipe = std::move(ends[1].parent_end);
  child.stderr_pipe = std::move(ends[2].parent_end);
  return child;
}

}  // namespace tovrel::exec
