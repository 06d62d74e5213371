// The parser engine through the tovrel tree: words in, exact text, stream and status out.

#include "cli/engine.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/expected_texts.h"
#include "cli/suggest.h"
#include "cli/tree.h"

namespace tovrel::cli {
namespace {

using namespace tovrel::cli::expected;

struct Shown {
  Stream stream;
  int status;
  std::string text;
};

// Parses `words` against a fresh tree; a match is reported as status -1 and no text.
Shown shown(const std::vector<std::string>& words, std::string_view name = "tovrel") {
  const Command tree = build_cli();
  ParseOutcome outcome = parse(tree, name, words);
  if (auto* exit = std::get_if<ParseExit>(&outcome)) {
    return Shown{exit->stream, exit->status, exit->text.plain()};
  }
  return Shown{Stream::kStdout, -1, ""};
}

TEST(Help, RequestedAndMissing) {
  const struct {
    std::vector<std::string> words;
    Stream stream;
    int status;
    const std::string& text;
  } cases[] = {
      {{}, Stream::kStderr, 2, kRootHelp},
      {{"--"}, Stream::kStderr, 2, kRootHelp},
      {{"--help"}, Stream::kStdout, 0, kRootHelp},
      {{"-h"}, Stream::kStdout, 0, kRootHelp},
      {{"help"}, Stream::kStdout, 0, kRootHelp},
      {{"-h", "--bogus"}, Stream::kStdout, 0, kRootHelp},
      {{"sign", "--help"}, Stream::kStdout, 0, kSignHelp},
      {{"sign", "--hash", "x", "-hfoo"}, Stream::kStdout, 0, kSignHelp},
      {{"sign", "--help", "--bogus"}, Stream::kStdout, 0, kSignHelp},
      {{"help", "sign"}, Stream::kStdout, 0, kSignHelp},
      {{"keypair"}, Stream::kStderr, 2, kKeypairHelp},
      {{"keypair", "-h"}, Stream::kStdout, 0, kKeypairHelp},
      {{"keypair", "help"}, Stream::kStdout, 0, kKeypairHelp},
      {{"help", "keypair"}, Stream::kStdout, 0, kKeypairHelp},
      {{"keypair", "help", "generate"}, Stream::kStdout, 0, kGenerateHelp},
      {{"help", "keypair", "generate"}, Stream::kStdout, 0, kGenerateHelp},
      {{"keypair", "generate", "--help"}, Stream::kStdout, 0, kGenerateHelp},
      {{"exec", "run", "--help"}, Stream::kStdout, 0, kRunHelp},
      {{"exec", "run", "--arg", "--help", "-h"}, Stream::kStdout, 0, kRunHelp},
      {{"exec", "help", "run"}, Stream::kStdout, 0, kRunHelp},
      {{"exec", "kill", "-h"}, Stream::kStdout, 0, kKillHelp},
      {{"help", "help"}, Stream::kStdout, 0, kHelpHelp},
  };
  for (const auto& c : cases) {
    std::string label;
    for (const auto& w : c.words) label += w + " ";
    const Shown s = shown(c.words);
    EXPECT_EQ(s.text, c.text) << label;
    EXPECT_EQ(s.stream, c.stream) << label;
    EXPECT_EQ(s.status, c.status) << label;
  }
}

TEST(Help, OtherLeavesAndGroups) {
  EXPECT_EQ(
      shown({"verify", "-h"}).text,
      "Verify an Ed25519 signature\n\n"
      "Usage: tovrel verify --hash <HASH> --signature <SIGNATURE> --public-key <PUBLIC_KEY>\n\n"
      "Options:\n"
      "      --hash <HASH>              SHA256 hex digest that was signed\n"
      "      --signature <SIGNATURE>    Base64url-encoded signature\n"
      "      --public-key <PUBLIC_KEY>  Path to public_key.pem\n"
      "  -h, --help                     Print help\n");
  EXPECT_EQ(shown({"cas", "store", "-h"}).text,
            "Store content from stdin\n\n"
            "Usage: tovrel cas store [OPTIONS] --root <ROOT>\n\n"
            "Options:\n"
            "      --root <ROOT>  \n"
            "      --blob         \n"
            "  -h, --help         Print help\n");
  EXPECT_EQ(
      shown({"time", "now", "-h"}).text,
      "Current wall-clock time\n\nUsage: tovrel time now\n\nOptions:\n  -h, --help  Print help\n");
  EXPECT_EQ(shown({"envelope", "open", "-h"}).text,
            "Decrypt a sealed envelope, validate env map, return safe entries. Reads envelope JSON "
            "from stdin\n\n"
            "Usage: tovrel envelope open --key-dir <KEY_DIR>\n\n"
            "Options:\n"
            "      --key-dir <KEY_DIR>  Directory containing box_key.pem\n"
            "  -h, --help               Print help\n");
  EXPECT_EQ(shown({"exec"}).text,
            "Execute primitive \u2014 process lifecycle\n\n"
            "Usage: tovrel exec <COMMAND>\n\n"
            "Commands:\n"
            "  run     Run a command, wait for completion, capture output\n"
            "  spawn   Spawn a detached/daemonized child process\n"
            "  kill    Kill a process by PID\n"
            "  stream  Stream a command's output with raw passthrough (no JSON wrapping)\n"
            "  status  Check if a process is alive\n"
            "  help    Print this message or the help of the given subcommand(s)\n\n"
            "Options:\n"
            "  -h, --help  Print help\n");
  EXPECT_EQ(shown({"exec", "spawn", "-h"}).text,
            "Spawn a detached/daemonized child process\n\n"
            "Usage: tovrel exec spawn [OPTIONS] --cmd <CMD>\n\n"
            "Options:\n"
            "      --cmd <CMD>      \n"
            "      --arg <ARGS>     \n"
            "      --log <LOG>      \n"
            "      --env <ENVS>     \n"
            "      --stdin <STDIN>  \n"
            "      --stdin-pipe     \n"
            "  -h, --help           Print help\n");
  EXPECT_EQ(shown({"exec", "stream", "-h"})
                .text.rfind("Stream a command's output with raw passthrough (no JSON wrapping)\n\n"
                            "Usage: tovrel exec stream [OPTIONS] --cmd <CMD>\n",
                            0),
            0u);
  EXPECT_NE(shown({"exec", "stream", "-h"}).text.find("--timeout <TIMEOUT>  [default: 300]\n"),
            std::string::npos);
  EXPECT_NE(shown({"exec", "help", "help"}).text.find("\nUsage: tovrel exec help [COMMAND]...\n"),
            std::string::npos);
}

TEST(Help, UsageNameShowsInEveryLine) {
  EXPECT_NE(shown({"exec", "run", "-h"}, "runner").text.find("\nUsage: runner exec run [OPTIONS]"),
            std::string::npos);
  EXPECT_NE(shown({"sign"}, "runner").text.find("Usage: runner sign --key-dir"), std::string::npos);
}

TEST(Errors, Table) {
  const struct {
    std::vector<std::string> words;
    std::string text;
  } cases[] = {
      // Words a leaf cannot take.
      {{"sign", "stray"},
       "error: unexpected argument 'stray' found\n\nUsage: tovrel sign --key-dir <KEY_DIR> --hash <HASH>" +
           kTry},
      {{"sign", "-xyz"},
       "error: unexpected argument '-x' found\n\nUsage: tovrel sign --key-dir <KEY_DIR> --hash <HASH>" +
           kTry},
      {{"sign", "--hash", "-x"},
       "error: unexpected argument '-x' found\n\nUsage: tovrel sign --key-dir <KEY_DIR> --hash <HASH>" +
           kTry},
      {{"exec", "run", "--timeout", "-1"},
       "error: unexpected argument '-1' found\n\nUsage: tovrel exec run [OPTIONS] --cmd <CMD>" +
           kTry},
      {{"sign", "-"},
       "error: unexpected argument '-' found\n\nUsage: tovrel sign --key-dir <KEY_DIR> --hash <HASH>" +
           kTry},
      // Undeclared long options.
      {{"exec", "run", "--cmd", "ls", "--cmdd"},
       "error: unexpected argument '--cmdd' found\n\n  tip: a similar argument exists: '--cmd'\n\n"
       "Usage: tovrel exec run --cmd <CMD>" +
           kTry},
      {{"exec", "run", "--stdin-pipe", "--cmdd"},
       "error: unexpected argument '--cmdd' found\n\n  tip: a similar argument exists: '--cmd'\n\n"
       "Usage: tovrel exec run --cmd <CMD> --stdin-pipe" +
           kTry},
      {{"time", "now", "--ms", "5"},
       "error: unexpected argument '--ms' found\n\nUsage: tovrel time now" + kTry},
      {{"cas", "has", "--root", "r", "--blob"},
       "error: unexpected argument '--blob' found\n\nUsage: tovrel cas has --root <ROOT> --hash <HASH>" +
           kTry},
      {{"exec", "spawn", "--cmd", "x", "--timeout", "5"},
       "error: unexpected argument '--timeout' found\n\nUsage: tovrel exec spawn --cmd <CMD>" +
           kTry},
      {{"exec", "spawn", "--cmd", "x", "--cwd=/"},
       "error: unexpected argument '--cwd' found\n\n  tip: a similar argument exists: '--cmd'\n\n"
       "Usage: tovrel exec spawn --cmd <CMD>" +
           kTry},
      {{"exec", "spawn", "--timeout", "5"},
       "error: unexpected argument '--timeout' found\n\nUsage: tovrel exec spawn [OPTIONS] --cmd <CMD>" +
           kTry},
      {{"exec", "status", "--pid", "1", "--grace", "2"},
       "error: unexpected argument '--grace' found\n\nUsage: tovrel exec status --pid <PID>" +
           kTry},
      {{"--version"},
       "error: unexpected argument '--version' found\n\nUsage: tovrel <COMMAND>" + kTry},
      {{"--hel"},
       "error: unexpected argument '--hel' found\n\n  tip: a similar argument exists: '--help'\n\n"
       "Usage: tovrel <COMMAND>" +
           kTry},
      {{"sign", "--hash=x", "--hepl"},
       "error: unexpected argument '--hepl' found\n\n  tip: a similar argument exists: '--help'\n\n"
       "Usage: tovrel sign --key-dir <KEY_DIR> --hash <HASH> --help" +
           kTry},
      {{"sign", "--bogus", "--help"},
       "error: unexpected argument '--bogus' found\n\nUsage: tovrel sign --key-dir <KEY_DIR> --hash <HASH>" +
           kTry},
      // Subcommands.
      {{"exe"},
       "error: unrecognized subcommand 'exe'\n\n  tip: a similar subcommand exists: 'exec'\n\n"
       "Usage: tovrel <COMMAND>" +
           kTry},
      {{"keypair", "finger"},
       "error: unrecognized subcommand 'finger'\n\n"
       "  tip: some similar subcommands exist: 'box-fingerprint', 'fingerprint'\n\n"
       "Usage: tovrel keypair <COMMAND>" +
           kTry},
      {{"bogus"}, "error: unrecognized subcommand 'bogus'\n\nUsage: tovrel <COMMAND>" + kTry},
      {{"Exec"},
       "error: unrecognized subcommand 'Exec'\n\n  tip: a similar subcommand exists: 'exec'\n\n"
       "Usage: tovrel <COMMAND>" +
           kTry},
      {{"help", "bogus"},
       "error: unrecognized subcommand 'bogus'\n\nUsage: tovrel <COMMAND>" + kTry},
      {{"help", "exec", "bogus"},
       "error: unrecognized subcommand 'bogus'\n\nUsage: tovrel exec <COMMAND>" + kTry},
      {{"help", "sign", "x"},
       "error: unrecognized subcommand 'x'\n\nUsage: tovrel sign --key-dir <KEY_DIR> --hash <HASH>" +
           kTry},
      {{"help", "help", "x"},
       "error: unrecognized subcommand 'x'\n\nUsage: tovrel help [COMMAND]...\n"},
      {{"\xff"}, "error: unrecognized subcommand '\xef\xbf\xbd'\n\nUsage: tovrel <COMMAND>" + kTry},
      {{"exec", "-x"},
       "error: unexpected argument '-x' found\n\nUsage: tovrel exec <COMMAND>" + kTry},
      {{"exec", "--cmd", "x", "run"},
       "error: unexpected argument '--cmd' found\n\n  tip: 'run --cmd' exists\n\n"
       "Usage: tovrel exec <COMMAND>" +
           kTry},
      // "--"
      {{"--", "exec"},
       "error: unexpected argument 'exec' found\n\n"
       "  tip: subcommand 'exec' exists; to use it, remove the '--' before it\n\n"
       "Usage: tovrel <COMMAND>" +
           kTry},
      {{"exec", "run", "--", "--cmd", "x"},
       "error: unexpected argument '--cmd' found\n\nUsage: tovrel exec run [OPTIONS] --cmd <CMD>" +
           kTry},
      {{"exec", "run", "--cmd", "x", "--", "y"},
       "error: unexpected argument 'y' found\n\nUsage: tovrel exec run [OPTIONS] --cmd <CMD>" +
           kTry},
      // Missing required options.
      {{"sign"},
       "error: the following required arguments were not provided:\n  --key-dir <KEY_DIR>\n  --hash <HASH>\n\n"
       "Usage: tovrel sign --key-dir <KEY_DIR> --hash <HASH>" +
           kTry},
      {{"sign", "--hash", "h"},
       "error: the following required arguments were not provided:\n  --key-dir <KEY_DIR>\n\n"
       "Usage: tovrel sign --key-dir <KEY_DIR> --hash <HASH>" +
           kTry},
      {{"exec", "run", "--stdin-pipe"},
       "error: the following required arguments were not provided:\n  --cmd <CMD>\n\n"
       "Usage: tovrel exec run --cmd <CMD> --stdin-pipe" +
           kTry},
      {{"exec", "kill"},
       "error: the following required arguments were not provided:\n  --pid <PID>\n\n"
       "Usage: tovrel exec kill --pid <PID>" +
           kTry},
      {{"exec", "status"},
       "error: the following required arguments were not provided:\n  --pid <PID>\n\n"
       "Usage: tovrel exec status --pid <PID>" +
           kTry},
      {{"time", "after"},
       "error: the following required arguments were not provided:\n  --ms <MS>\n\n"
       "Usage: tovrel time after --ms <MS>" +
           kTry},
      {{"cas", "fetch", "--blob", "--hash", "h"},
       "error: the following required arguments were not provided:\n  --root <ROOT>\n\n"
       "Usage: tovrel cas fetch --root <ROOT> --hash <HASH> --blob" +
           kTry},
      // Values missing.
      {{"exec", "run", "--cmd", "x", "--arg"},
       "error: a value is required for '--arg <ARGS>' but none was supplied" + kTry},
      {{"sign", "--hash", "--key-dir", "k"},
       "error: a value is required for '--hash <HASH>' but none was supplied" + kTry},
      {{"sign", "--hash", "--help"},
       "error: a value is required for '--hash <HASH>' but none was supplied" + kTry},
      {{"sign", "--hash", "--"},
       "error: a value is required for '--hash <HASH>' but none was supplied" + kTry},
      // Values rejected by their parser.
      {{"time", "after", "--ms", "18446744073709551616"},
       "error: invalid value '18446744073709551616' for '--ms <MS>': number too large to fit in target type" +
           kTry},
      {{"time", "after", "--ms=-1"},
       "error: invalid value '-1' for '--ms <MS>': invalid digit found in string" + kTry},
      {{"time", "after", "--ms="},
       "error: invalid value '' for '--ms <MS>': cannot parse integer from empty string" + kTry},
      {{"time", "after", "--ms", "+"},
       "error: invalid value '+' for '--ms <MS>': invalid digit found in string" + kTry},
      {{"exec", "kill", "--pid", "4294967296"},
       "error: invalid value '4294967296' for '--pid <PID>': 4294967296 is not in 0..=4294967295" +
           kTry},
      {{"exec", "kill", "--pid=-1"},
       "error: invalid value '-1' for '--pid <PID>': -1 is not in 0..=4294967295" + kTry},
      {{"exec", "kill", "--pid", "12a"},
       "error: invalid value '12a' for '--pid <PID>': invalid digit found in string" + kTry},
      {{"exec", "kill", "--pid", "99999999999999999999"},
       "error: invalid value '99999999999999999999' for '--pid <PID>': number too large to fit in target type" +
           kTry},
      {{"exec", "kill", "--pid=-99999999999999999999"},
       "error: invalid value '-99999999999999999999' for '--pid <PID>': number too small to fit in target type" +
           kTry},
      {{"exec", "kill", "--pid=+0004294967296"},
       "error: invalid value '+0004294967296' for '--pid <PID>': 4294967296 is not in 0..=4294967295" +
           kTry},
      {{"exec", "kill", "--pid", ""},
       "error: invalid value '' for '--pid <PID>': cannot parse integer from empty string" + kTry},
      {{"exec", "kill", "--pid", "1", "--grace", "x"},
       "error: invalid value 'x' for '--grace <GRACE>': invalid float literal" + kTry},
      {{"exec", "run", "--cmd", "x", "--timeout", "0x10"},
       "error: invalid value '0x10' for '--timeout <TIMEOUT>': invalid float literal" + kTry},
      {{"exec", "run", "--cmd", "x", "--timeout", "5s"},
       "error: invalid value '5s' for '--timeout <TIMEOUT>': invalid float literal" + kTry},
      {{"exec", "run", "--cmd", "x", "--timeout", " 5"},
       "error: invalid value ' 5' for '--timeout <TIMEOUT>': invalid float literal" + kTry},
      {{"exec", "stream", "--cmd", "x", "--timeout="},
       "error: invalid value '' for '--timeout <TIMEOUT>': cannot parse float from empty string" +
           kTry},
      // Repetition and flag values.
      {{"cas", "store", "--blob", "--blob"},
       "error: the argument '--blob' cannot be used multiple times\n\n"
       "Usage: tovrel cas store [OPTIONS] --root <ROOT>" +
           kTry},
      {{"cas", "store", "--root", "a", "--root", "b"},
       "error: the argument '--root <ROOT>' cannot be used multiple times\n\n"
       "Usage: tovrel cas store [OPTIONS] --root <ROOT>" +
           kTry},
      {{"cas", "store", "--blob=true"},
       "error: unexpected value 'true' for '--blob' found; no more were expected\n\n"
       "Usage: tovrel cas store --root <ROOT> --blob" +
           kTry},
      {{"exec", "run", "--cmd", "x", "--stdin-pipe="},
       "error: unexpected value '' for '--stdin-pipe' found; no more were expected\n\n"
       "Usage: tovrel exec run --cmd <CMD> --stdin-pipe" +
           kTry},
      // The given-options line counts an option whose value came as the word before.
      {{"exec", "run", "--env", "a=b", "--stdin-pipe=1"},
       "error: unexpected value '1' for '--stdin-pipe' found; no more were expected\n\n"
       "Usage: tovrel exec run --cmd <CMD> --env <ENVS> --stdin-pipe" +
           kTry},
      {{"exec", "run", "--timeout", "3", "--stdin-pipe=1"},
       "error: unexpected value '1' for '--stdin-pipe' found; no more were expected\n\n"
       "Usage: tovrel exec run --cmd <CMD> --timeout <TIMEOUT> --stdin-pipe" +
           kTry},
      {{"exec", "run", "--cwd", "x", "--arg", "a", "--stdin-pipe=1"},
       "error: unexpected value '1' for '--stdin-pipe' found; no more were expected\n\n"
       "Usage: tovrel exec run --cmd <CMD> --cwd <CWD> --arg <ARGS> --stdin-pipe" +
           kTry},
      {{"exec", "run", "--timeout", "x", "--stdin-pipe=1"},
       "error: unexpected value '1' for '--stdin-pipe' found; no more were expected\n\n"
       "Usage: tovrel exec run --cmd <CMD> --timeout <TIMEOUT> --stdin-pipe" +
           kTry},
      {{"exec", "run", "--arg", "a", "--cmdd"},
       "error: unexpected argument '--cmdd' found\n\n  tip: a similar argument exists: '--cmd'\n\n"
       "Usage: tovrel exec run --cmd <CMD> --arg <ARGS>" +
           kTry},
      {{"exec", "spawn", "--log", "l", "--bogus"},
       "error: unexpected argument '--bogus' found\n\nUsage: tovrel exec spawn --cmd <CMD> --log <LOG>" +
           kTry},
      {{"exec", "run", "--env", "a=b", "--timeout", "3"},
       "error: the following required arguments were not provided:\n  --cmd <CMD>\n\n"
       "Usage: tovrel exec run --cmd <CMD> --env <ENVS> --timeout <TIMEOUT>" +
           kTry},
      // Bytes that are not UTF-8.
      {{"cas", "store", "--root", "\xff"},
       "error: invalid UTF-8 was detected in one or more arguments\n\n"
       "Usage: tovrel cas store [OPTIONS] --root <ROOT>" +
           kTry},
      {{"exec", "kill", "--pid=\xc3"},
       "error: invalid UTF-8 was detected in one or more arguments\n\n"
       "Usage: tovrel exec kill [OPTIONS] --pid <PID>" +
           kTry},
      {{"sign", "w\xff"},
       "error: unexpected argument 'w\xef\xbf\xbd' found\n\nUsage: tovrel sign --key-dir <KEY_DIR> --hash <HASH>" +
           kTry},
  };
  for (const auto& c : cases) {
    std::string label;
    for (const auto& w : c.words) label += w + " ";
    const Shown s = shown(c.words);
    EXPECT_EQ(s.text, c.text) << label;
    EXPECT_EQ(s.stream, Stream::kStderr) << label;
    EXPECT_EQ(s.status, 2) << label;
  }
}

TEST(Parse, AcceptedCommandLines) {
  const std::vector<std::vector<std::string>> accepted = {
      {"exec", "run", "--cmd", "x", "--"},
      {"exec", "run", "--cmd=ls", "--arg", "-l", "--arg", "--help", "--arg", "--", "--arg", "-"},
      {"verify", "--hash", "h", "--signature", "-abc", "--public-key", "p"},
      {"verify", "--signature", "--help", "--hash", "h", "--public-key", "p"},
      {"sign", "--hash=-x", "--key-dir", "k"},
      {"sign", "--hash", "-", "--key-dir", "k"},
      {"cas", "store", "--root="},
      {"time", "after", "--ms", "18446744073709551615"},
      {"time", "now"},
  };
  for (const auto& words : accepted) {
    std::string label;
    for (const auto& w : words) label += w + " ";
    const Shown s = shown(words);
    EXPECT_EQ(s.status, -1) << label << "\n" << s.text;
  }
}

TEST(Suggestions, JaroAndOrder) {
  EXPECT_NEAR(jaro("martha", "marhta"), 0.944444, 1e-5);
  EXPECT_NEAR(jaro("dixon", "dicksonx"), 0.766667, 1e-5);
  EXPECT_EQ(jaro("", ""), 1.0);
  EXPECT_EQ(jaro("a", ""), 0.0);
  EXPECT_NEAR(jaro("exe", "exec"), 0.916667, 1e-5);
  // Least similar first; equal scores keep the candidates' order.
  EXPECT_EQ(similar_names("finger", {"generate", "fingerprint", "box-fingerprint", "help"}),
            (std::vector<std::string>{"box-fingerprint", "fingerprint"}));
  EXPECT_EQ(similar_names("ab", {"abx", "aby"}), (std::vector<std::string>{"abx", "aby"}));
  // Code points, not bytes: an accented letter is one mismatch.
  EXPECT_NEAR(jaro("\xc3\xa9xec", "exec"), jaro("xxec", "exec"), 1e-12);
}

TEST(Styled, ColourOnlyWhenAsked) {
  const Shown plain = shown({"exe"});
  const Command tree = build_cli();
  ParseOutcome outcome = parse(tree, "tovrel", {"exe"});
  const std::string coloured = std::get<ParseExit>(outcome).text.render(true);
  EXPECT_NE(coloured, plain.text);
  EXPECT_NE(coloured.find("\x1b[1m\x1b[31merror:\x1b[0m"), std::string::npos);
  EXPECT_EQ(plain.text.find('\x1b'), std::string::npos);
}

}  // namespace
}  // namespace tovrel::cli
