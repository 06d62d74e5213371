#include "base/sys.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <span>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "base/io.h"

namespace tovrel::base {
namespace {

struct PipePair {
  PipePair() {
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    read_end.reset(fds[0]);
    write_end.reset(fds[1]);
  }
  Fd read_end;
  Fd write_end;
};

// A caller may hand us a non-blocking pipe (event loops do): a whole write and a whole read
// must wait for the other side instead of failing with EAGAIN or stopping short.
TEST(Sys, WholeWriteAndReadWaitOnNonBlockingPipes) {
  const std::string data(3 * 1024 * 1024 + 17, 'x');
  {
    PipePair p;
    ASSERT_EQ(set_nonblocking(p.write_end.get()), 0);
    std::string got;
    std::thread reader([&] {
      char buf[4096];
      ssize_t n;
      while ((n = ::read(p.read_end.get(), buf, sizeof buf)) > 0) got.append(buf, n);
    });
    EXPECT_EQ(write_all(p.write_end.get(), data), 0);
    p.write_end.reset();
    reader.join();
    EXPECT_EQ(got.size(), data.size());
    // The flag belongs to the caller's file description and stays set.
  }
  {
    PipePair p;
    ASSERT_EQ(set_nonblocking(p.read_end.get()), 0);
    std::thread writer([&] {
      EXPECT_EQ(write_all(p.write_end.get(), data), 0);
      p.write_end.reset();
    });
    auto all = read_all(p.read_end.get());
    writer.join();
    ASSERT_TRUE(all.ok()) << all.error();
    EXPECT_EQ(all->size(), data.size());
    EXPECT_NE(::fcntl(p.read_end.get(), F_GETFL) & O_NONBLOCK, 0);
  }
}

TEST(Sys, WriteFailureTexts) {
  EXPECT_EQ(write_failure_text(kNoProgress), "failed to write whole buffer");
  EXPECT_EQ(write_failure_text(ENOSPC), "No space left on device (os error 28)");
  const Fd full = open_file("/dev/full", O_WRONLY);
  ASSERT_TRUE(full.valid());
  EXPECT_EQ(write_all(full.get(), "abc"), ENOSPC);
}

TEST(Sys, MakeDirectoriesAndParents) {
  char tmpl[] = "/tmp/tovrel-sys-XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  const std::string root = tmpl;
  EXPECT_EQ(make_directories(root + "/a/b/c/"), 0);
  EXPECT_EQ(make_directories(root + "/a/b/c"), 0);  // already there
  struct stat st;
  EXPECT_EQ(::stat((root + "/a/b/c").c_str(), &st), 0);
  EXPECT_EQ(make_directories(""), 0);
  EXPECT_EQ(make_directories("/dev/null/x"), ENOTDIR);
  const struct {
    const char* path;
    const char* parent;
  } cases[] = {{"a", ""}, {"/a", "/"}, {"a/b", "a"}, {"a//b//", "a"}, {"/a/b/c", "/a/b"}};
  for (const auto& c : cases) EXPECT_EQ(parent_directory(c.path), c.parent) << c.path;
  std::system(("rm -rf " + root).c_str());
}

TEST(Sys, ReadFileErrorsAreOsTexts) {
  auto missing = read_file("/nonexistent/file");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error(), "No such file or directory (os error 2)");
  auto text = as_text(read_file("/proc/self/status"));
  EXPECT_TRUE(text.ok());
}

// Both kinds of buffer: the plain one grows in place, the secret one by copy-and-wipe.
TEST(InputBytes, GrowsKeepingWhatItHolds) {
  for (const bool secret : {false, true}) {
    SCOPED_TRACE(secret ? "secret" : "plain");
    InputBytes bytes = secret ? InputBytes::for_secret() : InputBytes();
    std::string expected;
    for (int i = 0; i < 40; ++i) {
      const std::string chunk(50000 + static_cast<std::size_t>(i), static_cast<char>('a' + i % 26));
      const std::span<char> room = bytes.room(chunk.size());
      ASSERT_GE(room.size(), chunk.size());
      std::copy(chunk.begin(), chunk.end(), room.begin());
      bytes.commit(chunk.size());
      expected += chunk;
    }
    EXPECT_TRUE(bytes.view() == expected);
    InputBytes moved = std::move(bytes);
    EXPECT_TRUE(moved.view() == expected);
    EXPECT_EQ(bytes.size(), 0u);
    moved.free_storage();
    EXPECT_EQ(moved.size(), 0u);
  }
}

}  // namespace
}  // namespace tovrel::base
