// A TERM, INT or HUP sent to tovrel alone while it runs a child: the child never outlives it.
// The signal is passed on; a child that does not end on it is killed after a grace of a
// second; then tovrel ends by that same signal.

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "helpers.h"

namespace tovrel::exec::testing {
namespace {

using test::TempDir;

// Starts tovrel with `args`, with TERM, INT and HUP at their defaults and unblocked (as a
// caller's shell would start it in the foreground). Without `terminal` it is a process of the
// test's group and its standard streams are the null device; with one, it leads a session of
// its own whose terminal (and standard streams) is the pseudo-terminal `terminal` is the other
// side of.
pid_t start_tovrel(const std::vector<std::string>& args, int terminal = -1) {
  const std::string tty = terminal >= 0 ? ptsname(terminal) : "/dev/null";
  std::vector<std::string> strings{TOVREL_BIN};
  strings.insert(strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : strings) argv.push_back(s.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (terminal >= 0) setsid();
    const int fd = open(tty.c_str(), O_RDWR);  // a session leader's first terminal is its own
    for (int target = 0; target < 3; ++target) dup2(fd, target);
    if (fd > 2) close(fd);
    execv(TOVREL_BIN, argv.data());
    _exit(127);
  }
  return pid;
}

// The wait status of `pid`.
int wait_status(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// The pid the child writes into the named pipe at `path`, read once it has written it.
pid_t read_pid(const std::string& path) {
  std::ifstream in(path);
  long pid = 0;
  in >> pid;
  return static_cast<pid_t>(pid);
}

bool gone(pid_t pid) { return kill(pid, 0) != 0 && errno == ESRCH; }

TEST(ExecSignals, TheChildNeverOutlivesTovrel) {
  const struct {
    const char* command;
    int sig;
    bool child_ignores;
  } cases[] = {
      {"run", SIGTERM, false},    {"run", SIGINT, false},    {"run", SIGHUP, false},
      {"run", SIGTERM, true},     {"run", SIGINT, true},     {"run", SIGHUP, true},
      {"stream", SIGTERM, false}, {"stream", SIGINT, false}, {"stream", SIGHUP, false},
      {"stream", SIGTERM, true},  {"stream", SIGINT, true},  {"stream", SIGHUP, true},
  };
  TempDir dir;
  struct Started {
    pid_t tovrel;
    pid_t child;
  };
  std::vector<Started> started;
  // All at once, so that the graces of the children that linger run side by side.
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const std::string fifo = dir / ("pid" + std::to_string(i));
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string ignore = cases[i].child_ignores ? "trap '' TERM INT HUP; " : "";
    started.push_back(
        {start_tovrel({"exec", cases[i].command, "--cmd", "sh", "--arg", "-c", "--arg",
                       ignore + "echo $$ > \"$0\"; exec sleep 60", "--arg", fifo}),
         0});
  }
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    started[i].child = read_pid(dir / ("pid" + std::to_string(i)));
    ASSERT_GT(started[i].child, 0);
    ASSERT_EQ(kill(started[i].tovrel, cases[i].sig), 0);
  }
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    const std::string label = std::string(c.command) + " " + strsignal(c.sig) +
                              (c.child_ignores ? ", the child ignores it" : "");
    const int status = wait_status(started[i].tovrel);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.sig) << label << ": status " << status;
    // Reaped by tovrel before it ended: not even a zombie is left.
    EXPECT_TRUE(gone(started[i].child)) << label;
  }
}

TEST(ExecSignals, WhatTheKernelSentIsNotPassedOn) {
  // tovrel leads a session whose terminal sends it SIGINT on a ^C; its child is put in a
  // session of its own (setsid keeps its pid), so that an INT it gets can only be one that
  // tovrel passed on. It notes each and goes on: only the kill after the grace ends it.
  const std::string script =
      "trap 'echo INT >> \"$0.log\"' INT; echo $$ > \"$0\"; while :; do sleep 0.05; done";
  for (const bool from_terminal : {true, false}) {
    const char* label = from_terminal ? "^C on the terminal" : "kill -INT";
    TempDir dir;
    const std::string fifo = dir / "pid";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) {
      GTEST_SKIP() << "no pseudo-terminal: " << strerror(errno);
    }
    const pid_t tovrel = start_tovrel({"exec", "run", "--cmd", "setsid", "--arg", "sh", "--arg",
                                       "-c", "--arg", script, "--arg", fifo},
                                      terminal);
    const pid_t child = read_pid(fifo);
    ASSERT_GT(child, 0) << label;
    if (from_terminal) {
      ASSERT_EQ(write(terminal, "\x03", 1), 1) << label;
    } else {
      ASSERT_EQ(kill(tovrel, SIGINT), 0) << label;
    }
    const int status = wait_status(tovrel);
    close(terminal);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << label << ": " << status;
    EXPECT_TRUE(gone(child)) << label;
    const std::string log =
        access((fifo + ".log").c_str(), F_OK) == 0 ? test::read_file(fifo + ".log") : std::string();
    EXPECT_EQ(log, from_terminal ? "" : "INT\n") << label;
  }
}

}  // namespace
}  // namespace tovrel::exec::testing
