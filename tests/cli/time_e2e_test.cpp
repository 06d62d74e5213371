// End-to-end: the Time primitive and the start-up guarantees, through the built binary.

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "support/run.h"

namespace tovrel::test {
namespace {

std::uint64_t realtime_ms() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000 +
         static_cast<std::uint64_t>(ts.tv_nsec) / 1000000;
}

TEST(TimeNow, PrintsBothKeysFromOneReading) {
  const std::uint64_t before = realtime_ms();
  const RunResult r = tovrel({"time", "now"});
  const std::uint64_t after = realtime_ms();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  std::smatch m;
  ASSERT_TRUE(
      std::regex_match(r.out, m, std::regex(R"(\{"timestamp_ms":(\d+),"timestamp_ns":(\d+)\}\n)")))
      << r.out;
  const std::uint64_t ms = std::stoull(m[1]);
  const std::uint64_t ns = std::stoull(m[2]);
  EXPECT_EQ(ms, ns / 1000000);
  EXPECT_GE(ms, before);
  EXPECT_LE(ms, after);
}

TEST(TimeAfter, ZeroAndShortSleeps) {
  // The elapsed time is measured, not echoed: a loaded machine may add a little to a zero
  // sleep, so only its lower bound and its shape are fixed.
  const std::regex shape(R"(\{"elapsed_ms":(\d+)\}\n)");
  const struct {
    const char* ms;
    unsigned long long at_least;
  } cases[] = {{"0", 0}, {"120", 120}};
  for (const auto& c : cases) {
    const RunResult r = tovrel({"time", "after", "--ms", c.ms});
    EXPECT_EQ(r.status, 0) << c.ms;
    EXPECT_EQ(r.err, "") << c.ms;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(r.out, m, shape)) << r.out;
    EXPECT_GE(std::stoull(m[1]), c.at_least) << c.ms;
    EXPECT_LT(std::stoull(m[1]), c.at_least + 1000) << c.ms;
  }
}

// The value of one line of /proc/PID/status ("" when there is no such line).
std::string proc_status_field(pid_t pid, const std::string& name) {
  const std::string text = read_file("/proc/" + std::to_string(pid) + "/status");
  const std::size_t at = text.find("\n" + name + ":");
  if (at == std::string::npos) return "";
  const std::size_t from = text.find_first_not_of(" \t", at + name.size() + 2);
  return text.substr(from, text.find('\n', from) - from);
}

// Whether the process's main thread is blocked in a sleep call: /proc/PID/syscall starts with
// the number of the call it is blocked in ("running" when it is not in one). A process stopped
// inside the sleep still shows the sleep; once continued, the kernel's restart call.
bool in_nanosleep(pid_t pid) {
  const std::string text = read_file("/proc/" + std::to_string(pid) + "/syscall");
  const std::string nr = text.substr(0, text.find(' '));
  return nr == std::to_string(SYS_clock_nanosleep) || nr == std::to_string(SYS_nanosleep);
}

std::uint64_t monotonic_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000 +
         static_cast<std::uint64_t>(ts.tv_nsec) / 1000000;
}

TEST(TimeAfter, IgnoredSignalAndStopDoNotShortenTheSleep) {
  constexpr std::uint64_t kMs = 600;
  int out[2];
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  const std::uint64_t started = monotonic_ms();
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(out[1], 1);
    signal(SIGPIPE, SIG_DFL);  // only the program's own start-up may ignore it
    const std::string ms = std::to_string(kMs);
    execl(TOVREL_BIN, TOVREL_BIN, "time", "after", "--ms", ms.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  // Signals are sent only once the sleep is under way, whatever start-up costs.
  const std::uint64_t give_up = monotonic_ms() + 60'000;
  while (!in_nanosleep(pid) && monotonic_ms() < give_up) sched_yield();
  ASSERT_TRUE(in_nanosleep(pid)) << "the sleep never started";
  const std::uint64_t sigpipe_bit = std::uint64_t{1} << (SIGPIPE - 1);
  EXPECT_NE(std::stoull(proc_status_field(pid, "SigIgn"), nullptr, 16) & sigpipe_bit, 0u);
  kill(pid, SIGPIPE);
  kill(pid, SIGSTOP);
  siginfo_t info{};
  ASSERT_EQ(waitid(P_PID, static_cast<id_t>(pid), &info, WSTOPPED | WEXITED | WNOWAIT), 0);
  EXPECT_EQ(info.si_code, CLD_STOPPED) << "ended before it could be stopped";
  if (info.si_code == CLD_STOPPED) {
    // Stopped inside the sleep, so both signals arrived while it ran.
    EXPECT_TRUE(in_nanosleep(pid)) << "stopped after the sleep had ended";
    kill(pid, SIGCONT);
  }

  std::string text;
  char buf[256];
  ssize_t n;
  while ((n = read(out[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
  close(out[0]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  const std::uint64_t waited = monotonic_ms() - started;
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::smatch m;
  ASSERT_TRUE(std::regex_match(text, m, std::regex(R"(\{"elapsed_ms":(\d+)\}\n)"))) << text;
  EXPECT_GE(std::stoull(m[1]), kMs);
  EXPECT_GE(waited, kMs);
}

// SIGSEGV and SIGBUS sent by another process are not faults of ours: the stack overflow
// handler must not swallow them, and the process ends as their default action would.
TEST(StartUp, FaultSignalsSentFromOutsideEndTheProcess) {
  for (const int sig : {SIGSEGV, SIGBUS}) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      const rlimit no_core{0, 0};
      setrlimit(RLIMIT_CORE, &no_core);
      execl(TOVREL_BIN, TOVREL_BIN, "time", "after", "--ms", "20000", static_cast<char*>(nullptr));
      _exit(127);
    }
    const std::uint64_t give_up = monotonic_ms() + 60'000;
    while (!in_nanosleep(pid) && monotonic_ms() < give_up) sched_yield();
    EXPECT_TRUE(in_nanosleep(pid)) << "the sleep never started";
    kill(pid, sig);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << strsignal(sig) << ": exited " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), sig) << strsignal(sig);
  }
}

// tovrel ignores SIGXFSZ for its own writes; a program it runs gets the default action back, so
// that under a file size limit it dies by the signal as it would when started from a shell.
TEST(StartUp, ChildrenGetTheFileSizeSignalBack) {
  TempDir dir;
  RunOptions o;
  o.cwd = dir.path();
  o.file_size_limit = 1000;
  const RunResult r = run({"exec", "run", "--cmd", "dd", "--arg", "if=/dev/zero", "--arg", "of=f",
                           "--arg", "bs=2000", "--arg", "count=1", "--arg", "status=none"},
                          o);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(
      r.out, m,
      std::regex(
          R"(\{"duration_ms":[\d.]+,"return_code":-1,"stderr":"","stdout":"","success":false\}\n)")))
      << r.out;
  EXPECT_EQ(read_file(dir / "f").size(), 1000u);
}

TEST(StartUp, ClosedStdoutIsReopenedOnDevNull) {
  RunOptions o;
  o.close_stdout = true;
  const RunResult r = run({"time", "now"}, o);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.err, "");
}

TEST(StartUp, StdoutWithoutReaderIsAnInternalFailure) {
  RunOptions o;
  o.stdout_reader_gone = true;
  const RunResult r = run({"time", "now"}, o);
  EXPECT_EQ(r.signal, 0) << "ended by a signal";
  EXPECT_EQ(r.status, 101);
  EXPECT_NE(r.err.find("failed printing to stdout: Broken pipe (os error 32)"), std::string::npos)
      << r.err;
}

}  // namespace
}  // namespace tovrel::test
