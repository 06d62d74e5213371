// exec spawn, exec kill and exec status, end to end; the descriptors a child receives.

#include <dirent.h>
#include <fcntl.h>
#include <linux/sched.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <future>
#include <set>
#include <sstream>

#include "gate.h"
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

// Waits for a spawned child to end and reaps it: ours once exec spawn has exited, as we are
// the subreaper. Its log is complete then. False when it is not our child.
bool reap(pid_t pid) {
  int status;
  pid_t got;
  while ((got = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  return got == pid;
}

// Reaps `pid` on a thread of its own once it ends, as a parent would; gives its wait status.
std::future<int> reap_later(pid_t pid) {
  return std::async(std::launch::async, [pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
  });
}

// "ended by KILL", "exited with 0" and the like, for a wait status.
std::string how_it_ended(int status) {
  if (WIFSIGNALED(status)) return std::string("ended by ") + sigabbrev_np(WTERMSIG(status));
  return "exited with " + std::to_string(WEXITSTATUS(status));
}

TEST(ExecSpawn, OwnSessionAndSharedLogFile) {
  ASSERT_TRUE(kSubreaper);
  test::TempDir dir;
  const std::string log = dir / "log";
  test::write_file(log, "old content that must disappear\n");
  const test::RunResult r = test::run(
      {"exec", "spawn", "--cmd", "sh", "--arg", "-c", "--arg",
       "read pid comm state ppid pgrp sid rest < /proc/$$/stat; echo \"$pid $pgrp $sid\"; "
       "echo err >&2; echo last",
       "--log", log});
  const pid_t pid = spawned_pid(r.out);
  ASSERT_GT(pid, 0) << r.out;
  EXPECT_EQ(r.out, "{\"pid\":" + std::to_string(pid) + ",\"success\":true}\n");
  EXPECT_EQ(r.status, 0);
  const std::string id = std::to_string(pid);
  EXPECT_NE(getpgid(pid), getpgrp());  // before the reap: running or a zombie, it has one
  ASSERT_TRUE(reap(pid));
  EXPECT_EQ(test::read_file(log), id + " " + id + " " + id + "\nerr\nlast\n");
}

TEST(ExecSpawn, LogFileIsCreatedWithTheUmaskApplied) {
  test::TempDir dir;
  const std::string log = dir / "new.log";
  const test::RunResult r = test::run({"exec", "spawn", "--cmd", "true", "--log", log});
  const pid_t pid = spawned_pid(r.out);
  ASSERT_GT(pid, 0) << r.out;
  struct stat st;
  ASSERT_EQ(stat(log.c_str(), &st), 0);
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
  EXPECT_TRUE(reap(pid));
}

TEST(ExecSpawn, Failures) {
  test::TempDir dir;
  const std::string log = dir / "log";
  test::write_file(log, "stale");
  const test::RunResult missing =
      test::run({"exec", "spawn", "--cmd", "/nonexistent/tool", "--log", log});
  EXPECT_EQ(missing.out,
            "{\"error\":\"Failed to spawn: No such file or directory (os error 2)\","
            "\"success\":false}\n");
  EXPECT_EQ(test::read_file(log), "");  // truncated before the start failed
  const test::RunResult no_dir =
      test::run({"exec", "spawn", "--cmd", "true", "--log", dir / "missing/log"});
  EXPECT_EQ(no_dir.out,
            "{\"error\":\"Failed to open log file: No such file or directory (os error 2)\","
            "\"success\":false}\n");
  const test::RunResult is_dir = test::run({"exec", "spawn", "--cmd", "true", "--log", dir.path()});
  EXPECT_EQ(is_dir.out,
            "{\"error\":\"Failed to open log file: Is a directory (os error 21)\","
            "\"success\":false}\n");
}

TEST(ExecSpawn, StandardStreamsWithoutLogAreTheNullDevice) {
  test::TempDir dir;
  const std::string out = dir / "links";
  const test::RunResult r = test::run(
      {"exec", "spawn", "--cmd", "sh", "--arg", "-c", "--arg",
       "a=$(readlink /proc/$$/fd/0); b=$(readlink /proc/$$/fd/1); c=$(readlink /proc/$$/fd/2); "
       "printf '%s\\n' \"$a\" \"$b\" \"$c\" > \"$0\"",
       "--arg", out});
  const pid_t pid = spawned_pid(r.out);
  ASSERT_GT(pid, 0) << r.out;
  ASSERT_TRUE(reap(pid));
  EXPECT_EQ(test::read_file(out), "/dev/null\n/dev/null\n/dev/null\n");
}

TEST(ExecSpawn, StdinData) {
  test::TempDir dir;
  const std::string log = dir / "log";
  const test::RunResult r = test::run({"exec", "spawn", "--cmd", "sh", "--arg", "-c", "--arg",
                                       "cat; echo", "--stdin", "hello", "--log", log});
  const pid_t pid = spawned_pid(r.out);
  ASSERT_GT(pid, 0) << r.out;
  ASSERT_TRUE(reap(pid));
  EXPECT_EQ(test::read_file(log), "hello\n");

  // Far more than a pipe holds, for a child that starts reading only once exec spawn has
  // exited (the gate opens after that): the whole text still reaches it.
  Gate gate;
  test::RunOptions o;
  o.stdin_data = std::string(3'000'000, 'z');
  const test::RunResult big =
      test::run({"exec", "spawn", "--cmd", "sh", "--arg", "-c", "--arg", "read x < \"$0\"; wc -c",
                 "--arg", gate.path(), "--stdin-pipe", "--log", log},
                o);
  const pid_t big_pid = spawned_pid(big.out);
  ASSERT_GT(big_pid, 0) << big.out;
  gate.open();
  ASSERT_TRUE(reap(big_pid));  // wc has seen end of file and written its count
  EXPECT_EQ(test::read_file(log), "3000000\n");
}

// The pids of our children, ended or not: those of every thread of this process.
std::set<pid_t> our_children() {
  std::set<pid_t> pids;
  DIR* tasks = opendir("/proc/self/task");
  while (dirent* t = readdir(tasks)) {
    if (t->d_name[0] == '.') continue;
    const std::string task = std::string("/proc/self/task/") + t->d_name;
    std::istringstream in(test::read_file(task + "/children"));
    for (pid_t pid; in >> pid;) pids.insert(pid);
  }
  closedir(tasks);
  return pids;
}

TEST(ExecSpawn, ChildThatNeverReadsHoldsNothingUp) {
  // The child reads only the gate, never its standard input, and the gate opens only once
  // exec spawn has exited: had it waited for the child, it would never have. The writer that
  // carries the rest of the input then meets a pipe without reader and must end too; as the
  // subreaper we see whatever exec spawn left running.
  ASSERT_TRUE(kSubreaper);
  const std::set<pid_t> before = our_children();
  Gate gate;
  test::RunOptions o;
  o.stdin_data = std::string(8 << 20, 'z');
  const test::RunResult r =
      test::run({"exec", "spawn", "--cmd", "cat", "--arg", gate.path(), "--stdin-pipe"}, o);
  const pid_t pid = spawned_pid(r.out);
  ASSERT_GT(pid, 0) << r.out;
  gate.open();
  EXPECT_TRUE(reap(pid));
  for (const pid_t left : our_children()) {
    if (before.count(left)) continue;
    // A pidfd is readable once its process has ended.
    pollfd p{static_cast<int>(syscall(SYS_pidfd_open, left, 0)), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 30000), 1) << "process " << left << " of ours is still running";
    close(p.fd);
    waitpid(left, nullptr, 0);
  }
}

TEST(ExecKill, ThreeMethods) {
  ASSERT_TRUE(kSubreaper);
  // A process that ends on SIGTERM: gone at the first probe after it was reaped.
  const pid_t polite =
      spawned_pid(test::run({"exec", "spawn", "--cmd", "sleep", "--arg", "30"}).out);
  ASSERT_GT(polite, 0);
  std::future<int> reaper = reap_later(polite);
  const std::string id = std::to_string(polite);
  EXPECT_EQ(test::run({"exec", "kill", "--pid", id}).out,
            "{\"method\":\"terminated\",\"pid\":" + id + ",\"success\":true}\n");
  EXPECT_EQ(how_it_ended(reaper.get()), "ended by TERM");
  // The same id once reaped: nothing to do.
  EXPECT_EQ(test::run({"exec", "kill", "--pid", id}).out,
            "{\"method\":\"already_dead\",\"pid\":" + id + ",\"success\":true}\n");
  EXPECT_EQ(test::run({"exec", "status", "--pid", id}).out,
            "{\"alive\":false,\"pid\":" + id + "}\n");

  // A process that ignores SIGTERM: killed after the grace period. It reaches the gate only
  // once SIGTERM is ignored, and exec keeps it ignored: past the gate, SIGTERM cannot end it.
  Gate gate;
  const pid_t stubborn =
      spawned_pid(test::run({"exec", "spawn", "--cmd", "sh", "--arg", "-c", "--arg",
                             "trap '' TERM; read x < \"$0\"; exec sleep 30", "--arg", gate.path()})
                      .out);
  ASSERT_GT(stubborn, 0);
  gate.open();
  std::future<int> reaper2 = reap_later(stubborn);
  const std::string id2 = std::to_string(stubborn);
  EXPECT_EQ(test::run({"exec", "status", "--pid", id2}).out,
            "{\"alive\":true,\"pid\":" + id2 + "}\n");
  const double start = monotonic_seconds();
  EXPECT_EQ(test::run({"exec", "kill", "--pid", id2, "--grace", "0.5"}).out,
            "{\"method\":\"killed\",\"pid\":" + id2 + ",\"success\":true}\n");
  EXPECT_GE(monotonic_seconds() - start, 0.45);
  EXPECT_EQ(how_it_ended(reaper2.get()), "ended by KILL");
}

TEST(ExecKill, ZombieCountsAsAlive) {
  const pid_t zombie = fork();
  if (zombie == 0) _exit(0);
  // Returns once the child has ended, and leaves it unreaped: a zombie from here on.
  siginfo_t info;
  int waited;
  while ((waited = waitid(P_PID, static_cast<id_t>(zombie), &info, WEXITED | WNOWAIT)) < 0 &&
         errno == EINTR) {
  }
  ASSERT_EQ(waited, 0);
  const std::string id = std::to_string(zombie);
  EXPECT_EQ(test::run({"exec", "status", "--pid", id}).out,
            "{\"alive\":true,\"pid\":" + id + "}\n");
  EXPECT_EQ(test::run({"exec", "kill", "--pid", id, "--grace", "0.2"}).out,
            "{\"method\":\"killed\",\"pid\":" + id + ",\"success\":true}\n");
  waitpid(zombie, nullptr, 0);
}

TEST(ExecKill, IdsThatAreNoProcessIdNeverReachKill) {
  for (const char* id : {"0", "2147483648", "4294967295"}) {
    EXPECT_EQ(test::run({"exec", "kill", "--pid", id}).out,
              std::string("{\"error\":\"invalid process id: ") + id +
                  ": must be from 1 to 2147483647\",\"pid\":" + id + ",\"success\":false}\n")
        << id;
    EXPECT_EQ(test::run({"exec", "status", "--pid", id}).out,
              std::string("{\"alive\":false,\"pid\":") + id + "}\n")
        << id;
  }
  // Above the system's largest process id: no such process.
  EXPECT_EQ(test::run({"exec", "kill", "--pid", "2147483647"}).out,
            "{\"method\":\"already_dead\",\"pid\":2147483647,\"success\":true}\n");
}

// A child of this test process that waits for a signal, ready once it ignores SIGTERM where
// it is asked to; or one that has ended and been reaped ("gone") or not ("zombie").
enum class Kind { EndsOnTerm, IgnoresTerm, Gone, Zombie };

pid_t start_child(Kind kind) {
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    if (kind == Kind::Gone || kind == Kind::Zombie) _exit(0);
    if (kind == Kind::IgnoresTerm) signal(SIGTERM, SIG_IGN);
    (void)!write(ready[1], "x", 1);
    for (;;) syscall(SYS_pause);
  }
  close(ready[1]);
  char c;
  while (read(ready[0], &c, 1) < 0 && errno == EINTR) {
  }
  close(ready[0]);
  if (kind == Kind::Gone) waitpid(pid, nullptr, 0);
  if (kind == Kind::Zombie) {
    siginfo_t info;  // returns once it has ended, and leaves it unreaped
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
  }
  return pid;
}

