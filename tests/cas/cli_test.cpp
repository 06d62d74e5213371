// The cas commands through the real command line.

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "cas/store.h"
#include "child.h"
#include "support/run.h"

namespace tovrel::cas {
namespace {

using tovrel::test::RunResult;
using tovrel::test::TempDir;
using tovrel::test::tovrel;

constexpr char kDigest[] = "51705a2c9eb3e7e410a58f696a770c3ac3885a0cf43eb7fc88f5e47c11d4d30d";

TEST(CasCli, StoreFetchVerifyHas) {
  TempDir dir;
  RunResult r = tovrel({"cas", "store", "--root", dir.path()}, "{\"b\":1,\"a\":[true,null]}");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("{\"hash\":\"") + kDigest + "\"}\n");
  EXPECT_EQ(r.err, "");

  r = tovrel({"cas", "fetch", "--root", dir.path(), "--hash", kDigest});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "{\"a\":[true,null],\"b\":1}");

  r = tovrel({"cas", "verify", "--root=" + dir.path(), "--hash", kDigest});
  EXPECT_EQ(r.out, std::string("{\"hash\":\"") + kDigest + "\",\"valid\":true}\n");

  r = tovrel({"cas", "has", "--root", dir.path(), "--hash", kDigest});
  EXPECT_EQ(r.out, std::string("{\"exists\":true,\"hash\":\"") + kDigest + "\"}\n");

  r = tovrel({"cas", "store", "--root", dir.path(), "--blob"}, "");
  EXPECT_EQ(r.out,
            "{\"hash\":\"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\"}\n");
}

