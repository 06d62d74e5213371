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
#include "crypto/sha256.h"
#include "support/run.h"

namespace tovrel::cas {
namespace {

using crypto::sha256_hex;
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

std::string store_blob(const std::string& root, const std::string& bytes) {
  const RunResult s = tovrel({"cas", "store", "--root", root, "--blob"}, bytes);
  EXPECT_EQ(s.status, 0);
  return s.out.substr(9, 64);
}

// A failed write of the fetched bytes is an internal failure, except into a pipe whose reader
// has gone: that reader chose to stop. Standard output that is not open for writing swallows
// the bytes, as it does every printed result. Both ways of writing are reached: sendfile, and
// the plain copy where sendfile is refused.
TEST(CasCli, FetchReportsFailedWrites) {
  TempDir dir;
  const std::string bytes(1 << 20, 'q');
  const std::string digest = store_blob(dir.path(), bytes);
  const std::string fetch = "exec \"$0\" cas fetch --blob --root \"$1\" --hash \"$2\"";
  const std::string no_space =
      "tovrel: internal error: failed printing to stdout: No space left on device (os error 28)\n";
  const std::string io_error =
      "tovrel: internal error: failed printing to stdout: Input/output error (os error 5)\n";
  const std::vector<std::string> no_sendfile = {"sendfile:EINVAL"};
  // sendfile failing with EIO would leave the rest to the plain copy, which meets it too.
  const std::vector<std::string> write_fails = {"sendfile:EINVAL", "write/0/0xffffffff/1:EIO"};
  const struct {
    const char* name;
    std::string redirect;  // for the shell; empty: run directly with the options below
    bool reader_gone;
    std::vector<std::string> refuse;
    int status;
    std::string err;
  } cases[] = {
      {"full device", " > /dev/full", false, {}, 101, no_space},
      {"full device, plain copy", " > /dev/full", false, no_sendfile, 101, no_space},
      {"reader gone", "", true, {}, 0, ""},
      {"reader gone, plain copy", "", true, no_sendfile, 0, ""},
      {"I/O error, plain copy", "", false, write_fails, 101, io_error},
      {"read-only descriptor", " 1< /dev/null", false, {}, 0, ""},
      {"file opened for appending", " >> \"$1/out\"", false, {}, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tovrel::test::RunOptions o;
    o.refuse = c.refuse;
    o.stdout_reader_gone = c.reader_gone;
    std::vector<std::string> args = {"cas",    "fetch", "--root", dir.path(),
                                     "--hash", digest,  "--blob"};
    if (!c.redirect.empty()) {
      o.program = "/bin/sh";
      args = {"-c", fetch + c.redirect, TOVREL_BIN, dir.path(), digest};
    }
    const RunResult r = tovrel::test::run(args, o);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err);
    EXPECT_TRUE(c.reader_gone || r.out.empty());
  }
  EXPECT_EQ(tovrel::test::read_file(dir / "out"), bytes);
}

// A folder on the tmpfs of /dev/shm, removed with all it holds on destruction; its path is
// empty where there is none.
class ShmDir {
 public:
  ShmDir() {
    char name[] = "/dev/shm/tovrel-test-XXXXXX";
    if (::mkdtemp(name)) path_ = name;
  }
  ~ShmDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  ShmDir(const ShmDir&) = delete;
  ShmDir& operator=(const ShmDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

dev_t device_of(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_dev : 0;
}

std::string content_of_size(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t k = 0; k < size; ++k) bytes[k] = static_cast<char>((k * 2654435761u) >> 11);
  return bytes;
}

// A store held in memory and one streamed through the kind's folder (over 4 MiB).
const std::size_t kStoreSizes[] = {1000, (5u << 20) + 1};

std::string blob_rel(const std::string& digest) {
  return "blobs/" + digest.substr(0, 2) + "/" + digest.substr(2, 2) + "/" + digest;
}

mode_t file_mode_under_umask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// Where linking the finished temporary file into the item's folder is refused, the store
// copies it into a file beside the item, which takes the name: the same item, the same result.
TEST(CasCli, StoresWhereTheTemporaryCannotBeLinked) {
  const struct {
    const char* name;
    std::vector<std::string> refuse;
  } cases[] = {
      {"linkat refused (EPERM)", {"linkat:EPERM"}},
      {"linkat refused (ENOENT, as without /proc)", {"linkat:ENOENT"}},
      {"no O_TMPFILE", {"openat/2/0x410000/0x410000:EOPNOTSUPP"}},
      {"neither", {"linkat:EPERM", "openat/2/0x410000/0x410000:EOPNOTSUPP"}},
  };
  for (const auto& c : cases) {
    for (const std::size_t size : kStoreSizes) {
      SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(size) + " bytes");
      TempDir dir;
      const std::string bytes = content_of_size(size);
      const std::string digest = sha256_hex(bytes);
      tovrel::test::RunOptions o;
      o.stdin_data = bytes;
      o.refuse = c.refuse;
      const RunResult r = tovrel::test::run({"cas", "store", "--root", dir.path(), "--blob"}, o);
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.out, "{\"hash\":\"" + digest + "\"}\n");
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(test::files_under(dir.path()), std::vector<std::string>{blob_rel(digest)});
      EXPECT_TRUE(tovrel::test::read_file(dir / blob_rel(digest)) == bytes);
      struct stat st;
      ASSERT_EQ(::stat((dir / blob_rel(digest)).c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, file_mode_under_umask());
    }
  }
}

// A fan-out folder may be a mount, or a link to a folder, on another file system than the
// kind's folder, where a streamed store makes its temporary file.
TEST(CasCli, StoresIntoAFanOutFolderOnAnotherFileSystem) {
  TempDir probe;
  ShmDir probe_shm;
  if (probe_shm.path().empty() || device_of(probe_shm.path()) == device_of(probe.path())) {
    GTEST_SKIP() << "needs /dev/shm on another file system than " << probe.path();
  }
  for (const bool named : {false, true}) {
    for (const std::size_t size : kStoreSizes) {
      SCOPED_TRACE(std::string(named ? "named" : "unnamed") + " temporary, " +
                   std::to_string(size) + " bytes");
      TempDir dir;
      ShmDir shm;
      const std::string bytes = content_of_size(size);
      const std::string digest = sha256_hex(bytes);
      std::filesystem::create_directories(dir / "blobs");
      std::filesystem::create_directory_symlink(shm.path(), dir / ("blobs/" + digest.substr(0, 2)));
      tovrel::test::RunOptions o;
      o.stdin_data = bytes;
      if (named) o.refuse = {"openat/2/0x410000/0x410000:EOPNOTSUPP"};
      const RunResult r = tovrel::test::run({"cas", "store", "--root", dir.path(), "--blob"}, o);
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.out, "{\"hash\":\"" + digest + "\"}\n");
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(test::files_under(shm.path()),
                std::vector<std::string>{digest.substr(2, 2) + "/" + digest});
      EXPECT_EQ(test::files_under(dir.path()), std::vector<std::string>{});
      EXPECT_TRUE(tovrel::test::read_file(dir / blob_rel(digest)) == bytes);
    }
  }
}

// A shared store may let a user write the fan-out folders but not the kind's folder above
// them. A streamed store then keeps the bytes in a nameless scratch file in /tmp until their digest
// names the folder: the same item, and nothing left behind.
TEST(CasCli, StoresWhereOnlyTheFanOutFolderMayBeWritten) {
  const std::optional<unsigned> user = tovrel::test::other_user();
  for (const bool named : {false, true}) {
    for (const std::size_t size : kStoreSizes) {
      SCOPED_TRACE(std::string(named ? "named" : "unnamed") + " temporary, " +
                   std::to_string(size) + " bytes");
      TempDir dir;
      const std::string bytes = content_of_size(size);
      const std::string digest = sha256_hex(bytes);
      const std::string root = dir / "store";
      const std::string folder = root + "/blobs/" + digest.substr(0, 2) + "/" + digest.substr(2, 2);
      std::filesystem::create_directories(folder);
      ::chmod(dir.path().c_str(), 0755);
      ::chmod(folder.c_str(), 0777);
      // Not even its owner may write it when the tests do not run as root.
      ::chmod((root + "/blobs").c_str(), 0555);
      tovrel::test::RunOptions o;
      o.stdin_data = bytes;
      o.uid = user;
      if (named) o.refuse = {"openat/2/0x410000/0x410000:EOPNOTSUPP"};
      const RunResult r = tovrel::test::run({"cas", "store", "--root", root, "--blob"}, o);
      ::chmod((root + "/blobs").c_str(), 0755);
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.out, "{\"hash\":\"" + digest + "\"}\n");
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(test::files_under(root), std::vector<std::string>{blob_rel(digest)});
      EXPECT_TRUE(tovrel::test::read_file(root + "/" + blob_rel(digest)) == bytes);
      struct stat st;
      ASSERT_EQ(::stat((root + "/" + blob_rel(digest)).c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, file_mode_under_umask());
      if (user) {
        EXPECT_EQ(st.st_uid, *user);
      }
    }
  }
}

// A fan-out folder that may not be written fails the store at its temporary file, held or
// streamed alike, and leaves nothing behind.
TEST(CasCli, ReadOnlyFanOutFolderFailsAtTmpfile) {
  for (const std::size_t size : kStoreSizes) {
    SCOPED_TRACE(std::to_string(size) + " bytes");
    TempDir dir;
    const std::string bytes = content_of_size(size);
    const std::string digest = sha256_hex(bytes);
    const std::string root = dir / "store";
    const std::string folder = root + "/blobs/" + digest.substr(0, 2) + "/" + digest.substr(2, 2);
    std::filesystem::create_directories(folder);
    ::chmod(dir.path().c_str(), 0755);
    for (const std::string& d : {root, root + "/blobs", root + "/blobs/" + digest.substr(0, 2)}) {
      ::chmod(d.c_str(), 0777);
    }
    ::chmod(folder.c_str(), 0555);
    tovrel::test::RunOptions o;
    o.stdin_data = bytes;
    o.uid = tovrel::test::other_user();
    const RunResult r = tovrel::test::run({"cas", "store", "--root", root, "--blob"}, o);
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "{\"error\":\"tmpfile: Permission denied (os error 13)\"}\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(test::files_under(root), std::vector<std::string>{});
  }
}

// A store past the file size limit (ulimit -f) is a failed write like any other, held or
// streamed, with the unnamed or the named temporary file: an answer, not a death by SIGXFSZ,
// and nothing left behind.
TEST(CasCli, StorePastTheFileSizeLimitFailsAtWrite) {
  for (const bool named : {false, true}) {
    for (const std::size_t size : kStoreSizes) {
      SCOPED_TRACE(std::string(named ? "named" : "unnamed") + " temporary, " +
                   std::to_string(size) + " bytes");
      TempDir dir;
      tovrel::test::RunOptions o;
      o.stdin_data = content_of_size(size);
      o.file_size_limit = size / 2;
      if (named) o.refuse = {"openat/2/0x410000/0x410000:EOPNOTSUPP"};
      const RunResult r = tovrel::test::run({"cas", "store", "--root", dir.path(), "--blob"}, o);
      EXPECT_EQ(r.signal, 0);
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.out, "{\"error\":\"write: File too large (os error 27)\"}\n");
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(test::files_under(dir.path()), std::vector<std::string>{});
    }
  }
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
  const std::string digest = crypto::sha256_hex(bytes);
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
