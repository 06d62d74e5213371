#include "cli/tree.h"

#include <stdlib.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace tovrel::cli {

namespace {

// Reasons the value parsers give.
constexpr std::string_view kFloatEmpty = "cannot parse float from empty string";
constexpr std::string_view kFloatInvalid = "invalid float literal";
constexpr std::string_view kIntEmpty = "cannot parse integer from empty string";
constexpr std::string_view kIntInvalid = "invalid digit found in string";
constexpr std::string_view kIntTooLarge = "number too large to fit in target type";
constexpr std::string_view kIntTooSmall = "number too small to fit in target type";

bool ascii_iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != b[i]) return false;
  }
  return true;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A decimal number: digits with at most one '.', at least one digit, then an optional
// exponent of 'e' or 'E', an optional sign and at least one digit.
bool is_decimal_number(std::string_view s) {
  std::size_t i = 0, digits = 0;
  while (i < s.size() && is_digit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && is_digit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t exp_digits = 0;
    while (i < s.size() && is_digit(s[i])) ++i, ++exp_digits;
    if (exp_digits == 0) return false;
  }
  return i == s.size();
}

// Reads an optionally signed decimal integer the way the reasons above describe: every
// character is checked in turn, and an overflow is reported as soon as it happens.
template <class T>
base::Result<T> parse_integer(std::string_view s) {
  if (s.empty()) return base::Error{std::string(kIntEmpty)};
  bool negative = false;
  std::string_view digits = s;
  if ((s[0] == '+' || s[0] == '-') && s.size() == 1) return base::Error{std::string(kIntInvalid)};
  if (s[0] == '+') {
    digits = s.substr(1);
  } else if (s[0] == '-' && std::numeric_limits<T>::is_signed) {
    negative = true;
    digits = s.substr(1);
  }
  T value = 0;
  for (char c : digits) {
    if (!is_digit(c)) return base::Error{std::string(kIntInvalid)};
    const T d = static_cast<T>(c - '0');
    T next;
    if (__builtin_mul_overflow(value, T{10}, &next) ||
        (negative ? __builtin_sub_overflow(next, d, &next)
                  : __builtin_add_overflow(next, d, &next))) {
      return base::Error{std::string(negative ? kIntTooSmall : kIntTooLarge)};
    }
    value = next;
  }
  return value;
}

}  // namespace

base::Result<Value> parse_seconds(std::string_view text) {
  if (text.empty()) return base::Error{std::string(kFloatEmpty)};
  std::string_view body = text;
  bool negative = false;
  if (body[0] == '+' || body[0] == '-') {
    negative = body[0] == '-';
    body.remove_prefix(1);
  }
  double value;
  if (ascii_iequals(body, "inf") || ascii_iequals(body, "infinity")) {
    value = std::numeric_limits<double>::infinity();
  } else if (ascii_iequals(body, "nan")) {
    value = std::numeric_limits<double>::quiet_NaN();
  } else if (is_decimal_number(body)) {
    // The syntax is checked above, so strtod reads exactly this text, correctly rounded;
    // overflow gives infinity and underflow zero, neither an error here.
    const std::string copy(body);
    value = strtod(copy.c_str(), nullptr);
  } else {
    return base::Error{std::string(kFloatInvalid)};
  }
  return Value{negative ? std::copysign(value, -1.0) : value};
}

base::Result<Value> parse_pid(std::string_view text) {
  base::Result<std::int64_t> n = parse_integer<std::int64_t>(text);
  if (!n) return std::move(n).take_error();
  if (*n < 0 || *n > 4294967295) {
    return base::Error{std::to_string(*n) + " is not in 0..=4294967295"};
  }
  return Value{static_cast<std::uint32_t>(*n)};
}

base::Result<Value> parse_ms(std::string_view text) {
  base::Result<std::uint64_t> n = parse_integer<std::uint64_t>(text);
  if (!n) return std::move(n).take_error();
  return Value{*n};
}