TEST(CasCli, HashCheckAndMissingItems) {
  TempDir dir;
  for (const char* sub : {"fetch", "verify", "has"}) {
    const RunResult r =
        tovrel({"cas", sub, "--root", dir / "none", "--hash", std::string(63, 'a')});
    EXPECT_EQ(r.status, 1) << sub;
    EXPECT_EQ(r.out, "") << sub;
    EXPECT_EQ(r.err, "invalid hash: expected 64 hex chars\n") << sub;
  }
  const RunResult r = tovrel({"cas", "fetch", "--root", dir.path(), "--hash", kDigest, "--blob"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "not found\n");
  const RunResult e = tovrel({"cas", "store", "--root", dir.path()}, "");
  EXPECT_EQ(e.status, 0);
  EXPECT_EQ(e.out, "{\"error\":\"invalid JSON: EOF while parsing a value at line 1 column 0\"}\n");
}

RunResult shell(const std::string& script, const std::vector<std::string>& args = {}) {
  tovrel::test::RunOptions o;
  o.program = "/bin/sh";
  std::vector<std::string> argv = {"-c", script, TOVREL_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  return tovrel::test::run(argv, o);
}

std::string store_blob(const std::string& root, const std::string& bytes) {
  const RunResult s = tovrel({"cas", "store", "--root", root, "--blob"}, bytes);
  EXPECT_EQ(s.status, 0);
  return s.out.substr(9, 64);
}

// A failed write of the fetched bytes is an internal failure; standard output that is not
// open for writing swallows them, as it does every printed result.
TEST(CasCli, FetchReportsFailedWrites) {
  TempDir dir;
  const std::string bytes(1 << 20, 'q');
  const std::string digest = store_blob(dir.path(), bytes);
  const std::string fetch = "exec \"$0\" cas fetch --blob --root \"$1\" --hash \"$2\"";
  const struct {
    const char* name;
    std::string redirect;
    int status;
    std::string err;
  } cases[] = {
      {"full device", " > /dev/full", 101,
       "tovrel: internal error: failed printing to stdout: No space left on device (os error 28)\n"},
      {"read-only descriptor", " 1< /dev/null", 0, ""},
      {"file opened for appending", " >> \"$1/out\"", 0, ""},
  };
  for (const auto& c : cases) {
    const RunResult r = shell(fetch + c.redirect, {dir.path(), digest});
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
    EXPECT_EQ(r.out, "") << c.name;
  }
  EXPECT_EQ(tovrel::test::read_file(dir / "out"), bytes);

  tovrel::test::RunOptions o;
  o.stdout_reader_gone = true;
  const RunResult r =
      tovrel::test::run({"cas", "fetch", "--root", dir.path(), "--hash", digest, "--blob"}, o);
  EXPECT_EQ(r.status, 101);
  EXPECT_EQ(r.err,
            "tovrel: internal error: failed printing to stdout: Broken pipe (os error 32)\n");
}

// A FIFO planted at an item's path would block a plain open forever; each command runs under
// a bounded wait so that the fault, if it came back, fails the test instead of hanging it.
TEST(CasCli, PlantedFifoIsNoItem) {
  TempDir dir;
  const std::string digest(64, 'f');
  const std::string path = dir / ("blobs/ff/ff/" + digest);
  std::filesystem::create_directories(dir / "blobs/ff/ff");
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  tovrel::test::RunOptions o;
  o.timeout_seconds = 20;
  RunResult r =
      tovrel::test::run({"cas", "fetch", "--root", dir.path(), "--hash", digest, "--blob"}, o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "not found\n");
  r = tovrel::test::run({"cas", "verify", "--root", dir.path(), "--hash", digest, "--blob"}, o);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "{\"hash\":\"" + digest + "\",\"valid\":false}\n");
  r = tovrel::test::run({"cas", "has", "--root", dir.path(), "--hash", digest}, o);
  EXPECT_EQ(r.out, "{\"exists\":true,\"hash\":\"" + digest + "\"}\n");
}

double seconds_now() {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// An event-loop caller hands over a pipe it made non-blocking and reads it at its own pace:
// every byte arrives. The test lets the pipe fill up (the writer then meets EAGAIN) before it
// drains it in small reads.
TEST(CasCli, FetchIntoANonBlockingPipeDeliversEverything) {
  TempDir dir;
  std::string bytes(10 << 20, '\0');
  for (std::size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<char>(k % 251);
  const std::string digest = store_blob(dir.path(), bytes);

  int out[2];
  ASSERT_EQ(::pipe2(out, O_CLOEXEC | O_NONBLOCK), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, (dir / "err").c_str(), O_WRONLY | O_CREAT, 0600);
  const std::string bin = TOVREL_BIN;
  std::vector<std::string> args = {bin,      "cas",      "fetch",  "--blob",
                                   "--root", dir.path(), "--hash", digest};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  ASSERT_EQ(::posix_spawn(&pid, bin.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);

  const double deadline = seconds_now() + 60;
  const int capacity = ::fcntl(out[0], F_GETPIPE_SZ);
  int queued = 0;
  while (queued < capacity && seconds_now() < deadline) {
    ::ioctl(out[0], FIONREAD, &queued);
    ::sched_yield();
  }
  EXPECT_EQ(queued, capacity);
  std::string got;
  char buffer[4096];
  while (seconds_now() < deadline) {
    pollfd p{out[0], POLLIN, 0};
    ::poll(&p, 1, 1000);
    const ssize_t n = ::read(out[0], buffer, sizeof buffer);
    if (n == 0) break;
    if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(out[0]);
  if (seconds_now() >= deadline) ::kill(pid, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(tovrel::test::read_file(dir / "err"), "");
  EXPECT_EQ(got.size(), bytes.size());
  EXPECT_TRUE(got == bytes);
}

// Two writers in PID namespaces of their own have the same process id, and so the same
// plain temporary name. Neither may take the other's file: absent items are linked from
// unnamed files, and a torn item is replaced through a name created exclusively.
TEST(CasCli, WritersWithTheSameProcessId) {
  if (::geteuid() != 0) GTEST_SKIP() << "PID namespaces need root";
  tovrel::test::RunOptions probe;
  probe.program = "/usr/bin/unshare";
  if (tovrel::test::run({"--pid", "--fork", "sh", "-c", "echo $$"}, probe).out != "1\n") {
    GTEST_SKIP() << "unshare --pid --fork is not available here";
  }
  TempDir dir;
  const std::string bytes(1 << 20, 'n');
  const std::string digest = sha256_hex(bytes);
  const std::string item =
      "blobs/" + digest.substr(0, 2) + "/" + digest.substr(2, 2) + "/" + digest;
  for (int round = 0; round < 16; ++round) {
    const bool torn = round % 2 == 1;
    if (torn) tovrel::test::write_file(dir / item, "short");
    std::vector<RunResult> results(2);
    std::vector<std::thread> writers;
    for (auto& result : results) {
      writers.emplace_back([&] {
        tovrel::test::RunOptions o;
        o.program = "/usr/bin/unshare";
        o.stdin_data = bytes;
        result = tovrel::test::run(
            {"--pid", "--fork", TOVREL_BIN, "cas", "store", "--root", dir.path(), "--blob"}, o);
      });
    }
    for (auto& w : writers) w.join();
    for (const auto& r : results) {
      EXPECT_EQ(r.status, 0) << "round " << round;
      EXPECT_EQ(r.out, "{\"hash\":\"" + digest + "\"}\n") << "round " << round << ": " << r.err;
    }
    EXPECT_TRUE(tovrel::test::read_file(dir / item) == bytes) << "round " << round;
    EXPECT_EQ(test::files_under(dir.path()), std::vector<std::string>{item}) << "round " << round;
    if (!torn) std::filesystem::remove(dir / item);
  }
}

TEST(CasCli, ManyProcessesStoreAtOnce) {
  TempDir dir;
  std::vector<std::thread> threads;
  std::vector<RunResult> results(24);
  for (int k = 0; k < 24; ++k) {
    threads.emplace_back([&, k] {
      const std::string input = k % 2 ? "{\"same\":true}" : "{\"n\":" + std::to_string(k) + "}";
      results[k] = tovrel({"cas", "store", "--root", dir.path()}, input);
    });
  }
  for (auto& t : threads) t.join();
  for (const auto& r : results) EXPECT_EQ(r.status, 0);
  // One object per distinct value (12 even values and the shared one), nothing else.
  EXPECT_EQ(test::files_under(dir.path()).size(), 13u);
}

}  // namespace
}  // namespace tovrel::cas
