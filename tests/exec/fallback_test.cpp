// The paths the exec commands take where a system call they prefer is missing or refused: each
// must give exactly what the preferred path gives. Every case runs twice, as it is and with
// the calls refused (support/refuse.h), and the two runs must agree on stdout (apart from a
// pid and a duration), stderr, the exit status and the files the child wrote.

#include <dirent.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <map>
#include <optional>
#include <ostream>

#include "gate.h"
#include "helpers.h"
#include "support/sanitizers.h"

namespace tovrel::exec::testing {
namespace {

// Spawned children are adopted by the nearest subreaper once exec spawn has exited: being it
// lets these tests wait for them to end.
const bool kSubreaper = prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;

// Refusals, named for the messages.
struct Refusal {
  const char* name;
  std::vector<std::string> rules;
};
const Refusal kNoFork{"no fork (the writer process)", {"clone/0/0x100/0:EAGAIN"}};
const Refusal kNoCloseRange{"no close_range", {"close_range:ENOSYS"}};
const Refusal kNoPidfd{"no pidfd", {"pidfd_open:ENOSYS"}};
const Refusal kNoEventfd{"no eventfd", {"eventfd2:ENOSYS"}};
const Refusal kNoPidfdNorEventfd{"no pidfd nor eventfd", {"pidfd_open:ENOSYS", "eventfd2:ENOSYS"}};

struct Case {
  const char* name;
  // "@gate" stands for a gate opened once tovrel has answered, "@dir" for a fresh folder of
  // the run, whose files are part of what the run did.
  std::vector<std::string> args;
  std::optional<std::string> stdin_data;
  std::vector<Refusal> refusals;
};

// What one run did, as far as it may not depend on the path taken.
struct Observed {
  int status = 0;
  int signal = 0;
  std::string out;
  std::string err;
  std::map<std::string, std::string> files;  // name: contents
  bool operator==(const Observed&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Observed& o) {
  os << "status " << o.status << ", signal " << o.signal << ", out " << o.out.substr(0, 300)
     << ", err " << o.err.substr(0, 300);
  for (const auto& [name, bytes] : o.files) os << ", " << name << ": " << bytes.size() << " bytes";
  return os;
}

std::map<std::string, std::string> files_in(const std::string& dir) {
  std::map<std::string, std::string> files;
  DIR* d = opendir(dir.c_str());
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] != '.') files[e->d_name] = test::read_file(dir + "/" + e->d_name);
  }
  closedir(d);
  return files;
}

// The spawned child's pid in `out` is replaced by "PID"; waits for that child to end.
void settle_spawned(std::string& out) {
  const std::string key = "{\"pid\":";
  if (out.rfind(key, 0) != 0) return;
  const std::size_t end = out.find(',');
  const auto pid = static_cast<pid_t>(std::stol(out.substr(key.size(), end - key.size())));
  out = key + "PID" + out.substr(end);
  int status;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  // What else ended and became ours meanwhile (a writer process of exec spawn).
  while (waitpid(-1, &status, WNOHANG) > 0) {
  }
}

Observed observe(const Case& c, const std::vector<std::string>& refuse) {
  test::TempDir dir;
  std::optional<Gate> gate;
  std::vector<std::string> args = c.args;
  for (std::string& a : args) {
    if (a == "@dir") a = dir.path();
    if (a.rfind("@dir/", 0) == 0) a = dir.path() + a.substr(4);
    if (a == "@gate") {
      if (!gate) gate.emplace();
      a = gate->path();
    }
  }
  test::RunOptions o;
  o.stdin_data = c.stdin_data;
  o.refuse = refuse;
  const test::RunResult r = test::run(args, o);
  if (gate) gate->open();
  Observed seen{r.status, r.signal, r.out, r.err, {}};
  if (r.out.rfind(kDurationKey, 0) == 0) seen.out = without_duration(r.out);
  settle_spawned(seen.out);
  seen.files = files_in(dir.path());
  return seen;
}

// Runs each case as it is and under each of its refusals; what the runs as they are did.
std::vector<Observed> check(const std::vector<Case>& cases) {
  std::vector<Observed> plain;
  for (const Case& c : cases) {
    plain.push_back(observe(c, {}));
    for (const Refusal& refusal : c.refusals) {
      EXPECT_EQ(observe(c, refusal.rules), plain.back()) << c.name << ", " << refusal.name;
    }
  }
  return plain;
}

