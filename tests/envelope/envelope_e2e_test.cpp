// `tovrel envelope open` run as a subprocess: the printed line, the empty stderr and the
// status, with a key directory written here (43 base64url characters, no newline).

#include <string>

#include <gtest/gtest.h>

#include "sealer.h"
#include "support/run.h"

namespace tovrel::test {
namespace {

const std::string kBoxSecret =
    unhex("a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4");
const std::string kEphemeral =
    unhex("4b66e9d4d1b4673c5ad22691957d6af5c11b6421e0ea01d42ca4169e7918ba0d");

class EnvelopeOpen : public ::testing::Test {
 protected:
  void SetUp() override { write_file(dir / "box_key.pem", b64url(kBoxSecret)); }

  static std::string document(std::string_view payload) {
    return envelope_json(seal(x25519_public(kBoxSecret), kEphemeral, payload, kPlainAadFields));
  }
  // Expects exit 0, nothing on stderr, and `line` plus a newline on stdout.
  static void expect_line(const RunResult& r, const std::string& line) {
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, line + "\n");
  }

  TempDir dir;
};

TEST_F(EnvelopeOpen, OpensWithTheBoxKeyOfTheDirectory) {
  const std::string doc = document(R"({"FOO":"1","PATH":"/x","AWS_KEY":"s"})");
  const std::string line = R"({"env":{"FOO":"1"},"skipped":["AWS_KEY","PATH"]})";
  expect_line(tovrel({"envelope", "open", "--key-dir", dir.path()}, doc), line);
  expect_line(tovrel({"envelope", "open", "--key-dir=" + dir.path() + "/"}, doc), line);
  // A key file that ends in '=' and a line feed is accepted.
  write_file(dir / "box_key.pem", b64url(kBoxSecret) + "=\n");
  expect_line(tovrel({"envelope", "open", "--key-dir", dir.path()}, doc), line);
}

TEST_F(EnvelopeOpen, EmptyKeyDirMeansTheWorkingDirectory) {
  RunOptions options;
  options.cwd = dir.path();
  options.stdin_data = document(R"({"A":"b"})");
  expect_line(run({"envelope", "open", "--key-dir="}, options), R"({"env":{"A":"b"}})");
}

TEST_F(EnvelopeOpen, KeyFileFailures) {
  const std::string doc = document("{}");
  TempDir empty;
  expect_line(tovrel({"envelope", "open", "--key-dir", empty.path()}, doc),
              R"j({"error":"read box key: No such file or directory (os error 2)"})j");
  expect_line(tovrel({"envelope", "open", "--key-dir", empty / "missing"}, doc),
              R"j({"error":"read box key: No such file or directory (os error 2)"})j");
  expect_line(tovrel({"envelope", "open", "--key-dir", dir / "box_key.pem"}, doc),
              R"j({"error":"read box key: Not a directory (os error 20)"})j");
  write_file(empty / "box_key.pem", "\xff\xfe");
  expect_line(tovrel({"envelope", "open", "--key-dir", empty.path()}, doc),
              R"j({"error":"read box key: stream did not contain valid UTF-8"})j");
  write_file(empty / "box_key.pem", b64url(kBoxSecret) + "\n=");
  expect_line(tovrel({"envelope", "open", "--key-dir", empty.path()}, doc),
              R"j({"error":"decode box key: base64url decode: Invalid symbol 10, offset 43."})j");
}

TEST_F(EnvelopeOpen, StandardInputFailures) {
  expect_line(tovrel({"envelope", "open", "--key-dir", dir.path()}, ""),
              R"j({"error":"parse envelope JSON: EOF while parsing a value at line 1 column 0"})j");
  expect_line(tovrel({"envelope", "open", "--key-dir", dir.path()}, "{\"a\":\"\xc3\"}"),
              R"j({"error":"read stdin: stream did not contain valid UTF-8"})j");
  expect_line(tovrel({"envelope", "open", "--key-dir", dir.path()}, R"({"version":2})"),
              R"j({"error":"unsupported envelope version: Some(2)"})j");
}

TEST_F(EnvelopeOpen, FullMapAtTheLimits) {
  // 256 variables, 1048576 bytes of names and values in all.
  std::string payload = "{";
  std::size_t total = 0;
  for (int i = 0; i < 256; ++i) {
    const std::string name = "V" + std::to_string(1000 + i);
    const std::size_t size = i < 255 ? 4091 : 1048576 - total - name.size();
    payload += (i ? "," : "") + ("\"" + name + "\":\"" + std::string(size, 'v') + "\"");
    total += name.size() + size;
  }
  payload += "}";
  ASSERT_EQ(total, 1048576u);
  const RunResult r = tovrel({"envelope", "open", "--key-dir", dir.path()}, document(payload));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(r.out.starts_with(R"({"env":{"V1000":")")) << r.out.substr(0, 80);
  EXPECT_EQ(r.out.size(), payload.size() + std::string(R"({"env":})").size() + 1);
}

}  // namespace
}  // namespace tovrel::test
