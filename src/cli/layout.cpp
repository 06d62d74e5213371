#include "cli/layout.h"

#include <algorithm>

namespace tovrel::cli::detail {

std::size_t width(std::string_view text) {
  std::size_t n = 0;
  for (const char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

bool takes_value(const Option& o) { return o.kind != OptionKind::kFlag; }
bool is_group(const Command& c) { return !c.subcommands.empty(); }

const Option& help_flag() {
  static constexpr Option kFlag{
      .id = kHelpName, .long_name = kHelpName, .kind = OptionKind::kFlag, .help = kHelpFlagHelp};
  return kFlag;
}

const Command& help_command() {
  static constexpr Command kCommand{.name = kHelpName, .about = kHelpCommandAbout};
  return kCommand;
}

bool is_help_command(const Command& c) { return &c == &help_command(); }

std::vector<const Option*> all_options(const Command& c) {
  std::vector<const Option*> out;
  for (const Option& o : c.options) out.push_back(&o);
  if (!is_help_command(c)) out.push_back(&help_flag());
  return out;
}

std::vector<std::string> subcommand_names(const Command& c) {
  std::vector<std::string> out;
  for (const Command& s : c.subcommands) out.emplace_back(s.name);
  if (is_group(c)) out.emplace_back(kHelpName);
  return out;
}

const Command* find_subcommand(const Command& c, std::string_view word) {
  if (!is_group(c)) return nullptr;
  for (const Command& s : c.subcommands) {
    if (s.name == word) return &s;
  }
  if (word == kHelpName) return &help_command();
  return nullptr;
}

std::string option_text(const Option& o) {
  std::string s = "--" + std::string(o.long_name);
  if (takes_value(o)) s += " <" + std::string(o.value_name) + ">";
  return s;
}

Styled option_styled(const Option& o) {
  Styled s;
  s.add("--" + std::string(o.long_name), Style::kLiteral);
  if (takes_value(o)) s.add(" ").add("<" + std::string(o.value_name) + ">", Style::kPlaceholder);
  return s;
}

Styled usage_title(const Styled& usage) {
  Styled s;
  s.add("Usage:", Style::kHeader).add(" ").add(usage);
  return s;
}

Styled full_usage(const Command& c, std::string_view bin) {
  Styled s;
  s.add(bin, Style::kLiteral);
  if (is_help_command(c)) {
    s.add(" ").add(kHelpCommandArg, Style::kPlaceholder);
    return s;
  }
  const bool has_optional =
      std::any_of(c.options.begin(), c.options.end(), [](const Option& o) { return !o.required; });
  if (has_optional) s.add(" ").add(kOptionsPlaceholder, Style::kPlaceholder);
  for (const Option& o : c.options) {
    if (o.required) s.add(" ").add(option_styled(o));
  }
  if (is_group(c)) s.add(" ").add(kSubcommandPlaceholder, Style::kPlaceholder);
  return s;
}

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
    std::vector<std::pair<std::string_view, std::string_view>> rows;
    for (const Command& sub : c.subcommands) rows.emplace_back(sub.name, sub.about);
    rows.emplace_back(kHelpName, kHelpCommandAbout);
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
      std::string second(o.help);
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

ParseExit error_exit(const ErrorParts& e) {
  ParseExit out;
  out.text.add("error:", Style::kError).add(" ").add(e.message);
  if (e.tip) out.text.add("\n\n  ").add("tip:", Style::kValid).add(" ").add(*e.tip);
  if (e.usage) out.text.add("\n\n").add(usage_title(*e.usage));
  if (e.try_help) {
    out.text.add("\n\n").add(kTryHelp).add(kTryHelpFlag, Style::kLiteral).add("'.\n");
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

Styled unrecognized_subcommand(std::string_view shown) {
  Styled m;
  m.add("unrecognized subcommand ").add(quoted(shown, Style::kInvalid));
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

}  // namespace tovrel::cli::detail
