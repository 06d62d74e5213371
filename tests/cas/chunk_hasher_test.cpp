#include "cas/chunk_hasher.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <system_error>
#include <thread>

#include <gtest/gtest.h>

#include "crypto/sha256.h"
#include "support/refuse.h"

namespace tovrel::cas {
namespace {

constexpr std::size_t kChunk = ChunkHasher::kChunk;

std::string pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t k = 0; k < size; ++k) bytes[k] = static_cast<char>((k * 2654435761u) >> 9);
  return bytes;
}

// Feeds `bytes` in parts of the given sizes, repeated in turn (each at most kChunk), and
// answers the digest.
std::string hash_in_parts(const std::string& bytes, const std::vector<std::size_t>& sizes) {
  ChunkHasher hasher;
  std::size_t k = 0;
  for (std::size_t off = 0; off < bytes.size(); ++k) {
    const std::size_t n = std::min(sizes[k % sizes.size()], bytes.size() - off);
    std::memcpy(hasher.next(), bytes.data() + off, n);
    hasher.submit(n);
    off += n;
  }
  return hasher.finish();
}

// The parts seen by the hashing thread are the caller's, in the caller's order, over more
// buffers' worth than the hasher has (so that buffers are reused while others are hashed).
struct Case {
  const char* name;
  std::size_t size;
  std::vector<std::size_t> parts;
};
const Case kCases[] = {
    {"nothing", 0, {kChunk}},
    {"one byte", 1, {kChunk}},
    {"one full buffer", kChunk, {kChunk}},
    {"many full buffers", 20 * kChunk, {kChunk}},
    {"uneven parts", 20 * kChunk + 5, {1, kChunk, 4093, kChunk - 1, 0}},
};

TEST(ChunkHasher, DigestOfThePartsInOrder) {
  for (const Case& c : kCases) {
    const std::string bytes = pattern(c.size);
    EXPECT_EQ(hash_in_parts(bytes, c.parts), crypto::sha256_hex(bytes)) << c.name;
  }
}

// The buffer handed out stays the caller's until it is submitted: asking again gives it back
// as it was filled.
TEST(ChunkHasher, BufferStaysTheCallersUntilSubmitted) {
  ChunkHasher hasher;
  char* const first = hasher.next();
  std::memcpy(first, "abc", 3);
  EXPECT_EQ(hasher.next(), first);
  hasher.submit(3);
  EXPECT_EQ(hasher.finish(), crypto::sha256_hex("abc"));
}

// Ending without finish waits for what is in flight and returns.
TEST(ChunkHasher, DestroyedWithoutFinish) {
  const std::string bytes = pattern(12 * kChunk);
  {
    ChunkHasher hasher;
    for (std::size_t off = 0; off < bytes.size(); off += kChunk) {
      std::memcpy(hasher.next(), bytes.data() + off, kChunk);
      hasher.submit(kChunk);
    }
    (void)hasher.next();  // a buffer held, not submitted
  }
  SUCCEED();
}

// Where no thread can be started, every part is hashed in the caller's thread as it is
// submitted: the same digests. Threads are refused in a forked child by a seccomp filter.
TEST(ChunkHasher, WithoutAThread) {
  const test::SyscallFilter no_threads({"clone3:ENOSYS", "clone/0/0x10000/0x10000:EAGAIN"});
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (!no_threads.install()) ::_exit(3);
    try {
      std::thread probe([] {});
      probe.join();
      ::_exit(2);  // the filter let a thread start
    } catch (const std::system_error&) {
    }
    for (const Case& c : kCases) {
      const std::string bytes = pattern(c.size);
      if (hash_in_parts(bytes, c.parts) != crypto::sha256_hex(bytes)) ::_exit(1);
    }
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_NE(WEXITSTATUS(status), 3) << "the filter could not be installed";
  EXPECT_NE(WEXITSTATUS(status), 2) << "a thread started despite the filter";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "a digest differed";
}

}  // namespace
}  // namespace tovrel::cas
