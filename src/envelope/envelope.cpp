#include "envelope/envelope.h"

#include "base/io.h"
#include "envelope/messages.h"
#include "envelope/open.h"
#include "json/error_result.h"

namespace tovrel::envelope {

json::JsonValue handle_envelope_open(const std::string& key_dir) {
  base::Result<base::InputBytes> input = base::read_all(0);
  if (!input) return json::error_result(msg::read_stdin(input.error()));
  base::InputBytes key_file;
  return open_envelope(input->view(), [&]() -> base::Result<std::string_view> {
    auto text = base::as_text(base::read_file(box_key_path(key_dir)));
    if (!text) return std::move(text).take_error();
    key_file = std::move(*text);
    return key_file.view();
  });
}

}  // namespace tovrel::envelope
