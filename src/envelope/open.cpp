#include "envelope/open.h"

#include <optional>
#include <string>
#include <utility>

#include "base/base64.h"
#include "base/output.h"
#include "base/utf8.h"
#include "base/whitespace.h"
#include "crypto/box.h"
#include "crypto/secure.h"
#include "envelope/env_map.h"
#include "envelope/messages.h"
#include "envelope/unicode.h"
#include "json/error_result.h"
#include "json/parser.h"
#include "json/writer.h"

namespace tovrel::envelope {
namespace {

using json::error_result;

// "None" unless `version` holds an unsigned integer, then "Some(n)"; 1 is the one accepted.
std::string version_text(const json::JsonValue* version, bool* supported) {
  *supported = false;
  if (version == nullptr) return "None";
  std::uint64_t n = 0;
  if (version->is_u64()) {
    n = version->as_u64();
  } else if (version->is_i64() && version->as_i64() >= 0) {
    n = static_cast<std::uint64_t>(version->as_i64());
  } else {
    return "None";
  }
  *supported = n == 1;
  return "Some(" + std::to_string(n) + ")";
}

// The text of a string member; any other value reads as the empty text.
std::string_view text_of(const json::JsonValue& value) {
  return value.is_string() ? std::string_view(value.as_string()) : std::string_view();
}

}  // namespace

base::Result<std::string> decode_base64url(std::string_view text) {
  base::Result<std::string> decoded = base::base64url_decode_stripped(text);
  if (!decoded) return base::Error{msg::base64url_decode(decoded.error())};
  return decoded;
}

std::string box_key_path(std::string_view key_dir) {
  std::string path(key_dir);
  if (!path.empty() && path.back() != '/') path.push_back('/');
  path += kBoxKeyFile;
  return path;
}

json::JsonValue open_envelope(std::string_view document, const BoxKeyReader& read_box_key) {
  // 1. Standard input is text.
  if (!base::is_valid_utf8(document))
    return error_result(msg::read_stdin(base::kInvalidUtf8Stream));

  // 2. One JSON value.
  base::Result<json::JsonValue> parsed = json::parse(document);
  if (!parsed) return error_result(msg::parse_envelope(parsed.error()));
  const json::JsonValue& envelope = *parsed;

  // 3. Version 1 only.
  bool supported = false;
  const std::string version = version_text(envelope.find("version"), &supported);
  if (!supported) return error_result(msg::unsupported_version(version));

  // 4. Presence, whatever the value.
  const json::JsonValue* enc = envelope.find("enc");
  if (enc == nullptr) return error_result(msg::missing_field("enc"));
  const json::JsonValue* ciphertext = envelope.find("ciphertext");
  if (ciphertext == nullptr) return error_result(msg::missing_field("ciphertext"));
  const json::JsonValue* aad_fields = envelope.find("aad_fields");
  if (aad_fields == nullptr) return error_result(msg::missing_field("aad_fields"));

  // 5. Kind.
  const json::JsonValue* kind = aad_fields->find("kind");
  if (kind == nullptr || !kind->is_string()) return error_result(msg::unexpected_kind("None"));
  if (kind->as_string() != ENVELOPE_KIND) {
    return error_result(
        msg::unexpected_kind("Some(" + unicode::debug_quoted(kind->as_string()) + ")"));
  }

  // 6. The box key file, only now.
  const base::Result<std::string_view> key_text = read_box_key();
  if (!key_text) return error_result(msg::read_box_key(key_text.error()));

  // 7. The box secret: trimmed, then decoded.
  base::Result<std::string> key_bytes = decode_base64url(base::trim_unicode_whitespace(*key_text));
  if (!key_bytes) return error_result(msg::decode_box_key(key_bytes.error()));
  if (key_bytes->size() != crypto::kX25519KeySize)
    return error_result(std::string(msg::kBoxKeySize));
  // The decoded secret, wiped when it goes.
  const crypto::SecretBytes box_secret{std::move(*key_bytes)};

  // 8. The ephemeral public key, untrimmed.
  base::Result<std::string> ephemeral = decode_base64url(text_of(*enc));
  if (!ephemeral) return error_result(msg::decode_ephemeral(ephemeral.error()));
  if (ephemeral->size() != crypto::kX25519KeySize) {
    return error_result(std::string(msg::kEphemeralKeySize));
  }

  // 9-10. Agreement and derivation; a small-order ephemeral key gives zeros and goes on.
  // Both inputs have their sizes, so only OpenSSL itself can fail here: an internal failure.
  const crypto::SecretBytes key = [&] {
    const base::Result<crypto::SecretBytes> shared = crypto::x25519(box_secret, *ephemeral);
    if (!shared) base::internal_failure(shared.error());
    base::Result<crypto::SecretBytes> derived =
        crypto::hkdf_sha256(*shared, ENVELOPE_KIND, crypto::kChaChaKeySize);
    if (!derived) base::internal_failure(derived.error());
    return std::move(derived).value();
  }();

  // 11. The associated data is the object as parsed and re-serialised, not its input bytes.
  const std::string aad = json::to_compact(*aad_fields);

  // 12. The sealed payload.
  base::Result<std::string> sealed = decode_base64url(text_of(*ciphertext));
  if (!sealed) return error_result(msg::decode_ciphertext(sealed.error()));

  // 13. Decryption under a zero nonce: each envelope has its own ephemeral key.
  const std::string nonce(crypto::kChaChaNonceSize, '\0');
  base::Result<crypto::Opened> opened = crypto::chacha20poly1305_open(key, nonce, aad, *sealed);
  if (!opened) base::internal_failure(opened.error());
  crypto::Opened& plaintext = *opened;
  if (!plaintext) return error_result(msg::decryption_failed());

  // 14. The payload is one JSON object.
  base::Result<json::JsonValue> payload = json::parse(*plaintext);
  if (!payload) return error_result(msg::payload_not_json(payload.error()));
  if (!payload->is_object()) return error_result(std::string(msg::kPayloadNotObject));
  json::Object& map = payload->as_object();

  // 15. Limits, over every entry, the refused ones included.
  const std::vector<std::string> problems = validate_env_map(map);
  if (!problems.empty()) {
    std::string joined;
    for (const std::string& p : problems) {
      if (!joined.empty()) joined += msg::kProblemSeparator;
      joined += p;
    }
    return error_result(msg::validation_failed(joined));
  }

  // 16-17. Split by the name filter; values of refused names are never handed back.
  json::Object env;
  json::Array skipped;
  for (auto& [name, value] : map) {
    if (is_safe_env_name(name)) {
      env.emplace(name, std::move(value));  // the payload is not used again
    } else {
      skipped.emplace_back(name);
    }
  }
  json::JsonValue result = json::object();
  result["env"] = std::move(env);
  if (!skipped.empty()) result["skipped"] = std::move(skipped);
  return result;
}

}  // namespace tovrel::envelope
