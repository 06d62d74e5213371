#include "crypto/box.h"

#include <algorithm>
#include <cstring>

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>

#include "base/wipe.h"
#include "crypto/init.h"
#include "crypto/openssl_error.h"
#include "crypto/owners.h"

namespace tovrel::crypto {
namespace {

const unsigned char* bytes_of(std::string_view s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

using U = std::array<unsigned char, kX25519KeySize>;

// Little-endian u-coordinates whose multiples by any clamped scalar vanish: 0 and 1 (orders
// 2 and 4), the two points of order 8, and p-1 (order 4 on the twist).
constexpr U kSmallOrder[] = {
    {},
    {1},
    {0xe0, 0xeb, 0x7a, 0x7c, 0x3b, 0x41, 0xb8, 0xae, 0x16, 0x56, 0xe3,
     0xfa, 0xf1, 0x9f, 0xc4, 0x6a, 0xda, 0x09, 0x8d, 0xeb, 0x9c, 0x32,
     0xb1, 0xfd, 0x86, 0x62, 0x05, 0x16, 0x5f, 0x49, 0xb8, 0x00},
    {0x5f, 0x9c, 0x95, 0xbc, 0xa3, 0x50, 0x8c, 0x24, 0xb1, 0xd0, 0xb1,
     0x55, 0x9c, 0x83, 0xef, 0x5b, 0x04, 0x44, 0x5c, 0xc4, 0x58, 0x1c,
     0x8e, 0x86, 0xd8, 0x22, 0x4e, 0xdd, 0xd0, 0x9f, 0x11, 0x57},
    {0xec, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
     0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
     0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x7f},
};

// p = 2^255 - 19, little endian.
constexpr U kP = {0xed, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
                  0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
                  0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x7f};

// u with the top bit cleared, reduced modulo p (one subtraction suffices below 2^255).
U reduce(std::string_view in) {
  U u{};
  std::memcpy(u.data(), in.data(), u.size());
  u[31] &= 0x7f;
  bool ge = true;
  for (std::size_t i = u.size(); i-- > 0;) {
    if (u[i] != kP[i]) {
      ge = u[i] > kP[i];
      break;
    }
  }
  if (ge) {
    int borrow = 0;
    for (std::size_t i = 0; i < u.size(); ++i) {
      const int d = u[i] - kP[i] - borrow;
      borrow = d < 0 ? 1 : 0;
      u[i] = static_cast<unsigned char>(d + 256 * borrow);
    }
  }
  return u;
}

}  // namespace

bool is_small_order_x25519(std::string_view u) {
  if (u.size() != kX25519KeySize) return false;
  const U r = reduce(u);
  for (const U& s : kSmallOrder) {
    if (r == s) return true;
  }
  return false;
}

base::Result<SecretBytes> x25519(const SecretBytes& secret, std::string_view peer_public) {
  if (secret.size() != kX25519KeySize || peer_public.size() != kX25519KeySize) {
    return base::Error{"x25519: keys must be 32 bytes"};
  }
  ensure_openssl_initialised();
  // OpenSSL clamps its own copy of the secret and frees that copy with a cleanse.
  Owned<EVP_PKEY_CTX> load(EVP_PKEY_CTX_new_from_name(nullptr, "X25519", nullptr));
  // The agreement reads only the private half of our key. Handing OpenSSL a public half too (any
  // 32 bytes: it is never read) spares it deriving the real one, a scalar multiplication.
  std::array<unsigned char, kX25519KeySize> unused_public{};
  OSSL_PARAM own_params[] = {
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PRIV_KEY,
                                        const_cast<unsigned char*>(secret.data()), secret.size()),
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, unused_public.data(),
                                        unused_public.size()),
      OSSL_PARAM_construct_end(),
  };
  OSSL_PARAM peer_params[] = {
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY,
                                        const_cast<char*>(peer_public.data()), peer_public.size()),
      OSSL_PARAM_construct_end(),
  };
  EVP_PKEY* own_key = nullptr;
  EVP_PKEY* peer_key = nullptr;
  const bool loaded =
      load && EVP_PKEY_fromdata_init(load.get()) == 1 &&
      EVP_PKEY_fromdata(load.get(), &own_key, EVP_PKEY_KEYPAIR, own_params) == 1 &&
      EVP_PKEY_fromdata(load.get(), &peer_key, EVP_PKEY_PUBLIC_KEY, peer_params) == 1;
  Owned<EVP_PKEY> own(own_key);
  Owned<EVP_PKEY> peer(peer_key);
  if (!loaded) return base::Error{openssl_error("x25519: load key")};
  Owned<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new(own.get(), nullptr));
  SecretBytes shared(kX25519KeySize);
  std::size_t len = shared.size();
  // No peer validation: every 32-byte string is a u-coordinate to X25519.
  const bool derived = ctx && EVP_PKEY_derive_init(ctx.get()) == 1 &&
                       EVP_PKEY_derive_set_peer_ex(ctx.get(), peer.get(), 0) == 1 &&
                       EVP_PKEY_derive(ctx.get(), shared.data(), &len) == 1 &&
                       len == kX25519KeySize;
  if (derived) return shared;
  // OpenSSL refuses an all-zero result, which a small-order peer always gives; the envelope
  // format lets that secret go on, so it is produced here (and OpenSSL's refusal forgotten).
  if (is_small_order_x25519(peer_public)) {
    ERR_clear_error();
    return SecretBytes(kX25519KeySize);
  }
  return base::Error{openssl_error("x25519: key agreement")};
}

