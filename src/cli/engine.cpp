#include "cli/engine.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>

#include "base/utf8.h"

namespace tovrel::cli {

namespace {

// Every text the engine shows, in one place.
constexpr std::string_view kHelpFlagHelp = "Print help";
constexpr std::string_view kHelpCommandAbout =
    "Print this message or the help of the given subcommand(s)";
constexpr std::string_view kHelpCommandArgHelp = "Print help for the subcommand(s)";
constexpr std::string_view kHelpCommandArg = "[COMMAND]...";
constexpr std::string_view kSubcommandPlaceholder = "<COMMAND>";
constexpr std::string_view kOptionsPlaceholder = "[OPTIONS]";
constexpr std::string_view kInvalidUtf8 = "invalid UTF-8 was detected in one or more arguments";
constexpr std::string_view kMissingOne = "the following required argument was not provided:";
constexpr std::string_view kMissingMany = "the following required arguments were not provided:";
constexpr std::string_view kTryHelp = "For more information, try '";
constexpr std::string_view kHelpName = "help";

// ---------------------------------------------------------------------------------------
// Display helpers

std::size_t width(std::string_view text) {
  std::size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

bool takes_value(const Option& o) { return o.kind != OptionKind::kFlag; }
bool is_group(const Command& c) { return !c.subcommands.empty(); }

const Option& help_flag() {
  static const Option kFlag = [] {
    Option o;
    o.id = std::string(kHelpName);
    o.long_name = std::string(kHelpName);
    o.kind = OptionKind::kFlag;
    o.help = std::string(kHelpFlagHelp);
    return o;
  }();
  return kFlag;
}

// The generated `help` subcommand of a group. It has no help flag of its own.
const Command& help_command() {
  static const Command kCommand = [] {
    Command c;
    c.name = std::string(kHelpName);
    c.about = std::string(kHelpCommandAbout);
    return c;
  }();
  return kCommand;
}

bool is_help_command(const Command& c) { return &c == &help_command(); }

// The options a command accepts, the help flag last.
std::vector<const Option*> all_options(const Command& c) {
  std::vector<const Option*> out;
  for (const Option& o : c.options) out.push_back(&o);
  if (!is_help_command(c)) out.push_back(&help_flag());
  return out;
}

std::vector<std::string> subcommand_names(const Command& c) {
  std::vector<std::string> out;
  for (const Command& s : c.subcommands) out.push_back(s.name);
  if (is_group(c)) out.emplace_back(kHelpName);
  return out;
}

// A subcommand of `c` named exactly `word`, the generated `help` included.
const Command* find_subcommand(const Command& c, std::string_view word) {
  if (!is_group(c)) return nullptr;
  for (const Command& s : c.subcommands) {
    if (s.name == word) return &s;
  }
  if (word == kHelpName) return &help_command();
  return nullptr;
}

// "--name <VALUE>" or "--name".
std::string option_text(const Option& o) {
  std::string s = "--" + o.long_name;
  if (takes_value(o)) s += " <" + o.value_name + ">";
  return s;
}

Styled option_styled(const Option& o) {
  Styled s;
  s.add("--" + o.long_name, Style::kLiteral);
  if (takes_value(o)) s.add(" ").add("<" + o.value_name + ">", Style::kPlaceholder);
  return s;
}

Styled usage_title(const Styled& usage) {
  Styled s;
  s.add("Usage:", Style::kHeader).add(" ").add(usage);
  return s;
}

// The full usage line: name and path, "[OPTIONS]" when a leaf has an optional option, the
// required options, "<COMMAND>" for a group.
Styled full_usage(const Command& c, std::string_view bin) {
  Styled s;
  s.add(bin, Style::kLiteral);
  if (is_help_command(c)) {
    s.add(" ").add(kHelpCommandArg, Style::kPlaceholder);
    return s;
  }
  const bool has_optional = std::any_of(c.options.begin(), c.options.end(),
                                        [](const Option& o) { return !o.required; });
  if (has_optional) s.add(" ").add(kOptionsPlaceholder, Style::kPlaceholder);
  for (const Option& o : c.options) {
    if (o.required) s.add(" ").add(option_styled(o));
  }
  if (is_group(c)) s.add(" ").add(kSubcommandPlaceholder, Style::kPlaceholder);
  return s;
}

// The given-options usage line: the required options, then `used` (each once, in order).
Styled given_usage(const Command& c, std::string_view bin, const std::vector<const Option*>& used) {
  if (used.empty()) return full_usage(c, bin);
  std::vector<const Option*> shown;
  const auto add_once = [&](const Option* o) {
    if (std::find(shown.begin(), shown.end(), o) == shown.end()) shown.push_back(o);
  };
  for (const Option& o : c.options) {
    if (o.required) add_once(&o);
  }
  for (const Option* o : used) add_once(o);
  Styled s;
  s.add(bin, Style::kLiteral);
  for (const Option* o : shown) s.add(" ").add(option_styled(*o));
  if (is_group(c)) s.add(" ").add(kSubcommandPlaceholder, Style::kPlaceholder);
  return s;
}

// One line of a two-column section: "  " + first + padding to `longest` + 2 + second.
void add_row(Styled& out, const Styled& first, std::size_t first_width, std::size_t longest,
             std::string_view second) {
  out.add("  ").add(first);
  out.add(std::string(longest + 2 - first_width, ' '));
  out.add(second);
}

Styled help_text(const Command& c, std::string_view bin) {
  Styled s;
  if (!c.about.empty()) s.add(c.about).add("\n");
  s.add("\n").add(usage_title(full_usage(c, bin))).add("\n\n");
  bool first = true;
  const auto heading = [&](std::string_view title) {
    if (!first) s.add("\n\n");
    first = false;
    s.add(std::string(title) + ":", Style::kHeader).add("\n");
  };
  if (is_group(c)) {
    heading("Commands");
    std::vector<std::pair<std::string, std::string>> rows;
    for (const Command& sub : c.subcommands) rows.emplace_back(sub.name, sub.about);
    rows.emplace_back(std::string(kHelpName), std::string(kHelpCommandAbout));
    std::size_t longest = 0;
    for (const auto& r : rows) longest = std::max(longest, width(r.first));
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (i) s.add("\n");
      Styled name;
      name.add(rows[i].first, Style::kLiteral);
      add_row(s, name, width(rows[i].first), longest, rows[i].second);
    }
  }
  if (is_help_command(c)) {
    heading("Arguments");
    Styled arg;
    arg.add(kHelpCommandArg, Style::kLiteral);
    add_row(s, arg, width(kHelpCommandArg), width(kHelpCommandArg), kHelpCommandArgHelp);
  }
  const std::vector<const Option*> options = all_options(c);
  if (!options.empty()) {
    heading("Options");
    std::size_t longest = 0;
    for (const Option* o : options) longest = std::max(longest, width(option_text(*o)));
    for (std::size_t i = 0; i < options.size(); ++i) {
      const Option& o = *options[i];
      if (i) s.add("\n");
      Styled first_col;
      if (&o == &help_flag()) {
        first_col.add("-h", Style::kLiteral).add(", ");
      } else {
        first_col.add("    ");
      }
      first_col.add(option_styled(o));
      std::string second = o.help;
      if (o.default_text) {
        if (!second.empty()) second += ' ';
        second += "[default: " + std::string(*o.default_text) + "]";
      }
      add_row(s, first_col, 4 + width(option_text(o)), 4 + longest, second);
    }
  }
  s.add("\n");
  return s;
}

// ---------------------------------------------------------------------------------------
// Usage errors

struct ErrorParts {
  Styled message;
  std::optional<Styled> tip;
  std::optional<Styled> usage;
  bool try_help = true;  // the generated `help` command has no --help to point to
};

ParseExit error_exit(const ErrorParts& e) {
  ParseExit out;
  out.text.add("error:", Style::kError).add(" ").add(e.message);
  if (e.tip) out.text.add("\n\n  ").add("tip:", Style::kValid).add(" ").add(*e.tip);
  if (e.usage) out.text.add("\n\n").add(usage_title(*e.usage));
  if (e.try_help) {
    out.text.add("\n\n").add(kTryHelp).add("--help", Style::kLiteral).add("'.\n");
  } else {
    out.text.add("\n");
  }
  out.stream = Stream::kStderr;
  out.status = 2;
  return out;
}

Styled quoted(std::string_view text, Style style) {
  Styled s;
  s.add("'").add(text, style).add("'");
  return s;
}

Styled unexpected_argument(std::string_view shown) {
  Styled m;
  m.add("unexpected argument ").add(quoted(shown, Style::kInvalid)).add(" found");
  return m;
}

Styled similar_tip(std::string_view kind, const std::vector<std::string>& names) {
  Styled t;
  if (names.size() == 1) {
    t.add("a similar " + std::string(kind) + " exists: ");
  } else {
    t.add("some similar " + std::string(kind) + "s exist: ");
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i) t.add(", ");
    t.add(quoted(names[i], Style::kValid));
  }
  return t;
}

ParseExit help_exit(const Command& c, std::string_view bin, Stream stream, int status) {
  ParseExit out;
  out.text = help_text(c, bin);
  out.stream = stream;
  out.status = status;
  return out;
}

// ---------------------------------------------------------------------------------------
// The parse of one command level

enum class Source { kCommandLine, kDefault };

using Fail = std::optional<ParseExit>;

class LevelParser {
 public:
  LevelParser(const Command& cmd, std::string bin, const std::vector<std::string>& words,
              std::size_t start)
      : cmd_(cmd), bin_(std::move(bin)), words_(words), start_(start) {}

