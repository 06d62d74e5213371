#include "exec/stdin_data.h"

#include "base/utf8.h"

namespace tovrel::exec {

std::optional<std::string_view> resolve_stdin_data(const std::optional<std::string>& stdin_text,
                                                   bool stdin_pipe, base::InputBytes& holder) {
  if (stdin_text) return *stdin_text;
  if (!stdin_pipe) return std::nullopt;
  // A failed read (memory that cannot be had included) keeps what came before it.
  (void)base::read_to_end(0, holder);
  if (holder.size() == 0 || !base::is_valid_utf8(holder.view())) return std::nullopt;
  return holder.view();
}

}  // namespace tovrel::exec
