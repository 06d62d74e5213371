#pragma once
// A small declarative command-line parser. A tree of commands (groups with subcommands, leaves
// with long options) is matched against the words of a command line; help, usage lines and
// usage errors are generated from the same tree, so what is parsed and what is shown cannot
// drift apart. The engine never exits: `parse` returns either the matches or the text to show
// with its stream and exit status, and the caller decides what to do with it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "base/result.h"
#include "cli/styled.h"

namespace tovrel::cli {

// A value as stored in the matches: text, flag, the numbers of the value parsers, and the
// values of a repeatable option in command-line order.
using Value =
    std::variant<std::string, bool, double, std::uint32_t, std::uint64_t, std::vector<std::string>>;

// Converts the (valid UTF-8) text of a number option, or gives the reason it cannot.
using ValueParser = base::Result<Value> (*)(std::string_view text);

enum class OptionKind {
  kText,    // one value per occurrence, any UTF-8 text
  kNumber,  // one value per occurrence, converted by the option's value parser
  kFlag,    // no value: present means true
  kList,    // repeatable, every occurrence appends its one value
};

// A view of a constant array: the tables a command tree is declared in. Unlike std::span it
// may name a type that is still incomplete, as a command's own subcommands do.
template <class T>
class Items {
 public:
  constexpr Items() = default;
  // Implicit, so that an entry of the table reads `.options = kRunOptions`.
  template <std::size_t N>
  constexpr Items(const T (&items)[N]) : data_(items), size_(N) {}

  constexpr const T* begin() const { return data_; }
  constexpr const T* end() const { return data_ + size_; }
  constexpr std::size_t size() const { return size_; }
  constexpr bool empty() const { return size_ == 0; }
  constexpr const T& operator[](std::size_t i) const { return data_[i]; }

 private:
  const T* data_ = nullptr;
  std::size_t size_ = 0;
};

// Options and commands are plain constants, so that a whole tree can be a table fixed at
// compile time: nothing is built when the program starts. Every member has an initialiser, so
// an entry of the table names only the fields it sets.
struct Option {
  std::string_view id = {};          // the key of the value in the matches
  std::string_view long_name = {};   // without the two dashes
  std::string_view value_name = {};  // shown in angle brackets; unused for flags
  OptionKind kind = OptionKind::kText;
  ValueParser parser = nullptr;  // kNumber only
  std::string_view help = {};
  // Converted by the option's own parser when the option is not given.
  std::optional<std::string_view> default_text = std::nullopt;
  bool required = false;
  // Whether a separate value may begin with '-' ("--" and "--help" included).
  bool hyphen_values = false;
};

struct Command {
  std::string_view name = {};
  std::string_view about = {};
  bool help_without_arguments = false;  // a group given no words shows its help (stderr, 2)
  Items<Option> options = {};
  Items<Command> subcommands = {};
};

// What a successful parse found at one command level: the values under their option ids (in
// the order they were first stored) and at most one matched subcommand with its own level.
class Matches {
 public:
  // Moves the value stored under `id` out of the matches; none when there is none.
  std::optional<Value> take(std::string_view id);
  void set(std::string id, Value value);

  // Moves the subcommand out (name and level); none when there is none.
  std::optional<std::pair<std::string, Matches>> take_subcommand();
  void set_subcommand(std::string name, Matches sub);

 private:
  std::vector<std::pair<std::string, Value>> values_;
  std::string subcommand_name_;
  std::unique_ptr<Matches> subcommand_;
};

// Help or a usage error: the text, where it goes and the exit status that follows.
struct ParseExit {
  Styled text;
  Stream stream = Stream::kStderr;
  int status = 2;
};

using ParseOutcome = std::variant<Matches, ParseExit>;

// Matches `words` (the arguments after the program name, arbitrary bytes) against `root`.
// `usage_name` names the program in help and usage lines.
ParseOutcome parse(const Command& root, std::string_view usage_name,
                   const std::vector<std::string>& words);

// A usage error with a message of the caller's, formatted against `root` under its own name:
// "error: {message}", the root's usage line and the hint to try --help.
Styled format_usage_error(const Command& root, std::string_view message);

}  // namespace tovrel::cli