  ParseOutcome run();

 private:
  struct Entry {
    const Option* option;
    Source source;
    std::optional<Value> value;
  };
  struct Pending {
    const Option* option;
    std::vector<std::string> raw;
  };

  Fail resolve_pending();
  Fail react(const Option& o, std::vector<std::string> raw, Source source);
  Fail store(const Option& o, const std::string& raw, Entry& entry);
  Fail parse_long(std::size_t index, const Option*& waiting);
  Fail parse_short(std::size_t index);
  ParseExit unknown_long(std::string_view name, std::size_t index);
  ParseExit word_error(std::string_view word, bool trailing);
  ParseExit help_subcommand(std::size_t start);
  Fail validate();

  Entry* entry(const Option& o);
  bool remove_entry(const Option& o);
  std::vector<const Option*> used_options() const;
  const Option* find_long(std::string_view name) const;

  const Command& cmd_;
  std::string bin_;
  const std::vector<std::string>& words_;
  std::size_t start_;
  std::vector<Entry> entries_;
  std::optional<Pending> pending_;
};

LevelParser::Entry* LevelParser::entry(const Option& o) {
  for (Entry& e : entries_) {
    if (e.option == &o) return &e;
  }
  return nullptr;
}

bool LevelParser::remove_entry(const Option& o) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->option == &o) {
      entries_.erase(it);
      return true;
    }
  }
  return false;
}

