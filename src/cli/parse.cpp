#include "cli/parse.h"

#include <string>
#include <vector>

#include "base/output.h"
#include "base/utf8.h"
#include "cli/decode.h"
#include "cli/engine.h"
#include "cli/tree.h"

namespace tovrel::cli {

namespace {

// Writes the text to its stream (a failed write is ignored) and ends the process.
[[noreturn]] void show_and_exit(const Styled& text, Stream stream, int status) {
  const std::string rendered = text.render(use_colour(stream));
  if (stream == Stream::kStdout) {
    (void)base::stdout_writer().write(rendered);
  } else {
    base::stderr_write(rendered);
  }
  base::exit_process(status);
}

}  // namespace

std::string usage_name(std::optional<std::string_view> argv0, std::string_view fallback) {
  if (!argv0) return std::string(fallback);
  std::string_view path = *argv0;
  std::string_view last;
  bool found = false;
  while (!path.empty()) {
    const std::size_t slash = path.rfind('/');
    const std::string_view part = slash == std::string_view::npos ? path : path.substr(slash + 1);
    path = slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
    if (part.empty() || part == ".") continue;
    last = part;
    found = true;
    break;
  }
  if (!found || last == ".." || !base::is_valid_utf8(last)) return std::string(fallback);
  return std::string(last);
}

Cli parse_command_line(int argc, char** argv) {
  std::vector<std::string> words;
  std::optional<std::string_view> argv0;
  if (argc > 0 && argv[0] != nullptr) {
    argv0 = argv[0];
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) words.emplace_back(argv[i]);
  }
  ParseOutcome outcome = [&] {
    const Command tree = build_cli();
    return parse(tree, usage_name(argv0, tree.name), words);
  }();
  if (auto* exit = std::get_if<ParseExit>(&outcome)) {
    show_and_exit(exit->text, exit->stream, exit->status);
  }
  DecodeOutcome decoded = decode_command(std::move(std::get<Matches>(outcome)));
  if (auto* failure = std::get_if<DecodeFailure>(&decoded)) {
    if (failure->kind == DecodeFailure::Kind::kMismatch) base::internal_failure(failure->message);
    show_and_exit(format_usage_error(build_cli(), failure->message), Stream::kStderr, 2);
  }
  return std::move(std::get<Cli>(decoded));
}

}  // namespace tovrel::cli
