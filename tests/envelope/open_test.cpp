// open_envelope on real envelopes made by the test sealer: what opens, every failure in step
// order, and tampering.

#include "envelope/open.h"

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "json/writer.h"
#include "sealer.h"

namespace tovrel::envelope {
namespace {

using test::b64url;
using test::envelope_json;
using test::seal;
using test::Sealed;
using test::unhex;

const std::string kBoxSecret =
    unhex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
const std::string kEphemeral =
    unhex("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb");
const std::string kPlainAad = std::string(test::kPlainAadFields);

class Open : public ::testing::Test {
 protected:
  std::string key_text = b64url(kBoxSecret);
  int key_reads = 0;

  // The compact text of the result of opening `document` with `key_text`.
  std::string open(std::string_view document) {
    return json::to_compact(open_envelope(document, [this]() -> base::Result<std::string_view> {
      ++key_reads;
      return std::string_view(key_text);
    }));
  }
  static std::string error(std::string_view message) {
    json::JsonValue v = json::object();
    v["error"] = std::string(message);
    return json::to_compact(v);
  }
  static Sealed sealed(std::string_view payload, std::string_view aad = kPlainAad) {
    return seal(test::x25519_public(kBoxSecret), kEphemeral, payload, aad);
  }
  static std::string document(std::string_view payload) { return envelope_json(sealed(payload)); }
};

TEST(DecodeBase64url, StripsTrailingPaddingOnly) {
  const struct {
    std::string in;
    std::string bytes;  // when it decodes
    std::string error;  // otherwise
  } cases[] = {
      {"", "", ""},
      {"====", "", ""},
      {"AA", std::string(1, '\0'), ""},
      {"AA==", std::string(1, '\0'), ""},
      {"AAA=======", std::string(2, '\0'), ""},
      {"-_-_", "\xfb\xff\xbf", ""},
      {"AA=A", "", "base64url decode: Invalid symbol 61, offset 2."},
      {"=AA", "", "base64url decode: Invalid symbol 61, offset 0."},
      {"AA A", "", "base64url decode: Invalid symbol 32, offset 2."},
      {"AB", "", "base64url decode: Invalid last symbol 66, offset 1."},
      {"AAB=", "", "base64url decode: Invalid last symbol 66, offset 2."},
  };
  for (const auto& c : cases) {
    const base::Result<std::string> r = decode_base64url(c.in);
    if (c.error.empty()) {
      ASSERT_TRUE(r.ok()) << c.in << ": " << r.error();
      EXPECT_EQ(*r, c.bytes) << c.in;
    } else {
      ASSERT_FALSE(r.ok()) << c.in;
      EXPECT_EQ(r.error(), c.error) << c.in;
    }
  }
  // A final group of one character: the number is the decoder's.
  for (const char* in : {"A", "AAAAA", "AAAAA=="}) {
    const base::Result<std::string> r = decode_base64url(in);
    ASSERT_FALSE(r.ok()) << in;
    EXPECT_TRUE(r.error().starts_with("base64url decode: Invalid input length: ")) << r.error();
  }
}

TEST_F(Open, OpensAndSplitsByTheNameFilter) {
  EXPECT_EQ(open(document(R"({"FOO":"1","PATH":"/x","A":"x\u00e9"})")),
            R"({"env":{"A":"xé","FOO":"1"},"skipped":["PATH"]})");
  EXPECT_EQ(open(document("{}")), R"({"env":{}})");
  // A repeated name keeps its later value.
  EXPECT_EQ(open(document(R"({"A":"1","A":"2"})")), R"({"env":{"A":"2"}})");
  // Keys beside the four are ignored.
  const Sealed s = sealed(R"({"A":"1"})");
  EXPECT_EQ(open(R"({"extra":[1,2],"version":1,"enc":")" + s.enc + R"(","ciphertext":")" +
                 s.ciphertext + R"(","aad_fields":)" + kPlainAad + "}"),
            R"({"env":{"A":"1"}})");
}

TEST_F(Open, AuthenticatesTheReserialisedAadFields) {
  // Written with blanks, an escape, an exponent and another key order; authenticated as the
  // compact text of the parsed object.
  const std::string written =
      R"({ "kind": "execution-secrets/v1", "job": "a\u00e9", "n": 1e2, "z": {"b":[true,null],"a":-0.5} })";
  const std::string compact =
      R"({"job":"aé","kind":"execution-secrets/v1","n":100.0,"z":{"a":-0.5,"b":[true,null]}})";
  const Sealed s = sealed(R"({"K":"v"})", compact);
  EXPECT_EQ(open(envelope_json(s, written)), R"({"env":{"K":"v"}})");
  EXPECT_EQ(open(envelope_json(s, compact)), R"({"env":{"K":"v"}})");
  // Sealed over the input bytes instead: not what is authenticated.
  const Sealed raw = sealed(R"({"K":"v"})", written);
  EXPECT_EQ(open(envelope_json(raw, written)), error("decryption failed: aead::Error"));
}

