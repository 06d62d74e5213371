#include "sealer.h"

#include <memory>
#include <stdexcept>

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>

namespace tovrel::test {
namespace {

const unsigned char* u8(std::string_view s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("sealer: ") + what);
}

std::string derive_key(std::string_view shared) {
  EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
  EVP_KDF_CTX* ctx = EVP_KDF_CTX_new(kdf);
  EVP_KDF_free(kdf);
  std::string salt(32, '\0');  // explicit zeros: the same as no salt
  char digest[] = "SHA256";
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<char*>(shared.data()),
                                        shared.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, salt.data(), salt.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, const_cast<char*>(kKind.data()),
                                        kKind.size()),
      OSSL_PARAM_construct_end(),
  };
  std::string key(32, '\0');
  const bool ok =
      EVP_KDF_derive(ctx, reinterpret_cast<unsigned char*>(key.data()), key.size(), params) == 1;
  EVP_KDF_CTX_free(ctx);
  check(ok, "hkdf");
  return key;
}

std::string encrypt(std::string_view key, std::string_view payload, std::string_view aad) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  const unsigned char nonce[12] = {};
  std::string out(payload.size() + 16, '\0');
  auto* o = reinterpret_cast<unsigned char*>(out.data());
  int n = 0;
  int total = 0;
  bool ok = EVP_EncryptInit_ex(ctx, EVP_chacha20_poly1305(), nullptr, u8(key), nonce) == 1 &&
            EVP_EncryptUpdate(ctx, nullptr, &n, u8(aad), static_cast<int>(aad.size())) == 1 &&
            EVP_EncryptUpdate(ctx, o, &n, u8(payload), static_cast<int>(payload.size())) == 1;
  total = n;
  ok = ok && EVP_EncryptFinal_ex(ctx, o + total, &n) == 1;
  total += n;
  ok = ok && EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_GET_TAG, 16, o + total) == 1;
  EVP_CIPHER_CTX_free(ctx);
  check(ok && static_cast<std::size_t>(total) == payload.size(), "encrypt");
  return out;
}

std::string b64url_decode(std::string_view text) {
  static constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  unsigned acc = 0;
  int bits = 0;
  for (char c : text) {
    acc = (acc << 6) | static_cast<unsigned>(kAlphabet.find(c));
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((acc >> bits) & 0xFF));
    }
  }
  return out;
}

}  // namespace

std::string b64url(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = (u8(bytes)[i] << 16) | (u8(bytes)[i + 1] << 8) | u8(bytes)[i + 2];
    for (int s = 18; s >= 0; s -= 6) out.push_back(kAlphabet[(v >> s) & 63]);
  }
  const std::size_t rest = bytes.size() - i;
  if (rest == 1) {
    const unsigned v = u8(bytes)[i] << 16;
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
  } else if (rest == 2) {
    const unsigned v = (u8(bytes)[i] << 16) | (u8(bytes)[i + 1] << 8);
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(kAlphabet[(v >> 6) & 63]);
  }
  return out;
}

std::string unhex(std::string_view hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

std::string x25519_public(std::string_view secret) {
  EVP_PKEY* key = EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, u8(secret), secret.size());
  std::string pub(32, '\0');
  std::size_t len = pub.size();
  const bool ok = key && EVP_PKEY_get_raw_public_key(
                             key, reinterpret_cast<unsigned char*>(pub.data()), &len) == 1;
  EVP_PKEY_free(key);
  check(ok, "public key");
  return pub;
}

Sealed seal(std::string_view box_public, std::string_view ephemeral_secret,
            std::string_view payload, std::string_view aad) {
  EVP_PKEY* eph = EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, u8(ephemeral_secret),
                                               ephemeral_secret.size());
  EVP_PKEY* peer =
      EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, u8(box_public), box_public.size());
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(eph, nullptr);
  std::string shared(32, '\0');
  std::size_t len = shared.size();
  const bool ok = ctx && EVP_PKEY_derive_init(ctx) == 1 &&
                  EVP_PKEY_derive_set_peer(ctx, peer) == 1 &&
                  EVP_PKEY_derive(ctx, reinterpret_cast<unsigned char*>(shared.data()), &len) == 1;
  EVP_PKEY_CTX_free(ctx);
  EVP_PKEY_free(peer);
  EVP_PKEY_free(eph);
  check(ok, "derive");
  return Sealed{b64url(x25519_public(ephemeral_secret)),
                b64url(encrypt(derive_key(shared), payload, aad))};
}

Sealed seal_small_order(std::string_view small_order_point, std::string_view payload,
                        std::string_view aad) {
  return Sealed{b64url(small_order_point),
                b64url(encrypt(derive_key(std::string(32, '\0')), payload, aad))};
}

std::string envelope_json(const Sealed& sealed, std::string_view aad_fields_json) {
  return R"({"version":1,"enc":")" + sealed.enc + R"(","ciphertext":")" + sealed.ciphertext +
         R"(","aad_fields":)" + std::string(aad_fields_json) + "}";
}

std::string rewrap_ciphertext(const std::string& ciphertext_b64, void (*edit)(std::string&)) {
  std::string bytes = b64url_decode(ciphertext_b64);
  edit(bytes);
  return b64url(bytes);
}

}  // namespace tovrel::test
