// End-to-end: the identity commands through the built binary, output and status compared whole.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include <gtest/gtest.h>

#include "base/base64.h"
#include "crypto/sha256.h"
#include "key_docs.h"
#include "support/run.h"

namespace tovrel::identity {
namespace {

using namespace testing;
using test::read_file;
using test::RunResult;
using test::TempDir;
using test::tovrel;
using test::write_file;

class IdentityE2e : public ::testing::Test {
 protected:
  // Runs tovrel, expects status 0 and nothing on stderr, and returns stdout.
  static std::string ok(const std::vector<std::string>& args) {
    const RunResult r = tovrel(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    return r.out;
  }
  TempDir tmp;
};

std::string extract(const std::string& json_line, const std::string& key) {
  const std::string marker = "\"" + key + "\":\"";
  const std::size_t at = json_line.find(marker);
  if (at == std::string::npos) return "";
  const std::size_t start = at + marker.size();
  return json_line.substr(start, json_line.find('"', start) - start);
}

TEST_F(IdentityE2e, GenerateSignVerifyFingerprint) {
  const std::string dir = tmp / "keys";
  const std::string gen = ok({"keypair", "generate", "--key-dir", dir});
  const std::string box_pub = read_file(dir + "/box_pub.pem");
  const std::string fp = crypto::sha256_hex(read_file(dir + "/public_key.pem")).substr(0, 16);
  EXPECT_EQ(gen, "{\"box_pub\":\"" + box_pub + "\",\"fingerprint\":\"" + fp + "\",\"key_dir\":\"" +
                     dir + "\"}\n");
  EXPECT_EQ(ok({"keypair", "fingerprint", "--public-key", dir + "/public_key.pem"}),
            "{\"fingerprint\":\"" + fp + "\"}\n");
  const std::string box_fp = crypto::sha256_hex(*base::base64url_decode(box_pub)).substr(0, 16);
  EXPECT_EQ(ok({"keypair", "box-fingerprint", "--public-key", dir + "/box_pub.pem"}),
            "{\"fingerprint\":\"" + box_fp + "\"}\n");

  const std::string signed_ = ok({"sign", "--key-dir", dir, "--hash", "abc"});
  const std::string sig = extract(signed_, "signature");
  EXPECT_EQ(signed_, "{\"hash\":\"abc\",\"signature\":\"" + sig + "\"}\n");
  EXPECT_EQ(
      ok({"verify", "--hash", "abc", "--signature", sig, "--public-key", dir + "/public_key.pem"}),
      "{\"hash\":\"abc\",\"valid\":true}\n");
  EXPECT_EQ(ok({"verify", "--hash", "abd", "--signature=" + sig + "==", "--public-key",
                dir + "/public_key.pem"}),
            "{\"hash\":\"abd\",\"valid\":false}\n");
  EXPECT_EQ(ok({"keypair", "generate", "--key-dir", dir}),
            "{\"error\":\"create " + dir + "/private_key.pem: File exists (os error 17)\"}\n");
  struct stat st;
  ASSERT_EQ(::stat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(IdentityE2e, Rfc8032Vectors) {
  const std::string d1 = tmp / "t1";
  const std::string d2 = tmp / "t2";
  ASSERT_EQ(::mkdir(d1.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(d2.c_str(), 0700), 0);
  write_file(d1 + "/private_key.pem", private_pem(pkcs8_v2(kSeed1, kPublic1)));
  write_file(d2 + "/private_key.pem", private_pem(pkcs8_v1(kSeed2)));
  write_file(d1 + "/public_key.pem", public_pem(spki(kPublic1)));
  write_file(d2 + "/public_key.pem", public_pem(spki(kPublic2)));
  const std::string sig1 = base::base64url_encode(unhex(test::vectors::kRfc8032Test1.signature));
  const std::string sig2 = base::base64url_encode(unhex(test::vectors::kRfc8032Test2.signature));
  EXPECT_EQ(ok({"sign", "--key-dir", d1, "--hash", ""}),
            "{\"hash\":\"\",\"signature\":\"" + sig1 + "\"}\n");
  EXPECT_EQ(ok({"sign", "--key-dir", d2, "--hash", "r"}),
            "{\"hash\":\"r\",\"signature\":\"" + sig2 + "\"}\n");
  EXPECT_EQ(
      ok({"verify", "--hash", "", "--signature", sig1, "--public-key", d1 + "/public_key.pem"}),
      "{\"hash\":\"\",\"valid\":true}\n");
  EXPECT_EQ(
      ok({"verify", "--hash", "r", "--signature", sig2, "--public-key", d2 + "/public_key.pem"}),
      "{\"hash\":\"r\",\"valid\":true}\n");
}

// Key files are read whatever they are: a pipe (a process substitution) included.
TEST_F(IdentityE2e, KeyFilesMayBePipes) {
  const std::string pem = public_pem(spki(kPublic1));
  const std::string fp = crypto::sha256_hex(pem).substr(0, 16);
  const RunResult fingerprint =
      tovrel({"keypair", "fingerprint", "--public-key", "/dev/stdin"}, pem);
  EXPECT_EQ(fingerprint.out, "{\"fingerprint\":\"" + fp + "\"}\n");
  ASSERT_EQ(::symlink("/dev/stdin", (tmp / "private_key.pem").c_str()), 0);
  const std::string sig1 = base::base64url_encode(unhex(test::vectors::kRfc8032Test1.signature));
  const RunResult sign = tovrel({"sign", "--key-dir", tmp.path(), "--hash", ""},
                                private_pem(pkcs8_v2(kSeed1, kPublic1)));
  EXPECT_EQ(sign.out, "{\"hash\":\"\",\"signature\":\"" + sig1 + "\"}\n");
}

TEST_F(IdentityE2e, FailuresAreResultsWithStatusZero) {
  EXPECT_EQ(ok({"sign", "--key-dir", tmp / "none", "--hash", "x"}),
            "{\"error\":\"read private key: No such file or directory (os error 2)\"}\n");
  EXPECT_EQ(ok({"verify", "--hash", "x", "--signature", "AA", "--public-key", tmp / "none"}),
            "{\"error\":\"read public key: No such file or directory (os error 2)\"}\n");
  write_file(tmp / "priv.pem", private_pem(pkcs8_v1(kSeed1)));
  EXPECT_EQ(
      ok({"verify", "--hash", "x", "--signature", "AA", "--public-key", tmp / "priv.pem"}),
      "{\"error\":\"parse public key: ASN.1 error: PEM error: unexpected PEM type label: expecting "
      "\\\"PUBLIC KEY\\\"\",\"valid\":false}\n");
  write_file(tmp / "padded", base::base64_encode(std::string(32, 'k')));
  EXPECT_EQ(ok({"keypair", "box-fingerprint", "--public-key", tmp / "padded"}),
            "{\"error\":\"decode public key: Invalid padding\"}\n");
  write_file(tmp / "file", "");
  EXPECT_EQ(ok({"keypair", "generate", "--key-dir", tmp / "file"}),
            "{\"error\":\"mkdir: File exists (os error 17)\"}\n");
}

// A key directory whose owner may not list it, or not even search it, is still the key
// directory: it is made 0700 and receives the four files. Run as another user where the
// tests run as root, whom no permission stops.
TEST_F(IdentityE2e, KeyDirectoryTheOwnerMayNotRead) {
  const std::optional<unsigned> user = test::other_user();
  ASSERT_EQ(::chmod(tmp.path().c_str(), 0755), 0);
  for (const mode_t mode : {0300, 0100, 0200, 0000}) {
    SCOPED_TRACE("mode " + std::to_string(mode >> 6) + "00");
    const std::string dir = tmp / ("m" + std::to_string(mode));
    ASSERT_EQ(::mkdir(dir.c_str(), mode), 0);
    if (user) {
      ASSERT_EQ(::chown(dir.c_str(), *user, *user), 0);
    }
    test::RunOptions o;
    o.uid = user;
    const RunResult r = test::run({"keypair", "generate", "--key-dir", dir}, o);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(extract(r.out, "box_pub"), read_file(dir + "/box_pub.pem"));
    struct stat st {};
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    for (const char* name : {"private_key.pem", "public_key.pem", "box_key.pem"}) {
      EXPECT_TRUE(std::filesystem::exists(dir + "/" + name)) << name;
    }
  }
}

}  // namespace
}  // namespace tovrel::identity
