#include "envelope/envelope.h"

#include <malloc.h>

#include "base/io.h"
#include "envelope/messages.h"
#include "envelope/open.h"
#include "json/error_result.h"

namespace tovrel::envelope {
namespace {

// The large buffers of an opening (the document, the decoded payload, the result's strings and
// line) follow one another, each freed before the next is made. Freed mappings go back to the
// kernel, and every fresh page costs a fault; kept in the heap, each buffer is made in the
// pages of the one before it.
void reuse_freed_memory() {
  constexpr int kLargest = 32 << 20;  // the largest threshold the allocator takes
  ::mallopt(M_MMAP_THRESHOLD, kLargest);
  ::mallopt(M_TRIM_THRESHOLD, kLargest);
}

}  // namespace

json::JsonValue handle_envelope_open(const std::string& key_dir) {
  reuse_freed_memory();
  base::Result<base::InputBytes> input = base::read_all(0);
  if (!input) return json::error_result(msg::read_stdin(input.error()));
  base::InputBytes key_file;
  base::Result<Sealed> sealed = read_sealed(input->view(), [&]() -> base::Result<std::string_view> {
    auto text = base::as_text(base::read_secret_file(box_key_path(key_dir)));
    if (!text) return std::move(text).take_error();
    key_file = std::move(*text);
    return key_file.view();
  });
  // Nothing refers to the document any more: its memory goes to what follows.
  input->free_storage();
  if (!sealed) return json::error_result(sealed.error());
  return open_sealed(std::move(*sealed));
}

}  // namespace tovrel::envelope
