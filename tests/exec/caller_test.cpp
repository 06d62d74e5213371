// exec under what a demanding caller hands it: standard streams that are non-blocking pipes,
// and an address space too small for what comes in.

#include <signal.h>

#include "helpers.h"
#include "support/sanitizers.h"

namespace tovrel::exec::testing {
namespace {

TEST(ExecCaller, NonBlockingPipesLoseNothing) {
  const std::string a_mb(1'000'000, 'a');
  const struct {
    const char* label;
    std::vector<std::string> args;
    std::optional<std::string> stdin_data;
    std::string out;
  } cases[] = {
      {"exec run, a 1 MB result", sh("head -c 1000000 /dev/zero | tr '\\0' a"), std::nullopt,
       run_json(0, "", a_mb, true)},
      {"exec stream, 3 MB passed through",
       {"exec", "stream", "--cmd", "sh", "--arg", "-c", "--arg",
        "head -c 3000000 /dev/zero | tr '\\0' b"},
       std::nullopt,
       std::string(3'000'000, 'b')},
      {"exec run --stdin-pipe, 3 MB read",
       {"exec", "run", "--cmd", "wc", "--arg", "-c", "--stdin-pipe"},
       std::string(3'000'000, 'c'),
       run_json(0, "", "3000000\n", true)},
  };
  for (const auto& c : cases) {
    const test::RunResult r = run_with_nonblocking_pipes(c.args, c.stdin_data);
    EXPECT_EQ(r.status, 0) << c.label;
    EXPECT_EQ(r.err, "") << c.label;
    const std::string out = c.args[1] == "run" ? without_duration(r.out) : r.out;
    EXPECT_TRUE(out == c.out) << c.label << ": " << r.out.size() << " bytes";
  }
}

// Runs `script` in sh with $0 the tovrel binary, under an address-space limit of `limit_kib`
// (which its children inherit; they are small).
test::RunResult run_limited(int limit_kib, const std::string& script) {
  test::RunOptions o;
  o.program = "/bin/sh";
  return test::run({"-c", "ulimit -v " + std::to_string(limit_kib) + "; " + script, TOVREL_BIN}, o);
}

TEST(ExecCaller, WhatCannotBeHeldIsNeverAnAbort) {
#ifdef TOVREL_SANITIZED
  GTEST_SKIP() << "a sanitizer's shadow memory does not fit below the limit";
#endif
  const std::string run_100_mb =
      "\"$0\" exec run --cmd sh --arg -c --arg \"head -c 100000000 /dev/zero | tr '\\0' a\"";
  const std::string oom = "tovrel: internal error: memory allocation failed\n";
  const struct {
    const char* label;
    int limit_kib;
    std::string script;
    int status;
    std::string out;  // a result line is compared without its duration
    std::string err;
  } cases[] = {
      // Our standard input keeps what could be held, as a failed read would; `true` reads none.
      {"exec run --stdin-pipe of endless input", 100000,
       "exec \"$0\" exec run --stdin-pipe --cmd true < /dev/zero", 0, run_json(0, "", "", true),
       ""},
      {"exec stream --stdin-pipe of endless input", 100000,
       "exec \"$0\" exec stream --stdin-pipe --cmd true < /dev/zero", 0, "", ""},
      // Held once (in 128 MiB), the output fits where a copy of it would not. The line is
      // counted without its digits, those of the duration included: 100,000,000 a's and 71
      // other bytes.
      {"exec run of 100 MB", 200000, run_100_mb + " | tr -d '0-9.' | wc -c", 0, "100000071\n", ""},
      // A capture that cannot grow ends as an internal failure, in one line.
      {"exec run of 100 MB in too little room", 100000, "exec " + run_100_mb + " >/dev/null", 101,
       "", oom},
  };
  for (const auto& c : cases) {
    const test::RunResult r = run_limited(c.limit_kib, c.script);
    EXPECT_EQ(r.status, c.status) << c.label;
    EXPECT_EQ(r.err, c.err) << c.label;
    EXPECT_EQ(r.out.rfind(kDurationKey, 0) == 0 ? without_duration(r.out) : r.out, c.out)
        << c.label;
  }
}

TEST(ExecCaller, OutOfMemoryEndsTheChildFirst) {
#ifdef TOVREL_SANITIZED
  GTEST_SKIP() << "a sanitizer's shadow memory does not fit below the limit";
#endif
  // The child would go on once its output pipe is gone; ended first, it is gone (reaped) by
  // the time tovrel has ended.
  test::TempDir dir;
  const std::string pid_file = dir / "pid";
  const test::RunResult r = run_limited(
      100000,
      "exec \"$0\" exec run --cmd sh --arg -c --arg 'echo $$ > \"$0\"; head -c 100000000 "
      "/dev/zero; exec sleep 60' --arg " +
          pid_file + " >/dev/null");
  EXPECT_EQ(r.status, 101);
  EXPECT_EQ(r.err, "tovrel: internal error: memory allocation failed\n");
  const pid_t child = static_cast<pid_t>(std::stol(test::read_file(pid_file)));
  errno = 0;
  EXPECT_EQ(kill(child, 0), -1);
  EXPECT_EQ(errno, ESRCH);
}

}  // namespace
}  // namespace tovrel::exec::testing
