#include "crypto/ed25519.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include "crypto/init.h"
#include "crypto/openssl_error.h"

namespace tovrel::crypto {

namespace {

// -121665 / 121666 mod 2^255 - 19, little endian.
constexpr std::array<std::uint8_t, 32> kCurveD = {
    0xa3, 0x78, 0x59, 0x13, 0xca, 0x4d, 0xeb, 0x75, 0xab, 0xd8, 0x41, 0x41, 0x4d, 0x0a, 0x70, 0x00,
    0x98, 0xe8, 0x79, 0x77, 0x79, 0x40, 0xc7, 0x8c, 0x73, 0xfe, 0x6f, 0x2b, 0xee, 0x6c, 0x03, 0x52};

}  // namespace

base::Result<Ed25519SigningKey> Ed25519SigningKey::from_seed(
    std::span<const std::uint8_t, kEd25519SeedSize> seed) {
  ensure_openssl_initialised();
  Ed25519SigningKey out;
  out.key_.reset(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), seed.size()));
  if (!out.key_) return base::Error{openssl_error("Ed25519 key")};
  std::size_t len = out.public_key_.size();
  if (EVP_PKEY_get_raw_public_key(out.key_.get(), out.public_key_.data(), &len) != 1 ||
      len != out.public_key_.size()) {
    return base::Error{openssl_error("Ed25519 public key")};
  }
  return out;
}

base::Result<Ed25519Signature> Ed25519SigningKey::sign(std::string_view message) const {
  Owned<EVP_MD_CTX> ctx(EVP_MD_CTX_new());
  Ed25519Signature sig{};
  std::size_t len = sig.size();
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key_.get()) != 1 ||
      EVP_DigestSign(ctx.get(), sig.data(), &len,
                     reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1 ||
      len != sig.size()) {
    return base::Error{openssl_error("Ed25519 sign")};
  }
  return sig;
}

base::Result<bool> ed25519_verify(std::span<const std::uint8_t, kEd25519PublicKeySize> public_key,
                                  std::span<const std::uint8_t, kEd25519SignatureSize> signature,
                                  std::string_view message) {
  ensure_openssl_initialised();
  Owned<EVP_PKEY> key(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, public_key.data(), public_key.size()));
  if (!key) return base::Error{openssl_error("Ed25519 key")};
  Owned<EVP_MD_CTX> ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1) {
    return base::Error{openssl_error("Ed25519 verify")};
  }
  const int rc =
      EVP_DigestVerify(ctx.get(), signature.data(), signature.size(),
                       reinterpret_cast<const unsigned char*>(message.data()), message.size());
  // 0 is a signature that does not verify (a key that does not decode included); the reason
  // sits on the error queue and is of no interest.
  ERR_clear_error();
  return rc == 1;
}

bool ed25519_point_decodes(std::span<const std::uint8_t, kEd25519PublicKeySize> encoded) {
  // x^2 = (y^2 - 1) / (d y^2 + 1) mod p has a root exactly when the quotient is zero or a
  // quadratic residue; the sign bit only picks between x and -x and never fails (x = 0 included).
  // d is no square, so d y^2 + 1 is never 0, and the quotient is a residue exactly when the
  // product (y^2 - 1)(d y^2 + 1) is one: no inversion is needed.
  Owned<BN_CTX> ctx(BN_CTX_new());
  if (!ctx) return false;
  BN_CTX_start(ctx.get());
  BIGNUM* p = BN_CTX_get(ctx.get());
  BIGNUM* d = BN_CTX_get(ctx.get());
  BIGNUM* y = BN_CTX_get(ctx.get());
  BIGNUM* yy = BN_CTX_get(ctx.get());
  BIGNUM* u = BN_CTX_get(ctx.get());
  BIGNUM* v = BN_CTX_get(ctx.get());
  bool ok = false;
  if (v != nullptr) {
    std::array<std::uint8_t, kEd25519PublicKeySize> low{};
    std::copy(encoded.begin(), encoded.end(), low.begin());
    low[31] &= 0x7F;
    ok = BN_set_word(u, 19) && BN_one(p) && BN_lshift(p, p, 255) && BN_sub(p, p, u) &&
         BN_lebin2bn(kCurveD.data(), static_cast<int>(kCurveD.size()), d) &&
         BN_lebin2bn(low.data(), static_cast<int>(low.size()), y) && BN_nnmod(y, y, p, ctx.get()) &&
         BN_mod_sqr(yy, y, p, ctx.get()) && BN_copy(u, yy) != nullptr && BN_sub_word(u, 1) &&
         BN_nnmod(u, u, p, ctx.get()) && BN_mod_mul(v, d, yy, p, ctx.get()) && BN_add_word(v, 1) &&
         BN_nnmod(v, v, p, ctx.get()) && BN_mod_mul(u, u, v, p, ctx.get());
    if (ok) {
      const int symbol = BN_is_zero(u) ? 0 : BN_kronecker(u, p, ctx.get());
      ok = symbol == 0 || symbol == 1;
    }
  }
  BN_CTX_end(ctx.get());
  return ok;
}

}  // namespace tovrel::crypto
