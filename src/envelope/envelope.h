#pragma once
// Secret envelopes: the record of `envelope open` and its handler.

#include <string>
#include <variant>

#include "json/value.h"

namespace tovrel::envelope {

struct OpenArgs {
  std::string key_dir;
};
using EnvelopeCommands = std::variant<OpenArgs>;

// Reads the envelope document from standard input and opens it with the box key of `key_dir`.
json::JsonValue handle_envelope_open(const std::string& key_dir);

}  // namespace tovrel::envelope
