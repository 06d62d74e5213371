// X25519, HKDF-SHA256 and ChaCha20-Poly1305 against published vectors (RFC 7748, RFC 5869,
// RFC 8439), plus the small-order peers that must give the all-zero secret.

#include "crypto/box.h"

#include <string>

#include <gtest/gtest.h>

#include "base/hex.h"

namespace tovrel::crypto {
namespace {

std::string unhex(std::string_view hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

std::string hex(const base::Result<SecretBytes>& b) {
  if (!b) return "error: " + b.error();
  return base::hex_lower(b->view());
}

TEST(X25519, PublishedVectors) {
  struct Case {
    const char* label;
    const char* secret;
    const char* peer;
    const char* shared;
  } cases[] = {
      {"rfc7748 6.1 alice", "77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a",
       "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f",
       "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742"},
      {"rfc7748 6.1 bob", "5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb",
       "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a",
       "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742"},
      {"rfc7748 5.2 first", "a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4",
       "e6db6867583030db3594c1a424b15f7c726624ec26b3353b10a903a6d0ab1c4c",
       "c3da55379de9c6908e94ea4df28d084f32eccf03491c71f754b4075577a28552"},
      // The peer's top bit is set and must be ignored.
      {"rfc7748 5.2 second", "4b66e9d4d1b4673c5ad22691957d6af5c11b6421e0ea01d42ca4169e7918ba0d",
       "e5210f12786811d3f4b7959d0538ae2c31dbe7106fc03c3efc4cd549c715a493",
       "95cbde9476e8907d7aade45cb4b873f88b595a68799fa152e6f8f7647aac7957"},
  };
  for (const Case& c : cases) {
    const SecretBytes secret(unhex(c.secret));
    EXPECT_EQ(hex(x25519(secret, unhex(c.peer))), c.shared) << c.label;
    // The caller's secret is not clamped in place.
    EXPECT_EQ(base::hex_lower(secret.view()), c.secret) << c.label;
    EXPECT_FALSE(is_small_order_x25519(unhex(c.peer))) << c.label;
  }
}

TEST(X25519, SmallOrderPeersGiveZeros) {
  const SecretBytes secret(
      unhex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a"));
  const char* peers[] = {
      "0000000000000000000000000000000000000000000000000000000000000000",  // u = 0
      "0100000000000000000000000000000000000000000000000000000000000000",  // u = 1
      "e0eb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b800",  // order 8
      "5f9c95bca3508c24b1d0b1559c83ef5b04445cc4581c8e86d8224eddd09f1157",  // order 8
      "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",  // p - 1
      "edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",  // p, reduces to 0
      "eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",  // p + 1
      "0000000000000000000000000000000000000000000000000000000000000080",  // 0, top bit set
      "e0eb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b880",  // order 8, top bit
  };
  for (const char* peer : peers) {
    EXPECT_TRUE(is_small_order_x25519(unhex(peer))) << peer;
    EXPECT_EQ(hex(x25519(secret, unhex(peer))), std::string(64, '0')) << peer;
  }
  // Near misses are ordinary points.
  EXPECT_FALSE(is_small_order_x25519(
      unhex("0200000000000000000000000000000000000000000000000000000000000000")));
  EXPECT_FALSE(is_small_order_x25519(
      unhex("efffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f")));
}

TEST(Hkdf, PublishedVectors) {
  // RFC 5869 test case 3: no salt, no info.
  EXPECT_EQ(
      hex(hkdf_sha256(SecretBytes(unhex("0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b")), "", 42)),
      "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8");
  // The key an envelope sealed to a small-order ephemeral key uses.
  EXPECT_EQ(hex(hkdf_sha256(SecretBytes(32), "execution-secrets/v1", 32)),
            "a2e3efc4bd46b98e2ad14feda9bace9036bc1334a80be218f000f256787c6245");
}

TEST(Box, WrongSizesAreErrors) {
  const SecretBytes secret(32);
  EXPECT_EQ(hex(x25519(secret, std::string(31, '\x09'))), "error: x25519: keys must be 32 bytes");
  EXPECT_EQ(hex(x25519(SecretBytes(33), std::string(32, '\x09'))),
            "error: x25519: keys must be 32 bytes");
  const auto opened =
      chacha20poly1305_open(SecretBytes(16), std::string(12, '\0'), "", std::string(16, '\0'));
  ASSERT_FALSE(opened.ok());
  EXPECT_EQ(opened.error(), "chacha20-poly1305: bad key or nonce size");
}

class ChaChaPoly : public ::testing::Test {
 protected:
  // The plaintext, "refused" when the payload does not open, or the error.
  std::string open(std::string_view with_nonce, std::string_view with_aad,
                   std::string_view payload) const {
    const auto opened = chacha20poly1305_open(key, with_nonce, with_aad, payload);
    if (!opened) return "error: " + opened.error();
    return opened->value_or("refused");
  }

  const SecretBytes key{unhex("808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f")};
  const std::string nonce = unhex("070000004041424344454647");
  const std::string aad = unhex("50515253c0c1c2c3c4c5c6c7");
  const std::string plaintext =
      "Ladies and Gentlemen of the class of '99: If I could offer you only one tip for the "
      "future, sunscreen would be it.";
  const std::string sealed = unhex(
      "d31a8d34648e60db7b86afbc53ef7ec2a4aded51296e08fea9e2b5a736ee62d63dbea45e8ca9671282fafb69da"
      "92728b1a71de0a9e060b2905d6a5b67ecd3b3692ddbd7f2d778b8c9803aee328091b58fab324e4fad675945585"
      "808b4831d7bc3ff4def08e4b7a9de576d26586cec64b61161ae10b594f09e26a7e902ecbd0600691");
};

TEST_F(ChaChaPoly, OpensRfc8439Vector) { EXPECT_EQ(open(nonce, aad, sealed), plaintext); }

// In place: the buffer ends up holding the plaintext, and the same inputs are refused.
TEST_F(ChaChaPoly, OpensInPlace) {
  std::string text = sealed;
  ASSERT_EQ(chacha20poly1305_open_in_place(key, nonce, aad, text).value(), true);
  EXPECT_EQ(text, plaintext);
  std::string tampered = sealed;
  tampered.back() ^= 1;
  for (std::string refused : {sealed.substr(0, 15), sealed.substr(1), tampered}) {
    EXPECT_EQ(chacha20poly1305_open_in_place(key, nonce, aad, refused).value(), false);
  }
  text = sealed;
  EXPECT_EQ(chacha20poly1305_open_in_place(SecretBytes(16), nonce, aad, text).error(),
            "chacha20-poly1305: bad key or nonce size");
}

// A refusal comes after the bytes were decrypted (the tag is checked last): what may be
// plaintext of a genuine message under tampered associated data is wiped, not left behind.
TEST_F(ChaChaPoly, RefusedBytesAreWiped) {
  std::string other_aad = aad;
  other_aad[0] ^= 1;
  std::string text = sealed;
  ASSERT_EQ(chacha20poly1305_open_in_place(key, nonce, other_aad, text).value(), false);
  EXPECT_EQ(text, std::string(sealed.size(), '\0'));
}

TEST_F(ChaChaPoly, RefusesEveryTampering) {
  const std::size_t tag_at = sealed.size() - 16;
  for (std::size_t i : {std::size_t{0}, tag_at - 1, tag_at, sealed.size() - 1}) {
    std::string changed = sealed;
    changed[i] ^= 1;
    EXPECT_EQ(open(nonce, aad, changed), "refused") << "byte " << i;
  }
  std::string other_aad = aad;
  other_aad[0] ^= 1;
  EXPECT_EQ(open(nonce, other_aad, sealed), "refused");
  EXPECT_EQ(open(nonce, aad + "x", sealed), "refused");
  EXPECT_EQ(open(std::string(12, '\0'), aad, sealed), "refused");
  EXPECT_EQ(open(nonce, aad, sealed.substr(0, tag_at)), "refused");
  EXPECT_EQ(open(nonce, aad, sealed.substr(1)), "refused");
  for (std::size_t n : {0, 1, 15}) {
    EXPECT_EQ(open(nonce, aad, sealed.substr(0, n)), "refused") << n;
  }
}

}  // namespace
}  // namespace tovrel::crypto
