#pragma once
// The Memory primitive: the records of the `cas` group and its handler.

#include <string>
#include <variant>

#include "json/value.h"

namespace tovrel::cas {

struct StoreArgs {
  std::string root;
  bool blob = false;
};
struct FetchArgs {
  std::string root;
  std::string hash;
  bool blob = false;
};
struct CasVerifyArgs {
  std::string root;
  std::string hash;
  bool blob = false;
};
struct HasArgs {
  std::string root;
  std::string hash;
};

using CasCommands = std::variant<StoreArgs, FetchArgs, CasVerifyArgs, HasArgs>;

// Runs one cas command and returns its result. Ends the process itself after a `cas fetch`
// that wrote the stored bytes, a rejected --hash, and a fetch of an item that cannot be read;
// a fetch whose output cannot be written (other than to a pipe whose reader has gone, which
// ends with status 0 and no message), or whose item stops being readable after bytes went out,
// ends as an internal failure.
json::JsonValue handle_cas(CasCommands command);

}  // namespace tovrel::cas
