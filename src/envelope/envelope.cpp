#include "envelope/envelope.h"

#include "base/io.h"
#include "envelope/messages.h"
#include "envelope/open.h"

namespace tovrel::envelope {

json::JsonValue handle_envelope_open(const std::string& key_dir) {
  base::Result<std::string> input = base::read_stdin_bytes();
  if (!input) {
    json::JsonValue result = json::object();
    result["error"] = msg::read_stdin(input.error());
    return result;
  }
  return open_envelope(*input, [&key_dir] { return base::read_file_text(box_key_path(key_dir)); });
}

}  // namespace tovrel::envelope
