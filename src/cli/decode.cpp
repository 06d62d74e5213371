#include "cli/decode.h"

#include <optional>
#include <utility>

namespace tovrel::cli {

namespace {

constexpr std::string_view kNoSubcommand = "a subcommand is required but one was not provided";
constexpr std::string_view kMissingArgument = "the following required argument was not provided: ";

const char* type_name(const Value& v) {
  switch (v.index()) {
    case 0: return "text";
    case 1: return "flag";
    case 2: return "f64";
    case 3: return "u32";
    case 4: return "u64";
    default: return "list of text";
  }
}

template <class T>
const char* type_name_of() {
  return type_name(Value{T{}});
}

// Takes the fields of one leaf out of its matches; after the first failure every later take
// yields a default and the failure stays the first one.
class Fields {
 public:
  explicit Fields(Matches& m) : m_(m) {}

  std::optional<DecodeFailure> failure;

  template <class T>
  T required(std::string_view id) {
    std::optional<T> v = take<T>(id);
    if (!v) {
      fail(DecodeFailure::Kind::kMissingArgument, std::string(kMissingArgument) + std::string(id));
      return T{};
    }
    return std::move(*v);
  }
  std::optional<std::string> optional_text(std::string_view id) { return take<std::string>(id); }
  std::vector<std::string> list(std::string_view id) {
    std::optional<std::vector<std::string>> v = take<std::vector<std::string>>(id);
    return v ? std::move(*v) : std::vector<std::string>{};
  }

 private:
  void fail(DecodeFailure::Kind kind, std::string message) {
    if (!failure) failure = DecodeFailure{kind, std::move(message)};
  }

  template <class T>
  std::optional<T> take(std::string_view id) {
    if (failure) return std::nullopt;
    std::optional<Value> v = m_.take(id);
    if (!v) return std::nullopt;
    if (T* typed = std::get_if<T>(&*v)) return std::move(*typed);
    fail(DecodeFailure::Kind::kMismatch, "Mismatch between definition and access of `" +
                                             std::string(id) + "`. Could not downcast to " +
                                             type_name_of<T>() + ", need to downcast to " +
                                             type_name(*v));
    return std::nullopt;
  }