// The same results whether the process is pinned by a pidfd or signalled by its bare id.
TEST(ExecKill, ResultsWithAndWithoutPidfds) {
  const struct {
    const char* name;
    std::vector<std::string> refuse;
  } systems[] = {
      {"pidfds", {}},
      {"no pidfd_open", {"pidfd_open:ENOSYS"}},
      {"no pidfd_send_signal", {"pidfd_send_signal:ENOSYS"}},
  };
  const struct {
    const char* name;
    Kind kind;
    const char* method;
    const char* ended;  // how_it_ended, for a process that was running
    bool as_other_user = false;
  } cases[] = {
      {"ends on TERM", Kind::EndsOnTerm, "terminated", "ended by TERM"},
      {"ignores TERM", Kind::IgnoresTerm, "killed", "ended by KILL"},
      {"gone", Kind::Gone, "already_dead", ""},
      {"zombie", Kind::Zombie, "killed", ""},
      // May not be signalled: counts as gone, and nothing is sent.
      {"another user's", Kind::EndsOnTerm, "already_dead", "", true},
  };
  for (const auto& system : systems) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(system.name) + ", " + c.name);
      if (c.as_other_user && !test::other_user()) continue;  // root only
      const pid_t pid = start_child(c.kind);
      ASSERT_GT(pid, 0);
      std::future<int> reaper;
      if (*c.ended) reaper = reap_later(pid);
      const std::string id = std::to_string(pid);
      test::RunOptions o;
      o.refuse = system.refuse;
      if (c.as_other_user) o.uid = test::other_user();
      const double start = monotonic_seconds();
      const test::RunResult r = test::run({"exec", "kill", "--pid", id, "--grace", "0.3"}, o);
      EXPECT_EQ(r.out, std::string("{\"method\":\"") + c.method + "\",\"pid\":" + id +
                           ",\"success\":true}\n");
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.status, 0);
      if (c.kind == Kind::IgnoresTerm) {
        EXPECT_GE(monotonic_seconds() - start, 0.25);
      }
      if (*c.ended) {
        EXPECT_EQ(how_it_ended(reaper.get()), c.ended);
      } else if (c.kind == Kind::Zombie) {
        waitpid(pid, nullptr, 0);
      } else if (c.as_other_user) {
        int status = 0;
        EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << "it has ended";
        kill(pid, SIGTERM);
        waitpid(pid, &status, 0);
      }
    }
  }
}