std::vector<const Option*> LevelParser::used_options() const {
  std::vector<const Option*> out;
  for (const Entry& e : entries_) {
    if (e.source == Source::kCommandLine) out.push_back(e.option);
  }
  return out;
}

const Option* LevelParser::find_long(std::string_view name) const {
  for (const Option* o : all_options(cmd_)) {
    if (o->long_name == name) return o;
  }
  return nullptr;
}

// Values given as the next word wait until the next option or the end of the words; only
// then are they counted, checked and converted.
Fail LevelParser::resolve_pending() {
  if (!pending_) return std::nullopt;
  Pending p = std::move(*pending_);
  pending_.reset();
  return react(*p.option, std::move(p.raw), Source::kCommandLine);
}

Fail LevelParser::store(const Option& o, const std::string& raw, Entry& e) {
  if (!base::is_valid_utf8(raw)) {
    ErrorParts err;
    err.message.add(kInvalidUtf8);
    err.usage = full_usage(cmd_, bin_);
    return error_exit(err);
  }
  switch (o.kind) {
    case OptionKind::kText:
      e.value = raw;
      break;
    case OptionKind::kList:
      if (!e.value) e.value = std::vector<std::string>{};
      std::get<std::vector<std::string>>(*e.value).push_back(raw);
      break;
    case OptionKind::kNumber: {
      base::Result<Value> parsed = o.parser(raw);
      if (!parsed) {
        ErrorParts err;
        err.message.add("invalid value ")
            .add(quoted(raw, Style::kInvalid))
            .add(" for ")
            .add(quoted(option_text(o), Style::kLiteral))
            .add(": " + parsed.error());
        return error_exit(err);
      }
      e.value = std::move(parsed.value());
      break;
    }
    case OptionKind::kFlag:
      e.value = raw == "true";
      break;
  }
  return std::nullopt;
}