namespace {

// The tree as tables. An option's long name is its id with '-' for '_', its value name the id
// in capitals, unless a repeatable option takes a singular long name. Default texts are
// written as the value parsers read them and help shows them.

constexpr Option kCmd{.id = "cmd", .long_name = "cmd", .value_name = "CMD", .required = true};
constexpr Option kArgs{.id = "args",
                       .long_name = "arg",
                       .value_name = "ARGS",
                       .kind = OptionKind::kList,
                       .hyphen_values = true};
constexpr Option kCwd{.id = "cwd", .long_name = "cwd", .value_name = "CWD"};
constexpr Option kStdin{.id = "stdin", .long_name = "stdin", .value_name = "STDIN"};
constexpr Option kStdinPipe{
    .id = "stdin_pipe", .long_name = "stdin-pipe", .kind = OptionKind::kFlag};
constexpr Option kEnvs{
    .id = "envs", .long_name = "env", .value_name = "ENVS", .kind = OptionKind::kList};
constexpr Option kTimeout{.id = "timeout",
                          .long_name = "timeout",
                          .value_name = "TIMEOUT",
                          .kind = OptionKind::kNumber,
                          .parser = parse_seconds,
                          .default_text = "300"};
constexpr Option kLog{.id = "log", .long_name = "log", .value_name = "LOG"};
constexpr Option kPid{.id = "pid",
                      .long_name = "pid",
                      .value_name = "PID",
                      .kind = OptionKind::kNumber,
                      .parser = parse_pid,
                      .required = true};
constexpr Option kGrace{.id = "grace",
                        .long_name = "grace",
                        .value_name = "GRACE",
                        .kind = OptionKind::kNumber,
                        .parser = parse_seconds,
                        .default_text = "3"};

// run and stream take the same options.
constexpr Option kRunOptions[] = {kCmd, kArgs, kCwd, kStdin, kStdinPipe, kEnvs, kTimeout};
constexpr Option kSpawnOptions[] = {kCmd, kArgs, kLog, kEnvs, kStdin, kStdinPipe};
constexpr Option kKillOptions[] = {kPid, kGrace};
constexpr Option kStatusOptions[] = {kPid};

constexpr Command kExecCommands[] = {
    {.name = "run",
     .about = "Run a command, wait for completion, capture output",
     .options = kRunOptions},
    {.name = "spawn",
     .about = "Spawn a detached/daemonized child process",
     .options = kSpawnOptions},
    {.name = "kill", .about = "Kill a process by PID", .options = kKillOptions},
    {.name = "stream",
     .about = "Stream a command's output with raw passthrough (no JSON wrapping)",
     .options = kRunOptions},
    {.name = "status", .about = "Check if a process is alive", .options = kStatusOptions},
};

constexpr Option kRoot{.id = "root", .long_name = "root", .value_name = "ROOT", .required = true};
constexpr Option kHash{.id = "hash", .long_name = "hash", .value_name = "HASH", .required = true};
constexpr Option kBlob{.id = "blob", .long_name = "blob", .kind = OptionKind::kFlag};

constexpr Option kStoreOptions[] = {kRoot, kBlob};
constexpr Option kFetchOptions[] = {kRoot, kHash, kBlob};
constexpr Option kHasOptions[] = {kRoot, kHash};

constexpr Command kCasCommands[] = {
    {.name = "store", .about = "Store content from stdin", .options = kStoreOptions},
    {.name = "fetch", .about = "Fetch content by hash", .options = kFetchOptions},
    {.name = "verify", .about = "Verify integrity of stored content", .options = kFetchOptions},
    {.name = "has", .about = "Check if a hash exists", .options = kHasOptions},
};

constexpr Option kKeyDir{
    .id = "key_dir", .long_name = "key-dir", .value_name = "KEY_DIR", .required = true};
constexpr Option kPublicKey{
    .id = "public_key", .long_name = "public-key", .value_name = "PUBLIC_KEY", .required = true};

constexpr Option kSignOptions[] = {
    {.id = "key_dir",
     .long_name = "key-dir",
     .value_name = "KEY_DIR",
     .help = "Directory containing private_key.pem",
     .required = true},
    {.id = "hash",
     .long_name = "hash",
     .value_name = "HASH",
     .help = "SHA256 hex digest to sign",
     .required = true},
};

constexpr Option kVerifyOptions[] = {
    {.id = "hash",
     .long_name = "hash",
     .value_name = "HASH",
     .help = "SHA256 hex digest that was signed",
     .required = true},
    {.id = "signature",
     .long_name = "signature",
     .value_name = "SIGNATURE",
     .help = "Base64url-encoded signature",
     .required = true,
     .hyphen_values = true},
    {.id = "public_key",
     .long_name = "public-key",
     .value_name = "PUBLIC_KEY",
     .help = "Path to public_key.pem",
     .required = true},
};

constexpr Option kGenerateOptions[] = {kKeyDir};
constexpr Option kFingerprintOptions[] = {kPublicKey};

constexpr Command kKeypairCommands[] = {
    {.name = "generate",
     .about = "Generate a new Ed25519 keypair and X25519 encryption keypair",
     .options = kGenerateOptions},
    {.name = "fingerprint",
     .about = "Compute Ed25519 public key fingerprint",
     .options = kFingerprintOptions},
    {.name = "box-fingerprint",
     .about = "Compute X25519 public key fingerprint",
     .options = kFingerprintOptions},
};

constexpr Option kOpenOptions[] = {
    {.id = "key_dir",
     .long_name = "key-dir",
     .value_name = "KEY_DIR",
     .help = "Directory containing box_key.pem",
     .required = true},
};

constexpr Command kEnvelopeCommands[] = {
    {.name = "open",
     .about = "Decrypt a sealed envelope, validate env map, return safe entries. Reads "
              "envelope JSON from stdin",
     .options = kOpenOptions},
};

constexpr Option kAfterOptions[] = {
    {.id = "ms",
     .long_name = "ms",
     .value_name = "MS",
     .kind = OptionKind::kNumber,
     .parser = parse_ms,
     .required = true},
};

constexpr Command kTimeCommands[] = {
    {.name = "now", .about = "Current wall-clock time"},
    {.name = "after", .about = "Sleep for N milliseconds", .options = kAfterOptions},
};

constexpr Command kRootCommands[] = {
    {.name = "exec",
     .about = "Execute primitive \u2014 process lifecycle",
     .help_without_arguments = true,
     .subcommands = kExecCommands},
    {.name = "cas",
     .about = "Memory primitive \u2014 content-addressed storage",
     .help_without_arguments = true,
     .subcommands = kCasCommands},
    {.name = "sign", .about = "Sign a hash with Ed25519", .options = kSignOptions},
    {.name = "verify", .about = "Verify an Ed25519 signature", .options = kVerifyOptions},
    {.name = "keypair",
     .about = "Keypair management",
     .help_without_arguments = true,
     .subcommands = kKeypairCommands},
    {.name = "envelope",
     .about = "Open a sealed secret envelope (decrypt + validate + filter)",
     .help_without_arguments = true,
     .subcommands = kEnvelopeCommands},
    {.name = "time",
     .about = "Time primitive",
     .help_without_arguments = true,
     .subcommands = kTimeCommands},
};

constexpr Command kTree{.name = "tovrel",
                        .about = "Tovrel microkernel \u2014 Execute, Memory, Identity, Time",
                        .help_without_arguments = true,
                        .subcommands = kRootCommands};

}  // namespace

Command build_cli() { return kTree; }

}  // namespace tovrel::cli
