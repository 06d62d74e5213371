// Splits the input into command-line words at NUL bytes and runs the in-process parse and
// decode against the tovrel command tree. Neither may crash, hang or end the process.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/decode.h"
#include "cli/engine.h"
#include "cli/tree.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const tovrel::cli::Command tree = tovrel::cli::build_cli();
  std::vector<std::string> words;
  std::string word;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      words.push_back(std::move(word));
      word.clear();
    } else {
      word.push_back(static_cast<char>(data[i]));
    }
  }
  if (!word.empty() || size == 0) words.push_back(std::move(word));
  tovrel::cli::ParseOutcome outcome = tovrel::cli::parse(tree, "tovrel", words);
  if (auto* exit = std::get_if<tovrel::cli::ParseExit>(&outcome)) {
    const std::string plain = exit->text.plain();
    const std::string coloured = exit->text.render(true);
    if (plain.empty() || plain.back() != '\n' || coloured.size() < plain.size()) __builtin_trap();
    return 0;
  }
  tovrel::cli::DecodeOutcome decoded =
      tovrel::cli::decode_command(std::move(std::get<tovrel::cli::Matches>(outcome)));
  // The tree and the decoder agree, so a parse that matched always decodes.
  if (std::holds_alternative<tovrel::cli::DecodeFailure>(decoded)) __builtin_trap();
  return 0;
}