Fail LevelParser::react(const Option& o, std::vector<std::string> raw, Source source) {
  if (Fail f = resolve_pending()) return f;
  if (source == Source::kCommandLine && takes_value(o) && raw.empty()) {
    ErrorParts err;
    err.message.add("a value is required for ")
        .add(quoted(option_text(o), Style::kLiteral))
        .add(" but none was supplied");
    return error_exit(err);
  }
  if (&o == &help_flag()) return help_exit(cmd_, bin_, Stream::kStdout, 0);
  if (o.kind == OptionKind::kList) {
    if (!entry(o)) entries_.push_back(Entry{&o, source, std::nullopt});
    Entry& e = *entry(o);
    e.source = source;
    for (const std::string& r : raw) {
      if (Fail f = store(o, r, e)) return f;
    }
    return std::nullopt;
  }
  if (remove_entry(o)) {
    ErrorParts err;
    err.message.add("the argument ")
        .add(quoted(option_text(o), Style::kLiteral))
        .add(" cannot be used multiple times");
    err.usage = full_usage(cmd_, bin_);
    return error_exit(err);
  }
  entries_.push_back(Entry{&o, source, std::nullopt});
  if (o.kind == OptionKind::kFlag && raw.empty()) raw.emplace_back("true");
  for (const std::string& r : raw) {
    if (Fail f = store(o, r, entries_.back())) return f;
  }
  return std::nullopt;
}

// An undeclared long option: suggest the most similar long name of this command; at a group
// with none, a subcommand named later on the line whose option is similar.
ParseExit LevelParser::unknown_long(std::string_view name, std::size_t index) {
  std::vector<std::string> longs;
  for (const Option* o : all_options(cmd_)) longs.push_back(o->long_name);
  std::vector<std::string> similar = similar_names(name, longs);
  ErrorParts err;
  err.message = unexpected_argument("--" + std::string(name));
  if (!similar.empty()) {
    const std::string best = "--" + similar.back();
    err.tip = similar_tip("argument", {best});
    const Option* suggested = find_long(similar.back());
    if (suggested && !entry(*suggested)) {
      entries_.push_back(Entry{suggested, Source::kCommandLine, std::nullopt});
    }
  } else if (is_group(cmd_)) {
    std::vector<const Command*> subs;
    for (const Command& s : cmd_.subcommands) subs.push_back(&s);
    for (const Command* s : subs) {
      std::vector<std::string> sub_longs;
      for (const Option* o : all_options(*s)) sub_longs.push_back(o->long_name);
      std::vector<std::string> found = similar_names(name, sub_longs);
      if (found.empty()) continue;
      const bool named_later = std::find(words_.begin() + static_cast<std::ptrdiff_t>(index) + 1,
                                         words_.end(), s->name) != words_.end();
      if (!named_later) continue;
      Styled tip;
      tip.add("'").add(s->name + " --" + found.back(), Style::kValid).add("' exists");
      err.tip = tip;
      break;
    }
  }
  err.usage = is_group(cmd_) ? full_usage(cmd_, bin_) : given_usage(cmd_, bin_, used_options());
  return error_exit(err);
}

