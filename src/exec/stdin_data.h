#pragma once
// The choice of the text a child of exec run, stream or spawn reads on its standard input.

#include <optional>
#include <string>
#include <string_view>

#include "base/io.h"

namespace tovrel::exec {

// The stdin data: `stdin` when given (even empty); otherwise, with `stdin_pipe`, all of our
// standard input when it is non-empty valid UTF-8 (invalid UTF-8 gives none), read into
// `holder`, which must outlive the data; otherwise none. Bytes read before a failed read
// count, and so do those held when no more memory can be had: what cannot be held ends the
// reading as a failed read does.
std::optional<std::string_view> resolve_stdin_data(const std::optional<std::string>& stdin_text,
                                                   bool stdin_pipe, base::InputBytes& holder);

}  // namespace tovrel::exec
