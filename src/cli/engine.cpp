#include "cli/engine.h"

#include <algorithm>

#include "base/utf8.h"
#include "cli/layout.h"
#include "cli/suggest.h"

namespace tovrel::cli {

namespace {

using namespace detail;

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
  Styled given_line(const std::vector<const Option*>& extra);
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

// The given-options usage line: the options given so far, then `extra`. An option whose
// value came as a separate word is still pending when the next word fails, yet it was given
// before that word: it is settled first, and a failure of its own gives way to the error
// being reported.
Styled LevelParser::given_line(const std::vector<const Option*>& extra) {
  (void)resolve_pending();
  std::vector<const Option*> used = used_options();
  used.insert(used.end(), extra.begin(), extra.end());
  return given_usage(cmd_, bin_, used);
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
    case OptionKind::kText: e.value = raw; break;
    case OptionKind::kList:
      if (!e.value) e.value = std::vector<std::string>{};
      std::get<std::vector<std::string>>(*e.value).push_back(raw);
      break;
    case OptionKind::kNumber: {
      if (!o.parser) {  // a number option declared without its parser keeps the text
        e.value = raw;
        break;
      }
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
    case OptionKind::kFlag: e.value = raw == "true"; break;
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
  for (const Option* o : all_options(cmd_)) longs.emplace_back(o->long_name);
  std::vector<std::string> similar = similar_names(name, longs);
  ErrorParts err;
  err.message = unexpected_argument("--" + std::string(name));
  std::vector<const Option*> suggested;  // listed in the usage line too
  if (!similar.empty()) {
    const std::string best = "--" + similar.back();
    err.tip = similar_tip("argument", {best});
    if (const Option* o = find_long(similar.back())) suggested.push_back(o);
  } else if (is_group(cmd_)) {
    std::vector<const Command*> subs;
    for (const Command& s : cmd_.subcommands) subs.push_back(&s);
    for (const Command* s : subs) {
      std::vector<std::string> sub_longs;
      for (const Option* o : all_options(*s)) sub_longs.emplace_back(o->long_name);
      std::vector<std::string> found = similar_names(name, sub_longs);
      if (found.empty()) continue;
      const bool named_later = std::find(words_.begin() + static_cast<std::ptrdiff_t>(index) + 1,
                                         words_.end(), s->name) != words_.end();
      if (!named_later) continue;
      Styled tip;
      tip.add("'").add(std::string(s->name) + " --" + found.back(), Style::kValid).add("' exists");
      err.tip = tip;
      break;
    }
  }
  err.usage = is_group(cmd_) ? full_usage(cmd_, bin_) : given_line(suggested);
  return error_exit(err);
}

Fail LevelParser::parse_long(std::size_t index, const Option*& waiting) {
  const std::string_view body = std::string_view(words_[index]).substr(2);
  const std::size_t eq = body.find('=');
  const std::string_view name = body.substr(0, eq);
  std::optional<std::string> attached;
  if (eq != std::string_view::npos) attached = std::string(body.substr(eq + 1));
  const Option* o = base::is_valid_utf8(name) ? find_long(name) : nullptr;
  if (!o) return unknown_long(base::utf8_lossy(name), index);
  if (takes_value(*o)) {
    if (attached) return react(*o, {std::move(*attached)}, Source::kCommandLine);
    if (Fail f = resolve_pending()) return f;
    pending_ = Pending{o, {}};
    waiting = o;
    return std::nullopt;
  }
  if (attached) {
    ErrorParts err;
    err.message.add("unexpected value ")
        .add(quoted(base::utf8_lossy(*attached), Style::kInvalid))
        .add(" for ")
        .add(quoted(option_text(*o), Style::kLiteral))
        .add(" found; no more were expected");
    err.usage = given_line({o});
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
  const std::string shown =
      len == 0 ? "-" + base::utf8_lossy(rest) : "-" + std::string(rest.substr(0, len));
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
    err.message = unrecognized_subcommand(shown);
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
      err.message = unrecognized_subcommand(base::utf8_lossy(words_[i]));
      err.usage = full_usage(*current, bin);
      err.try_help = !is_help_command(*current);
      return error_exit(err);
    }
    current = next;
    bin += " ";
    bin += current->name;
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
  err.message.add(kMissingRequired);
  for (const Option* o : missing) err.message.add("\n  ").add(option_text(*o), Style::kValid);
  err.usage = given_line(missing);
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
          LevelParser child(*sub, bin_ + " " + std::string(sub->name), words_, i + 1);
          ParseOutcome result = child.run();
          if (auto* exit = std::get_if<ParseExit>(&result)) return std::move(*exit);
          Matches level;
          level.set_subcommand(std::string(sub->name), std::move(std::get<Matches>(result)));
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
      entries_.push_back(Entry{&o, Source::kDefault, std::nullopt});
      entries_.back().value.emplace(false);
    }
  }
  if (Fail f = validate()) return std::move(*f);
  Matches level;
  for (Entry& e : entries_) {
    if (e.value) level.set(std::string(e.option->id), std::move(*e.value));
  }
  return level;
}

}  // namespace

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

void Matches::set(std::string id, Value value) {
  for (auto& [k, v] : values_) {
    if (k == id) {
      v = std::move(value);
      return;
    }
  }
  values_.emplace_back(std::move(id), std::move(value));
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

Styled format_usage_error(const Command& root, std::string_view message) {
  detail::ErrorParts err;
  err.message.add(message);
  err.usage = detail::full_usage(root, root.name);
  return detail::error_exit(err).text;
}

ParseOutcome parse(const Command& root, std::string_view usage_name,
                   const std::vector<std::string>& words) {
  return LevelParser(root, std::string(usage_name), words, 0).run();
}

}  // namespace tovrel::cli
