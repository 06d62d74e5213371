// Decoding of parsed command lines into the records, and the decoding failures.

#include "cli/decode.h"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/engine.h"
#include "cli/parse.h"
#include "cli/tree.h"

namespace tovrel::cli {
namespace {

Cli decoded(const std::vector<std::string>& words) {
  const Command tree = build_cli();
  ParseOutcome outcome = parse(tree, "tovrel", words);
  if (auto* exit = std::get_if<ParseExit>(&outcome)) {
    ADD_FAILURE() << exit->text.plain();
    return Cli{TimeCommands{Now{}}};
  }
  DecodeOutcome d = decode_command(std::move(std::get<Matches>(outcome)));
  if (auto* f = std::get_if<DecodeFailure>(&d)) {
    ADD_FAILURE() << f->message;
    return Cli{TimeCommands{Now{}}};
  }
  return std::move(std::get<Cli>(d));
}

template <class Group, class Record>
Record leaf_of(const Cli& cli) {
  const Group* g = std::get_if<Group>(&cli.command);
  if (!g || !std::holds_alternative<Record>(*g)) {
    ADD_FAILURE() << "wrong variant";
    return Record{};
  }
  return std::get<Record>(*g);
}

TEST(Decode, RunDefaults) {
  const auto run =
      leaf_of<exec::ExecCommands, exec::RunArgs>(decoded({"exec", "run", "--cmd", "ls"}));
  EXPECT_EQ(run.cmd, "ls");
  EXPECT_TRUE(run.args.empty());
  EXPECT_FALSE(run.cwd.has_value());
  EXPECT_FALSE(run.stdin.has_value());
  EXPECT_FALSE(run.stdin_pipe);
  EXPECT_TRUE(run.envs.empty());
  EXPECT_EQ(run.timeout, 300.0);
}

TEST(Decode, RunAllFields) {
  const auto run = leaf_of<exec::ExecCommands, exec::RunArgs>(decoded(
      {"exec",     "run",   "--arg", "-l",           "--cmd",     "ls",    "--arg", "--help",
       "--stdin=", "--arg", "--",    "--cwd",        "/tmp",      "--arg", "-",     "--env",
       "A=1,B=2",  "--env", "A=2",   "--stdin-pipe", "--timeout", "1.5"}));
  EXPECT_EQ(run.cmd, "ls");
  EXPECT_EQ(run.args, (std::vector<std::string>{"-l", "--help", "--", "-"}));
  EXPECT_EQ(run.cwd, std::optional<std::string>("/tmp"));
  EXPECT_EQ(run.stdin, std::optional<std::string>(""));
  EXPECT_TRUE(run.stdin_pipe);
  EXPECT_EQ(run.envs, (std::vector<std::string>{"A=1,B=2", "A=2"}));
  EXPECT_EQ(run.timeout, 1.5);
}

TEST(Decode, StreamAndSpawn) {
  const auto stream = leaf_of<exec::ExecCommands, exec::StreamArgs>(
      decoded({"exec", "stream", "--cmd", "x", "--timeout=-1"}));
  EXPECT_EQ(stream.timeout, -1.0);
  const auto spawn = leaf_of<exec::ExecCommands, exec::SpawnArgs>(
      decoded({"exec", "spawn", "--cmd", "x", "--arg", "a", "--arg", "-b", "--stdin", ""}));
  EXPECT_EQ(spawn.args, (std::vector<std::string>{"a", "-b"}));
  EXPECT_FALSE(spawn.log.has_value());
  EXPECT_EQ(spawn.stdin, std::optional<std::string>(""));
  EXPECT_FALSE(spawn.stdin_pipe);
}

TEST(Decode, Timeouts) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    const char* text;
    double value;
  } cases[] = {{"1.5", 1.5}, {"1e3", 1000.0}, {".5", 0.5},       {"5.", 5.0},
               {"INF", inf}, {"=-inf", -inf}, {"1e400", inf},    {"=-1", -1.0},
               {"0", 0.0},   {"+2E-1", 0.2},  {"Infinity", inf}, {"1e-400", 0.0}};
  for (const auto& c : cases) {
    std::vector<std::string> words = {"exec", "run", "--cmd", "x"};
    if (c.text[0] == '=') {
      words.push_back(std::string("--timeout") + c.text);
    } else {
      words.insert(words.end(), {"--timeout", c.text});
    }
    const auto run = leaf_of<exec::ExecCommands, exec::RunArgs>(decoded(words));
    EXPECT_EQ(run.timeout, c.value) << c.text;
  }
  const double nan = leaf_of<exec::ExecCommands, exec::RunArgs>(
                         decoded({"exec", "run", "--cmd", "x", "--timeout", "nan"}))
                         .timeout;
  EXPECT_TRUE(std::isnan(nan));
  const double negative_zero = leaf_of<exec::ExecCommands, exec::RunArgs>(
                                   decoded({"exec", "run", "--cmd", "x", "--timeout=-0"}))
                                   .timeout;
  EXPECT_TRUE(std::signbit(negative_zero));
}

