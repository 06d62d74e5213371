#include "identity/identity.h"

#include <errno.h>
#include <sys/stat.h>

#include <array>
#include <span>
#include <type_traits>

#include "base/base64.h"
#include "base/io.h"
#include "base/os_error.h"
#include "base/output.h"
#include "base/sys.h"
#include "crypto/ed25519.h"
#include "crypto/random.h"
#include "crypto/secure.h"
#include "crypto/x25519.h"
#include "identity/key_files.h"
#include "identity/keys.h"
#include "identity/messages.h"
#include "identity/pem.h"
#include "base/whitespace.h"

namespace tovrel::identity {

namespace {

json::JsonValue error_result(std::string text) {
  json::JsonValue out = json::object();
  out["error"] = std::move(text);
  return out;
}

json::JsonValue error_result(std::string_view step, std::string_view cause) {
  return error_result(base::with_cause(step, cause));
}

// Zeroes a fixed-size secret or a string (its whole capacity) when the scope ends.
template <class T>
struct Wiped {
  T value{};
  Wiped() = default;
  Wiped(const Wiped&) = delete;
  Wiped& operator=(const Wiped&) = delete;
  ~Wiped() {
    if constexpr (std::is_same_v<T, std::string>) {
      crypto::wipe_string(value);
    } else {
      crypto::wipe(value.data(), value.size());
    }
  }
};

// The random source failing leaves nothing sensible to answer: the process ends.
void draw_random(std::span<std::uint8_t> out) {
  if (auto drawn = crypto::random_bytes(out.data(), out.size()); !drawn) {
    base::internal_failure(base::with_cause(text::kInternalError, drawn.error()));
  }
}

std::string_view as_view(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// An encoded document of an unexpected size is a fault of ours; say so rather than write it.
std::string size_mismatch(std::size_t got, std::size_t want) {
  return std::string(text::kEncodedSizeGot) + std::to_string(got) + std::string(text::kEncodedSizeWant) +
         std::to_string(want);
}

json::JsonValue generate(const GenerateArgs& args) {
  const std::string& dir = args.key_dir;
  if (auto made = make_key_directory(dir); !made) return error_result(made.error());
  // A failure is of no consequence here.
  (void)base::retry_on_eintr([&] { return ::chmod(dir.c_str(), 0700); });

  Wiped<std::array<std::uint8_t, crypto::kEd25519SeedSize>> seed;
  draw_random(seed.value);
  auto signing = crypto::Ed25519SigningKey::from_seed(seed.value);
  if (!signing) base::internal_failure(base::with_cause(text::kInternalError, signing.error()));
  const crypto::Ed25519PublicKey public_key = signing->public_key();

  Wiped<std::string> private_pem;
  {
    Wiped<std::string> der;
    der.value.reserve(kPrivateKeyDerSize);
    append_private_key_der(seed.value, public_key, der.value);
    if (der.value.size() != kPrivateKeyDerSize) {
      return error_result(text::kEncodePrivateKey, size_mismatch(der.value.size(), kPrivateKeyDerSize));
    }
    private_pem.value.reserve(pem_size(kPrivateKeyLabel, kPrivateKeyDerSize));
    pem_encode(kPrivateKeyLabel, der.value, private_pem.value);
  }
  const std::string public_der = public_key_der(public_key);
  if (public_der.size() != kPublicKeyDerSize) {
    return error_result(text::kEncodePublicKey, size_mismatch(public_der.size(), kPublicKeyDerSize));
  }
  std::string public_pem;
  public_pem.reserve(pem_size(kPublicKeyLabel, kPublicKeyDerSize));
  pem_encode(kPublicKeyLabel, public_der, public_pem);

  if (auto w = write_key_file(key_path(dir, kPrivateKeyFile), private_pem.value, 0600); !w) {
    return error_result(w.error());
  }
  if (auto w = write_key_file(key_path(dir, kPublicKeyFile), public_pem, 0644); !w) {
    return error_result(w.error());
  }

  Wiped<std::array<std::uint8_t, crypto::kX25519KeySize>> box_secret;
  draw_random(box_secret.value);
  auto box_public = crypto::x25519_public_key(box_secret.value);
  if (!box_public) base::internal_failure(base::with_cause(text::kInternalError, box_public.error()));
  Wiped<std::string> box_secret_text;
  box_secret_text.value = base::base64url_encode(as_view(box_secret.value));
  const std::string box_public_text = base::base64url_encode(as_view(*box_public));

  if (auto w = write_key_file(key_path(dir, kBoxKeyFile), box_secret_text.value, 0600); !w) {
    return error_result(w.error());
  }
  if (auto w = write_key_file(key_path(dir, kBoxPubFile), box_public_text, 0644); !w) {
    return error_result(w.error());
  }

  json::JsonValue out = json::object();
  out["box_pub"] = box_public_text;
  out["fingerprint"] = key_fingerprint(public_pem);
  out["key_dir"] = dir;
  return out;
}

json::JsonValue fingerprint_result(std::string_view bytes) {
  json::JsonValue out = json::object();
  out["fingerprint"] = key_fingerprint(bytes);
  return out;
}

json::JsonValue fingerprint(const FingerprintArgs& args) {
  auto bytes = base::read_file(args.public_key);
  if (!bytes) return error_result(text::kReadPublicKey, bytes.error());
  return fingerprint_result(bytes->view());
}

json::JsonValue box_fingerprint(const BoxFingerprintArgs& args) {
  auto content = base::as_text(base::read_file(args.public_key));
  if (!content) return error_result(text::kReadPublicKey, content.error());
  auto key = base::base64url_decode(base::trim_unicode_whitespace(content->view()));
  if (!key) return error_result(text::kDecodePublicKey, key.error());
  return fingerprint_result(*key);
}

}  // namespace

json::JsonValue handle_keypair(KeypairCommands command) {
  return std::visit(
      [](const auto& args) -> json::JsonValue {
        using T = std::decay_t<decltype(args)>;
        if constexpr (std::is_same_v<T, GenerateArgs>) {
          return generate(args);
        } else if constexpr (std::is_same_v<T, FingerprintArgs>) {
          return fingerprint(args);
        } else {
          return box_fingerprint(args);
        }
      },
      command);
}

json::JsonValue handle_sign(const std::string& key_dir, const std::string& hash) {
  auto content = base::as_text(base::read_file(key_path(key_dir, kPrivateKeyFile)));
  if (!content) return error_result(text::kReadPrivateKey, content.error());
  auto key = read_private_key(content->view());
  if (!key) return error_result(text::kParsePrivateKey, key.error());
  auto signature = key->sign(hash);
  if (!signature) base::internal_failure(base::with_cause(text::kInternalError, signature.error()));
  json::JsonValue out = json::object();
  out["hash"] = hash;
  out["signature"] = base::base64url_encode(as_view(*signature));
  return out;
}

json::JsonValue handle_verify(const std::string& hash, const std::string& signature,
                              const std::string& public_key) {
  auto content = base::as_text(base::read_file(public_key));
  if (!content) return error_result(text::kReadPublicKey, content.error());
  auto key = read_public_key(content->view());
  if (!key) {
    json::JsonValue out = error_result(text::kParsePublicKey, key.error());
    out["valid"] = false;
    return out;
  }
  json::JsonValue out = json::object();
  out["hash"] = hash;
  out["valid"] = false;
  auto sig = base::base64url_decode_stripped(signature);
  if (!sig || sig->size() != crypto::kEd25519SignatureSize) return out;
  crypto::Ed25519Signature bytes;
  std::copy(sig->begin(), sig->end(), bytes.begin());
  auto valid = crypto::ed25519_verify(*key, bytes, hash);
  if (!valid) base::internal_failure(base::with_cause(text::kInternalError, valid.error()));
  out["valid"] = *valid;
  return out;
}

}  // namespace tovrel::identity