// clone3 with the process id the new process must have (needs CAP_SYS_ADMIN); the new
// process waits for a signal. Its id, or -1 with errno.
pid_t start_with_id(pid_t id) {
  clone_args args{};
  args.exit_signal = SIGCHLD;
  args.set_tid = reinterpret_cast<std::uintptr_t>(&id);
  args.set_tid_size = 1;
  const long pid = syscall(SYS_clone3, &args, sizeof args);
  if (pid == 0) {
    for (;;) syscall(SYS_pause);
  }
  return static_cast<pid_t>(pid);
}

// A process that ends on SIGTERM during the grace and whose id is at once given to another:
// that other process is none of exec kill's business and must not get its SIGKILL.
TEST(ExecKill, AReusedIdNeverGetsTheSignals) {
  if (getuid() != 0) GTEST_SKIP() << "choosing a process id takes root";
  const pid_t first = start_child(Kind::EndsOnTerm);
  ASSERT_GT(first, 0);
  // Reaps the first process as soon as SIGTERM has ended it and starts the second with its id.
  std::future<pid_t> second = std::async(std::launch::async, [first] {
    int status = 0;
    while (waitpid(first, &status, 0) < 0 && errno == EINTR) {
    }
    return start_with_id(first);
  });
  const std::string id = std::to_string(first);
  const test::RunResult r = test::run({"exec", "kill", "--pid", id, "--grace", "1"});
  const pid_t reused = second.get();
  if (reused < 0 && (errno == ENOSYS || errno == EEXIST)) {
    GTEST_SKIP() << "no second process with the same id: " << strerror(errno);
  }
  ASSERT_EQ(reused, first) << strerror(errno);
  EXPECT_EQ(r.out, "{\"method\":\"terminated\",\"pid\":" + id + ",\"success\":true}\n");
  int status = 0;
  EXPECT_EQ(waitpid(reused, &status, WNOHANG), 0) << "the second process has ended";
  kill(reused, SIGKILL);
  waitpid(reused, &status, 0);
  EXPECT_EQ(how_it_ended(status), "ended by KILL");
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
  const test::RunResult run = test::run({"exec", "run", "--cmd", "sh", "--arg", "-c", "--arg",
                                         "ls /proc/self/fd | sort -n", "--stdin", "data"});
  EXPECT_EQ(without_duration(run.out), run_json(0, "", expected, true));
  const test::RunResult stream = test::run(
      {"exec", "stream", "--cmd", "sh", "--arg", "-c", "--arg", "ls /proc/self/fd | sort -n"});
  EXPECT_EQ(stream.out, expected);
  test::TempDir dir;
  const test::RunResult spawn =
      test::run({"exec", "spawn", "--cmd", "sh", "--arg", "-c", "--arg",
                 "ls /proc/self/fd | sort -n", "--log", dir / "log", "--stdin", "x"});
  const pid_t pid = spawned_pid(spawn.out);
  ASSERT_GT(pid, 0) << spawn.out;
  ASSERT_TRUE(reap(pid));
  EXPECT_EQ(test::read_file(dir / "log"), expected);
}

}  // namespace
}  // namespace tovrel::exec::testing
