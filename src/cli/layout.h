#pragma once
// Inside the parser engine: the texts it shows, and the help, usage and error layout that
// the parse and the formatting of outside errors share. Not for use outside src/cli.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/engine.h"

namespace tovrel::cli::detail {

// Every text the engine shows, in one place.
inline constexpr std::string_view kHelpFlagHelp = "Print help";
inline constexpr std::string_view kHelpCommandAbout =
    "Print this message or the help of the given subcommand(s)";
inline constexpr std::string_view kHelpCommandArgHelp = "Print help for the subcommand(s)";
inline constexpr std::string_view kHelpCommandArg = "[COMMAND]...";
inline constexpr std::string_view kSubcommandPlaceholder = "<COMMAND>";
inline constexpr std::string_view kOptionsPlaceholder = "[OPTIONS]";
inline constexpr std::string_view kInvalidUtf8 =
    "invalid UTF-8 was detected in one or more arguments";
// The same plural text for one missing option as for several.
inline constexpr std::string_view kMissingRequired =
    "the following required arguments were not provided:";
inline constexpr std::string_view kTryHelp = "For more information, try '";
inline constexpr std::string_view kHelpName = "help";
inline constexpr std::string_view kTryHelpFlag = "--help";

std::size_t width(std::string_view text);
bool takes_value(const Option& o);
bool is_group(const Command& c);

// The parser's own -h/--help flag, and the generated `help` subcommand of a group (which has
// no help flag of its own).
const Option& help_flag();
const Command& help_command();
bool is_help_command(const Command& c);

// The options a command accepts, the help flag last.
std::vector<const Option*> all_options(const Command& c);
// The subcommand names of a group, `help` last.
std::vector<std::string> subcommand_names(const Command& c);
// A subcommand of `c` named exactly `word`, the generated `help` included.
const Command* find_subcommand(const Command& c, std::string_view word);

// "--name <VALUE>" or "--name".
std::string option_text(const Option& o);

// The full usage line: name and path, "[OPTIONS]" when a leaf has an optional option, the
// required options, "<COMMAND>" for a group.
Styled full_usage(const Command& c, std::string_view bin);
// The given-options usage line: the required options, then `used` (each once, in order);
// the full line when nothing was used.
Styled given_usage(const Command& c, std::string_view bin, const std::vector<const Option*>& used);

Styled help_text(const Command& c, std::string_view bin);
ParseExit help_exit(const Command& c, std::string_view bin, Stream stream, int status);

// A usage error: "error: {message}", an optional tip, an optional usage line, and the hint to
// try --help (which the generated `help` command does not have).
struct ErrorParts {
  Styled message;
  std::optional<Styled> tip;
  std::optional<Styled> usage;
  bool try_help = true;
};
ParseExit error_exit(const ErrorParts& e);

Styled quoted(std::string_view text, Style style);
Styled unexpected_argument(std::string_view shown);
Styled unrecognized_subcommand(std::string_view shown);
// "a similar {kind} exists: 'x'" or "some similar {kind}s exist: 'x', 'y'".
Styled similar_tip(std::string_view kind, const std::vector<std::string>& names);

}  // namespace tovrel::cli::detail
