#include "driver.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace tovrel::exec::testing {

namespace {

// The binary's argument vector, built before a fork: the child may not allocate.
struct BinaryArgv {
  explicit BinaryArgv(const std::vector<std::string>& args) : strings{TOVREL_BIN} {
    strings.insert(strings.end(), args.begin(), args.end());
    for (auto& a : strings) pointers.push_back(a.data());
    pointers.push_back(nullptr);
  }
  std::vector<std::string> strings;
  std::vector<char*> pointers;
};

}  // namespace

AsyncRun start_exec_cli(const std::vector<std::string>& args) {
  int out[2];
  if (pipe2(out, O_CLOEXEC)) throw std::runtime_error("pipe");
  BinaryArgv argv(args);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    dup2(null, 0);
    dup2(out[1], 1);
    dup2(null, 2);
    execv(TOVREL_BIN, argv.pointers.data());
    _exit(127);
  }
  close(out[1]);
  return AsyncRun{pid, out[0]};
}

int wait_exec_cli(const AsyncRun& run) {
  close(run.stdout_fd);
  int status = 0;
  while (waitpid(run.pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

namespace {

constexpr int kPipePage = 4096;
// How much of the command's output is taken, and how much input is given, per turn.
constexpr std::size_t kSlowStep = 512;

void make_pipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  fcntl(fds[0], F_SETPIPE_SZ, kPipePage);
}

void set_nonblocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

test::RunResult run_with_nonblocking_pipes(const std::vector<std::string>& args,
                                           const std::optional<std::string>& stdin_data) {
  int in[2], out[2], err[2];
  make_pipe(in);
  make_pipe(out);
  make_pipe(err);
  set_nonblocking(in[0]);
  set_nonblocking(out[1]);
  BinaryArgv argv(args);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(stdin_data ? in[0] : open("/dev/null", O_RDONLY | O_CLOEXEC), 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    execv(TOVREL_BIN, argv.pointers.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (!stdin_data) {
    close(in[1]);
    in[1] = -1;
  }
  test::RunResult result;
  std::string_view to_send = stdin_data ? std::string_view(*stdin_data) : std::string_view();
  char buf[kSlowStep];
  while (out[0] >= 0 || err[0] >= 0) {
    pollfd p[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {in[1], POLLOUT, 0}};
    if (poll(p, 3, -1) < 0 && errno != EINTR) throw std::runtime_error("poll");
    for (int i = 0; i < 2; ++i) {
      if (!p[i].revents) continue;
      const ssize_t n = read(p[i].fd, buf, sizeof buf);
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(buf, static_cast<std::size_t>(n));
      } else if (n == 0) {
        close(p[i].fd);
        (i == 0 ? out[0] : err[0]) = -1;
      }
    }
    if (p[2].revents) {
      const ssize_t n = write(in[1], to_send.data(), std::min(to_send.size(), kSlowStep));
      if (n > 0) to_send.remove_prefix(static_cast<std::size_t>(n));
      if (n < 0 || to_send.empty()) {
        close(in[1]);
        in[1] = -1;
      }
    }
  }
  if (in[1] >= 0) close(in[1]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return result;
}

}  // namespace tovrel::exec::testing
