// The base64 decoders accept exactly the canonical encodings: whatever decodes re-encodes to the
// same text (after the stripped variant drops its trailing '='), and nothing crashes or hangs.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto d = tovrel::base::base64url_decode(text); d.ok()) {
    if (tovrel::base::base64url_encode(*d) != text) std::abort();
  } else if (d.error().empty()) {
    std::abort();
  }
  if (auto d = tovrel::base::base64url_decode_stripped(text); d.ok()) {
    std::string_view stripped = text;
    while (!stripped.empty() && stripped.back() == '=') stripped.remove_suffix(1);
    if (tovrel::base::base64url_encode(*d) != stripped) std::abort();
  }
  if (auto d = tovrel::base::base64_decode(text); d.ok()) {
    if (tovrel::base::base64_encode(*d) != text) std::abort();
  }
  return 0;
}
