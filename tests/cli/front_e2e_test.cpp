// The built binary's command line: help, usage errors, usage names and the Time commands.

#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/hex.h"
#include "cli/expected_texts.h"
#include "support/run.h"

namespace tovrel::test {
namespace {

using namespace tovrel::cli::expected;

// Runs tovrel without inherited colour forcing, so the texts are plain.
RunResult cli(const std::vector<std::string>& args, RunOptions options = {}) {
  options.env_unset.push_back("CLICOLOR_FORCE");
  return run(args, options);
}

TEST(FrontHelp, AskedForGoesToStdout) {
  const struct {
    std::vector<std::string> args;
    const std::string& text;
  } cases[] = {
      {{"--help"}, kRootHelp},
      {{"-h"}, kRootHelp},
      {{"help"}, kRootHelp},
      {{"cas", "--help"}, kCasHelp},
      {{"help", "cas"}, kCasHelp},
      {{"sign", "--help"}, kSignHelp},
      {{"help", "sign"}, kSignHelp},
      {{"exec", "stream", "-h"}, kStreamHelp},
      {{"exec", "help", "stream"}, kStreamHelp},
  };
  for (const auto& c : cases) {
    const RunResult r = cli(c.args);
    EXPECT_EQ(r.status, 0) << c.args[0];
    EXPECT_EQ(r.out, c.text) << c.args[0];
    EXPECT_EQ(r.err, "") << c.args[0];
  }
}

TEST(FrontHelp, MissingCommandGoesToStderr) {
  RunResult r = cli({});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, kRootHelp);
  r = cli({"cas"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, kCasHelp);
}

// A command line as a case label: each word quoted, bytes outside printable ASCII as \xNN.
std::string shown_args(const std::vector<std::string>& args) {
  std::string out;
  for (const std::string& arg : args) {
    out += " '";
    for (const char ch : arg) {
      const auto c = static_cast<unsigned char>(ch);
      if (c >= 0x20 && c < 0x7F) {
        out += ch;
      } else {
        out += "\\x";
        out += base::hex_digit(c >> 4);
        out += base::hex_digit(c);
      }
    }
    out += '\'';
  }
  return out;
}

TEST(FrontErrors, EveryKind) {
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"sign", "--key-dir", "k", "--hash", "h", "extra"},
       "error: unexpected argument 'extra' found\n\nUsage: tovrel sign --key-dir <KEY_DIR> --hash <HASH>" +
           kTry},
      {{"sign", "--hash", "-x"},
       "error: unexpected argument '-x' found\n\nUsage: tovrel sign --key-dir <KEY_DIR> --hash <HASH>" +
           kTry},
      {{"exec", "run", "--cmd", "ls", "--cmdd"},
       "error: unexpected argument '--cmdd' found\n\n  tip: a similar argument exists: '--cmd'\n\n"
       "Usage: tovrel exec run --cmd <CMD>" +
           kTry},
      {{"--bogus"}, "error: unexpected argument '--bogus' found\n\nUsage: tovrel <COMMAND>" + kTry},
      {{"exe"},
       "error: unrecognized subcommand 'exe'\n\n  tip: a similar subcommand exists: 'exec'\n\n"
       "Usage: tovrel <COMMAND>" +
           kTry},
      {{"keypair", "finger"},
       "error: unrecognized subcommand 'finger'\n\n"
       "  tip: some similar subcommands exist: 'box-fingerprint', 'fingerprint'\n\n"
       "Usage: tovrel keypair <COMMAND>" +
           kTry},
      {{"help", "nope"}, "error: unrecognized subcommand 'nope'\n\nUsage: tovrel <COMMAND>" + kTry},
      {{"sign"},
       "error: the following required arguments were not provided:\n  --key-dir <KEY_DIR>\n  --hash <HASH>\n\n"
       "Usage: tovrel sign --key-dir <KEY_DIR> --hash <HASH>" +
           kTry},
      {{"time", "after"},
       "error: the following required arguments were not provided:\n  --ms <MS>\n\n"
       "Usage: tovrel time after --ms <MS>" +
           kTry},
      {{"sign", "--hash", "abc"},
       "error: the following required arguments were not provided:\n  --key-dir <KEY_DIR>\n\n"
       "Usage: tovrel sign --key-dir <KEY_DIR> --hash <HASH>" +
           kTry},
      {{"exec", "run", "--cmd", "x", "--arg"},
       "error: a value is required for '--arg <ARGS>' but none was supplied" + kTry},
      {{"exec", "kill", "--pid", "4294967296"},
       "error: invalid value '4294967296' for '--pid <PID>': 4294967296 is not in 0..=4294967295" +
           kTry},
      {{"exec", "run", "--cmd", "x", "--timeout", "5s"},
       "error: invalid value '5s' for '--timeout <TIMEOUT>': invalid float literal" + kTry},
      {{"time", "after", "--ms=-1"},
       "error: invalid value '-1' for '--ms <MS>': invalid digit found in string" + kTry},
      {{"cas", "store", "--root", "a", "--root", "b"},
       "error: the argument '--root <ROOT>' cannot be used multiple times\n\n"
       "Usage: tovrel cas store [OPTIONS] --root <ROOT>" +
           kTry},
      {{"cas", "store", "--blob", "--blob", "--root", "r"},
       "error: the argument '--blob' cannot be used multiple times\n\n"
       "Usage: tovrel cas store [OPTIONS] --root <ROOT>" +
           kTry},
      {{"cas", "store", "--blob=true"},
       "error: unexpected value 'true' for '--blob' found; no more were expected\n\n"
       "Usage: tovrel cas store --root <ROOT> --blob" +
           kTry},
      {{"exec", "run", "--env", "a=b", "--stdin-pipe=1"},
       "error: unexpected value '1' for '--stdin-pipe' found; no more were expected\n\n"
       "Usage: tovrel exec run --cmd <CMD> --env <ENVS> --stdin-pipe" +
           kTry},
      {{"exec", "run", "--cwd", "x", "--cmdd"},
       "error: unexpected argument '--cmdd' found\n\n  tip: a similar argument exists: '--cmd'\n\n"
       "Usage: tovrel exec run --cmd <CMD> --cwd <CWD>" +
           kTry},
      {{"cas", "store", "--root", "\xff"},
       "error: invalid UTF-8 was detected in one or more arguments\n\n"
       "Usage: tovrel cas store [OPTIONS] --root <ROOT>" +
           kTry},
      {{"--", "exec"},
       "error: unexpected argument 'exec' found\n\n"
       "  tip: subcommand 'exec' exists; to use it, remove the '--' before it\n\n"
       "Usage: tovrel <COMMAND>" +
           kTry},
      {{"exec", "run", "--", "--cmd", "x"},
       "error: unexpected argument '--cmd' found\n\nUsage: tovrel exec run [OPTIONS] --cmd <CMD>" +
           kTry},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("tovrel" + shown_args(c.args));
    const RunResult r = cli(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
  }
}

