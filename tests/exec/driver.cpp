#include "driver.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace tovrel::exec::testing {

AsyncRun start_exec_cli(const std::vector<std::string>& args) {
  int out[2];
  if (pipe2(out, O_CLOEXEC)) throw std::runtime_error("pipe");
  std::vector<std::string> argv_strings = {TOVREL_BIN};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_strings) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    dup2(null, 0);
    dup2(out[1], 1);
    dup2(null, 2);
    execv(TOVREL_BIN, argv.data());
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

}  // namespace tovrel::exec::testing