  Matches& m_;
};

// Fills a leaf's record from its matches with `fill`.
template <class Record, class Fill>
std::variant<Record, DecodeFailure> leaf(Matches& m, Fill fill) {
  Fields f(m);
  Record r = fill(f);
  if (f.failure) return std::move(*f.failure);
  return r;
}

exec::ChildArgs child_args(Fields& f) {
  exec::ChildArgs a;
  a.cmd = f.required<std::string>("cmd");
  a.args = f.list("args");
  a.cwd = f.optional_text("cwd");
  a.stdin = f.optional_text("stdin");
  a.stdin_pipe = f.required<bool>("stdin_pipe");
  a.envs = f.list("envs");
  a.timeout = f.required<double>("timeout");
  return a;
}

// The subcommand taken out of `m`, or the failure when there is none.
std::variant<std::pair<std::string, Matches>, DecodeFailure> subcommand(Matches& m) {
  auto sub = m.take_subcommand();
  if (!sub)
    return DecodeFailure{DecodeFailure::Kind::kMissingSubcommand, std::string(kNoSubcommand)};
  return std::move(*sub);
}

DecodeFailure unrecognized(const std::string& name) {
  return DecodeFailure{DecodeFailure::Kind::kInvalidSubcommand,
                       "the subcommand '" + name + "' wasn't recognized"};
}

// Decodes a group level into its variant type `Group` through `pick`, which maps a name and
// its matches to the decoded alternative or a failure.
template <class Group, class Pick>
std::variant<Group, DecodeFailure> group(Matches& m, Pick pick) {
  auto sub = subcommand(m);
  if (auto* f = std::get_if<DecodeFailure>(&sub)) return std::move(*f);
  auto& [name, level] = std::get<0>(sub);
  return pick(name, level);
}

template <class Group, class Record, class Fill>
std::variant<Group, DecodeFailure> as_group(Matches& m, Fill fill) {
  auto r = leaf<Record>(m, fill);
  if (auto* f = std::get_if<DecodeFailure>(&r)) return std::move(*f);
  return Group{std::move(std::get<Record>(r))};
}

std::variant<exec::ExecCommands, DecodeFailure> decode_exec(Matches& m) {
  using G = exec::ExecCommands;
  return group<G>(m, [](const std::string& name, Matches& l) -> std::variant<G, DecodeFailure> {
    if (name == "run") {
      return as_group<G, exec::RunArgs>(l, [](Fields& f) { return exec::RunArgs{child_args(f)}; });
    }
    if (name == "spawn") {
      return as_group<G, exec::SpawnArgs>(l, [](Fields& f) {
        exec::SpawnArgs a;
        a.cmd = f.required<std::string>("cmd");
        a.args = f.list("args");
        a.log = f.optional_text("log");
        a.envs = f.list("envs");
        a.stdin = f.optional_text("stdin");
        a.stdin_pipe = f.required<bool>("stdin_pipe");
        return a;
      });
    }
    if (name == "kill") {
      return as_group<G, exec::KillArgs>(l, [](Fields& f) {
        exec::KillArgs a;
        a.pid = f.required<std::uint32_t>("pid");
        a.grace = f.required<double>("grace");
        return a;
      });
    }
    if (name == "stream") {
      return as_group<G, exec::StreamArgs>(
          l, [](Fields& f) { return exec::StreamArgs{child_args(f)}; });
    }
    if (name == "status") {
      return as_group<G, exec::StatusArgs>(
          l, [](Fields& f) { return exec::StatusArgs{f.required<std::uint32_t>("pid")}; });
    }
    return unrecognized(name);
  });
}

std::variant<cas::CasCommands, DecodeFailure> decode_cas(Matches& m) {
  using G = cas::CasCommands;
  return group<G>(m, [](const std::string& name, Matches& l) -> std::variant<G, DecodeFailure> {
    if (name == "store") {
      return as_group<G, cas::StoreArgs>(l, [](Fields& f) {
        cas::StoreArgs a;
        a.root = f.required<std::string>("root");
        a.blob = f.required<bool>("blob");
        return a;
      });
    }
    if (name == "fetch") {
      return as_group<G, cas::FetchArgs>(l, [](Fields& f) {
        cas::FetchArgs a;
        a.root = f.required<std::string>("root");
        a.hash = f.required<std::string>("hash");
        a.blob = f.required<bool>("blob");
        return a;
      });
    }
    if (name == "verify") {
      return as_group<G, cas::CasVerifyArgs>(l, [](Fields& f) {
        cas::CasVerifyArgs a;
        a.root = f.required<std::string>("root");
        a.hash = f.required<std::string>("hash");
        a.blob = f.required<bool>("blob");
        return a;
      });
    }
    if (name == "has") {
      return as_group<G, cas::HasArgs>(l, [](Fields& f) {
        cas::HasArgs a;
        a.root = f.required<std::string>("root");
        a.hash = f.required<std::string>("hash");
        return a;
      });
    }
    return unrecognized(name);
  });
}

std::variant<identity::KeypairCommands, DecodeFailure> decode_keypair(Matches& m) {
  using G = identity::KeypairCommands;
  return group<G>(m, [](const std::string& name, Matches& l) -> std::variant<G, DecodeFailure> {
    if (name == "generate") {
      return as_group<G, identity::GenerateArgs>(
          l, [](Fields& f) { return identity::GenerateArgs{f.required<std::string>("key_dir")}; });
    }
    if (name == "fingerprint") {
      return as_group<G, identity::FingerprintArgs>(l, [](Fields& f) {
        return identity::FingerprintArgs{f.required<std::string>("public_key")};
      });
    }
    if (name == "box-fingerprint") {
      return as_group<G, identity::BoxFingerprintArgs>(l, [](Fields& f) {
        return identity::BoxFingerprintArgs{f.required<std::string>("public_key")};
      });
    }
    return unrecognized(name);
  });
}

std::variant<envelope::EnvelopeCommands, DecodeFailure> decode_envelope(Matches& m) {
  using G = envelope::EnvelopeCommands;
  return group<G>(m, [](const std::string& name, Matches& l) -> std::variant<G, DecodeFailure> {
    if (name == "open") {
      return as_group<G, envelope::OpenArgs>(
          l, [](Fields& f) { return envelope::OpenArgs{f.required<std::string>("key_dir")}; });
    }
    return unrecognized(name);
  });
}

std::variant<TimeCommands, DecodeFailure> decode_time(Matches& m) {
  using G = TimeCommands;
  return group<G>(m, [](const std::string& name, Matches& l) -> std::variant<G, DecodeFailure> {
    if (name == "now") return G{Now{}};
    if (name == "after") {
      return as_group<G, AfterArgs>(
          l, [](Fields& f) { return AfterArgs{f.required<std::uint64_t>("ms")}; });
    }
    return unrecognized(name);
  });
}

template <class T>
DecodeOutcome wrap(std::variant<T, DecodeFailure> v) {
  if (auto* f = std::get_if<DecodeFailure>(&v)) return std::move(*f);
  return Cli{Commands{std::move(std::get<T>(v))}};
}

}  // namespace

DecodeOutcome decode_command(Matches root) {
  auto sub = subcommand(root);
  if (auto* f = std::get_if<DecodeFailure>(&sub)) return std::move(*f);
  auto& [name, level] = std::get<0>(sub);
  if (name == "exec") return wrap(decode_exec(level));
  if (name == "cas") return wrap(decode_cas(level));
  if (name == "sign") {
    return wrap(leaf<identity::SignArgs>(level, [](Fields& f) {
      identity::SignArgs a;
      a.key_dir = f.required<std::string>("key_dir");
      a.hash = f.required<std::string>("hash");
      return a;
    }));
  }
  if (name == "verify") {
    return wrap(leaf<identity::VerifyArgs>(level, [](Fields& f) {
      identity::VerifyArgs a;
      a.hash = f.required<std::string>("hash");
      a.signature = f.required<std::string>("signature");
      a.public_key = f.required<std::string>("public_key");
      return a;
    }));
  }
  if (name == "keypair") return wrap(decode_keypair(level));
  if (name == "envelope") return wrap(decode_envelope(level));
  if (name == "time") return wrap(decode_time(level));
  return unrecognized(name);
}

}  // namespace tovrel::cli
