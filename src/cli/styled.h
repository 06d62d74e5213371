#pragma once
// Text for the terminal: runs of text, each in a style, rendered with terminal escapes or
// plain, and the decision whether a stream gets the escapes.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tovrel::cli {

enum class Style { kPlain, kHeader, kLiteral, kPlaceholder, kError, kInvalid, kValid };

// Text with styled runs; rendered with or without terminal escapes.
class Styled {
 public:
  Styled& add(std::string_view text, Style style = Style::kPlain);
  Styled& add(const Styled& other);
  std::string render(bool colour) const;
  std::string plain() const { return render(false); }
  bool empty() const { return parts_.empty(); }

 private:
  std::vector<std::pair<Style, std::string>> parts_;
};

enum class Stream { kStdout, kStderr };

// Whether text written to the stream should carry colour: only on a terminal, honouring
// NO_COLOR, CLICOLOR_FORCE, CLICOLOR, TERM and CI.
bool use_colour(Stream stream);

}  // namespace tovrel::cli
