// exec spawn, exec kill and exec status, end to end; the descriptors a child receives.

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <sstream>
#include <thread>

#include "helpers.h"

namespace tovrel::exec::testing {
namespace {

// Spawned children outlive the process that started them and are adopted by the nearest
// subreaper. Being that subreaper lets these tests reap them, so that an ended child does
// not linger as a zombie (which exec kill and exec status count as alive).
const bool kSubreaper = prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;

pid_t spawned_pid(const std::string& line) {
  const std::string key = "{\"pid\":";
  if (line.rfind(key, 0) != 0) return -1;
  return static_cast<pid_t>(std::stol(line.substr(key.size())));
}

// Waits up to 10 s for `path` to hold `lines` newline-terminated lines.
std::string wait_for_lines(const std::string& path, std::size_t lines) {
  std::string text;
  for (int i = 0; i < 1000; ++i) {
    text = test::read_file(path);
    std::size_t n = 0;
    for (char c : text) n += c == '\n';
    if (n >= lines) break;
    usleep(10000);
  }
  return text;
}

// Reaps `pid` on a thread of its own once it ends, as a parent would.
std::thread reap_later(pid_t pid) {
  return std::thread([pid] {
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  });
}

TEST(ExecSpawn, OwnSessionAndSharedLogFile) {
  ASSERT_TRUE(kSubreaper);
  test::TempDir dir;
  const std::string log = dir / "log";
  test::write_file(log, "old content that must disappear\n");
  const test::RunResult r =
      exec_cli({"exec", "spawn", "--cmd", "sh", "--arg", "-c", "--arg",
                "read pid comm state ppid pgrp sid rest < /proc/$$/stat; echo \"$pid $pgrp $sid\"; "
                "echo err >&2; echo last",
                "--log", log});
  const pid_t pid = spawned_pid(r.out);
  ASSERT_GT(pid, 0) << r.out;
  EXPECT_EQ(r.out, "{\"pid\":" + std::to_string(pid) + ",\"success\":true}\n");
  EXPECT_EQ(r.status, 0);
  const std::string id = std::to_string(pid);
  EXPECT_EQ(wait_for_lines(log, 3), id + " " + id + " " + id + "\nerr\nlast\n");
  EXPECT_NE(getpgid(pid), getpgrp());
  waitpid(pid, nullptr, 0);
}

TEST(ExecSpawn, LogFileIsCreatedWithTheUmaskApplied) {
  test::TempDir dir;
  const std::string log = dir / "new.log";
  const test::RunResult r = exec_cli({"exec", "spawn", "--cmd", "true", "--log", log});
  const pid_t pid = spawned_pid(r.out);
  ASSERT_GT(pid, 0) << r.out;
  struct stat st;
  ASSERT_EQ(stat(log.c_str(), &st), 0);
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
  waitpid(pid, nullptr, 0);
}

TEST(ExecSpawn, Failures) {
  test::TempDir dir;
  const std::string log = dir / "log";
  test::write_file(log, "stale");
  const test::RunResult missing =
      exec_cli({"exec", "spawn", "--cmd", "/nonexistent/tool", "--log", log});
  EXPECT_EQ(missing.out,
            "{\"error\":\"Failed to spawn: No such file or directory (os error 2)\","
            "\"success\":false}\n");
  EXPECT_EQ(test::read_file(log), "");  // truncated before the start failed
  const test::RunResult no_dir =
      exec_cli({"exec", "spawn", "--cmd", "true", "--log", dir / "missing/log"});
  EXPECT_EQ(no_dir.out,
            "{\"error\":\"Failed to open log file: No such file or directory (os error 2)\","
            "\"success\":false}\n");
  const test::RunResult is_dir = exec_cli({"exec", "spawn", "--cmd", "true", "--log", dir.path()});
  EXPECT_EQ(is_dir.out,
            "{\"error\":\"Failed to open log file: Is a directory (os error 21)\","
            "\"success\":false}\n");
}

TEST(ExecSpawn, StandardStreamsWithoutLogAreTheNullDevice) {
  test::TempDir dir;
  const std::string out = dir / "links";
  const test::RunResult r = exec_cli(
      {"exec", "spawn", "--cmd", "sh", "--arg", "-c", "--arg",
       "a=$(readlink /proc/$$/fd/0); b=$(readlink /proc/$$/fd/1); c=$(readlink /proc/$$/fd/2); "
       "printf '%s\\n' \"$a\" \"$b\" \"$c\" > \"$0\"",
       "--arg", out});
  const pid_t pid = spawned_pid(r.out);
  ASSERT_GT(pid, 0) << r.out;
  EXPECT_EQ(wait_for_lines(out, 3), "/dev/null\n/dev/null\n/dev/null\n");
  waitpid(pid, nullptr, 0);
}

TEST(ExecSpawn, StdinData) {
  test::TempDir dir;
  const std::string log = dir / "log";
  const test::RunResult r = exec_cli({"exec", "spawn", "--cmd", "sh", "--arg", "-c", "--arg",
                                      "cat; echo", "--stdin", "hello", "--log", log});
  const pid_t pid = spawned_pid(r.out);
  ASSERT_GT(pid, 0) << r.out;
  EXPECT_EQ(wait_for_lines(log, 1), "hello\n");
  waitpid(pid, nullptr, 0);

  // More than a default pipe holds, for a child that reads only later: the pipe is grown.
  CliOptions o;
  o.stdin_data = std::string(512 * 1024, 'z');
  const test::RunResult big = exec_cli({"exec", "spawn", "--cmd", "sh", "--arg", "-c", "--arg",
                                        "sleep 1; wc -c", "--stdin-pipe", "--log", log},
                                       o);
  const pid_t big_pid = spawned_pid(big.out);
  ASSERT_GT(big_pid, 0) << big.out;
  EXPECT_EQ(wait_for_lines(log, 1), "524288\n");
  waitpid(big_pid, nullptr, 0);
}

TEST(ExecSpawn, ChildThatNeverReadsDoesNotHoldUsUp) {
  CliOptions o;
  o.stdin_data = std::string(8 << 20, 'z');
  const double start = monotonic_seconds();
  const test::RunResult r =
      exec_cli({"exec", "spawn", "--cmd", "sleep", "--arg", "30", "--stdin-pipe"}, o);
  EXPECT_LT(monotonic_seconds() - start, 10.0);
  const pid_t pid = spawned_pid(r.out);
  ASSERT_GT(pid, 0) << r.out;
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

TEST(ExecKill, ThreeMethods) {
  ASSERT_TRUE(kSubreaper);
  // A process that ends on SIGTERM: gone at the first probe after it was reaped.
  const pid_t polite =
      spawned_pid(exec_cli({"exec", "spawn", "--cmd", "sleep", "--arg", "30"}).out);
  ASSERT_GT(polite, 0);
  std::thread reaper = reap_later(polite);
  const std::string id = std::to_string(polite);
  EXPECT_EQ(exec_cli({"exec", "kill", "--pid", id}).out,
            "{\"method\":\"terminated\",\"pid\":" + id + ",\"success\":true}\n");
  reaper.join();
  // The same id once reaped: nothing to do.
  EXPECT_EQ(exec_cli({"exec", "kill", "--pid", id}).out,
            "{\"method\":\"already_dead\",\"pid\":" + id + ",\"success\":true}\n");
  EXPECT_EQ(exec_cli({"exec", "status", "--pid", id}).out,
            "{\"alive\":false,\"pid\":" + id + "}\n");

  // A process that ignores SIGTERM: killed after the grace period.
  test::TempDir dir;
  const std::string log = dir / "log";
  const pid_t stubborn =
      spawned_pid(exec_cli({"exec", "spawn", "--cmd", "sh", "--arg", "-c", "--arg",
                            "trap '' TERM; echo ready; while :; do sleep 0.1; done", "--log", log})
                      .out);
  ASSERT_GT(stubborn, 0);
  ASSERT_EQ(wait_for_lines(log, 1), "ready\n");  // the trap is in place
  std::thread reaper2 = reap_later(stubborn);
  const std::string id2 = std::to_string(stubborn);
  EXPECT_EQ(exec_cli({"exec", "status", "--pid", id2}).out,
            "{\"alive\":true,\"pid\":" + id2 + "}\n");
  const double start = monotonic_seconds();
  EXPECT_EQ(exec_cli({"exec", "kill", "--pid", id2, "--grace", "0.5"}).out,
            "{\"method\":\"killed\",\"pid\":" + id2 + ",\"success\":true}\n");
  EXPECT_GE(monotonic_seconds() - start, 0.45);
  reaper2.join();
}

TEST(ExecKill, ZombieCountsAsAlive) {
  const pid_t zombie = fork();
  if (zombie == 0) _exit(0);
  usleep(100000);
  const std::string id = std::to_string(zombie);
  EXPECT_EQ(exec_cli({"exec", "status", "--pid", id}).out, "{\"alive\":true,\"pid\":" + id + "}\n");
  EXPECT_EQ(exec_cli({"exec", "kill", "--pid", id, "--grace", "0.2"}).out,
            "{\"method\":\"killed\",\"pid\":" + id + ",\"success\":true}\n");
  waitpid(zombie, nullptr, 0);
}

TEST(ExecKill, IdsThatAreNoProcessIdNeverReachKill) {
  for (const char* id : {"0", "2147483648", "4294967295"}) {
    EXPECT_EQ(exec_cli({"exec", "kill", "--pid", id}).out,
              std::string("{\"error\":\"invalid process id: ") + id +
                  ": must be from 1 to 2147483647\",\"pid\":" + id + ",\"success\":false}\n")
        << id;
    EXPECT_EQ(exec_cli({"exec", "status", "--pid", id}).out,
              std::string("{\"alive\":false,\"pid\":") + id + "}\n")
        << id;
  }
  // Above the system's largest process id: no such process.
  EXPECT_EQ(exec_cli({"exec", "kill", "--pid", "2147483647"}).out,
            "{\"method\":\"already_dead\",\"pid\":2147483647,\"success\":true}\n");
}

// The descriptors a child of ours can hold: 0-2, what this test process itself lets its
// children inherit, and the one `ls` opens to read the directory.
std::string expected_fd_listing() {
  std::set<int> fds = {0, 1, 2};
  DIR* d = opendir("/proc/self/fd");
  const int own = dirfd(d);
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    const int fd = std::atoi(e->d_name);
    if (fd != own && fd > 2 && !(fcntl(fd, F_GETFD) & FD_CLOEXEC)) fds.insert(fd);
  }
  closedir(d);
  int lowest_free = 0;
  while (fds.count(lowest_free)) ++lowest_free;
  fds.insert(lowest_free);
  std::string out;
  for (int fd : fds) out += std::to_string(fd) + "\n";
  return out;
}

TEST(ExecChild, HoldsOnlyItsStandardDescriptorsFromUs) {
  const std::string expected = expected_fd_listing();
  const test::RunResult run = exec_cli({"exec", "run", "--cmd", "sh", "--arg", "-c", "--arg",
                                        "ls /proc/self/fd | sort -n", "--stdin", "data"});
  EXPECT_EQ(without_duration(run.out), run_json(0, "", expected, true));
  const test::RunResult stream = exec_cli(
      {"exec", "stream", "--cmd", "sh", "--arg", "-c", "--arg", "ls /proc/self/fd | sort -n"});
  EXPECT_EQ(stream.out, expected);
  test::TempDir dir;
  const test::RunResult spawn =
      exec_cli({"exec", "spawn", "--cmd", "sh", "--arg", "-c", "--arg",
                "ls /proc/self/fd | sort -n", "--log", dir / "log", "--stdin", "x"});
  const pid_t pid = spawned_pid(spawn.out);
  ASSERT_GT(pid, 0) << spawn.out;
  waitpid(pid, nullptr, 0);
  EXPECT_EQ(test::read_file(dir / "log"), expected);
}

}  // namespace
}  // namespace tovrel::exec::testing
