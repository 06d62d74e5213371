#include "envelope/open.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/base64.h"
#include "base/output.h"
#include "base/path.h"
#include "base/utf8.h"
#include "base/whitespace.h"
#include "base/wipe.h"
#include "crypto/box.h"
#include "crypto/secure.h"
#include "envelope/env_map.h"
#include "envelope/messages.h"
#include "envelope/unicode.h"
#include "json/error_result.h"
#include "json/handler.h"
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

bool lies_within(std::string_view part, std::string_view whole) {
  const std::less_equal<const char*> le;
  return le(whole.data(), part.data()) &&
         le(part.data() + part.size(), whole.data() + whole.size());
}

// Reads the envelope document into a value, all but the text of its top-level `ciphertext`,
// by far its largest part: that text stays where it is in the document (it is copied only
// when escapes had to be decoded) and the value holds an empty string in its place, so that
// presence, type and the last of repeated keys are decided by the value as for any member.
class EnvelopeReader final : public json::Handler {
 public:
  explicit EnvelopeReader(std::string_view document) : document_(document) {}

  json::JsonValue take() { return value_.take(); }
  // The text of the last top-level `ciphertext` given as a string; valid as long as the
  // document and this reader are.
  std::string_view ciphertext() const { return ciphertext_; }

  void null() override { other_value().null(); }
  void boolean(bool value) override { other_value().boolean(value); }
  void u64(std::uint64_t value) override { other_value().u64(value); }
  void i64(std::int64_t value) override { other_value().i64(value); }
  void f64(double value) override { other_value().f64(value); }
  void string(std::string_view value) override {
    if (!std::exchange(at_ciphertext_, false)) {
      value_.string(value);
      return;
    }
    if (lies_within(value, document_)) {
      ciphertext_ = value;
    } else {
      unescaped_.assign(value);
      ciphertext_ = unescaped_;
    }
    value_.string({});
  }
  void key(std::string_view key) override {
    at_ciphertext_ = depth_ == 1 && key == "ciphertext";
    value_.key(key);
  }
  void begin_array() override {
    ++depth_;
    other_value().begin_array();
  }
  void end_array() override {
    --depth_;
    value_.end_array();
  }
  void begin_object() override {
    ++depth_;
    other_value().begin_object();
  }
  void end_object() override {
    --depth_;
    value_.end_object();
  }

 private:
  // A value that is not a string: a `ciphertext` it belongs to reads as the empty text, which
  // the value's type already says.
  json::ValueBuilder& other_value() {
    at_ciphertext_ = false;
    return value_;
  }

  std::string_view document_;
  json::ValueBuilder value_;
  int depth_ = 0;               // arrays and objects open
  bool at_ciphertext_ = false;  // the next value is that of a top-level `ciphertext`
  std::string_view ciphertext_;
  std::string unescaped_;
};

// Wipes a string that held plaintext and gives its memory back at once rather than when its
// owner goes.
void wipe_and_free(std::string& s) {
  base::wipe(s);
  std::string().swap(s);
}

// Wipes every string value in `value`, nested ones included: what a payload held and is not
// handed back.
void wipe_strings(json::JsonValue& value) {
  if (value.is_string()) {
    base::wipe(value.as_string());
  } else if (value.is_array()) {
    for (json::JsonValue& element : value.as_array()) wipe_strings(element);
  } else if (value.is_object()) {
    for (auto& [name, member] : value.as_object()) wipe_strings(member);
  }
}

}  // namespace

base::Result<std::string> decode_base64url(std::string_view text) {
  base::Result<std::string> decoded = base::base64url_decode_stripped(text);
  if (!decoded) return base::Error{msg::base64url_decode(decoded.error())};
  return decoded;
}

std::string box_key_path(std::string_view key_dir) { return base::join_path(key_dir, kBoxKeyFile); }