// The child's end is seen through its pidfd, or by looking every few milliseconds without
// one; the output of a child that exits, fails, is killed, outlasts its timeout or leaves a
// descendant holding its pipes is the same either way. The stream's forwarders are told to
// stop through an eventfd, or see it within a poll's timeout without one.
std::vector<Case> child_cases(const char* command) {
  const auto sh = [command](const std::string& script) {
    return std::vector<std::string>{"exec", command, "--cmd", "sh", "--arg", "-c", "--arg", script};
  };
  std::vector<Case> cases = {
      {"exits", sh("echo out; echo err >&2; exit 3"), {}, {}},
      {"its input passed through", {"exec", command, "--cmd", "cat", "--stdin-pipe"}, {}, {}},
      {"killed by a signal", sh("echo out; kill -9 $$"), {}, {}},
      {"outlasts its timeout",
       {"exec", command, "--cmd", "sleep", "--arg", "30", "--timeout", "0.2"},
       {},
       {}},
      // The descendant waits at the gate, which opens once tovrel has answered.
      {"a descendant holds its pipes", sh("echo out; (read x < \"$0\") & exit 0"), {}, {}},
  };
  cases[4].args.insert(cases[4].args.end(), {"--arg", "@gate"});
  cases[1].stdin_data = std::string(1 << 20, 'i');
  return cases;
}

TEST(ExecFallback, Run) {
  std::vector<Case> cases = child_cases("run");
  for (Case& c : cases) c.refusals = {kNoPidfd};
  const std::vector<Observed> plain = check(cases);
  EXPECT_EQ(plain[0].out, run_json(3, "err\n", "out\n", false));
  EXPECT_EQ(plain[1].out, run_json(0, "", std::string(1 << 20, 'i'), true));
  EXPECT_EQ(plain[4].out, run_json(0, "", "out\n", true));
}

TEST(ExecFallback, Stream) {
  std::vector<Case> cases = child_cases("stream");
  for (Case& c : cases) c.refusals = {kNoPidfd, kNoEventfd, kNoPidfdNorEventfd};
  const std::vector<Observed> plain = check(cases);
  EXPECT_EQ(plain[0], (Observed{3, 0, "out\n", "err\n", {}}));
  EXPECT_EQ(plain[1].out, std::string(1 << 20, 'i'));
  EXPECT_EQ(plain[3], (Observed{124, 0, "", "Command timed out after 0.2 seconds\n", {}}));
  EXPECT_EQ(plain[4], (Observed{0, 0, "out\n", "", {}}));
}

// The text a spawned child takes in, far more than a pipe holds.
std::string big_input() {
  std::string s(20'000'000, 'x');
  for (std::size_t i = 0; i < s.size(); i += 4096) s[i] = static_cast<char>('a' + i / 4096 % 26);
  return s;
}

// Each spawned child must have written exactly `log`.
void check_spawns(const std::vector<Case>& cases, const std::vector<std::string>& logs) {
  const std::vector<Observed> plain = check(cases);
  for (std::size_t i = 0; i < plain.size(); ++i) {
    EXPECT_EQ(plain[i].out, "{\"pid\":PID,\"success\":true}\n") << cases[i].name;
    EXPECT_EQ(plain[i].files.at("log"), logs[i]) << cases[i].name;
  }
}

// Without a writer process, the rest of the input is written before exec spawn answers: a
// child that reads at once takes the whole text, and one that stops early stops it (the EPIPE
// ends nothing but the writing).
TEST(ExecFallback, SpawnWithoutFork) {
#ifdef TOVREL_TSAN
  GTEST_SKIP() << "ThreadSanitizer turns vfork into fork: without fork no child starts at all";
#endif
  ASSERT_TRUE(kSubreaper);
  const std::string big = big_input();
  check_spawns({{"reads at once",
                 {"exec", "spawn", "--cmd", "cat", "--stdin-pipe", "--log", "@dir/log"},
                 big,
                 {kNoFork}},
                {"stops early",
                 {"exec", "spawn", "--cmd", "head", "--arg", "-c", "--arg", "100000",
                  "--stdin-pipe", "--log", "@dir/log"},
                 big.substr(0, 1 << 20),
                 {kNoFork}}},
               {big, big.substr(0, 100000)});
}

// The writer process closes every descriptor of ours but the pipe, one at a time where
// close_range is missing: a child that reads only once exec spawn has answered (and its
// caller has seen the end of its output) still takes the whole text.
TEST(ExecFallback, SpawnWithoutCloseRange) {
  ASSERT_TRUE(kSubreaper);
  const std::string input = big_input().substr(0, 3'000'000);
  check_spawns({{"reads after the answer",
                 {"exec", "spawn", "--cmd", "sh", "--arg", "-c", "--arg", "read x < \"$0\"; cat",
                  "--arg", "@gate", "--stdin-pipe", "--log", "@dir/log"},
                 input,
                 {kNoCloseRange}}},
               {input});
}

}  // namespace
}  // namespace tovrel::exec::testing
