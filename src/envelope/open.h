#pragma once
// Opening a sealed envelope: the document read as JSON, the box key agreed with the
// ephemeral key, the payload decrypted, validated and filtered. Every outcome is one result
// object: `env` (and `skipped` when a name was refused), or `error` alone.

#include <functional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "json/value.h"

namespace tovrel::envelope {

// The required kind of `aad_fields`, and the HKDF info.
inline constexpr std::string_view ENVELOPE_KIND = "execution-secrets/v1";
inline constexpr std::string_view kBoxKeyFile = "box_key.pem";

// base64url without padding after removing every trailing '='; a failure reads
// "base64url decode: {}" with the decoder's message.
base::Result<std::string> decode_base64url(std::string_view text);

// `key_dir` joined with "box_key.pem" ('/' between unless empty or already there).
std::string box_key_path(std::string_view key_dir);

// Yields the text of the box key file, or the cause of its failure. Called at most once,
// and only once the document has passed its version, presence and kind checks. The text
// stays with the reader (no copy of a file of any size is made), and must outlive the call
// of open_envelope.
using BoxKeyReader = std::function<base::Result<std::string_view>()>;

// Opens the envelope whose document bytes are `document` (standard input as read).
json::JsonValue open_envelope(std::string_view document, const BoxKeyReader& read_box_key);

}  // namespace tovrel::envelope
