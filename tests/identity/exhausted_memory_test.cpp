// End-to-end: an input too large to hold in memory is answered like any other failure to read
// it, with the text of ENOMEM in the command's usual error result and status 0, never with an
// abort. The binary runs under a lowered address-space limit and reads /dev/zero, directly or
// through key files that are symbolic links to it.

#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/run.h"
#include "support/sanitizers.h"

namespace tovrel::test {
namespace {

// 32 MiB: five times the room the program needs to start and reach its read (about 6 MiB,
// the binary being static), and reached by an endless read after a few tens of megabytes, so
// that each case costs little more than a start.
constexpr const char* kAddressSpaceKiB = "32768";

TEST(ExhaustedMemory, EndlessInputIsAReadError) {
#ifdef TOVREL_SANITIZED
  GTEST_SKIP() << "the sanitizers' shadow memory needs the address space this test takes away";
#endif
  TempDir keys;
  ASSERT_EQ(::symlink("/dev/zero", (keys / "private_key.pem").c_str()), 0);
  ASSERT_EQ(::symlink("/dev/zero", (keys / "box_key.pem").c_str()), 0);
  // An envelope that passes every check before its box key is read.
  const std::string envelope =
      R"({"version":1,"enc":"","ciphertext":"","aad_fields":{"kind":"execution-secrets/v1"}})";

  const struct {
    std::vector<std::string> args;
    bool zero_stdin;  // else `envelope` on standard input
    const char* step;
  } cases[] = {
      {{"envelope", "open", "--key-dir", keys.path()}, true, "read stdin"},
      {{"envelope", "open", "--key-dir", keys.path()}, false, "read box key"},
      {{"sign", "--key-dir", keys.path(), "--hash", "h"}, false, "read private key"},
      {{"verify", "--hash", "h", "--signature", "AA", "--public-key", "/dev/zero"},
       false,
       "read public key"},
      {{"keypair", "fingerprint", "--public-key", "/dev/zero"}, false, "read public key"},
      {{"keypair", "box-fingerprint", "--public-key", "/dev/zero"}, false, "read public key"},
  };
  for (const auto& c : cases) {
    RunOptions options;
    options.program = "/bin/sh";
    std::vector<std::string> args = {"-c",
                                     std::string("ulimit -v ") + kAddressSpaceKiB +
                                         " && exec \"$0\" \"$@\"" +
                                         (c.zero_stdin ? " < /dev/zero" : ""),
                                     TOVREL_BIN};
    args.insert(args.end(), c.args.begin(), c.args.end());
    if (!c.zero_stdin) options.stdin_data = envelope;
    const RunResult r = run(args, options);
    const std::string label = c.args[0] + " " + c.step;
    EXPECT_EQ(r.signal, 0) << label;
    EXPECT_EQ(r.status, 0) << label;
    EXPECT_EQ(r.err, "") << label;
    EXPECT_EQ(r.out,
              "{\"error\":\"" + std::string(c.step) + ": Cannot allocate memory (os error 12)\"}\n")
        << label;
  }
}

}  // namespace
}  // namespace tovrel::test