TEST_F(Open, SmallOrderEphemeralKeysOpen) {
  for (const char* point : {"0000000000000000000000000000000000000000000000000000000000000000",
                            "e0eb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b800"}) {
    const Sealed s = test::seal_small_order(unhex(point), R"({"A":"z"})", kPlainAad);
    EXPECT_EQ(open(envelope_json(s)), R"({"env":{"A":"z"}})") << point;
  }
}

TEST_F(Open, TamperingFailsDecryption) {
  const std::string failed = error("decryption failed: aead::Error");
  const std::string aad = R"({"job":"j1","kind":"execution-secrets/v1"})";
  const Sealed s = sealed(R"({"A":"1"})", aad);
  ASSERT_EQ(open(envelope_json(s, aad)), R"({"env":{"A":"1"}})");

  struct Case {
    const char* label;
    Sealed sealed;
    std::string aad_fields;
  } cases[] = {
      {"ciphertext byte",
       {s.enc, test::rewrap_ciphertext(s.ciphertext, [](std::string& b) { b[0] ^= 1; })},
       aad},
      {"tag byte",
       {s.enc, test::rewrap_ciphertext(s.ciphertext, [](std::string& b) { b.back() ^= 0x80; })},
       aad},
      {"tag cut",
       {s.enc, test::rewrap_ciphertext(s.ciphertext, [](std::string& b) { b.pop_back(); })},
       aad},
      {"aad value", s, R"({"job":"j2","kind":"execution-secrets/v1"})"},
      {"aad key added", s, R"({"job":"j1","kind":"execution-secrets/v1","x":null})"},
      {"aad key removed", s, kPlainAad},
      {"other ephemeral key", {b64url(test::x25519_public(kBoxSecret)), s.ciphertext}, aad},
      {"shorter than a tag", {s.enc, b64url("0123456789abcde")}, aad},
      {"empty ciphertext", {s.enc, ""}, aad},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(open(envelope_json(c.sealed, c.aad_fields)), failed) << c.label;
  }
  // Another box key.
  key_text = b64url(kEphemeral);
  EXPECT_EQ(open(envelope_json(s, aad)), failed);
}

// The ciphertext is taken from the document's own bytes: written with escapes, repeated, or
// beside other members named `ciphertext` deeper down, it reads as any member would.
TEST_F(Open, CiphertextAsTheDocumentWritesIt) {
  const std::string aad = R"({"ciphertext":"in aad","kind":"execution-secrets/v1"})";
  const Sealed s = sealed(R"({"A":"1"})", aad);
  const std::string opened = R"({"env":{"A":"1"}})";
  const std::string failed = error("decryption failed: aead::Error");
  // `members` between `enc` and `aad_fields`.
  const auto doc = [&](const std::string& members) {
    return R"({"version":1,"enc":")" + s.enc + R"(",)" + members + R"(,"aad_fields":)" + aad + "}";
  };
  const std::string text = R"(")" + s.ciphertext + R"(")";
  char first[7];  // the first character as an escape
  std::snprintf(first, sizeof first, "\\u%04x", static_cast<unsigned char>(s.ciphertext[0]));
  const std::string escaped = '"' + std::string(first) + s.ciphertext.substr(1) + '"';
  const struct {
    std::string members;
    std::string result;
  } cases[] = {
      {R"("ciphertext":)" + text, opened},
      {R"("ciphertext":)" + escaped, opened},
      {R"("ciphertext":"!!","ciphertext":)" + text, opened},
      {R"("ciphertext":null,"ciphertext":)" + escaped, opened},
      {R"("ciphertext":)" + text + R"(,"ciphertext":[])", failed},
      {R"("ciphertext":)" + escaped + R"(,"ciphertext":"!!")",
       error("decode ciphertext: base64url decode: Invalid symbol 33, offset 0.")},
      {R"("x":{"ciphertext":"!!"},"ciphertext":)" + text + R"(,"y":[{"ciphertext":1}])", opened},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(open(doc(c.members)), c.result) << c.members;
  }
}

