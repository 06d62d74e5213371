// `tovrel envelope open` of envelopes that scripts/seal_envelope.py sealed once (X25519 and
// Poly1305 in plain Python, ChaCha20 by the `openssl enc` command) and that are kept in
// golden/: the other tests seal with the same OpenSSL calls that open, so a mistake shared by
// both would pass them, not these. golden/box_key.pem and box_pub.pem are the key pair they
// are sealed to (the public key computed by the same Python X25519).
// Made with: python3 scripts/seal_envelope.py tests/envelope/golden/box_pub.pem < env.json
// for the maps below; tampered.envelope is plain.envelope with the first ciphertext bit
// flipped.

#include <filesystem>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "support/run.h"

namespace tovrel::test {
namespace {

const std::string kGolden = std::filesystem::path(__FILE__).parent_path() / "golden";

struct Golden {
  const char* file;
  std::string line;  // the whole of stdout, less its newline
};

void PrintTo(const Golden& g, std::ostream* os) { *os << g.file; }

class GoldenEnvelope : public ::testing::TestWithParam<Golden> {};

TEST_P(GoldenEnvelope, OpensToTheSealedMap) {
  const Golden& g = GetParam();
  const RunResult r =
      tovrel({"envelope", "open", "--key-dir", kGolden}, read_file(kGolden + "/" + g.file));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, g.line + "\n");
}

// plain: {"API_TOKEN":"s3cret","PATH":"/evil","LANG":"C.UTF-8"}
// text: {"GREETING":"grüß dich, 日本 😀","QUOTE":"say \"hi\"\\ \t\n","EMPTY":"","LONG":200 x}
//   (past one ChaCha20 block and off the 16-byte Poly1305 grid; the sealer writes \u escapes,
//   a surrogate pair among them)
INSTANTIATE_TEST_SUITE_P(
    Sealed, GoldenEnvelope,
    ::testing::Values(
        Golden{"plain.envelope", R"({"env":{"API_TOKEN":"s3cret"},"skipped":["LANG","PATH"]})"},
        Golden{"empty.envelope", R"({"env":{}})"},
        Golden{"text.envelope", R"({"env":{"EMPTY":"","GREETING":"grüß dich, 日本 😀","LONG":")" +
                                    std::string(200, 'x') + R"(","QUOTE":"say \"hi\"\\ \t\n"}})"},
        Golden{"tampered.envelope", R"({"error":"decryption failed: aead::Error"})"}),
    [](const ::testing::TestParamInfo<Golden>& info) {
      const std::string file = info.param.file;
      return file.substr(0, file.find('.'));
    });

}  // namespace
}  // namespace tovrel::test