Fail LevelParser::parse_long(std::size_t index, const Option*& waiting) {
  const std::string_view body = std::string_view(words_[index]).substr(2);
  const std::size_t eq = body.find('=');
  const std::string_view name = body.substr(0, eq);
  std::optional<std::string> attached;
  if (eq != std::string_view::npos) attached = std::string(body.substr(eq + 1));
  const Option* o = base::is_valid_utf8(name) ? find_long(name) : nullptr;
  if (!o) {
    (void)resolve_pending();
    return unknown_long(base::utf8_lossy(name), index);
  }
  if (takes_value(*o)) {
    if (attached) return react(*o, {std::move(*attached)}, Source::kCommandLine);
    if (Fail f = resolve_pending()) return f;
    pending_ = Pending{o, {}};
    waiting = o;
    return std::nullopt;
  }
  if (attached) {
    std::vector<const Option*> used;
    for (const Option* u : used_options()) {
      if (!u->required) used.push_back(u);
    }
    used.push_back(o);
    (void)resolve_pending();
    ErrorParts err;
    err.message.add("unexpected value ")
        .add(quoted(base::utf8_lossy(*attached), Style::kInvalid))
        .add(" for ")
        .add(quoted(option_text(*o), Style::kLiteral))
        .add(" found; no more were expected");
    err.usage = given_usage(cmd_, bin_, used);
    return error_exit(err);
  }
  return react(*o, {}, Source::kCommandLine);
}

// Only -h exists as a short option; any other first character is an error.
Fail LevelParser::parse_short(std::size_t index) {
  const std::string_view rest = std::string_view(words_[index]).substr(1);
  std::size_t maximal = 1;
  const std::size_t len = base::utf8_sequence_length(rest, &maximal);
  if (len == 1 && rest[0] == 'h' && !is_help_command(cmd_)) {
    return react(help_flag(), {}, Source::kCommandLine);
  }
  (void)resolve_pending();
  const std::string shown = len == 0 ? "-" + base::utf8_lossy(rest) : "-" + std::string(rest.substr(0, len));
  ErrorParts err;
  err.message = unexpected_argument(shown);
  err.usage = full_usage(cmd_, bin_);
  return error_exit(err);
}

// A word the command cannot take where it stands.
ParseExit LevelParser::word_error(std::string_view word, bool trailing) {
  const std::string shown = base::utf8_lossy(word);
  ErrorParts err;
  err.usage = full_usage(cmd_, bin_);
  if (trailing && find_subcommand(cmd_, word)) {
    err.message = unexpected_argument(shown);
    Styled tip;
    tip.add("subcommand ")
        .add(quoted(shown, Style::kValid))
        .add(" exists; to use it, remove the ")
        .add(quoted("--", Style::kInvalid))
        .add(" before it");
    err.tip = tip;
    return error_exit(err);
  }
  if (is_group(cmd_)) {
    err.message.add("unrecognized subcommand ").add(quoted(shown, Style::kInvalid));
    std::vector<std::string> similar = similar_names(shown, subcommand_names(cmd_));
    if (!similar.empty()) err.tip = similar_tip("subcommand", similar);
    return error_exit(err);
  }
  err.message = unexpected_argument(shown);
  return error_exit(err);
}