TEST_F(Open, DocumentFailuresInStepOrder) {
  const Sealed s = sealed("{}");
  const std::string enc = R"("enc":")" + s.enc + R"(")";
  struct Case {
    std::string document;
    std::string message;
  } cases[] = {
      {"\xff{}", "read stdin: stream did not contain valid UTF-8"},
      {"", "parse envelope JSON: EOF while parsing a value at line 1 column 0"},
      // Version: not an object, absent, or not an unsigned integer is None.
      {"[]", "unsupported envelope version: None"},
      {"{}", "unsupported envelope version: None"},
      {R"({"version":1.0})", "unsupported envelope version: None"},
      {R"({"version":1e0})", "unsupported envelope version: None"},
      {R"({"version":"1"})", "unsupported envelope version: None"},
      {R"({"version":-1})", "unsupported envelope version: None"},
      {R"({"version":null})", "unsupported envelope version: None"},
      {R"({"version":18446744073709551616})", "unsupported envelope version: None"},
      {R"({"version":2})", "unsupported envelope version: Some(2)"},
      {R"({"version":0})", "unsupported envelope version: Some(0)"},
      {R"({"version":18446744073709551615})",
       "unsupported envelope version: Some(18446744073709551615)"},
      // Presence, in the order enc, ciphertext, aad_fields; any value counts.
      {R"({"version":1})", "envelope missing required field: enc"},
      {R"({"version":1,"aad_fields":{},"ciphertext":""})", "envelope missing required field: enc"},
      {R"({"version":1,"enc":null})", "envelope missing required field: ciphertext"},
      {R"({"version":1,"enc":null,"ciphertext":null})",
       "envelope missing required field: aad_fields"},
      // Kind.
      {R"({"version":1,"enc":1,"ciphertext":1,"aad_fields":null})",
       "unexpected envelope kind: None"},
      {R"({"version":1,"enc":1,"ciphertext":1,"aad_fields":{}})", "unexpected envelope kind: None"},
      {R"({"version":1,"enc":1,"ciphertext":1,"aad_fields":{"kind":["execution-secrets/v1"]}})",
       "unexpected envelope kind: None"},
      {R"({"version":1,"enc":1,"ciphertext":1,"aad_fields":{"kind":"execution-secrets/v2"}})",
       "unexpected envelope kind: Some(\"execution-secrets/v2\")"},
      {R"({"version":1,"enc":1,"ciphertext":1,"aad_fields":{"kind":"Execution-Secrets/V1"}})",
       "unexpected envelope kind: Some(\"Execution-Secrets/V1\")"},
      {R"({"version":1,"enc":1,"ciphertext":1,"aad_fields":{"kind":"q\"b\\t\tr\rn\nz\u0000'"}})",
       R"(unexpected envelope kind: Some("q\"b\\t\tr\rn\nz\0'"))"},
      {R"({"version":1,"enc":1,"ciphertext":1,"aad_fields":{"kind":"e\u0301 \u00a0\u200b\u0007"}})",
       R"(unexpected envelope kind: Some("e\u{301} \u{a0}\u{200b}\u{7}"))"},
      // Ephemeral key: not a string reads as empty; no trimming; trailing '=' stripped.
      {R"({"version":1,"enc":null,"ciphertext":"","aad_fields":)" + kPlainAad + "}",
       "ephemeral public key must be 32 bytes"},
      {R"({"version":1,"enc":{},"ciphertext":"","aad_fields":)" + kPlainAad + "}",
       "ephemeral public key must be 32 bytes"},
      {R"({"version":1,"enc":")" + b64url(std::string(31, 'k')) +
           R"(","ciphertext":"","aad_fields":)" + kPlainAad + "}",
       "ephemeral public key must be 32 bytes"},
      {R"({"version":1,"enc":" )" + s.enc + R"(","ciphertext":"","aad_fields":)" + kPlainAad + "}",
       "decode ephemeral key: base64url decode: Invalid symbol 32, offset 0."},
      {R"({"version":1,"enc":")" + s.enc + R"( ","ciphertext":"","aad_fields":)" + kPlainAad + "}",
       "decode ephemeral key: base64url decode: Invalid symbol 32, offset 43."},
      {R"({"version":1,"enc":"ab+d","ciphertext":"","aad_fields":)" + kPlainAad + "}",
       "decode ephemeral key: base64url decode: Invalid symbol 43, offset 2."},
      {R"({"version":1,"enc":"a/","ciphertext":"","aad_fields":)" + kPlainAad + "}",
       "decode ephemeral key: base64url decode: Invalid symbol 47, offset 1."},
      {R"({"version":1,"enc":"ab=d","ciphertext":"","aad_fields":)" + kPlainAad + "}",
       "decode ephemeral key: base64url decode: Invalid symbol 61, offset 2."},
      {R"({"version":1,"enc":"AB","ciphertext":"","aad_fields":)" + kPlainAad + "}",
       "decode ephemeral key: base64url decode: Invalid last symbol 66, offset 1."},
      // Ciphertext.
      {R"({"version":1,)" + enc + R"(,"ciphertext":"!!","aad_fields":)" + kPlainAad + "}",
       "decode ciphertext: base64url decode: Invalid symbol 33, offset 0."},
      {R"({"version":1,)" + enc + R"(,"ciphertext":5,"aad_fields":)" + kPlainAad + "}",
       "decryption failed: aead::Error"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(open(c.document), error(c.message)) << c.document;
  }
}

