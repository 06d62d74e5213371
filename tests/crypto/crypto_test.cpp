// The crypto wrappers: published vectors, and the acceptance rules of verification and of
// public-key decoding on crafted keys and signatures.

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <set>

#include <gtest/gtest.h>
#include <openssl/ecerr.h>
#include <openssl/err.h>
#include <openssl/evperr.h>
#include <openssl/proverr.h>

#include "crypto/ed25519.h"
#include "crypto/init.h"
#include "crypto/openssl_error.h"
#include "crypto/random.h"
#include "crypto/secure.h"
#include "crypto/x25519.h"
#include "data/ed25519_vectors.h"
#include "data/hex.h"

namespace tovrel::crypto {
namespace {

using test::unhex;
using test::unhex_array;
using Key = std::array<std::uint8_t, 32>;
using Sig = std::array<std::uint8_t, 64>;

// Little-endian encodings used below.
constexpr const char* kNeutral = "0100000000000000000000000000000000000000000000000000000000000000";
// y = p + 1: a non-canonical encoding of the neutral point.
constexpr const char* kNeutralNonCanonical =
    "eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f";
// y = 1 with the sign bit set: x = 0 taken as x = 0.
constexpr const char* kNeutralSignBit =
    "0100000000000000000000000000000000000000000000000000000000000080";
// y = p - 1 = -1, x = 0: the point of order 2.
constexpr const char* kOrderTwo =
    "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f";
// The group order L.
constexpr const char* kOrderL = "edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010";

Sig signature_of(std::string_view r_hex, std::string_view s_hex) {
  return unhex_array<64>(std::string(r_hex) + std::string(s_hex));
}
const std::string kZero32(64, '0');

bool verifies(const Key& key, const Sig& sig, std::string_view message) {
  auto r = ed25519_verify(key, sig, message);
  EXPECT_TRUE(r.ok()) << r.error();
  return r.ok() && *r;
}

TEST(Ed25519, Rfc8032Vectors) {
  for (const auto& v : {test::vectors::kRfc8032Test1, test::vectors::kRfc8032Test2}) {
    const auto seed = unhex_array<32>(v.seed);
    auto key = Ed25519SigningKey::from_seed(seed);
    ASSERT_TRUE(key.ok()) << key.error();
    EXPECT_EQ(key->public_key(), unhex_array<32>(v.public_key)) << v.seed;
    const std::string message = unhex(v.message);
    auto sig = key->sign(message);
    ASSERT_TRUE(sig.ok()) << sig.error();
    EXPECT_EQ(*sig, unhex_array<64>(v.signature)) << v.seed;
    EXPECT_TRUE(verifies(key->public_key(), *sig, message));
    EXPECT_FALSE(verifies(key->public_key(), *sig, message + "x"));
    Sig flipped = *sig;
    flipped[0] ^= 1;
    EXPECT_FALSE(verifies(key->public_key(), flipped, message));
  }
}

TEST(Ed25519, SMustBeBelowTheGroupOrder) {
  const auto& v = test::vectors::kRfc8032Test1;
  const Key key = unhex_array<32>(v.public_key);
  Sig sig = unhex_array<64>(v.signature);
  ASSERT_TRUE(verifies(key, sig, ""));
  // S + L is the same scalar modulo L, still 32 bytes with the top bit clear.
  const auto order = unhex_array<32>(kOrderL);
  unsigned carry = 0;
  for (int i = 0; i < 32; ++i) {
    const unsigned sum = sig[32 + i] + order[i] + carry;
    sig[32 + i] = static_cast<std::uint8_t>(sum);
    carry = sum >> 8;
  }
  ASSERT_EQ(carry, 0u);
  ASSERT_EQ(sig[63] & 0x80, 0);
  EXPECT_FALSE(verifies(key, sig, ""));
  // S = L exactly, with the neutral key and R that [0]B would give.
  EXPECT_FALSE(verifies(unhex_array<32>(kNeutral), signature_of(kNeutral, kOrderL), "m"));
}

TEST(Ed25519, SmallOrderAndNonCanonicalKeysAreAccepted) {
  // With A of small order and S = 0, [S]B - [k]A is -[k]A: the neutral point for the neutral
  // key whatever the message, so R = encode(neutral) verifies.
  const Sig neutral_r_zero_s = signature_of(kNeutral, kZero32);
  for (const char* key_hex : {kNeutral, kNeutralNonCanonical, kNeutralSignBit}) {
    const Key key = unhex_array<32>(key_hex);
    EXPECT_TRUE(ed25519_point_decodes(key)) << key_hex;
    EXPECT_TRUE(verifies(key, neutral_r_zero_s, "any message")) << key_hex;
    EXPECT_TRUE(verifies(key, neutral_r_zero_s, "")) << key_hex;
  }
  // The order-2 point: -[k]A is A or the neutral point by the parity of k, so exactly one of
  // the two candidate R values verifies.
  const Key order_two = unhex_array<32>(kOrderTwo);
  EXPECT_TRUE(ed25519_point_decodes(order_two));
  for (const char* message : {"a", "b", "c"}) {
    const bool with_neutral = verifies(order_two, signature_of(kNeutral, kZero32), message);
    const bool with_itself = verifies(order_two, signature_of(kOrderTwo, kZero32), message);
    EXPECT_NE(with_neutral, with_itself) << message;
  }
}

TEST(Ed25519, RIsComparedInCanonicalFormOnly) {
  const Key key = unhex_array<32>(kNeutral);
  EXPECT_TRUE(verifies(key, signature_of(kNeutral, kZero32), "m"));
  EXPECT_FALSE(verifies(key, signature_of(kNeutralNonCanonical, kZero32), "m"));
  EXPECT_FALSE(verifies(key, signature_of(kNeutralSignBit, kZero32), "m"));
}

TEST(Ed25519, PointDecoding) {
  const struct {
    const char* hex;
    bool decodes;
  } cases[] = {
      {kNeutral, true},
      {kNeutralSignBit, true},
      {kNeutralNonCanonical, true},
      {kOrderTwo, true},
      {test::vectors::kRfc8032Test1.public_key, true},
      {test::vectors::kRfc8032Test2.public_key, true},
      // y = 2: no x exists.
      {"0200000000000000000000000000000000000000000000000000000000000000", false},
      // y = p + 2 reduces to 2.
      {"efffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f", false},
      // y = p reduces to 0: x^2 = -1, which has a root.
      {"edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f", true},
  };
  for (const auto& c : cases) {
    const Key key = unhex_array<32>(c.hex);
    EXPECT_EQ(ed25519_point_decodes(key), c.decodes) << c.hex;
    // OpenSSL's decoder agrees: a key that does not decode verifies nothing.
    if (!c.decodes) {
      EXPECT_FALSE(verifies(key, signature_of(kNeutral, kZero32), "m")) << c.hex;
    }
  }
}

TEST(X25519, Rfc7748PublicKeys) {
  for (auto [secret, pub] :
       {std::pair{test::vectors::kX25519AliceSecret, test::vectors::kX25519AlicePublic},
        std::pair{test::vectors::kX25519BobSecret, test::vectors::kX25519BobPublic}}) {
    const auto s = unhex_array<32>(secret);
    const auto copy = s;
    auto p = x25519_public_key(s);
    ASSERT_TRUE(p.ok()) << p.error();
    EXPECT_EQ(*p, unhex_array<32>(pub));
    EXPECT_EQ(s, copy);  // the clamping is applied to a copy
  }
}

TEST(Random, FillsAndDiffers) {
  std::set<std::string> seen;
  for (int i = 0; i < 4; ++i) {
    std::string buf(32, '\0');
    ASSERT_TRUE(random_bytes(buf.data(), buf.size()).ok());
    seen.insert(buf);
  }
  EXPECT_EQ(seen.size(), 4u);
  std::string big(100000, '\0');
  ASSERT_TRUE(random_bytes(big.data(), big.size()).ok());
  EXPECT_GT(std::count(big.begin(), big.end(), '\0'), 0);
  EXPECT_LT(std::count(big.begin(), big.end(), '\0'), 1000);
  // The fallback for kernels without getrandom.
  std::string a(32, '\0'), b(32, '\0');
  ASSERT_TRUE(random_bytes_from_devices(a.data(), a.size()).ok());
  ASSERT_TRUE(random_bytes_from_devices(b.data(), b.size()).ok());
  EXPECT_NE(a, b);
}

// The initialisation skips only work no call needs: OpenSSL's reason texts, which error
// messages carry, are there when a text is made (not "lib(6)::reason(130)").
TEST(OpenSsl, ErrorsCarryTheirReasonTexts) {
  ensure_openssl_initialised();
  ERR_raise(ERR_LIB_EVP, EVP_R_INVALID_KEY_LENGTH);
  EXPECT_EQ(openssl_error("load key"),
            "load key: error:03000082:digital envelope routines::invalid key length");
  EXPECT_EQ(openssl_error("again"), "again: unknown error");
}

// Makes error texts after successful calls (which set up OpenSSL and its error queue), one per
// library; exits 0 when each carries its reason, else 1 with the text on standard error.
[[noreturn]] void make_error_texts_after_successful_calls() {
  const std::array<std::uint8_t, 32> seed{};
  auto key = Ed25519SigningKey::from_seed(seed);
  if (!key.ok() || !key->sign("message").ok()) _exit(2);
  const struct {
    int lib;
    int reason;
    const char* text;
  } cases[] = {
      {ERR_LIB_EVP, EVP_R_INVALID_KEY_LENGTH,
       "error:03000082:digital envelope routines::invalid key length"},
      {ERR_LIB_PROV, PROV_R_INVALID_KEY_LENGTH,
       "error:1C800069:Provider routines::invalid key length"},
      {ERR_LIB_EC, EC_R_INVALID_KEY, "error:08000074:elliptic curve routines::invalid key"},
      {ERR_LIB_SYS, ENOENT, "error:80000002:system library::No such file or directory"},
  };
  for (const auto& c : cases) {
    ERR_raise(c.lib, c.reason);
    const std::string text = openssl_error("step");
    if (text != std::string("step: ") + c.text) {
      std::fprintf(stderr, "%s\n", text.c_str());
      _exit(1);
    }
  }
  _exit(0);
}

// The reason texts are loaded when the first error text is made, not at start: a text made after
// successful calls still carries its reason. Run in a process of its own, where no text was made
// before.
TEST(OpenSslDeathTest, ErrorTextAfterSuccessfulCallsCarriesItsReason) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(make_error_texts_after_successful_calls(), ::testing::ExitedWithCode(0), "^$");
}

bool all_zero(const unsigned char* begin, std::size_t size) {
  return std::all_of(begin, begin + size, [](unsigned char c) { return c == 0; });
}

TEST(SecretBytes, WipesTheWholeCapacity) {
  // Adopted without a copy; shrinking wipes what is given up, clearing wipes everything,
  // the spare capacity beyond the size included (the buffer stays allocated, so it can be read).
  std::string text(200, 'k');
  const char* buffer = text.data();
  SecretBytes secret(std::move(text));
  ASSERT_EQ(reinterpret_cast<const char*>(secret.data()), buffer);
  const unsigned char* data = secret.data();
  secret.resize(10);
  EXPECT_EQ(secret.view(), std::string(10, 'k'));
  EXPECT_TRUE(all_zero(data + 10, 190));
  secret.clear();
  EXPECT_TRUE(secret.empty());
  ASSERT_EQ(secret.data(), data);
  EXPECT_TRUE(all_zero(data, 200));

  // A short string keeps its characters in its own storage, which the move only copies.
  std::string short_text("0123456789");
  SecretBytes from_short(std::move(short_text));
  EXPECT_EQ(from_short.view(), "0123456789");
  EXPECT_TRUE(
      all_zero(reinterpret_cast<const unsigned char*>(short_text.data()), short_text.capacity()));

  // Moved from: the source is left empty and wiped.
  SecretBytes moved(std::move(from_short));
  EXPECT_EQ(moved.view(), "0123456789");
  EXPECT_TRUE(from_short.empty());
  EXPECT_TRUE(all_zero(from_short.data(), 10));

  SecretBytes grown(std::string_view("0123456789abcdef"));
  grown.append(std::string(100, 'x'));  // grows: the old buffer is wiped before it goes
  EXPECT_EQ(grown.size(), 116u);
  EXPECT_EQ(grown.view().substr(0, 16), "0123456789abcdef");
}

}  // namespace
}  // namespace tovrel::crypto
