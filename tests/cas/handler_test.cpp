// The cas commands run in a child process, in-process up to the handler.

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <set>

#include <gtest/gtest.h>

#include "cas/store.h"
#include "child.h"
#include "crypto/sha256.h"
#include "support/run.h"

namespace tovrel::cas {
namespace {

namespace fs = std::filesystem;
using test::files_under;
using test::Outcome;
using test::run_cas;
using tovrel::test::TempDir;

constexpr char kObjectText[] = "{\"a\":[true,null],\"b\":1}";
constexpr char kObjectDigest[] = "51705a2c9eb3e7e410a58f696a770c3ac3885a0cf43eb7fc88f5e47c11d4d30d";
constexpr char kEmptyDigest[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
constexpr char kInvalidHash[] = "invalid hash: expected 64 hex chars\n";

Outcome store(const std::string& root, const std::string& input, bool blob = false) {
  test::ChildOptions o;
  o.stdin_data = input;
  return run_cas(StoreArgs{root, blob}, o);
}

std::string hash_line(const std::string& digest) { return "{\"hash\":\"" + digest + "\"}\n"; }

std::string item_path_for(const std::string& root, const std::string& digest, bool blob) {
  return blob ? object_path(root, kBlobsDir, digest, "")
              : object_path(root, kObjectsDir, digest, kObjectExtension);
}

void expect(const Outcome& r, int status, const std::string& out, const std::string& err = "") {
  EXPECT_EQ(r.status, status);
  EXPECT_EQ(r.out, out);
  EXPECT_EQ(r.err, err);
}

TEST(CasHandler, ObjectRoundTrip) {
  TempDir dir;
  const std::string root = dir / "store";
  expect(store(root, " {\"b\": 1,\n \"a\": [true, null], \"b\": 1}\n"), 0,
         hash_line(kObjectDigest));
  const std::string rel = std::string("objects/51/70/") + kObjectDigest + ".json";
  EXPECT_EQ(files_under(root), std::vector<std::string>{rel});
  EXPECT_EQ(tovrel::test::read_file(root + "/" + rel), kObjectText);

  expect(run_cas(FetchArgs{root, kObjectDigest, false}), 0, kObjectText);
  expect(run_cas(CasVerifyArgs{root, kObjectDigest, false}), 0,
         std::string("{\"hash\":\"") + kObjectDigest + "\",\"valid\":true}\n");
  expect(run_cas(HasArgs{root, kObjectDigest}), 0,
         std::string("{\"exists\":true,\"hash\":\"") + kObjectDigest + "\"}\n");
  // The object is not a blob.
  expect(run_cas(FetchArgs{root, kObjectDigest, true}), 1, "", "not found\n");
  expect(run_cas(CasVerifyArgs{root, kObjectDigest, true}), 0,
         std::string("{\"hash\":\"") + kObjectDigest + "\",\"valid\":false}\n");
}

TEST(CasHandler, BlobRoundTrip) {
  TempDir dir;
  const std::string bytes("\0\xff\n\r abc\n\0", 10);
  const std::string digest = crypto::sha256_hex(bytes);
  expect(store(dir.path(), bytes, true), 0, hash_line(digest));
  EXPECT_EQ(files_under(dir.path()), std::vector<std::string>{"blobs/" + digest.substr(0, 2) + "/" +
                                                              digest.substr(2, 2) + "/" + digest});
  expect(run_cas(FetchArgs{dir.path(), digest, true}), 0, bytes);
  expect(run_cas(HasArgs{dir.path(), digest}), 0,
         "{\"exists\":true,\"hash\":\"" + digest + "\"}\n");

  expect(store(dir.path(), "", true), 0, hash_line(kEmptyDigest));
  EXPECT_EQ(tovrel::test::read_file(dir / (std::string("blobs/e3/b0/") + kEmptyDigest)), "");
  expect(run_cas(FetchArgs{dir.path(), kEmptyDigest, true}), 0, "");
}

TEST(CasHandler, StoreFailures) {
  TempDir dir;
  expect(store(dir.path(), ""), 0,
         "{\"error\":\"invalid JSON: EOF while parsing a value at line 1 column 0\"}\n");
  expect(store(dir.path(), "[1,]"), 0,
         "{\"error\":\"invalid JSON: trailing comma at line 1 column 4\"}\n");
  test::ChildOptions o;
  o.stdin_path = dir.path();
  expect(run_cas(StoreArgs{dir.path(), false}, o), 0,
         "{\"error\":\"stdin: Is a directory (os error 21)\"}\n");
  EXPECT_EQ(files_under(dir.path()), std::vector<std::string>{});

  tovrel::test::write_file(dir / "objects", "");
  expect(store(dir.path(), "{}"), 0, "{\"error\":\"mkdir: Not a directory (os error 20)\"}\n");
  EXPECT_EQ(files_under(dir.path()), std::vector<std::string>{"objects"});
}

TEST(CasHandler, StoringAgainWritesNothing) {
  TempDir dir;
  expect(store(dir.path(), "{\"x\":1.0}"), 0, hash_line(crypto::sha256_hex("{\"x\":1.0}")));
  const std::string path =
      object_path(dir.path(), kObjectsDir, crypto::sha256_hex("{\"x\":1.0}"), ".json");
  struct stat before, after;
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  // The same value written differently has the same address.
  expect(store(dir.path(), "{ \"x\" : 1e0 }"), 0, hash_line(crypto::sha256_hex("{\"x\":1.0}")));
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_EQ(files_under(dir.path()).size(), 1u);
}

TEST(CasHandler, InvalidHashesEndTheProcess) {
  const std::string root = "/nonexistent/root";
  const struct {
    const char* input;
    std::string hash;
  } cases[] = {
      {"63 hex digits", std::string(63, 'a')},
      {"65 hex digits", std::string(65, 'a')},
      {"63 hex digits and a g", std::string(63, 'a') + "g"},
      {"63 hex digits and a space", std::string(63, 'a') + " "},
      {"62 hex digits and a 2-byte letter (64 bytes)", std::string(62, 'a') + "\xc3\xa9"},
      {"empty", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    expect(run_cas(FetchArgs{root, c.hash, false}), 1, "", kInvalidHash);
    expect(run_cas(CasVerifyArgs{root, c.hash, true}), 1, "", kInvalidHash);
    expect(run_cas(HasArgs{root, c.hash}), 1, "", kInvalidHash);
  }
}

TEST(CasHandler, UppercaseDigestIsUsedUnchanged) {
  TempDir dir;
  store(dir.path(), kObjectText);
  std::string upper = kObjectDigest;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  expect(run_cas(FetchArgs{dir.path(), upper, false}), 1, "", "not found\n");
  expect(run_cas(HasArgs{dir.path(), upper}), 0, "{\"exists\":false,\"hash\":\"" + upper + "\"}\n");
  // Even a file at the uppercase path never verifies: computed digests are lowercase.
  const std::string path = object_path(dir.path(), kObjectsDir, upper, ".json");
  fs::create_directories(fs::path(path).parent_path());
  tovrel::test::write_file(path, kObjectText);
  expect(run_cas(CasVerifyArgs{dir.path(), upper, false}), 0,
         "{\"hash\":\"" + upper + "\",\"valid\":false}\n");
  expect(run_cas(FetchArgs{dir.path(), upper, false}), 0, kObjectText);
}

TEST(CasHandler, DirectoryAtItemPath) {
  TempDir dir;
  fs::create_directories(object_path(dir.path(), kObjectsDir, kObjectDigest, ".json"));
  expect(store(dir.path(), kObjectText), 0, hash_line(kObjectDigest));
  expect(run_cas(FetchArgs{dir.path(), kObjectDigest, false}), 1, "", "not found\n");
  expect(run_cas(CasVerifyArgs{dir.path(), kObjectDigest, false}), 0,
         std::string("{\"hash\":\"") + kObjectDigest + "\",\"valid\":false}\n");
  expect(run_cas(HasArgs{dir.path(), kObjectDigest}), 0,
         std::string("{\"exists\":true,\"hash\":\"") + kObjectDigest + "\"}\n");
  EXPECT_EQ(files_under(dir.path()), std::vector<std::string>{});
}

TEST(CasHandler, HasProbesBlobThenObject) {
  TempDir dir;
  const std::string blob_only = crypto::sha256_hex("b");
  const std::string object_only = crypto::sha256_hex("\"o\"");
  store(dir.path(), "b", true);
  store(dir.path(), "\"o\"");
  expect(run_cas(HasArgs{dir.path(), blob_only}), 0,
         "{\"exists\":true,\"hash\":\"" + blob_only + "\"}\n");
  expect(run_cas(HasArgs{dir.path(), object_only}), 0,
         "{\"exists\":true,\"hash\":\"" + object_only + "\"}\n");
  expect(run_cas(HasArgs{dir.path(), kEmptyDigest}), 0,
         std::string("{\"exists\":false,\"hash\":\"") + kEmptyDigest + "\"}\n");
}

TEST(CasHandler, ChangedObjectFailsVerifyButFetchesUnchanged) {
  TempDir dir;
  store(dir.path(), kObjectText);
  const std::string path = object_path(dir.path(), kObjectsDir, kObjectDigest, ".json");
  tovrel::test::write_file(path, std::string(kObjectText) + "\n");
  expect(run_cas(CasVerifyArgs{dir.path(), kObjectDigest, false}), 0,
         std::string("{\"hash\":\"") + kObjectDigest + "\",\"valid\":false}\n");
  expect(run_cas(FetchArgs{dir.path(), kObjectDigest, false}), 0, std::string(kObjectText) + "\n");
}

TEST(CasHandler, RootForms) {
  TempDir dir;
  test::ChildOptions o;
  o.stdin_data = kObjectText;
  o.cwd = dir.path();
  expect(run_cas(StoreArgs{"", false}, o), 0, hash_line(kObjectDigest));
  const std::string rel = std::string("objects/51/70/") + kObjectDigest + ".json";
  EXPECT_EQ(files_under(dir.path()), std::vector<std::string>{rel});
  // With and without a trailing slash the root names the same place.
  expect(run_cas(FetchArgs{dir.path() + "/", kObjectDigest, false}), 0, kObjectText);
  expect(run_cas(FetchArgs{dir.path() + "//", kObjectDigest, false}), 0, kObjectText);
}

// Contents beyond what a store holds in memory (4 MiB) are streamed: the same results, the
// same files.
std::string large_content(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t k = 0; k < size; ++k) bytes[k] = static_cast<char>((k * 2654435761u) >> 13);
  return bytes;
}

std::string blob_path(const std::string& root, const std::string& digest) {
  return object_path(root, kBlobsDir, digest, "");
}

TEST(CasHandler, LargeBlobsRoundTrip) {
  for (const std::size_t size : {(4u << 20) - 1, 4u << 20, (9u << 20) + 7}) {
    SCOPED_TRACE(size);
    TempDir dir;
    const std::string bytes = large_content(size);
    const std::string digest = crypto::sha256_hex(bytes);
    expect(store(dir.path(), bytes, true), 0, hash_line(digest));
    EXPECT_EQ(files_under(dir.path()),
              std::vector<std::string>{"blobs/" + digest.substr(0, 2) + "/" + digest.substr(2, 2) +
                                       "/" + digest});
    expect(run_cas(FetchArgs{dir.path(), digest, true}), 0, bytes);
    expect(run_cas(CasVerifyArgs{dir.path(), digest, true}), 0,
           "{\"hash\":\"" + digest + "\",\"valid\":true}\n");
    // Stored again: the item present stays as it is.
    struct stat before, after;
    ASSERT_EQ(::stat(blob_path(dir.path(), digest).c_str(), &before), 0);
    expect(store(dir.path(), bytes, true), 0, hash_line(digest));
    ASSERT_EQ(::stat(blob_path(dir.path(), digest).c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
  }
}

// Nothing is synchronised to disk, so a crash can leave an item short or empty at its final
// path: the next store of that content writes it again. An entry of the right size, whatever
// it holds, is left alone. Each damage is planted at the path the store uses, in one store
// per content (the large blob is the smallest that is streamed).
TEST(CasHandler, TornItemIsRepairedByTheNextStore) {
  const std::string large = large_content(4u << 20);
  const struct {
    const char* name;
    std::string content;
    bool blob;
  } contents[] = {
      {"object", kObjectText, false}, {"small blob", "abc", true}, {"large blob", large, true}};
  const struct {
    const char* name;
    std::function<std::string(const std::string&)> damage;
    bool repaired;
  } damages[] = {
      {"emptied", [](const std::string&) { return std::string(); }, true},
      {"truncated", [](const std::string& c) { return c.substr(0, c.size() - 1); }, true},
      {"grown", [](const std::string& c) { return c + "\n"; }, true},
      {"same size", [](const std::string& c) { return std::string(c.size(), 'x'); }, false},
  };
  for (const auto& c : contents) {
    TempDir dir;
    const std::string digest = crypto::sha256_hex(c.content);
    const std::string path = item_path_for(dir.path(), digest, c.blob);
    fs::create_directories(fs::path(path).parent_path());
    for (const auto& d : damages) {
      SCOPED_TRACE(std::string(c.name) + ", " + d.name);
      tovrel::test::write_file(path, d.damage(c.content));
      expect(store(dir.path(), c.content, c.blob), 0, hash_line(digest));
      EXPECT_EQ(tovrel::test::read_file(path) == c.content, d.repaired);
      EXPECT_EQ(files_under(dir.path()).size(), 1u);
    }
  }
}

// What stands at an item's path as a link, to a file of any size or to a directory, or as a
// directory, counts as the item: nothing is written, through the link or in its place.
TEST(CasHandler, LinkAtItemPathIsLeftAlone) {
  const std::string large = large_content((4u << 20) + 1);
  const struct {
    const char* name;
    std::string content;
  } contents[] = {{"small blob", "abc"}, {"streamed blob", large}};
  const struct {
    const char* name;
    std::function<void(const std::string& path, const std::string& target)> plant;
  } entries[] = {
      {"link to a shorter file",
       [](const std::string& p, const std::string& t) {
         tovrel::test::write_file(t, "x");
         fs::create_symlink(t, p);
       }},
      {"link to an empty file",
       [](const std::string& p, const std::string& t) {
         tovrel::test::write_file(t, "");
         fs::create_symlink(t, p);
       }},
      {"link to a directory",
       [](const std::string& p, const std::string& t) {
         fs::create_directory(t);
         fs::create_directory_symlink(t, p);
       }},
      {"directory", [](const std::string& p, const std::string&) { fs::create_directory(p); }},
  };
  for (const auto& c : contents) {
    for (const auto& e : entries) {
      SCOPED_TRACE(std::string(c.name) + ", " + e.name);
      TempDir dir;
      const std::string root = dir / "store";
      const std::string digest = crypto::sha256_hex(c.content);
      const std::string path = blob_path(root, digest);
      const std::string target = dir / "target";
      fs::create_directories(fs::path(path).parent_path());
      e.plant(path, target);
      const auto before = fs::symlink_status(path).type();
      const std::string target_before =
          fs::is_regular_file(target) ? tovrel::test::read_file(target) : "";
      expect(store(root, c.content, true), 0, hash_line(digest));
      EXPECT_EQ(fs::symlink_status(path).type(), before);
      if (fs::is_regular_file(target)) {
        EXPECT_EQ(tovrel::test::read_file(target), target_before);
      }
      for (const std::string& left : files_under(root)) {
        EXPECT_EQ(root + "/" + left, path) << "a temporary file remains";
      }
    }
  }
}

// A large content is written while it is read; the results stay those of writing it whole:
// a failed write is reported only when the item is absent.
TEST(CasHandler, LargeStoreThatCannotWrite) {
  TempDir dir;
  const std::string bytes = large_content(6u << 20);
  const std::string digest = crypto::sha256_hex(bytes);
  test::ChildOptions o;
  o.stdin_data = bytes;
  o.file_size_limit = 1u << 20;
  expect(run_cas(StoreArgs{dir.path(), true}, o), 0,
         "{\"error\":\"write: File too large (os error 27)\"}\n");
  EXPECT_EQ(files_under(dir.path()), std::vector<std::string>{});
  expect(store(dir.path(), bytes, true), 0, hash_line(digest));
  expect(run_cas(StoreArgs{dir.path(), true}, o), 0, hash_line(digest));
}

// Writes `bytes` to `fd`, `chunk` bytes at a time (waiting for room when `fd` is
// non-blocking), then closes it. It runs in a process of its own, not a thread: the handler
// under test runs in a forked child, and a fork while another thread holds an allocator lock
// leaves that child stuck for good (seen under ASan). Only the feeder holds `fd` afterwards;
// it does not hold `other_end`.
class Feeder {
 public:
  Feeder(int fd, int other_end, const std::string& bytes, std::size_t chunk) {
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(other_end);
      for (std::size_t off = 0; off < bytes.size();) {
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, -1);
        const ssize_t n = ::write(fd, bytes.data() + off, std::min(bytes.size() - off, chunk));
        if (n < 0 && errno != EAGAIN && errno != EINTR) break;
        if (n > 0) off += static_cast<std::size_t>(n);
      }
      ::close(fd);
      ::_exit(0);
    }
    ::close(fd);
  }
  Feeder(const Feeder&) = delete;
  Feeder& operator=(const Feeder&) = delete;
  ~Feeder() { wait(); }
  void wait() {
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

// A read of standard input that fails part-way leaves no item and no temporary file. A Unix
// socket whose peer closes with unread data of its own fails the reader's next read with
// ECONNRESET, after the data already sent.
TEST(CasHandler, StdinFailingPartWayLeavesNothing) {
  for (const std::size_t size : {std::size_t{1000}, std::size_t{6u << 20}}) {
    SCOPED_TRACE(size);
    TempDir dir;
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    ASSERT_EQ(::write(pair[1], "!", 1), 1);  // unread by our end: its close resets the other
    Feeder feeder(pair[0], pair[1], large_content(size), size);
    test::ChildOptions o;
    o.stdin_fd = pair[1];
    const Outcome r = run_cas(StoreArgs{dir / "store", true}, o);
    feeder.wait();
    ::close(pair[1]);
    expect(r, 0, "{\"error\":\"stdin: Connection reset by peer (os error 104)\"}\n");
    // Only the folder the temporary file was made in can remain.
    if (fs::exists(dir / "store")) {
      EXPECT_EQ(files_under(dir / "store"), std::vector<std::string>{});
    }
  }
}

// A caller may hand over a pipe it made non-blocking: the store waits for the bytes.
TEST(CasHandler, StoreReadsAllOfANonBlockingPipe) {
  TempDir dir;
  int pipe_fds[2];
  ASSERT_EQ(::pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK), 0);
  const std::string bytes = large_content(5u << 20);
  Feeder feeder(pipe_fds[1], pipe_fds[0], bytes, 4096);
  test::ChildOptions o;
  o.stdin_fd = pipe_fds[0];
  const Outcome r = run_cas(StoreArgs{dir.path(), true}, o);
  feeder.wait();
  ::close(pipe_fds[0]);
  expect(r, 0, hash_line(crypto::sha256_hex(bytes)));
}

TEST(CasHandler, ManyWritersAtOnce) {
  TempDir dir;
  const std::string root = dir / "store";
  std::vector<CasCommands> commands;
  std::vector<std::string> stdins;
  std::vector<std::string> expected;
  const std::string contents[] = {"{\"k\":1}", "[1,2,3]", std::string(300000, 'z')};
  for (int k = 0; k < 24; ++k) {
    const int which = k % 3;
    commands.push_back(StoreArgs{root, which == 2});
    stdins.push_back(contents[which]);
  }
  for (int k = 0; k < 8; ++k) {  // distinct blobs
    commands.push_back(StoreArgs{root, true});
    stdins.push_back("blob " + std::to_string(k));
  }
  const auto outcomes = test::run_cas_together(commands, stdins);
  std::set<std::string> files;
  for (std::size_t k = 0; k < commands.size(); ++k) {
    const bool blob = std::get<StoreArgs>(commands[k]).blob;
    const std::string digest = crypto::sha256_hex(stdins[k]);
    expect(outcomes[k], 0, hash_line(digest));
    files.insert(std::string(blob ? "blobs/" : "objects/") + digest.substr(0, 2) + "/" +
                 digest.substr(2, 2) + "/" + digest + (blob ? "" : ".json"));
  }
  EXPECT_EQ(files_under(root), std::vector<std::string>(files.begin(), files.end()));
  for (std::size_t k = 0; k < commands.size(); ++k) {
    const bool blob = std::get<StoreArgs>(commands[k]).blob;
    const std::string digest = crypto::sha256_hex(stdins[k]);
    EXPECT_EQ(tovrel::test::read_file(
                  object_path(root, blob ? kBlobsDir : kObjectsDir, digest, blob ? "" : ".json")),
              stdins[k]);
  }
}

}  // namespace
}  // namespace tovrel::cas
