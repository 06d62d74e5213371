// exec run, end to end: results, messages, timeouts, stdin, environment, working directory.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "gate.h"
#include "helpers.h"

namespace tovrel::exec::testing {
namespace {

using test::TempDir;

TEST(ExecRun, OutcomeTable) {
  TempDir dir;
  const std::string no_exec = dir / "no-exec";
  test::write_file(no_exec, "#!/bin/sh\necho never\n");
  chmod(no_exec.c_str(), 0644);
  // Executable, but neither a binary nor a script with a "#!" line: no shell is tried.
  const std::string not_a_program = dir / "garbage";
  test::write_file(not_a_program, "\x01\x02 not a program\n");
  chmod(not_a_program.c_str(), 0755);
  const struct {
    const char* label;
    std::vector<std::string> args;
    std::string expected;
  } cases[] = {
      {"true", {"exec", "run", "--cmd", "true"}, run_json(0, "", "", true)},
      {"false", {"exec", "run", "--cmd", "false"}, run_json(1, "", "", false)},
      {"exit 3 with both streams", sh("printf 'out\\n'; printf 'err\\n' >&2; exit 3"),
       run_json(3, "err\n", "out\n", false)},
      {"killed by a signal", sh("echo before; kill -KILL $$"), run_json(-1, "", "before\n", false)},
      {"missing program",
       {"exec", "run", "--cmd", "/nonexistent/tool"},
       run_json(-1, "Failed to spawn: No such file or directory (os error 2)", "", false)},
      {"missing on PATH",
       {"exec", "run", "--cmd", "no-such-tool-anywhere"},
       run_json(-1, "Failed to spawn: No such file or directory (os error 2)", "", false)},
      {"no execute permission",
       {"exec", "run", "--cmd", no_exec},
       run_json(-1, "Failed to spawn: Permission denied (os error 13)", "", false)},
      {"not an executable format",
       {"exec", "run", "--cmd", not_a_program},
       run_json(-1, "Failed to spawn: Exec format error (os error 8)", "", false)},
      {"missing working directory",
       {"exec", "run", "--cmd", "true", "--cwd", dir / "missing"},
       run_json(-1, "Failed to spawn: No such file or directory (os error 2)", "", false)},
      {"arguments in order",
       {"exec", "run", "--cmd", "printf", "--arg", "%s|", "--arg", "-l", "--arg", "--help", "--arg",
        ""},
       run_json(0, "", "-l|--help||", true)},
  };
  for (const auto& c : cases) {
    const test::RunResult r = test::run(c.args);
    EXPECT_EQ(r.status, 0) << c.label;
    EXPECT_EQ(r.err, "") << c.label;
    EXPECT_EQ(without_duration(r.out), c.expected) << c.label;
    EXPECT_GE(duration_of(r.out), 0.0) << c.label;
  }
}

TEST(ExecRun, LargeOutputOnBothStreamsAtOnce) {
  // Far more than a pipe holds on each stream, interleaved line by line.
  const std::string line(100, 'a');
  const test::RunResult r = test::run(sh("i=0; while [ $i -lt 3000 ]; do echo " + line + "; echo " +
                                         line + " >&2; i=$((i+1)); done"));
  std::string expected;
  for (int i = 0; i < 3000; ++i) expected += line + "\n";
  EXPECT_EQ(without_duration(r.out), run_json(0, expected, expected, true));
}

TEST(ExecRun, InvalidUtf8IsDecodedByMaximalSubparts) {
  // FF: one; C0 80: two (C0 never starts a sequence); E2 82 (truncated): one; then valid.
  const test::RunResult r = test::run(sh("printf 'a\\377b\\300\\200c\\342\\202d\\342\\202\\254'"));
  EXPECT_EQ(without_duration(r.out), run_json(0, "", "a\uFFFDb\uFFFD\uFFFDc\uFFFDd\u20AC", true));
}

TEST(ExecRun, ACharacterWithStraysAcrossASegmentCutDecodesAsWhole) {
  // U+10000 then a stray continuation byte, the stray at 64 KiB, where the line's first
  // segment of undecoded output ends: one U+FFFD for the stray, the character kept.
  TempDir dir;
  const std::string file = dir / "out";
  test::write_file(file, std::string(65532, 'a') + "\xF0\x90\x80\x80\x80z");
  const std::string decoded = std::string(65532, 'a') + "\U00010000\uFFFDz";
  const test::RunResult out = test::run({"exec", "run", "--cmd", "cat", "--arg", file});
  EXPECT_TRUE(without_duration(out.out) == run_json(0, "", decoded, true));
  std::vector<std::string> to_stderr = sh("cat \"$0\" >&2");
  to_stderr.insert(to_stderr.end(), {"--arg", file});
  const test::RunResult err = test::run(to_stderr);
  EXPECT_TRUE(without_duration(err.out) == run_json(0, decoded, "", true));
}

TEST(ExecRun, TimeoutKillsAndKeepsOutput) {
  // The child waits at a gate that never opens: only the kill on expiry ends it.
  Gate gate;
  const double start = monotonic_seconds();
  std::vector<std::string> args = sh("echo out; echo err >&2; exec cat \"$0\"");
  args.insert(args.end(), {"--arg", gate.path(), "--timeout", "1"});
  const test::RunResult r = test::run(args);
  EXPECT_EQ(without_duration(r.out),
            run_json(-1, "Command timed out after 1 seconds\nerr\n", "out\n", false));
  EXPECT_GE(monotonic_seconds() - start, 0.9);
  EXPECT_GE(duration_of(r.out), 900.0);
}

TEST(ExecRun, TimeoutValuesInTheMessage) {
  const struct {
    const char* value;
    const char* text;
  } cases[] = {{"--timeout=0", "0"}, {"--timeout=-0", "-0"}, {"--timeout=0.5", "0.5"}};
  for (const auto& c : cases) {
    std::vector<std::string> args = sh("exec sleep 30");
    args.push_back(c.value);
    const test::RunResult r = test::run(args);
    EXPECT_EQ(
        without_duration(r.out),
        run_json(-1, std::string("Command timed out after ") + c.text + " seconds\n", "", false))
        << c.value;
  }
}

TEST(ExecRun, RefusedTimeoutsStartNothing) {
  TempDir dir;
  const std::string marker = dir / "started";
  const struct {
    const char* value;
    const char* text;
  } cases[] = {{"--timeout=-1", "-1"},
               {"--timeout=nan", "NaN"},
               {"--timeout=inf", "inf"},
               {"--timeout=-inf", "-inf"},
               {"--timeout=1e20", "100000000000000000000"},
               {"--timeout=18446744073709551616", "18446744073709552000"}};
  for (const auto& c : cases) {
    std::vector<std::string> args = sh("touch " + marker);
    args.push_back(c.value);
    const test::RunResult r = test::run(args);
    EXPECT_EQ(without_duration(r.out),
              run_json(-1,
                       std::string("invalid timeout: ") + c.text +
                           ": must be a finite number of seconds from 0 to 18446744073709551615",
                       "", false))
        << c.value;
    EXPECT_NE(access(marker.c_str(), F_OK), 0) << c.value;
  }
}

TEST(ExecRun, StdinChoices) {
  const std::string show = "readlink /proc/self/fd/0 | sed 's/:.*//'; cat";
  const struct {
    const char* label;
    std::vector<std::string> extra;
    std::optional<std::string> our_stdin;
    std::string expected_out;
  } cases[] = {
      {"no data: the null device", {}, std::nullopt, "/dev/null\n"},
      {"--stdin text", {"--stdin", "hello"}, std::nullopt, "pipe\nhello"},
      {"--stdin empty: a pipe at end of file", {"--stdin", ""}, std::nullopt, "pipe\n"},
      {"--stdin wins over --stdin-pipe", {"--stdin", "x", "--stdin-pipe"}, "ignored", "pipe\nx"},
      {"--stdin-pipe", {"--stdin-pipe"}, "piped\n", "pipe\npiped\n"},
      {"--stdin-pipe empty", {"--stdin-pipe"}, "", "/dev/null\n"},
      {"--stdin-pipe invalid UTF-8", {"--stdin-pipe"}, "bad\xff", "/dev/null\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = sh(show);
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    test::RunOptions o;
    o.stdin_data = c.our_stdin;
    const test::RunResult r = test::run(args, o);
    EXPECT_EQ(without_duration(r.out), run_json(0, "", c.expected_out, true))
        << c.label << " status " << r.status << " signal " << r.signal << " " << r.err;
  }
}

TEST(ExecRun, LargeStdinToAFilterDoesNotDeadlock) {
  // cat writes its input back while we are still feeding it: both pipes overflow.
  std::string data;
  for (int i = 0; i < 40000; ++i) data += "line " + std::to_string(i) + "\n";
  // Large texts come through our standard input: one argument holds at most 128 KiB.
  test::RunOptions o;
  o.stdin_data = data;
  const test::RunResult r = test::run({"exec", "run", "--cmd", "cat", "--stdin-pipe"}, o);
  EXPECT_EQ(without_duration(r.out), run_json(0, "", data, true));
}

TEST(ExecRun, ChildThatWritesBeforeReadingGetsAllItsInput) {
  test::RunOptions o;
  o.stdin_data = std::string(3 << 20, 'x');
  std::vector<std::string> args = sh("head -c 1000000 /dev/zero | tr '\\0' y; wc -c");
  args.push_back("--stdin-pipe");
  const test::RunResult r2 = test::run(args, o);
  EXPECT_EQ(without_duration(r2.out),
            run_json(0, "", std::string(1000000, 'y') + "3145728\n", true));
}

TEST(ExecRun, ChildThatNeverReadsItsInput) {
  test::RunOptions o;
  o.stdin_data = std::string(4 << 20, 'x');
  const test::RunResult r = test::run({"exec", "run", "--cmd", "true", "--stdin-pipe"}, o);
  EXPECT_EQ(without_duration(r.out), run_json(0, "", "", true));
}

TEST(ExecRun, LingeringGrandchildDoesNotHoldTheResult) {
  // The background cat holds the output pipes open until the gate opens, which happens only
  // once exec run has exited.
  Gate gate;
  std::vector<std::string> args = sh("cat \"$0\" & echo hi");
  args.insert(args.end(), {"--arg", gate.path()});
  const test::RunResult r = test::run(args);
  // So the cat has started, and will reach the gate.
  ASSERT_EQ(without_duration(r.out), run_json(0, "", "hi\n", true));
  gate.open();
}

TEST(ExecRun, EnvironmentEntries) {
  const struct {
    const char* label;
    std::vector<std::string> envs;
    std::string script;
    std::string expected;
  } cases[] = {
      {"empty name", {"=x"}, "tr '\\0' '\\n' </proc/$$/environ | grep -x '=x'", "=x\n"},
      {"empty value", {"TV_A="}, "echo \"[${TV_A-unset}]\"", "[]\n"},
      {"no '=' is skipped", {"TV_A"}, "echo \"[${TV_A-unset}]\"", "[unset]\n"},
      {"split at the first '='", {"TV_A=b=c"}, "echo \"$TV_A\"", "b=c\n"},
      {"the last entry wins", {"TV_A=1", "TV_A=2"}, "echo \"$TV_A\"", "2\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = sh(c.script);
    for (const auto& e : c.envs) args.insert(args.end(), {"--env", e});
    const test::RunResult r = test::run(args);
    EXPECT_EQ(without_duration(r.out), run_json(0, "", c.expected, true)) << c.label;
  }
}

std::vector<std::string> lines_of(const std::string& json_line) {
  // The stdout member of a run result whose output has no quotes or backslashes.
  const std::string key = "\"stdout\":\"";
  const std::size_t at = json_line.find(key);
  const std::size_t end = json_line.find("\",\"success\"");
  std::string text = json_line.substr(at + key.size(), end - at - key.size());
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t nl = text.find("\\n", pos);
    out.push_back(text.substr(pos, nl - pos));
    pos = nl + 2;
  }
  return out;
}

TEST(ExecRun, EnvironmentIsInheritedOrRebuiltInNameOrder) {
  // /usr/bin/env prints its environment in the order it received it.
  const test::RunResult plain = test::run({"exec", "run", "--cmd", "env"});
  std::vector<std::string> inherited = lines_of(plain.out);
  const test::RunResult rebuilt =
      test::run({"exec", "run", "--cmd", "env", "--env", "ZZ_TV=last", "--env", "AA_TV=first"});
  std::vector<std::string> got = lines_of(rebuilt.out);
  std::vector<std::string> expected = inherited;
  expected.push_back("ZZ_TV=last");
  expected.push_back("AA_TV=first");
  auto name_less = [](const std::string& a, const std::string& b) {
    return a.substr(0, a.find('=')) < b.substr(0, b.find('='));
  };
  std::sort(expected.begin(), expected.end(), name_less);
  EXPECT_EQ(got, expected);
}

TEST(ExecRun, PathOverrideDecidesWhereTheProgramIsFound) {
  TempDir dir;
  test::write_file(dir / "tv-tool", "#!/bin/sh\necho found-in-override\n");
  chmod((dir / "tv-tool").c_str(), 0755);
  const test::RunResult missing = test::run({"exec", "run", "--cmd", "sh", "--arg", "-c", "--arg",
                                             "true", "--env", "PATH=" + dir.path()});
  EXPECT_EQ(without_duration(missing.out),
            run_json(-1, "Failed to spawn: No such file or directory (os error 2)", "", false));
  const test::RunResult found =
      test::run({"exec", "run", "--cmd", "tv-tool", "--env", "PATH=/nonexistent:" + dir.path()});
  EXPECT_EQ(without_duration(found.out), run_json(0, "", "found-in-override\n", true));
}

TEST(ExecRun, RelativeProgramRunsInTheWorkingDirectory) {
  TempDir dir;
  test::write_file(dir / "tool", "#!/bin/sh\necho \"tool in $(pwd)\"\n");
  chmod((dir / "tool").c_str(), 0755);
  const test::RunResult r = test::run({"exec", "run", "--cmd", "./tool", "--cwd", dir.path()});
  char real[4096];
  ASSERT_NE(realpath(dir.path().c_str(), real), nullptr);
  EXPECT_EQ(without_duration(r.out), run_json(0, "", std::string("tool in ") + real + "\n", true));
}

}  // namespace
}  // namespace tovrel::exec::testing