TEST(Decode, KillStatusAndPids) {
  const auto kill =
      leaf_of<exec::ExecCommands, exec::KillArgs>(decoded({"exec", "kill", "--pid", "4294967295"}));
  EXPECT_EQ(kill.pid, 4294967295u);
  EXPECT_EQ(kill.grace, 3.0);
  EXPECT_EQ((leaf_of<exec::ExecCommands, exec::KillArgs>(
                 decoded({"exec", "kill", "--pid=+7", "--grace", "0.25"})))
                .grace,
            0.25);
  EXPECT_EQ(
      (leaf_of<exec::ExecCommands, exec::StatusArgs>(decoded({"exec", "status", "--pid", "0"})))
          .pid,
      0u);
  EXPECT_EQ(
      (leaf_of<exec::ExecCommands, exec::StatusArgs>(decoded({"exec", "status", "--pid=+7"}))).pid,
      7u);
}

TEST(Decode, CasAndIdentity) {
  const auto verify = leaf_of<cas::CasCommands, cas::CasVerifyArgs>(
      decoded({"cas", "verify", "--root", "r", "--hash", "h", "--blob"}));
  EXPECT_EQ(verify.root, "r");
  EXPECT_EQ(verify.hash, "h");
  EXPECT_TRUE(verify.blob);
  const auto store =
      leaf_of<cas::CasCommands, cas::StoreArgs>(decoded({"cas", "store", "--root="}));
  EXPECT_EQ(store.root, "");
  EXPECT_FALSE(store.blob);
  const auto has = leaf_of<cas::CasCommands, cas::HasArgs>(
      decoded({"cas", "has", "--hash", "h", "--root", "r"}));
  EXPECT_EQ(has.root, "r");
  const auto fetch = leaf_of<cas::CasCommands, cas::FetchArgs>(
      decoded({"cas", "fetch", "--root", "r", "--hash", "h"}));
  EXPECT_FALSE(fetch.blob);

  const Cli top_verify =
      decoded({"verify", "--hash", "h", "--signature", "-sig", "--public-key", "p"});
  const auto* v = std::get_if<identity::VerifyArgs>(&top_verify.command);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->hash, "h");
  EXPECT_EQ(v->signature, "-sig");
  EXPECT_EQ(v->public_key, "p");
  const Cli sign = decoded({"sign", "--hash=-x", "--key-dir", "k"});
  ASSERT_TRUE(std::holds_alternative<identity::SignArgs>(sign.command));
  EXPECT_EQ(std::get<identity::SignArgs>(sign.command).hash, "-x");
  EXPECT_EQ(std::get<identity::SignArgs>(sign.command).key_dir, "k");

  EXPECT_EQ((leaf_of<identity::KeypairCommands, identity::GenerateArgs>(
                 decoded({"keypair", "generate", "--key-dir", "d"})))
                .key_dir,
            "d");
  EXPECT_EQ((leaf_of<identity::KeypairCommands, identity::FingerprintArgs>(
                 decoded({"keypair", "fingerprint", "--public-key", "p"})))
                .public_key,
            "p");
  EXPECT_EQ((leaf_of<identity::KeypairCommands, identity::BoxFingerprintArgs>(
                 decoded({"keypair", "box-fingerprint", "--public-key", "b"})))
                .public_key,
            "b");
  EXPECT_EQ((leaf_of<envelope::EnvelopeCommands, envelope::OpenArgs>(
                 decoded({"envelope", "open", "--key-dir", "k"})))
                .key_dir,
            "k");
}

TEST(Decode, Time) {
  EXPECT_TRUE(
      (std::holds_alternative<Now>(std::get<TimeCommands>(decoded({"time", "now"}).command))));
  const struct {
    const char* text;
    std::uint64_t ms;
  } cases[] = {{"0", 0}, {"+5", 5}, {"18446744073709551615", 18446744073709551615u}, {"007", 7}};
  for (const auto& c : cases) {
    const Cli cli = decoded({"time", "after", "--ms", c.text});
    EXPECT_EQ(std::get<AfterArgs>(std::get<TimeCommands>(cli.command)).ms, c.ms) << c.text;
  }
}

DecodeFailure failure_of(Matches m) {
  DecodeOutcome d = decode_command(std::move(m));
  if (auto* f = std::get_if<DecodeFailure>(&d)) return *f;
  ADD_FAILURE() << "decoded";
  return {};
}

Matches path(std::vector<std::string> names, Matches leaf) {
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    Matches up;
    up.set_subcommand(*it, std::move(leaf));
    leaf = std::move(up);
  }
  return leaf;
}

