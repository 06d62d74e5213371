// The pure pieces of the exec module, and outcomes that need control over this process.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <limits>

#include "exec/operations.h"
#include "exec/process.h"
#include "exec/wait.h"
#include "helpers.h"
#include "json/writer.h"

extern char** environ;

namespace tovrel::exec {
namespace {

TEST(TimeoutDuration, Conversions) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double value;
    std::optional<TimeoutDuration> expected;
  } cases[] = {
      {0.0, TimeoutDuration{0, 0}},
      {-0.0, TimeoutDuration{0, 0}},
      {1e-10, TimeoutDuration{0, 0}},
      {5e-10, TimeoutDuration{0, 1}},  // just above half a nanosecond (the double of 5e-10)
      {2.5, TimeoutDuration{2, 500000000}},
      {0.1, TimeoutDuration{0, 100000000}},
      {300.0, TimeoutDuration{300, 0}},
      {0.9999999999, TimeoutDuration{1, 0}},  // rounds up into the seconds
      {1.0000000005, TimeoutDuration{1, 1}},  // the double lies just above the half: up
      {18446744073709549568.0, TimeoutDuration{18446744073709549568ull, 0}},
      {-1.0, std::nullopt},
      {-1e-300, std::nullopt},
      {std::nan(""), std::nullopt},
      {inf, std::nullopt},
      {-inf, std::nullopt},
      {1e20, std::nullopt},
      {18446744073709551616.0, std::nullopt},
  };
  for (const auto& c : cases) {
    const auto got = timeout_duration(c.value);
    ASSERT_EQ(got.has_value(), c.expected.has_value()) << c.value;
    if (got) {
      EXPECT_EQ(got->seconds, c.expected->seconds) << c.value;
      EXPECT_EQ(got->nanos, c.expected->nanos) << c.value;
    }
  }
}

TEST(TimeoutDuration, TiesGoToEven) {
  // k/1024 s is exact and holds half a nanosecond: 1/1024 s = 976562.5 ns, 3/1024 s =
  // 2929687.5 ns; the exact value decides, not a decimal rendering of it.
  EXPECT_EQ(timeout_duration(1.0 / 1024)->nanos, 976562u);
  EXPECT_EQ(timeout_duration(3.0 / 1024)->nanos, 2929688u);
  EXPECT_EQ(timeout_duration(7.0 + 1.0 / 1024)->nanos, 976562u);
}

TEST(GraceTicks, Table) {
  const struct {
    double grace;
    std::uint32_t ticks;
  } cases[] = {{3.0, 30},
               {0.3, 3},
               {0.15, 2},
               {0.25, 3},
               {0.05, 1},
               {0.01, 1},
               {0.0, 0},
               {-0.0, 0},
               {-5.0, 0},
               {std::nan(""), 0},
               {std::numeric_limits<double>::infinity(), 4294967295u},
               {1e12, 4294967295u}};
  for (const auto& c : cases) EXPECT_EQ(grace_ticks(c.grace), c.ticks) << c.grace;
}

TEST(TimeoutChannel, MessageEmptyDisconnected) {
  {
    TimeoutChannel ch = timeout_channel();
    EXPECT_EQ(ch.receiver.try_receive(), Receive::kEmpty);
    ch.sender.send();
    EXPECT_EQ(ch.receiver.try_receive(), Receive::kMessage);
    EXPECT_EQ(ch.receiver.try_receive(), Receive::kEmpty);
  }
  {
    // A message sent before the sender went away is still received first.
    TimeoutChannel ch = timeout_channel();
    TimeoutReceiver receiver = ch.receiver;
    {
      TimeoutSender gone = std::move(ch.sender);
      gone.send();
    }
    EXPECT_EQ(receiver.try_receive(), Receive::kMessage);
    EXPECT_EQ(receiver.try_receive(), Receive::kDisconnected);
  }
}

TEST(ChildEnvironment, InheritedUnchangedOrRebuiltInNameOrder) {
  ProcessCommand plain = command_new("true");
  std::vector<std::string> ours;
  for (char** e = environ; *e; ++e) ours.emplace_back(*e);
  EXPECT_EQ(child_environment(plain), ours);

  ProcessCommand with = command_new("true");
  apply_env_entries(with, {"ZZZ_TV=1", "A_TV", "AAA_TV=x=y", "ZZZ_TV=2", "=e"});
  const std::vector<std::string> env = child_environment(with);
  for (std::size_t i = 1; i < env.size(); ++i) {
    EXPECT_LT(env[i - 1].substr(0, env[i - 1].find('=')), env[i].substr(0, env[i].find('=')));
  }
  EXPECT_NE(std::find(env.begin(), env.end(), "ZZZ_TV=2"), env.end());
  EXPECT_NE(std::find(env.begin(), env.end(), "AAA_TV=x=y"), env.end());
  EXPECT_NE(std::find(env.begin(), env.end(), "=e"), env.end());
  EXPECT_EQ(std::find(env.begin(), env.end(), "ZZZ_TV=1"), env.end());
  for (const auto& e : env) EXPECT_NE(e.rfind("A_TV", 0) == 0 && e.size() == 4, true);
}

ChildArgs sh_args(const std::string& script, double timeout = 300) {
  ChildArgs args;
  args.cmd = "sh";
  args.args = {"-c", script};
  args.timeout = timeout;
  return args;
}

std::string compact_without_duration(json::JsonValue result) {
  result.as_object().erase("duration_ms");
  return json::to_compact(result);
}

TEST(RunCommand, TimedOutChildIsReaped) {
  const json::JsonValue result =
      run_command(sh_args("echo $$; exec sleep 30", 0.3), std::nullopt);
  const std::string& out = result.find("stdout")->as_string();
  const pid_t pid = static_cast<pid_t>(std::stol(out));
  EXPECT_EQ(result.find("return_code")->as_i64(), -1);
  errno = 0;
  EXPECT_EQ(kill(pid, 0), -1);  // neither running nor a zombie
  EXPECT_EQ(errno, ESRCH);
}

TEST(RunCommand, WaitFailsWhenTheSystemReapsTheChild) {
  // With SIGCHLD ignored the system reaps the child itself; the wait then finds none.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGCHLD, SIG_IGN);
    const std::string text =
        compact_without_duration(run_command(sh_args("echo out; exit 0"), std::nullopt));
    ssize_t ignored = write(fds[1], text.data(), text.size());
    (void)ignored;
    _exit(0);
  }
  close(fds[1]);
  std::string got;
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
    got.append(buf, static_cast<std::size_t>(n));
  close(fds[0]);
  waitpid(pid, nullptr, 0);
  EXPECT_EQ(got,
            "{\"return_code\":-1,\"stderr\":\"Wait failed: No child processes (os error 10)\","
            "\"stdout\":\"\",\"success\":false}");
}

TEST(ResolveStdinData, GivenTextWins) {
  EXPECT_EQ(resolve_stdin_data(std::string("x"), true), "x");
  EXPECT_EQ(resolve_stdin_data(std::string(""), false), "");
  EXPECT_EQ(resolve_stdin_data(std::nullopt, false), std::nullopt);
}

}  // namespace
}  // namespace tovrel::exec
