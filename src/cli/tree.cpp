#include "cli/tree.h"

#include <stdlib.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "base/decimal.h"

namespace tovrel::cli {

namespace {

constexpr std::string_view kRootAbout = "Tovrel microkernel \u2014 Execute, Memory, Identity, Time";

// Reasons the value parsers give.
constexpr std::string_view kFloatEmpty = "cannot parse float from empty string";
constexpr std::string_view kFloatInvalid = "invalid float literal";
constexpr std::string_view kIntEmpty = "cannot parse integer from empty string";
constexpr std::string_view kIntInvalid = "invalid digit found in string";
constexpr std::string_view kIntTooLarge = "number too large to fit in target type";
constexpr std::string_view kIntTooSmall = "number too small to fit in target type";

// The default texts, written as the value parsers' numbers print. Options refer to them, so
// they are made once and outlive every build of the tree.
const std::string& timeout_default() {
  static const std::string text = base::decimal_text(300.0);
  return text;
}
const std::string& grace_default() {
  static const std::string text = base::decimal_text(3.0);
  return text;
}

std::string value_name_of(std::string_view id) {
  std::string out(id);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string long_name_of(std::string_view id) {
  std::string out(id);
  for (char& c : out) {
    if (c == '_') c = '-';
  }
  return out;
}

Option make(std::string_view id, OptionKind kind) {
  Option o;
  o.id = std::string(id);
  o.long_name = long_name_of(id);
  o.kind = kind;
  if (kind != OptionKind::kFlag) o.value_name = value_name_of(id);
  return o;
}

Option required_text(std::string_view id, std::string_view help = {}) {
  Option o = make(id, OptionKind::kText);
  o.required = true;
  o.help = std::string(help);
  return o;
}

Option optional_text(std::string_view id) { return make(id, OptionKind::kText); }

Option flag(std::string_view id) { return make(id, OptionKind::kFlag); }

Option list(std::string_view id, std::string_view long_name) {
  Option o = make(id, OptionKind::kList);
  o.long_name = std::string(long_name);
  return o;
}

Option number(std::string_view id, ValueParser parser, bool required,
              const std::string* default_text = nullptr) {
  Option o = make(id, OptionKind::kNumber);
  o.parser = parser;
  o.required = required;
  if (default_text) o.default_text = std::string_view(*default_text);
  return o;
}

Command command(std::string_view name, std::string_view about) {
  Command c;
  c.name = std::string(name);
  c.about = std::string(about);
  return c;
}

Command group(std::string_view name, std::string_view about) {
  Command c = command(name, about);
  c.help_without_arguments = true;
  return c;
}

// --cmd, --arg, --cwd, --stdin, --stdin-pipe, --env, --timeout: run and stream alike.
Command run_like(std::string_view name, std::string_view about, const std::string& timeout) {
  Command c = command(name, about);
  Option args = list("args", "arg");
  args.hyphen_values = true;
  c.add(required_text("cmd"))
      .add(args)
      .add(optional_text("cwd"))
      .add(optional_text("stdin"))
      .add(flag("stdin_pipe"))
      .add(list("envs", "env"))
      .add(number("timeout", parse_seconds, false, &timeout));
  return c;
}

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

// Adds run, spawn, kill, stream and status to the exec group.
Command add_exec_subcommands(Command exec) {
  exec.add(run_like("run", "Run a command, wait for completion, capture output",
                    timeout_default()));

  Command spawn = command("spawn", "Spawn a detached/daemonized child process");
  Option args = list("args", "arg");
  args.hyphen_values = true;
  spawn.add(required_text("cmd"))
      .add(args)
      .add(optional_text("log"))
      .add(list("envs", "env"))
      .add(optional_text("stdin"))
      .add(flag("stdin_pipe"));
  exec.add(std::move(spawn));

  Command kill = command("kill", "Kill a process by PID");
  kill.add(number("pid", parse_pid, true))
      .add(number("grace", parse_seconds, false, &grace_default()));
  exec.add(std::move(kill));

  exec.add(run_like("stream", "Stream a command's output with raw passthrough (no JSON wrapping)",
                    timeout_default()));

  Command status = command("status", "Check if a process is alive");
  status.add(number("pid", parse_pid, true));
  exec.add(std::move(status));
  return exec;
}

// Adds exec, cas, sign, verify, keypair, envelope and time, in this order.
Command add_subcommands(Command root) {
  root.add(add_exec_subcommands(group("exec", "Execute primitive \u2014 process lifecycle")));

  Command cas = group("cas", "Memory primitive \u2014 content-addressed storage");
  cas.add(command("store", "Store content from stdin").add(required_text("root")).add(flag("blob")));
  cas.add(command("fetch", "Fetch content by hash")
              .add(required_text("root"))
              .add(required_text("hash"))
              .add(flag("blob")));
  cas.add(command("verify", "Verify integrity of stored content")
              .add(required_text("root"))
              .add(required_text("hash"))
              .add(flag("blob")));
  cas.add(command("has", "Check if a hash exists").add(required_text("root")).add(required_text("hash")));
  root.add(std::move(cas));

  root.add(command("sign", "Sign a hash with Ed25519")
               .add(required_text("key_dir", "Directory containing private_key.pem"))
               .add(required_text("hash", "SHA256 hex digest to sign")));

  Option signature = required_text("signature", "Base64url-encoded signature");
  signature.hyphen_values = true;
  root.add(command("verify", "Verify an Ed25519 signature")
               .add(required_text("hash", "SHA256 hex digest that was signed"))
               .add(signature)
               .add(required_text("public_key", "Path to public_key.pem")));

  Command keypair = group("keypair", "Keypair management");
  keypair.add(command("generate", "Generate a new Ed25519 keypair and X25519 encryption keypair")
                  .add(required_text("key_dir")));
  keypair.add(command("fingerprint", "Compute Ed25519 public key fingerprint")
                  .add(required_text("public_key")));
  keypair.add(command("box-fingerprint", "Compute X25519 public key fingerprint")
                  .add(required_text("public_key")));
  root.add(std::move(keypair));

  Command envelope = group("envelope", "Open a sealed secret envelope (decrypt + validate + filter)");
  envelope.add(command("open",
                       "Decrypt a sealed envelope, validate env map, return safe entries. Reads "
                       "envelope JSON from stdin")
                   .add(required_text("key_dir", "Directory containing box_key.pem")));
  root.add(std::move(envelope));

  Command time = group("time", "Time primitive");
  time.add(command("now", "Current wall-clock time"));
  time.add(command("after", "Sleep for N milliseconds").add(number("ms", parse_ms, true)));
  root.add(std::move(time));
  return root;
}

}  // namespace

Command build_cli() {
  Command root;
  root.name = "tovrel";
  root = add_subcommands(std::move(root));
  root.help_without_arguments = true;
  root.about = std::string(kRootAbout);
  return root;
}

}  // namespace tovrel::cli
