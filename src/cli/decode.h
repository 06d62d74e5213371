#pragma once
// Decoding of a successful parse into the `Cli` value: the one place where option ids meet
// record fields.

#include <string>
#include <variant>

#include "cli/commands.h"
#include "cli/engine.h"

namespace tovrel::cli {

struct DecodeFailure {
  enum class Kind {
    kMissingSubcommand,
    kInvalidSubcommand,
    kMissingArgument,
    kMismatch,  // a fault of the program's own tables: an internal failure, not a usage error
  };
  Kind kind;
  std::string message;
};

using DecodeOutcome = std::variant<Cli, DecodeFailure>;

// Consumes the root matches. Prints nothing.
DecodeOutcome decode_command(Matches root);

}  // namespace tovrel::cli