// `help` followed by a path of subcommand names shows the help of the command they name.
ParseExit LevelParser::help_subcommand(std::size_t start) {
  const Command* current = &cmd_;
  std::string bin = bin_;
  for (std::size_t i = start; i < words_.size(); ++i) {
    const Command* next = find_subcommand(*current, words_[i]);
    if (!next) {
      ErrorParts err;
      err.message.add("unrecognized subcommand ")
          .add(quoted(base::utf8_lossy(words_[i]), Style::kInvalid));
      err.usage = full_usage(*current, bin);
      err.try_help = !is_help_command(*current);
      return error_exit(err);
    }
    current = next;
    bin += " " + current->name;
  }
  return help_exit(*current, bin, Stream::kStdout, 0);
}

Fail LevelParser::validate() {
  if (is_group(cmd_)) {
    if (cmd_.help_without_arguments && used_options().empty()) {
      return help_exit(cmd_, bin_, Stream::kStderr, 2);
    }
    ErrorParts err;
    err.message.add("'" + bin_ + "' requires a subcommand but one was not provided");
    err.usage = full_usage(cmd_, bin_);
    return error_exit(err);
  }
  std::vector<const Option*> missing;
  for (const Option& o : cmd_.options) {
    const Entry* e = nullptr;
    for (const Entry& x : entries_) {
      if (x.option == &o) e = &x;
    }
    if (o.required && (!e || e->source != Source::kCommandLine)) missing.push_back(&o);
  }
  if (missing.empty()) return std::nullopt;
  ErrorParts err;
  err.message.add(missing.size() == 1 ? kMissingOne : kMissingMany);
  for (const Option* o : missing) err.message.add("\n  ").add(option_text(*o), Style::kValid);
  std::vector<const Option*> used = used_options();
  used.insert(used.end(), missing.begin(), missing.end());
  err.usage = given_usage(cmd_, bin_, used);
  return error_exit(err);
}

ParseOutcome LevelParser::run() {
  bool trailing = false;
  const Option* waiting = nullptr;  // an option whose value is the next word
  for (std::size_t i = start_; i < words_.size(); ++i) {
    const std::string& word = words_[i];
    if (!trailing) {
      if (waiting == nullptr) {
        if (const Command* sub = find_subcommand(cmd_, word)) {
          if (is_help_command(*sub)) return help_subcommand(i + 1);
          LevelParser child(*sub, bin_ + " " + sub->name, words_, i + 1);
          ParseOutcome result = child.run();
          if (auto* exit = std::get_if<ParseExit>(&result)) return std::move(*exit);
          Matches level;
          level.set_subcommand(sub->name, std::move(std::get<Matches>(result)));
          return level;
        }
      }
      const bool hyphen_value = waiting != nullptr && waiting->hyphen_values;
      const bool looks_long = word.size() > 2 && word.compare(0, 2, "--") == 0;
      const bool looks_short = word.size() > 1 && word[0] == '-' && word[1] != '-';
      if (word == "--" && !hyphen_value) {
        trailing = true;
        continue;
      }
      if (looks_long && !hyphen_value) {
        const Option* next_waiting = nullptr;
        if (Fail f = parse_long(i, next_waiting)) return std::move(*f);
        waiting = next_waiting;
        continue;
      }
      if (looks_short && !hyphen_value) {
        if (Fail f = parse_short(i)) return std::move(*f);
        waiting = nullptr;
        continue;
      }
      if (waiting != nullptr) {
        pending_->raw.push_back(word);
        waiting = nullptr;
        continue;
      }
    }
    (void)resolve_pending();
    return word_error(word, trailing);
  }
  if (Fail f = resolve_pending()) return std::move(*f);
  for (const Option& o : cmd_.options) {
    if (entry(o)) continue;
    if (o.default_text) {
      if (Fail f = react(o, {std::string(*o.default_text)}, Source::kDefault)) return std::move(*f);
    } else if (o.kind == OptionKind::kFlag) {
      entries_.push_back(Entry{&o, Source::kDefault, Value{false}});
    }
  }
  if (Fail f = validate()) return std::move(*f);
  Matches level;
  for (Entry& e : entries_) {
    if (e.value) level.set(e.option->id, std::move(*e.value));
  }
  return level;
}

}  // namespace

