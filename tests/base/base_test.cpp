#include <errno.h>

#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "base/decimal.h"
#include "base/os_error.h"
#include "base/output.h"
#include "base/utf8.h"

namespace tovrel::base {
namespace {

TEST(DecimalText, Table) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {300.0, "300"},
      {3.0, "3"},
      {1.5, "1.5"},
      {-0.0, "-0"},
      {0.0, "0"},
      {1e16, "10000000000000000"},
      {0.000001, "0.000001"},
      {-2.5, "-2.5"},
      {0.1, "0.1"},
      {1e21, "1000000000000000000000"},
      {std::numeric_limits<double>::infinity(), "inf"},
      {-std::numeric_limits<double>::infinity(), "-inf"},
      {std::nan(""), "NaN"},
  };
  for (const auto& c : cases) EXPECT_EQ(decimal_text(c.value), c.text) << c.text;
}

TEST(OsError, Text) {
  EXPECT_EQ(os_error_text(EPIPE), "Broken pipe (os error 32)");
  EXPECT_EQ(os_error_text(ENOENT), "No such file or directory (os error 2)");
}

TEST(Utf8, ValidationAndLossy) {
  EXPECT_TRUE(is_valid_utf8("plain \xc3\xa9 \xf0\x9f\x98\x80"));
  const char* bad[] = {"\x80", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x82", "\xff"};
  for (const char* b : bad) EXPECT_FALSE(is_valid_utf8(b)) << b;
  // Maximal subparts: a truncated 3-byte sequence is one replacement, a lone lead another.
  EXPECT_EQ(utf8_lossy("a\xe2\x82"
                       "b"),
            "a\xef\xbf\xbd"
            "b");
  EXPECT_EQ(utf8_lossy("\xed\xa0\x80"), "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd");
  EXPECT_EQ(utf8_lossy("\xf0\x9f\x98"), "\xef\xbf\xbd");
}

TEST(Utf8, DecodeOneCharacter) {
  const struct {
    const char* bytes;
    char32_t code_point;
    std::size_t length;
    bool valid;
  } cases[] = {
      {"a", U'a', 1, true},
      {"\xc3\xa9x", 0xE9, 2, true},
      {"\xe2\x82\xac", 0x20AC, 3, true},
      {"\xf0\x9f\x98\x80", 0x1F600, 4, true},
      {"\xe2\x82"
       "b",
       0xFFFD, 2, false},
      {"\xed\xa0\x80", 0xFFFD, 1, false},
      {"\xff", 0xFFFD, 1, false},
  };
  for (const auto& c : cases) {
    const Utf8Char got = decode_utf8(c.bytes);
    EXPECT_EQ(got.code_point, c.code_point) << c.bytes;
    EXPECT_EQ(got.length, c.length) << c.bytes;
    EXPECT_EQ(got.valid, c.valid) << c.bytes;
  }
  EXPECT_EQ(decode_last_utf8("ab\xf0\x9f\x98\x80").code_point, 0x1F600u);
  EXPECT_EQ(decode_last_utf8("\xc3\xa9").length, 2u);
}

// A scripted sink: each call takes the next behaviour from the list.
struct Script {
  Script() = default;
  explicit Script(std::vector<long> s) : steps(std::move(s)) {}
  std::vector<long> steps;  // > 0: accept at most that many; 0: accept none; < 0: fail with -errno
  std::size_t next = 0;
  std::vector<std::string> writes;
  ssize_t operator()(const char* d, std::size_t n) {
    const long step = next < steps.size() ? steps[next++] : 1 << 30;
    if (step < 0) {
      errno = static_cast<int>(-step);
      return -1;
    }
    const std::size_t take = std::min<std::size_t>(n, static_cast<std::size_t>(step));
    if (take) writes.emplace_back(d, take);
    return static_cast<ssize_t>(take);
  }
};

TEST(LineWriter, PartialWritesAndEintrAreRepeated) {
  Script s({3, -EINTR, 100});
  LineWriter w([&](const char* d, std::size_t n) { return s(d, n); });
  EXPECT_FALSE(w.write("hello world\n"));
  ASSERT_EQ(s.writes.size(), 2u);
  EXPECT_EQ(s.writes[0] + s.writes[1], "hello world\n");
}

TEST(LineWriter, BuffersUntilNewline) {
  Script s;
  LineWriter w([&](const char* d, std::size_t n) { return s(d, n); });
  EXPECT_FALSE(w.write("abc"));
  EXPECT_TRUE(s.writes.empty());
  EXPECT_FALSE(w.write("def\nxy"));
  ASSERT_EQ(s.writes.size(), 1u);
  EXPECT_EQ(s.writes[0], "abcdef\n");
  EXPECT_FALSE(w.flush());
  EXPECT_EQ(s.writes.back(), "xy");
}

TEST(LineWriter, ZeroWriteAndErrors) {
  Script zero({0});
  LineWriter w0([&](const char* d, std::size_t n) { return zero(d, n); });
  EXPECT_EQ(w0.write("x\n").value_or(""), "failed to write whole buffer");

  Script pipe({-EPIPE});
  LineWriter w1([&](const char* d, std::size_t n) { return pipe(d, n); });
  EXPECT_EQ(w1.write("x\n").value_or(""), "Broken pipe (os error 32)");

  Script badf({-EBADF});
  LineWriter w2([&](const char* d, std::size_t n) { return badf(d, n); });
  EXPECT_FALSE(w2.write("x\n"));
}

TEST(LineWriter, LongTextGoesOutInPiecesNewlineLast) {
  Script s;
  LineWriter w([&](const char* d, std::size_t n) { return s(d, n); });
  EXPECT_FALSE(w.write(std::string(1500, 'a')));  // larger than the buffer: written as it comes
  EXPECT_FALSE(w.write(std::string(10, 'b') + "\n"));
  std::string all;
  for (auto& p : s.writes) all += p;
  EXPECT_EQ(all, std::string(1500, 'a') + std::string(10, 'b') + "\n");
  EXPECT_EQ(s.writes.back().back(), '\n');
}

}  // namespace
}  // namespace tovrel::base