base::Result<Sealed> read_sealed(std::string_view document, const BoxKeyReader& read_box_key) {
  // 1. Standard input is text.
  if (!base::is_valid_utf8(document)) return base::Error{msg::read_stdin(base::kInvalidUtf8Stream)};

  // 2. One JSON value.
  EnvelopeReader reader(document);
  if (base::Status parsed = json::parse(document, reader); !parsed) {
    return base::Error{msg::parse_envelope(parsed.error())};
  }
  const json::JsonValue envelope = reader.take();

  // 3. Version 1 only.
  bool supported = false;
  const std::string version = version_text(envelope.find("version"), &supported);
  if (!supported) return base::Error{msg::unsupported_version(version)};

  // 4. Presence, whatever the value.
  const json::JsonValue* enc = envelope.find("enc");
  if (enc == nullptr) return base::Error{msg::missing_field("enc")};
  const json::JsonValue* ciphertext = envelope.find("ciphertext");
  if (ciphertext == nullptr) return base::Error{msg::missing_field("ciphertext")};
  const json::JsonValue* aad_fields = envelope.find("aad_fields");
  if (aad_fields == nullptr) return base::Error{msg::missing_field("aad_fields")};

  // 5. Kind.
  const json::JsonValue* kind = aad_fields->find("kind");
  if (kind == nullptr || !kind->is_string()) return base::Error{msg::unexpected_kind("None")};
  if (kind->as_string() != ENVELOPE_KIND) {
    return base::Error{
        msg::unexpected_kind("Some(" + unicode::debug_quoted(kind->as_string()) + ")")};
  }

  // 6. The box key file, only now.
  const base::Result<std::string_view> key_text = read_box_key();
  if (!key_text) return base::Error{msg::read_box_key(key_text.error())};

  // 7. The box secret: trimmed, then decoded.
  base::Result<std::string> key_bytes = decode_base64url(base::trim_unicode_whitespace(*key_text));
  if (!key_bytes) return base::Error{msg::decode_box_key(key_bytes.error())};
  // The decoded secret, wiped when it goes, also when it has the wrong size.
  const crypto::SecretBytes box_secret{std::move(*key_bytes)};
  if (box_secret.size() != crypto::kX25519KeySize)
    return base::Error{std::string(msg::kBoxKeySize)};

  // 8. The ephemeral public key, untrimmed.
  base::Result<std::string> ephemeral = decode_base64url(text_of(*enc));
  if (!ephemeral) return base::Error{msg::decode_ephemeral(ephemeral.error())};
  if (ephemeral->size() != crypto::kX25519KeySize) {
    return base::Error{std::string(msg::kEphemeralKeySize)};
  }

  // 9-10. Agreement and derivation; a small-order ephemeral key gives zeros and goes on.
  // Both inputs have their sizes, so only OpenSSL itself can fail here: an internal failure.
  crypto::SecretBytes key = [&] {
    const base::Result<crypto::SecretBytes> shared = crypto::x25519(box_secret, *ephemeral);
    if (!shared) base::internal_failure(shared.error());
    base::Result<crypto::SecretBytes> derived =
        crypto::hkdf_sha256(*shared, ENVELOPE_KIND, crypto::kChaChaKeySize);
    if (!derived) base::internal_failure(derived.error());
    return std::move(derived).value();
  }();

  // 11. The associated data is the object as parsed and re-serialised, not its input bytes.
  std::string aad = json::to_compact(*aad_fields);

  // 12. The sealed payload, decoded from the document's own bytes.
  base::Result<std::string> payload =
      decode_base64url(ciphertext->is_string() ? reader.ciphertext() : std::string_view());
  if (!payload) return base::Error{msg::decode_ciphertext(payload.error())};
  return Sealed{std::move(key), std::move(aad), std::move(*payload)};
}

json::JsonValue open_sealed(Sealed sealed) {
  // 13. Decryption under a zero nonce: each envelope has its own ephemeral key.
  const std::string nonce(crypto::kChaChaNonceSize, '\0');
  const base::Result<bool> opened =
      crypto::chacha20poly1305_open_in_place(sealed.key, nonce, sealed.aad, sealed.payload);
  if (!opened) base::internal_failure(opened.error());
  if (!*opened) return error_result(msg::decryption_failed());

  // 14. The payload is one JSON object. Its text is not needed once read: its memory goes to
  // the result.
  base::Result<json::JsonValue> payload = json::parse(sealed.payload);
  wipe_and_free(sealed.payload);
  if (!payload) return error_result(msg::payload_not_json(payload.error()));
  // What is not handed back is wiped before it goes: the whole map on a refusal, the values of
  // refused names otherwise.
  struct WipeOnExit {
    json::JsonValue& value;
    ~WipeOnExit() { wipe_strings(value); }
  } wipe_rest{*payload};
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

json::JsonValue open_envelope(std::string_view document, const BoxKeyReader& read_box_key) {
  base::Result<Sealed> sealed = read_sealed(document, read_box_key);
  if (!sealed) return error_result(sealed.error());
  return open_sealed(std::move(*sealed));
}

}  // namespace tovrel::envelope
