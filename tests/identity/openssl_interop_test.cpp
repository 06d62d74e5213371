// Interoperation with the `openssl` command: it reads our public key file and checks our
// signatures, and our reader and verifier take what it writes.

#include <unistd.h>

#include <gtest/gtest.h>

#include "base/base64.h"
#include "identity/identity.h"
#include "json/writer.h"
#include "key_docs.h"
#include "support/run.h"

namespace tovrel::identity {
namespace {

using namespace testing;
using test::read_file;
using test::TempDir;
using test::write_file;

const char* openssl_path() {
  for (const char* p : {"/usr/bin/openssl", "/usr/local/bin/openssl"}) {
    if (::access(p, X_OK) == 0) return p;
  }
  return nullptr;
}

test::RunResult openssl(const std::vector<std::string>& args) {
  test::RunOptions options;
  options.program = openssl_path();
  return test::run(args, options);
}

class OpensslInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!openssl_path()) GTEST_SKIP() << "no openssl command";
  }
  TempDir tmp;
};

std::string field(const json::JsonValue& v, const char* key) { return v.find(key)->as_string(); }

TEST_F(OpensslInterop, ReadsOurPublicKeyAndAcceptsOurSignatures) {
  const std::string dir = tmp / "k";
  ASSERT_TRUE(handle_keypair(GenerateArgs{dir}).find("fingerprint"));
  const test::RunResult pub =
      openssl({"pkey", "-pubin", "-in", dir + "/public_key.pem", "-pubout"});
  ASSERT_EQ(pub.status, 0) << pub.err;
  EXPECT_EQ(pub.out, read_file(dir + "/public_key.pem"));  // the same bytes when it writes it back

  // pkeyutl of OpenSSL 3.0 cannot read an empty input, so every message here has a byte.
  for (const std::string message : {"r", "deadbeef", "a longer text with \xc3\xa9"}) {
    const json::JsonValue s = handle_sign(dir, message);
    write_file(tmp / "msg", message);
    write_file(tmp / "sig", *base::base64url_decode(field(s, "signature")));
    const test::RunResult v =
        openssl({"pkeyutl", "-verify", "-pubin", "-inkey", dir + "/public_key.pem", "-rawin", "-in",
                 tmp / "msg", "-sigfile", tmp / "sig"});
    EXPECT_EQ(v.status, 0) << message << v.out << v.err;
    EXPECT_NE(v.out.find("Signature Verified Successfully"), std::string::npos) << message;
  }
}

TEST_F(OpensslInterop, ItsKeysSignAndItsSignaturesVerify) {
  const std::string dir = tmp / "k";
  ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
  const test::RunResult gen =
      openssl({"genpkey", "-algorithm", "ed25519", "-out", dir + "/private_key.pem"});
  ASSERT_EQ(gen.status, 0) << gen.err;
  const test::RunResult pub =
      openssl({"pkey", "-in", dir + "/private_key.pem", "-pubout", "-out", tmp / "pub.pem"});
  ASSERT_EQ(pub.status, 0) << pub.err;

  // Its 48-byte version 0 document, and the same seed in our 83-byte form.
  const std::string text = read_file(dir + "/private_key.pem");
  const std::string der = *base::base64_decode(text.substr(28, 64));
  ASSERT_EQ(der.size(), 48u);
  const std::string seed = der.substr(16);
  const std::string public_key =
      base::base64_decode(read_file(tmp / "pub.pem").substr(27, 60))->substr(12);
  const std::string ours = tmp / "ours";
  ASSERT_EQ(::mkdir(ours.c_str(), 0700), 0);
  write_file(ours + "/private_key.pem", private_pem(pkcs8_v2(seed, public_key)));

  for (const std::string message : {"r", "hash text"}) {
    write_file(tmp / "msg", message);
    const test::RunResult s = openssl({"pkeyutl", "-sign", "-inkey", dir + "/private_key.pem",
                                       "-rawin", "-in", tmp / "msg", "-out", tmp / "sig"});
    ASSERT_EQ(s.status, 0) << s.err;
    const std::string theirs = base::base64url_encode(read_file(tmp / "sig"));
    EXPECT_EQ(field(handle_sign(dir, message), "signature"), theirs);
    EXPECT_EQ(field(handle_sign(ours, message), "signature"), theirs);
    EXPECT_EQ(json::to_compact(handle_verify(message, theirs, tmp / "pub.pem")),
              "{\"hash\":\"" + message + "\",\"valid\":true}");
  }
}

}  // namespace
}  // namespace tovrel::identity