TEST(Decode, Failures) {
  DecodeFailure f = failure_of(Matches{});
  EXPECT_EQ(f.kind, DecodeFailure::Kind::kMissingSubcommand);
  EXPECT_EQ(f.message, "a subcommand is required but one was not provided");

  f = failure_of(path({"exec"}, Matches{}));
  EXPECT_EQ(f.message, "a subcommand is required but one was not provided");

  f = failure_of(path({"nope"}, Matches{}));
  EXPECT_EQ(f.kind, DecodeFailure::Kind::kInvalidSubcommand);
  EXPECT_EQ(f.message, "the subcommand 'nope' wasn't recognized");

  f = failure_of(path({"cas", "Store"}, Matches{}));
  EXPECT_EQ(f.message, "the subcommand 'Store' wasn't recognized");

  // The first missing field in record order is the one reported.
  Matches sign;
  sign.set("hash", std::string("h"));
  f = failure_of(path({"sign"}, std::move(sign)));
  EXPECT_EQ(f.kind, DecodeFailure::Kind::kMissingArgument);
  EXPECT_EQ(f.message, "the following required argument was not provided: key_dir");

  Matches run;
  run.set("cmd", std::string("x"));
  run.set("stdin_pipe", false);
  f = failure_of(path({"exec", "run"}, std::move(run)));
  EXPECT_EQ(f.message, "the following required argument was not provided: timeout");

  Matches after;
  after.set("ms", std::string("5"));
  f = failure_of(path({"time", "after"}, std::move(after)));
  EXPECT_EQ(f.kind, DecodeFailure::Kind::kMismatch);
  EXPECT_EQ(f.message.rfind("Mismatch between definition and access of `ms`. ", 0), 0u);
}

TEST(Decode, FailureFormattedAgainstFreshTree) {
  EXPECT_EQ(
      format_usage_error(build_cli(), "a subcommand is required but one was not provided").plain(),
      "error: a subcommand is required but one was not provided\n\n"
      "Usage: tovrel <COMMAND>\n\n"
      "For more information, try '--help'.\n");
}

TEST(Tree, DefaultTextsMadeOnce) {
  const Command a = build_cli();
  const Command b = build_cli();
  const auto timeout_of = [](const Command& root, const char* sub) {
    for (const Command& s : root.subcommands[0].subcommands) {
      if (s.name != sub) continue;
      for (const Option& o : s.options) {
        if (o.default_text) return *o.default_text;
      }
    }
    return std::string_view();
  };
  EXPECT_EQ(timeout_of(a, "run"), "300");
  EXPECT_EQ(timeout_of(a, "stream"), "300");
  EXPECT_EQ(timeout_of(a, "kill"), "3");
  // Every build hands out the same stored text.
  EXPECT_EQ(timeout_of(a, "run").data(), timeout_of(b, "run").data());
  EXPECT_EQ(timeout_of(a, "kill").data(), timeout_of(b, "kill").data());
}

// The tree spells every option's names out; they follow its id: '-' for '_' in the long name
// (a repeatable option's is singular), the id in capitals as the value name.
TEST(Tree, OptionNamesFollowTheirIds) {
  const auto check = [](const Command& c, const std::string& path, const auto& self) -> void {
    for (const Option& o : c.options) {
      std::string long_name(o.id), value_name;
      for (char& ch : long_name) ch = ch == '_' ? '-' : ch;
      if (o.kind == OptionKind::kList) long_name.pop_back();
      if (o.kind != OptionKind::kFlag) {
        for (char ch : o.id) value_name += ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 32) : ch;
      }
      EXPECT_EQ(o.long_name, long_name) << path << " " << o.id;
      EXPECT_EQ(o.value_name, value_name) << path << " " << o.id;
    }
    for (const Command& s : c.subcommands) self(s, path + " " + std::string(s.name), self);
  };
  check(build_cli(), "tovrel", check);
}

TEST(UsageName, FromArgv0) {
  const struct {
    std::optional<std::string_view> argv0;
    const char* name;
  } cases[] = {
      {"/opt/tools/runner", "runner"},
      {"/opt/tools/", "tools"},
      {"/opt/tools/.", "tools"},
      {"runner", "runner"},
      {"./runner", "runner"},
      {"a//b//", "b"},
      {"/", "tovrel"},
      {"..", "tovrel"},
      {"a/..", "tovrel"},
      {".", "tovrel"},
      {"", "tovrel"},
      {"/x/\xff", "tovrel"},
      {std::nullopt, "tovrel"},
      {"caf\xc3\xa9", "caf\xc3\xa9"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(usage_name(c.argv0, "tovrel"), c.name) << (c.argv0 ? *c.argv0 : "(none)");
  }
}

}  // namespace
}  // namespace tovrel::cli