// ---------------------------------------------------------------------------------------

std::optional<Value> Matches::take(std::string_view id) {
  for (auto it = values_.begin(); it != values_.end(); ++it) {
    if (it->first == id) {
      Value v = std::move(it->second);
      values_.erase(it);
      return v;
    }
  }
  return std::nullopt;
}

const Value* Matches::find(std::string_view id) const {
  for (const auto& [k, v] : values_) {
    if (k == id) return &v;
  }
  return nullptr;
}

void Matches::set(std::string id, Value value) {
  for (auto& [k, v] : values_) {
    if (k == id) {
      v = std::move(value);
      return;
    }
  }
  values_.emplace_back(std::move(id), std::move(value));
}

const std::string* Matches::subcommand_name() const {
  return subcommand_ ? &subcommand_name_ : nullptr;
}

std::optional<std::pair<std::string, Matches>> Matches::take_subcommand() {
  if (!subcommand_) return std::nullopt;
  std::pair<std::string, Matches> out{std::move(subcommand_name_), std::move(*subcommand_)};
  subcommand_.reset();
  subcommand_name_.clear();
  return out;
}

void Matches::set_subcommand(std::string name, Matches sub) {
  subcommand_name_ = std::move(name);
  subcommand_ = std::make_unique<Matches>(std::move(sub));
}

Styled& Styled::add(std::string_view text, Style style) {
  if (text.empty()) return *this;
  if (!parts_.empty() && parts_.back().first == style) {
    parts_.back().second += text;
  } else {
    parts_.emplace_back(style, std::string(text));
  }
  return *this;
}

Styled& Styled::add(const Styled& other) {
  for (const auto& [style, text] : other.parts_) add(text, style);
  return *this;
}

std::string Styled::render(bool colour) const {
  std::string out;
  for (const auto& [style, text] : parts_) {
    std::string_view start;
    switch (style) {
      case Style::kPlain:
      case Style::kPlaceholder:
        break;
      case Style::kHeader:
        start = "\x1b[1m\x1b[4m";
        break;
      case Style::kLiteral:
        start = "\x1b[1m";
        break;
      case Style::kError:
        start = "\x1b[1m\x1b[31m";
        break;
      case Style::kInvalid:
        start = "\x1b[33m";
        break;
      case Style::kValid:
        start = "\x1b[32m";
        break;
    }
    if (colour && !start.empty()) {
      out += start;
      out += text;
      out += "\x1b[0m";
    } else {
      out += text;
    }
  }
  return out;
}

ParseOutcome parse(const Command& root, std::string_view usage_name,
                   const std::vector<std::string>& words) {
  return LevelParser(root, std::string(usage_name), words, 0).run();
}

Styled format_usage_error(const Command& root, std::string_view message) {
  ErrorParts err;
  err.message.add(message);
  err.usage = full_usage(root, root.name);
  return error_exit(err).text;
}

bool use_colour(Stream stream) {
  const auto env = [](const char* name) -> std::optional<std::string_view> {
    const char* v = getenv(name);
    if (!v) return std::nullopt;
    return std::string_view(v);
  };
  if (auto v = env("NO_COLOR"); v && !v->empty()) return false;
  if (auto v = env("CLICOLOR_FORCE"); v && *v != "0") return true;
  const auto clicolor = env("CLICOLOR");
  if (clicolor && *clicolor == "0") return false;
  if (!isatty(stream == Stream::kStdout ? 1 : 2)) return false;
  const auto term = env("TERM");
  const bool term_colour = term && *term != "dumb";
  return term_colour || clicolor.has_value() || env("CI").has_value();
}

}  // namespace tovrel::cli
