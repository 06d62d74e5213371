// Wiping secret bytes: the primitive over a string's whole capacity, and the input buffer of
// key files, which must keep what it holds while it grows by copies instead of realloc.

#include "base/wipe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "base/base64.h"
#include "base/io.h"
#include "support/run.h"

namespace tovrel::base {
namespace {

bool all_zero(const char* p, std::size_t n) {
  return std::all_of(p, p + n, [](char c) { return c == '\0'; });
}

// Bytes past the size may hold an earlier, longer content: the whole capacity is zeroed.
TEST(Wipe, WholeCapacityOfAString) {
  std::string s(200, 's');
  s.resize(3);
  const char* data = s.data();
  const std::size_t capacity = s.capacity();
  wipe(s);
  EXPECT_TRUE(s.empty());
  EXPECT_EQ(s.data(), data);  // the buffer stays
  EXPECT_TRUE(all_zero(data, capacity));
}

// A key file may be a pipe, read in pieces that make the buffer grow several times.
TEST(InputBytes, SecretFileThroughAPipe) {
  test::TempDir tmp;
  const std::string fifo = tmp / "key";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string content(300000, 'k');
  std::thread writer([&] {
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    if (fd < 0) return;
    for (std::size_t at = 0; at < content.size();) {
      const ssize_t n =
          ::write(fd, content.data() + at, std::min<std::size_t>(9000, content.size() - at));
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
    ::close(fd);
  });
  auto read = read_secret_file(fifo);
  writer.join();
  ASSERT_TRUE(read.ok()) << read.error();
  EXPECT_TRUE(read->view() == content);
  EXPECT_EQ(read_secret_file(tmp / "none").error(), "No such file or directory (os error 2)");
}

// The decoders' results leave no inline copy behind when they are moved on.
TEST(Base64, DecodedBytesNeverInline) {
  for (const char* text : {"", "QQ", "QUJD", "QUJDRA"}) {
    auto decoded = base64url_decode(text);
    ASSERT_TRUE(decoded.ok());
    const char* data = decoded->data();
    const std::string moved = std::move(*decoded);
    EXPECT_EQ(moved.data(), data) << text;  // the heap buffer itself changed hands
  }
}

}  // namespace
}  // namespace tovrel::base
