// End-to-end: the Time primitive and the start-up guarantees, through the built binary.

#include <gtest/gtest.h>
#include <signal.h>
#include <time.h>

#include <regex>
#include <string>
#include <thread>

#include "support/run.h"

namespace tovrel::test {
namespace {

std::uint64_t realtime_ms() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000 + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000;
}

TEST(TimeNow, PrintsBothKeysFromOneReading) {
  const std::uint64_t before = realtime_ms();
  const RunResult r = tovrel({"time", "now"});
  const std::uint64_t after = realtime_ms();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(r.out, m, std::regex(R"(\{"timestamp_ms":(\d+),"timestamp_ns":(\d+)\}\n)")))
      << r.out;
  const std::uint64_t ms = std::stoull(m[1]);
  const std::uint64_t ns = std::stoull(m[2]);
  EXPECT_EQ(ms, ns / 1000000);
  EXPECT_GE(ms, before);
  EXPECT_LE(ms, after);
}

TEST(TimeAfter, ZeroAndShortSleeps) {
  const RunResult zero = tovrel({"time", "after", "--ms", "0"});
  EXPECT_EQ(zero.status, 0);
  EXPECT_EQ(zero.out, "{\"elapsed_ms\":0}\n");

  const RunResult r = tovrel({"time", "after", "--ms", "120"});
  EXPECT_EQ(r.status, 0);
  std::smatch m;
  ASSERT_TRUE(std::regex_match(r.out, m, std::regex(R"(\{"elapsed_ms":(\d+)\}\n)"))) << r.out;
  EXPECT_GE(std::stoull(m[1]), 120u);
}

TEST(TimeAfter, IgnoredSignalDoesNotShortenTheSleep) {
  // The child ignores SIGPIPE at start-up; signals sent during the sleep must not end it.
  RunOptions o;
  o.program = "/bin/sh";
  const std::string script = std::string(TOVREL_BIN) +
                             " time after --ms 600 & pid=$!; sleep 0.1; kill -PIPE $pid; sleep 0.1; "
                             "kill -STOP $pid; kill -CONT $pid; wait $pid";
  const RunResult r = run({"-c", script}, o);
  EXPECT_EQ(r.status, 0);
  std::smatch m;
  ASSERT_TRUE(std::regex_match(r.out, m, std::regex(R"(\{"elapsed_ms":(\d+)\}\n)"))) << r.out << r.err;
  EXPECT_GE(std::stoull(m[1]), 600u);
}

TEST(StartUp, ClosedStdoutIsReopenedOnDevNull) {
  RunOptions o;
  o.close_stdout = true;
  const RunResult r = run({"time", "now"}, o);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.err, "");
}

TEST(StartUp, StdoutWithoutReaderIsAnInternalFailure) {
  RunOptions o;
  o.stdout_reader_gone = true;
  const RunResult r = run({"time", "now"}, o);
  EXPECT_EQ(r.signal, 0) << "ended by a signal";
  EXPECT_EQ(r.status, 101);
  EXPECT_NE(r.err.find("failed printing to stdout: Broken pipe (os error 32)"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace tovrel::test
