#include "identity/identity.h"

#include <span>
#include <string>
#include <string_view>

#include "base/base64.h"
#include "base/io.h"
#include "base/os_error.h"
#include "base/output.h"
#include "base/overloaded.h"
#include "base/path.h"
#include "base/whitespace.h"
#include "crypto/ed25519.h"
#include "crypto/random.h"
#include "crypto/secure.h"
#include "crypto/x25519.h"
#include "identity/key_files.h"
#include "identity/keys.h"
#include "identity/messages.h"
#include "identity/pem.h"
#include "json/error_result.h"

namespace tovrel::identity {

namespace {

using json::error_result;

// The random source failing leaves nothing sensible to answer: the process ends.
void draw_random(std::span<std::uint8_t> out) {
  if (auto drawn = crypto::random_bytes(out.data(), out.size()); !drawn) {
    base::internal_failure(base::with_cause(text::kCryptoFailure, drawn.error()));
  }
}

std::string_view as_view(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// An encoded document of an unexpected size is a fault of ours; say so rather than write it.
std::string size_mismatch(std::size_t got, std::size_t want) {
  return std::string(text::kEncodedSizeGot) + std::to_string(got) +
         std::string(text::kEncodedSizeWant) + std::to_string(want);
}

json::JsonValue generate(const GenerateArgs& args) {
  const std::string& dir = args.key_dir;
  auto key_dir = KeyDirectory::open(dir);
  if (!key_dir) return error_result(key_dir.error());

  crypto::SecretBytes seed(crypto::kEd25519SeedSize);
  draw_random(seed.bytes());
  auto signing =
      crypto::Ed25519SigningKey::from_seed(seed.bytes().first<crypto::kEd25519SeedSize>());
  if (!signing) base::internal_failure(base::with_cause(text::kCryptoFailure, signing.error()));
  const crypto::Ed25519PublicKey public_key = signing->public_key();

  crypto::SecretBytes private_pem;
  {
    const crypto::SecretBytes der =
        private_key_der(seed.bytes().first<crypto::kEd25519SeedSize>(), public_key);
    if (der.size() != kPrivateKeyDerSize) {
      return error_result(text::kEncodePrivateKey, size_mismatch(der.size(), kPrivateKeyDerSize));
    }
    private_pem = pem_encode(kPrivateKeyLabel, der.view());
  }
  const std::string public_der = public_key_der(public_key);
  if (public_der.size() != kPublicKeyDerSize) {
    return error_result(text::kEncodePublicKey,
                        size_mismatch(public_der.size(), kPublicKeyDerSize));
  }
  const crypto::SecretBytes public_pem = pem_encode(kPublicKeyLabel, public_der);

  if (auto w = key_dir->write(kPrivateKeyFile, private_pem.view(), 0600); !w) {
    return error_result(w.error());
  }
  if (auto w = key_dir->write(kPublicKeyFile, public_pem.view(), 0644); !w) {
    return error_result(w.error());
  }

  crypto::SecretBytes box_secret(crypto::kX25519KeySize);
  draw_random(box_secret.bytes());
  auto box_public = crypto::x25519_public_key(box_secret.bytes().first<crypto::kX25519KeySize>());
  if (!box_public)
    base::internal_failure(base::with_cause(text::kCryptoFailure, box_public.error()));
  // The text form is as secret as the key: wiped too.
  const crypto::SecretBytes box_secret_text(base::base64url_encode(box_secret.view()));
  const std::string box_public_text = base::base64url_encode(as_view(*box_public));

  if (auto w = key_dir->write(kBoxKeyFile, box_secret_text.view(), 0600); !w) {
    return error_result(w.error());
  }
  if (auto w = key_dir->write(kBoxPubFile, box_public_text, 0644); !w) {
    return error_result(w.error());
  }

  json::JsonValue out = json::object();
  out["box_pub"] = box_public_text;
  out["fingerprint"] = key_fingerprint(public_pem.view());
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
  return std::visit(base::Overloaded{
                        [](const GenerateArgs& args) { return generate(args); },
                        [](const FingerprintArgs& args) { return fingerprint(args); },
                        [](const BoxFingerprintArgs& args) { return box_fingerprint(args); },
                    },
                    command);
}

json::JsonValue handle_sign(const std::string& key_dir, const std::string& hash) {
  auto content = base::as_text(base::read_secret_file(base::join_path(key_dir, kPrivateKeyFile)));
  if (!content) return error_result(text::kReadPrivateKey, content.error());
  auto key = read_private_key(content->view());
  if (!key) return error_result(text::kParsePrivateKey, key.error());
  auto signature = key->sign(hash);
  if (!signature) base::internal_failure(base::with_cause(text::kCryptoFailure, signature.error()));
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
  if (!valid) base::internal_failure(base::with_cause(text::kCryptoFailure, valid.error()));
  out["valid"] = *valid;
  return out;
}

}  // namespace tovrel::identity
