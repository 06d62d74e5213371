// The test tool that refuses system calls on demand: if it silently refused nothing, every
// fallback test built on it would pass without reaching its fallback.
#include "support/refuse.h"

#include <stdexcept>

#include <gtest/gtest.h>

#include "support/run.h"

namespace tovrel::test {
namespace {

RunResult sh(const std::string& script, std::vector<std::string> rules) {
  RunOptions o;
  o.program = "/bin/sh";
  o.refuse = std::move(rules);
  return run({"-c", script}, o);
}

TEST(Refuse, RefusesTheNamedCallsAndOnlyThose) {
  TempDir dir;
  write_file(dir / "f", "");
  write_file(dir / "g", "hi\n");
  const std::string append = "echo x >> " + dir / "f" + " && echo appended";
  const std::string subshell = "(exit 3); echo $?";
  struct Case {
    const char* label;
    std::string script;
    std::vector<std::string> rules;
    std::string out;
    std::string err_part;
  } cases[] = {
      {"no rules", append, {}, "appended\n", ""},
      {"an argument that matches",
       append,
       {"openat/2/0x400/0x400:EXDEV"},
       "",
       "Invalid cross-device link"},
      {"an argument that does not match",
       "cat " + dir / "g",
       {"openat/2/0x400/0x400:EXDEV"},
       "hi\n",
       ""},
      {"fork refused, vfork left", subshell, {"clone/0/0x100/0:EAGAIN"}, "", "fork"},
      {"fork left", subshell, {"clone/0/0x100/0x100:EAGAIN"}, "3\n", ""},
  };
  for (const Case& c : cases) {
    const RunResult r = sh(c.script, c.rules);
    EXPECT_EQ(r.out, c.out) << c.label;
    EXPECT_NE(r.err.find(c.err_part), std::string::npos) << c.label << ": " << r.err;
  }
}

TEST(Refuse, AnUnreadableRuleIsAnError) {
  for (const char* rule :
       {"nosuchcall:EPERM", "openat", "openat:ENOPE", "openat/9/1/1:EPERM", "openat/2/1:EPERM"}) {
    EXPECT_THROW(SyscallFilter({rule}), std::invalid_argument) << rule;
  }
}

}  // namespace
}  // namespace tovrel::test
