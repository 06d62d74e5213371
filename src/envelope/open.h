#pragma once
// Opening a sealed envelope: the document read as JSON, the box key agreed with the
// ephemeral key, the payload decrypted, validated and filtered. Every outcome is one result
// object: `env` (and `skipped` when a name was refused), or `error` alone.

#include <functional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "crypto/secure.h"
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

// What an envelope's document yields for decryption: the key derived for it, the associated
// data, and the decoded ciphertext (its payload followed by the tag). Nothing in it refers to
// the document, which may go once this is read.
struct Sealed {
  crypto::SecretBytes key;
  std::string aad;
  std::string payload;
};

// The steps from the document to the decoded ciphertext. The error is the text of the result.
base::Result<Sealed> read_sealed(std::string_view document, const BoxKeyReader& read_box_key);

// The steps from decryption to the result: the payload is decrypted where it is, then read,
// validated and split.
json::JsonValue open_sealed(Sealed sealed);

// Opens the envelope whose document bytes are `document` (standard input as read): both of
// the above in turn.
json::JsonValue open_envelope(std::string_view document, const BoxKeyReader& read_box_key);

}  // namespace tovrel::envelope