TEST_F(Open, ParseFailuresKeepTheParserMessage) {
  // A second value or any other character after the document is the parser's error.
  EXPECT_EQ(open(R"({"version":1} {})"),
            error("parse envelope JSON: trailing characters at line 1 column 15"));
  EXPECT_EQ(open(R"({"version":1}x)"),
            error("parse envelope JSON: trailing characters at line 1 column 14"));
  for (const char* doc : {"{", "[1,]", "{\"version\":1}\n\u00a0"}) {
    const std::string result = open(doc);
    EXPECT_TRUE(result.starts_with(R"({"error":"parse envelope JSON: )")) << doc << " " << result;
    EXPECT_NE(result.find(" at line "), std::string::npos) << result;
  }
  // The nesting limit applies.
  EXPECT_TRUE(open(std::string(128, '[') + std::string(128, ']'))
                  .starts_with(R"({"error":"parse envelope JSON: recursion limit exceeded)"));
  EXPECT_EQ(open(std::string(127, '[') + std::string(127, ']')),
            error("unsupported envelope version: None"));
  // Trailing white space is fine.
  EXPECT_EQ(open(document("{}") + " \t\r\n"), R"({"env":{}})");
}

TEST_F(Open, BoxKeyIsReadOnlyAfterTheDocumentChecks) {
  EXPECT_EQ(open(R"({"version":1,"enc":1,"ciphertext":1,"aad_fields":{}})"),
            error("unexpected envelope kind: None"));
  EXPECT_EQ(key_reads, 0);
  // A failing read wins over any problem of enc or ciphertext.
  const std::string bad_rest =
      R"({"version":1,"enc":"!","ciphertext":"!","aad_fields":)" + kPlainAad + "}";
  const std::string result =
      json::to_compact(open_envelope(bad_rest, []() -> base::Result<std::string_view> {
        return base::Error{"No such file or directory (os error 2)"};
      }));
  EXPECT_EQ(result, error("read box key: No such file or directory (os error 2)"));
}

TEST_F(Open, BoxKeyText) {
  const std::string doc = document(R"({"A":"1"})");
  const std::string opened = R"({"env":{"A":"1"}})";
  const std::string b64 = b64url(kBoxSecret);
  struct Case {
    std::string key;
    std::string result;
  } cases[] = {
      {b64, opened},
      {b64 + "=\n", opened},
      {b64 + "===", opened},
      {"\n\t " + b64 + "\r\n", opened},
      {"\u3000" + b64 + "\u00a0\u2029", opened},  // Unicode White_Space is trimmed too
      // The '=' after the line feed stays at the end, so the line feed is inside the text.
      {b64 + "\n=", error("decode box key: base64url decode: Invalid symbol 10, offset 43.")},
      {"\xef\xbb\xbf" + b64,
       error("decode box key: base64url decode: Invalid symbol 239, offset 0.")},
      {b64.substr(0, 42) + "+",
       error("decode box key: base64url decode: Invalid symbol 43, offset 42.")},
      {"", error("box key must be 32 bytes")},
      {b64url(kBoxSecret.substr(1)), error("box key must be 32 bytes")},
      {b64url(kBoxSecret + "x"), error("box key must be 32 bytes")},
  };
  for (const Case& c : cases) {
    key_text = c.key;
    EXPECT_EQ(open(doc), c.result) << c.key;
  }
}

TEST_F(Open, PayloadFailures) {
  EXPECT_EQ(open(document("[1]")), error("decrypted payload is not a JSON object"));
  EXPECT_EQ(open(document(R"("A")")), error("decrypted payload is not a JSON object"));
  for (const char* payload : {"", "{", "{} x", "{\"A\":\"\xff\"}"}) {
    const std::string result = open(document(payload));
    EXPECT_TRUE(result.starts_with(R"({"error":"decrypted payload is not valid JSON: )"))
        << payload << " " << result;
  }
  // Validation covers names the filter would refuse, and joins every problem.
  EXPECT_EQ(open(document(R"({"PATH":1})")),
            error("env map validation failed: variable value for PATH is not a string"));
  EXPECT_EQ(open(document(R"({"A":true,"B":"x\u0000"})")),
            error("env map validation failed: variable value for A is not a string; "
                  "variable B contains NUL byte"));
}

}  // namespace
}  // namespace tovrel::envelope
