#pragma once
// Base64 codecs: the standard alphabet with padding (PEM bodies) and unpadded base64url.
// Decoding errors carry the exact texts callers print:
//   "Invalid symbol {byte}, offset {offset}.", "Invalid input length: {n}",
//   "Invalid last symbol {byte}, offset {offset}.", "Invalid padding".
// The decoded bytes may be secret: the decoders wipe every buffer of their own that held them,
// on failure too, and hand over a heap buffer that moves without leaving a copy behind; the
// caller wipes what it is given.

#include <string>
#include <string_view>

#include "base/result.h"

namespace tovrel::base {

std::string base64_encode(std::string_view bytes);
Result<std::string> base64_decode(std::string_view text);

std::string base64url_encode(std::string_view bytes);
// Strict: no padding, canonical trailing bits.
Result<std::string> base64url_decode(std::string_view text);
// Strips any trailing '=' characters first, then decodes strictly.
Result<std::string> base64url_decode_stripped(std::string_view text);

}  // namespace tovrel::base
