// The pure pieces of the exec module, and outcomes that need control over this process.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "base/utf8.h"
#include "exec/operations.h"
#include "exec/process.h"
#include "exec/run.h"
#include "exec/stdin_data.h"
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

std::string line_of(const RunReport& report) {
  std::string line;
  write_run_result(report, [&line](std::string_view piece) { line += piece; });
  return line;
}

TEST(RunChild, TimedOutChildIsReaped) {
  base::InputBytes out, err;
  const RunReport report =
      run_child(sh_args("echo $$; exec sleep 30", 0.3), std::nullopt, out, err);
  const pid_t pid = static_cast<pid_t>(std::stol(std::string(report.stdout_bytes)));
  EXPECT_EQ(report.return_code, -1);
  errno = 0;
  EXPECT_EQ(kill(pid, 0), -1);  // neither running nor a zombie
  EXPECT_EQ(errno, ESRCH);
}

TEST(RunChild, WaitFailsWhenTheSystemReapsTheChild) {
  // With SIGCHLD ignored the system reaps the child itself; the wait then finds none.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGCHLD, SIG_IGN);
    base::InputBytes out, err;
    const std::string text =
        line_of(run_child(sh_args("echo out; exit 0"), std::nullopt, out, err));
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
  EXPECT_EQ(testing::without_duration(got),
            "{\"return_code\":-1,\"stderr\":\"Wait failed: No child processes (os error 10)\","
            "\"stdout\":\"\",\"success\":false}");
}

// Bytes with everything lossy decoding and escaping meet: ASCII that is escaped, well-formed
// sequences of every length, truncated ones, stray continuation bytes and bytes that never
// start a sequence, in random order.
std::string mixed_bytes(std::mt19937& rng, std::size_t size) {
  static const std::string_view kTokens[] = {"a",
                                             "Z",
                                             " ",
                                             "\"",
                                             "\\",
                                             "\n",
                                             "\x01",
                                             "\x1f",
                                             "\x7f",
                                             "\xC3\xA9",
                                             "\xE2\x82\xAC",
                                             "\xF0\x9F\x98\x80",
                                             "\xE2\x82",
                                             "\xF0\x9F\x98",
                                             "\xF0\x9F",
                                             "\x80",
                                             "\xBF",
                                             "\xC0",
                                             "\xC1\x80",
                                             "\xED\xA0\x80",
                                             "\xF4\x90\x80\x80",
                                             "\xF5",
                                             "\xFF",
                                             "\xE0\x80\x80"};
  std::uniform_int_distribution<std::size_t> pick(0, std::size(kTokens) - 1);
  std::string out;
  while (out.size() < size) out += kTokens[pick(rng)];
  return out;
}

TEST(RunResultLine, SameTextAsTheCompactWriterInBoundedPieces) {
  std::mt19937 rng(20240613);
  const std::string ascii_up_to_a_cut(64 * 1024 - 2, 'x');
  const struct {
    const char* label;
    std::string out;
    std::string err;
  } fixed[] = {
      {"empty", "", ""},
      {"a sequence across the first cut", ascii_up_to_a_cut + "\xF0\x9F\x98\x80" + "tail", "\xFF"},
      {"a run of continuation bytes across the cut",
       ascii_up_to_a_cut + std::string(10, '\x80') + "tail", ""},
      {"a truncated sequence at the cut", ascii_up_to_a_cut + "\xF0\x9F" + "x", ""},
  };
  std::vector<std::pair<std::string, std::string>> cases;
  for (const auto& c : fixed) cases.emplace_back(c.out, c.err);
  for (std::size_t i = 0; i < 12; ++i) {
    cases.emplace_back(mixed_bytes(rng, 150000 + 997 * i), mixed_bytes(rng, 70000));
  }
  int index = 0;
  for (const auto& [out, err] : cases) {
    RunReport report;
    report.duration_ms = 1.25 * index;
    report.return_code = index - 1;
    report.message = index % 2 ? "Command timed out after 1 seconds\n" : "";
    report.stderr_bytes = err;
    report.stdout_bytes = out;
    report.success = index % 3 == 0;
    json::JsonValue expected = json::object();
    expected["duration_ms"] = report.duration_ms;
    expected["return_code"] = report.return_code;
    expected["stderr"] = report.message + base::utf8_lossy(err);
    expected["stdout"] = base::utf8_lossy(out);
    expected["success"] = report.success;
    std::string line;
    std::size_t largest_piece = 0;
    write_run_result(report, [&](std::string_view piece) {
      line += piece;
      largest_piece = std::max(largest_piece, piece.size());
    });
    EXPECT_TRUE(line == json::to_compact(expected) + "\n") << "case " << index;
    EXPECT_LE(largest_piece, 512u * 1024) << "case " << index;
    ++index;
  }
}

