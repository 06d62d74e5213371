#include "cli/styled.h"

#include <stdlib.h>
#include <unistd.h>

#include <optional>

namespace tovrel::cli {

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
      case Style::kPlaceholder: break;
      case Style::kHeader: start = "\x1b[1m\x1b[4m"; break;
      case Style::kLiteral: start = "\x1b[1m"; break;
      case Style::kError: start = "\x1b[1m\x1b[31m"; break;
      case Style::kInvalid: start = "\x1b[33m"; break;
      case Style::kValid: start = "\x1b[32m"; break;
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