base::Result<SecretBytes> hkdf_sha256(const SecretBytes& ikm, std::string_view info,
                                      std::size_t length) {
  ensure_openssl_initialised();
  Owned<EVP_KDF> kdf(EVP_KDF_fetch(nullptr, OSSL_KDF_NAME_HKDF, nullptr));
  Owned<EVP_KDF_CTX> ctx(kdf ? EVP_KDF_CTX_new(kdf.get()) : nullptr);
  if (!ctx) return base::Error{openssl_error("hkdf: start")};
  char digest[] = "SHA256";
  // Without a salt parameter the extract step keys HMAC with the empty string, which HMAC
  // pads to the same block as 32 zero bytes.
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<unsigned char*>(ikm.data()),
                                        ikm.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, const_cast<char*>(info.data()),
                                        info.size()),
      OSSL_PARAM_construct_end(),
  };
  SecretBytes out(length);
  if (EVP_KDF_derive(ctx.get(), out.data(), out.size(), params) != 1) {
    return base::Error{openssl_error("hkdf: derive")};
  }
  return out;
}

base::Result<Opened> chacha20poly1305_open(const SecretBytes& key, std::string_view nonce,
                                           std::string_view aad, std::string_view sealed) {
  std::string text(sealed);
  base::Result<bool> opened = chacha20poly1305_open_in_place(key, nonce, aad, text);
  if (!opened) return std::move(opened).take_error();
  return *opened ? Opened(std::move(text)) : Opened();
}

base::Result<bool> chacha20poly1305_open_in_place(const SecretBytes& key, std::string_view nonce,
                                                  std::string_view aad, std::string& sealed) {
  if (key.size() != kChaChaKeySize || nonce.size() != kChaChaNonceSize) {
    return base::Error{"chacha20-poly1305: bad key or nonce size"};
  }
  if (sealed.size() < kPoly1305TagSize) return false;
  const std::size_t body = sealed.size() - kPoly1305TagSize;
  auto* bytes = reinterpret_cast<unsigned char*>(sealed.data());

  ensure_openssl_initialised();
  Owned<EVP_CIPHER_CTX> ctx(EVP_CIPHER_CTX_new());
  if (!ctx ||
      EVP_DecryptInit_ex(ctx.get(), EVP_chacha20_poly1305(), nullptr, key.data(),
                         bytes_of(nonce)) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_SET_TAG, static_cast<int>(kPoly1305TagSize),
                          bytes + body) != 1) {
    return base::Error{openssl_error("chacha20-poly1305: start")};
  }
  // A refusal leaves OpenSSL's reason on its queue, where it is of no interest. The bytes may
  // already be decrypted (the tag is checked last), so they are wiped.
  const auto refused = [&sealed] {
    ERR_clear_error();
    base::wipe(sealed.data(), sealed.size());
    return false;
  };
  int n = 0;
  // EVP lengths are ints: feed long inputs in pieces.
  constexpr std::size_t kChunk = std::size_t{1} << 30;
  for (std::size_t off = 0; off < aad.size(); off += kChunk) {
    const std::size_t len = std::min(kChunk, aad.size() - off);
    if (EVP_DecryptUpdate(ctx.get(), nullptr, &n, bytes_of(aad) + off, static_cast<int>(len)) !=
        1) {
      return refused();
    }
  }
  // A stream cipher may write each piece over itself.
  std::size_t written = 0;
  for (std::size_t off = 0; off < body; off += kChunk) {
    const std::size_t len = std::min(kChunk, body - off);
    if (EVP_DecryptUpdate(ctx.get(), bytes + written, &n, bytes + off, static_cast<int>(len)) !=
        1) {
      return refused();
    }
    written += static_cast<std::size_t>(n);
  }
  if (EVP_DecryptFinal_ex(ctx.get(), bytes + written, &n) != 1) return refused();
  written += static_cast<std::size_t>(n);
  sealed.resize(written);
  return true;
}

}  // namespace tovrel::crypto