// A decoder written apart from the one under test, from the table of well-formed sequences:
// each lead byte with the ranges its following bytes must lie in. Where a sequence breaks
// off, the bytes that matched so far (at least one) become one U+FFFD, as Python's
// bytes.decode("utf-8", "replace") does.
std::string reference_lossy(std::string_view bytes) {
  struct Row {
    unsigned char first_lo, first_hi;
    std::vector<std::pair<unsigned char, unsigned char>> next;
  };
  static const Row kRows[] = {
      {0x00, 0x7F, {}},
      {0xC2, 0xDF, {{0x80, 0xBF}}},
      {0xE0, 0xE0, {{0xA0, 0xBF}, {0x80, 0xBF}}},
      {0xE1, 0xEC, {{0x80, 0xBF}, {0x80, 0xBF}}},
      {0xED, 0xED, {{0x80, 0x9F}, {0x80, 0xBF}}},
      {0xEE, 0xEF, {{0x80, 0xBF}, {0x80, 0xBF}}},
      {0xF0, 0xF0, {{0x90, 0xBF}, {0x80, 0xBF}, {0x80, 0xBF}}},
      {0xF1, 0xF3, {{0x80, 0xBF}, {0x80, 0xBF}, {0x80, 0xBF}}},
      {0xF4, 0xF4, {{0x80, 0x8F}, {0x80, 0xBF}, {0x80, 0xBF}}},
  };
  std::string out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    const Row* row = nullptr;
    for (const Row& r : kRows) {
      if (b >= r.first_lo && b <= r.first_hi) row = &r;
    }
    std::size_t matched = 1;
    if (row) {
      while (matched <= row->next.size() && i + matched < bytes.size()) {
        const auto c = static_cast<unsigned char>(bytes[i + matched]);
        const auto [lo, hi] = row->next[matched - 1];
        if (c < lo || c > hi) break;
        ++matched;
      }
    }
    if (row && matched == row->next.size() + 1) {
      out.append(bytes.substr(i, matched));
    } else {
      out += "\xEF\xBF\xBD";
    }
    i += matched;
  }
  return out;
}

TEST(RunResultLine, ReferenceDecoderAgreesWithKnownResults) {
  // Results of Python's bytes.decode("utf-8", "replace") on the same bytes.
  const struct {
    std::string bytes;
    std::string decoded;
  } cases[] = {
      {"\xF0\x90\x80\x80\x80z", "\U00010000\uFFFDz"},
      {"\xE0\x80\x80", "\uFFFD\uFFFD\uFFFD"},
      {"\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"},
      {"\xF4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"\xF0\x9F\x98", "\uFFFD"},
      {"\xE2\x82x\xC3", "\uFFFDx\uFFFD"},
      {"\xC0\xAF\xF5\xFF", "\uFFFD\uFFFD\uFFFD\uFFFD"},
  };
  for (const auto& c : cases) EXPECT_EQ(reference_lossy(c.bytes), c.decoded) << c.bytes;
}

// A character followed by stray continuation bytes, placed so that a segment boundary of the
// result line falls on each of its bytes and strays in turn: every cut must leave the text as
// it decodes whole. Boundaries come every 64 KiB of undecoded bytes from where the last
// segment ended: the first lies at 64 KiB, and after a character that straddles it (and pulls
// that cut back) the next lies 64 KiB beyond the cut.
TEST(RunResultLine, CutsNeverSplitACharacterFollowedByStrays) {
  constexpr std::size_t kSegment = 64 * 1024;
  const std::string_view characters[] = {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x90\x80\x80"};
  // The bytes before the case, and where the boundary that it meets lies then.
  const std::string a_straddling_character =
      std::string(kSegment - 1, 'a') + "\xF0\x9F\x98\x80" + std::string(kSegment, 'b');
  const struct {
    const char* label;
    std::string before;
    std::size_t boundary;
  } placements[] = {
      {"first boundary", "", kSegment},
      {"second boundary", std::string(kSegment, 'a'), 2 * kSegment},
      {"boundary after a pulled-back cut", a_straddling_character, 2 * kSegment - 1},
  };
  for (const auto& p : placements) {
    for (const std::string_view character : characters) {
      for (std::size_t strays = 1; strays <= 4; ++strays) {
        const std::size_t unit = character.size() + strays;
        // The character starts from just after the boundary to just before the last stray
        // reaches it.
        for (std::size_t back = 0; back <= unit + 1; ++back) {
          std::string bytes = p.before;
          bytes.resize(p.boundary - back, 'x');
          bytes += character;
          bytes += std::string(strays, '\x80');
          bytes += "z";
          RunReport report;
          report.stdout_bytes = bytes;
          report.stderr_bytes = bytes;
          json::JsonValue expected = json::object();
          expected["duration_ms"] = 0.0;
          expected["return_code"] = -1;
          expected["stderr"] = reference_lossy(bytes);
          expected["stdout"] = reference_lossy(bytes);
          expected["success"] = false;
          EXPECT_TRUE(line_of(report) == json::to_compact(expected) + "\n")
              << p.label << ", a " << character.size() << "-byte character, " << strays
              << " strays, starting " << back << " before the boundary";
        }
      }
    }
  }
}

TEST(ResolveStdinData, GivenTextWins) {
  base::InputBytes holder;
  EXPECT_EQ(resolve_stdin_data(std::string("x"), true, holder), "x");
  EXPECT_EQ(resolve_stdin_data(std::string(""), false, holder), "");
  EXPECT_EQ(resolve_stdin_data(std::nullopt, false, holder), std::nullopt);
  EXPECT_EQ(holder.size(), 0u);
}

}  // namespace
}  // namespace tovrel::exec
