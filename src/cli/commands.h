#pragma once
// The decoded command line: one `Commands` value, whose variants are the records of the
// subsystems that handle them.

#include <cstdint>
#include <variant>

#include "cas/cas.h"
#include "envelope/envelope.h"
#include "exec/exec.h"
#include "identity/identity.h"

namespace tovrel::cli {

struct Now {};
struct AfterArgs {
  std::uint64_t ms = 0;
};
using TimeCommands = std::variant<Now, AfterArgs>;

// In the order Exec, Cas, Sign, Verify, Keypair, Envelope, Time.
using Commands =
    std::variant<exec::ExecCommands, cas::CasCommands, identity::SignArgs, identity::VerifyArgs,
                 identity::KeypairCommands, envelope::EnvelopeCommands, TimeCommands>;

struct Cli {
  Commands command;
};

}  // namespace tovrel::cli