TEST(FrontUsageName, FromArgv0) {
  const struct {
    const char* argv0;
    const char* name;
  } cases[] = {{"/opt/tools/runner", "runner"},
               {"/opt/tools/", "tools"},
               {"/", "tovrel"},
               {"..", "tovrel"},
               {"", "tovrel"},
               {"bad\xff", "tovrel"}};
  for (const auto& c : cases) {
    RunOptions o;
    o.argv0 = c.argv0;
    const RunResult r = cli({"time", "after"}, o);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(std::string("Usage: ") + c.name + " time after --ms <MS>\n"),
              std::string::npos)
        << c.argv0 << "\n"
        << r.err;
  }
}

TEST(FrontUsageName, ThroughSymlink) {
  TempDir dir;
  const std::string link = dir / "runner";
  ASSERT_EQ(symlink(TOVREL_BIN, link.c_str()), 0);
  RunOptions o;
  o.program = link;
  const RunResult r = cli({"exec"}, o);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Usage: runner exec <COMMAND>\n"), std::string::npos) << r.err;
  const RunResult h = cli({"help", "exec", "kill"}, o);
  EXPECT_EQ(h.status, 0);
  EXPECT_NE(h.out.find("Usage: runner exec kill [OPTIONS] --pid <PID>\n"), std::string::npos)
      << h.out;
}

// Started with no arguments at all (not even argv[0]): the root help names `tovrel`.
TEST(FrontUsageName, EmptyArgv) {
  int err[2];
  ASSERT_EQ(pipe(err), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(err[1], 2);
    close(err[0]);
    char* argv[] = {nullptr};
    char* envp[] = {nullptr};
    execve(TOVREL_BIN, argv, envp);
    _exit(127);
  }
  close(err[1]);
  std::string text;
  char buf[4096];
  ssize_t n;
  while ((n = read(err[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
  close(err[0]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_EQ(text, kRootHelp);
}

TEST(FrontTime, ParsesAndRuns) {
  RunResult r = cli({"time", "after", "--ms", "+0"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.rfind("{\"elapsed_ms\":", 0), 0u) << r.out;
  r = cli({"time", "after", "--ms=20"});
  EXPECT_EQ(r.status, 0);
  ASSERT_EQ(r.out.rfind("{\"elapsed_ms\":", 0), 0u) << r.out;
  EXPECT_GE(std::stoull(r.out.substr(14)), 20u);
  r = cli({"time", "now"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("{\"timestamp_ms\":", 0), 0u) << r.out;
  EXPECT_NE(r.out.find(",\"timestamp_ns\":"), std::string::npos);
  r = cli({"time", "now", "--ms", "5"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "error: unexpected argument '--ms' found\n\nUsage: tovrel time now" + kTry);
}

TEST(FrontColour, OnlyWhenForcedOffTerminals) {
  RunOptions forced;
  forced.env_set["CLICOLOR_FORCE"] = "1";
  forced.env_unset.push_back("NO_COLOR");
  RunResult r = run({"exe"}, forced);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("\x1b["), std::string::npos);
  RunOptions none = forced;
  none.env_set["NO_COLOR"] = "1";
  r = run({"exe"}, none);
  EXPECT_EQ(r.err.find("\x1b["), std::string::npos);
  // A pipe is not a terminal: no colour unless forced.
  RunOptions plain;
  plain.env_unset = {"CLICOLOR_FORCE", "NO_COLOR"};
  plain.env_set["CLICOLOR"] = "1";
  r = run({"exe"}, plain);
  EXPECT_EQ(r.err.find("\x1b["), std::string::npos);
}

}  // namespace
}  // namespace tovrel::test
