#include "cas/canonical.h"

#include <gtest/gtest.h>

#include "crypto/sha256.h"
#include "json/parser.h"

namespace tovrel::cas {
namespace {

std::string canonical_of(std::string_view text) {
  const auto r = json::parse(text);
  return r.ok() ? canonical_json(*r) : "error: " + r.error();
}

TEST(Canonical, TextsAndDigests) {
  const struct {
    const char* input;
    const char* text;
    const char* digest;  // empty: not checked
  } cases[] = {
      {"{ \"b\" : 1,\n  \"a\" : [ true, null ] }", "{\"a\":[true,null],\"b\":1}",
       "51705a2c9eb3e7e410a58f696a770c3ac3885a0cf43eb7fc88f5e47c11d4d30d"},
      {"{}", "{}", "44136fa355b3678a1146ad16f7e8649e94fb4fc21fe77e8310c060f61caaff8a"},
      {" [ ] ", "[]", ""},
      {"[[],{}]", "[[],{}]", ""},
      {"\"x\"", "\"x\"", ""},
      {"true", "true", ""},
      {"null", "null", ""},
      {"1.50", "1.5", ""},
      {"{\"\xc3\xa9\":1,\"z\":2}", "{\"z\":2,\"\\u00e9\":1}", ""},
      {"{\"ab\":1,\"a\":2}", "{\"a\":2,\"ab\":1}", ""},
      {"{\"a\":1,\"a\":2}", "{\"a\":2}", ""},
      // Code point order: U+FFFF before U+1F600 (UTF-16 order would put it after).
      {"{\"\\ud83d\\ude00\":1,\"\\uffff\":2}", "{\"\\uffff\":2,\"\\ud83d\\ude00\":1}", ""},
      {"{\"\x7f\":1,\"\xc2\x80\":2}", "{\"\x7f\":1,\"\\u0080\":2}", ""},
  };
  for (const auto& c : cases) {
    const std::string text = canonical_of(c.input);
    EXPECT_EQ(text, c.text) << c.input;
    if (*c.digest) {
      EXPECT_EQ(crypto::sha256_hex(text), c.digest) << c.input;
    }
  }
}

TEST(Canonical, SameValueSameText) {
  const char* variants[] = {
      "{\"n\":1.0,\"s\":\"\xc3\xa9/\",\"a\":[1]}",
      "{\"a\":[1],\"n\":1.00,\"s\":\"\\u00e9\\/\"}",
      "\r\n{ \"s\" : \"\\u00E9/\" , \"n\" : 1e0 , \"a\" : [ 1 ] , \"n\" : 10e-1 }",
  };
  for (const char* v : variants) {
    EXPECT_EQ(canonical_of(v), "{\"a\":[1],\"n\":1.0,\"s\":\"\\u00e9/\"}") << v;
  }
}

TEST(Canonical, StringEscapes) {
  const struct {
    std::string text;
    std::string literal;
  } cases[] = {
      {"\x1f", "\"\\u001f\""},
      {"\x0b", "\"\\u000b\""},
      {std::string(1, '\0'), "\"\\u0000\""},
      {"\t\n\r\b\f", "\"\\t\\n\\r\\b\\f\""},
      {"\"\\", "\"\\\"\\\\\""},
      {"/", "\"/\""},
      {"\x7f", "\"\x7f\""},
      {"\xc3\xa9", "\"\\u00e9\""},
      {"\xef\xbf\xbf", "\"\\uffff\""},
      {"\xf0\x9f\x98\x80", "\"\\ud83d\\ude00\""},
      {"\xf4\x8f\xbf\xbf", "\"\\udbff\\udfff\""},
      {"a\xe2\x82\xac"
       "b",
       "\"a\\u20acb\""},
      {"", "\"\""},
  };
  for (const auto& c : cases) {
    const std::string literal = quote_json_string(c.text);
    EXPECT_EQ(literal, c.literal);
    for (const char ch : literal) EXPECT_LT(static_cast<unsigned char>(ch), 0x80) << literal;
  }
}

TEST(Canonical, Numbers) {
  const struct {
    const char* input;
    const char* text;
  } cases[] = {
      {"0", "0"},
      {"-0", "-0.0"},
      {"-0.0", "-0.0"},
      {"1.0", "1.0"},
      {"1.00", "1.0"},
      {"1e0", "1.0"},
      {"1E2", "100.0"},
      {"150e-2", "1.5"},
      {"0.1", "0.1"},
      {"0.00001", "0.00001"},
      {"0.000001", "1e-6"},
      {"1e15", "1000000000000000.0"},
      {"1e16", "1e+16"},
      {"1e-400", "0.0"},
      {"-1e-400", "-0.0"},
      {"1e400", "error: number out of range at line 1 column 5"},
      {"18446744073709551615", "18446744073709551615"},
      {"18446744073709551616", "1.8446744073709552e+19"},
      {"100000000000000000000", "1e+20"},
      {"-9223372036854775808", "-9223372036854775808"},
      {"-9223372036854775809", "-9.223372036854776e+18"},
      {"123456789012345.678", "123456789012345.69"},
      {"9007199254740993.0", "9007199254740994.0"},
      {"9007199254740993", "9007199254740993"},
  };
  for (const auto& c : cases) EXPECT_EQ(canonical_of(c.input), c.text) << c.input;
}

// cas store writes the text while it parses, without building the value: the same bytes as the
// value's text, and the parser's own error text when the document is not JSON.
TEST(Canonical, WrittenWhileParsingEqualsTheValuesText) {
  const char* documents[] = {
      "{\"b\":{\"z\":1,\"y\":{\"q\":[{\"k\":1,\"j\":2}],\"p\":0}},\"a\":[3,{\"d\":4,\"c\":5}]}",
      // Repeated keys: first, middle and last occurrences, nested values, adjacent and apart.
      "{\"a\":1,\"a\":2}",
      "{\"k\":{\"x\":1},\"b\":0,\"k\":[2],\"a\":0,\"k\":{\"y\":{\"z\":3,\"w\":4}}}",
      "{\"a\":1,\"b\":2,\"a\":3,\"c\":4,\"b\":5}",
      // Keys compared before escaping: '!' < '\"' < '#', a control character before ' ',
      // '\\' between 'Z' and 'a', "z" before "é", the empty key first.
      "{\"#\":1,\"\\\"\":2,\"!\":3,\" \":4,\"\\u0001\":5,\"a\":6,\"\\\\\":7,\"Z\":8,\"\":9}",
      "{\"\xc3\xa9\":1,\"z\":2,\"\\ud83d\\ude00\":3,\"\\uffff\":4,\"\\u00e9\":5}",
      "{\"ab\":1,\"a\":2,\"abc\":3,\"\":4}",
      "[{\"b\":1,\"a\":2},{\"a\":1,\"b\":2},[],{},\"s\",-0,1e16,18446744073709551616]",
      " { \"b\" : [ true , false , null ] ,\n\"a\":{}, \"b\":1 } ",
      "\"x\\u0000y\"",
      "{",
      "{\"b\":1,\"a\":2,\"a\":",
      "[{\"b\":1,\"a\":[1,2,}]",
      "{\"b\":{\"d\":1,\"c\":\"\xff\"}}",
      "[1e400]",
  };
  for (const char* d : documents) {
    const auto streamed = canonicalize(d);
    EXPECT_EQ(streamed.ok() ? *streamed : "error: " + streamed.error(), canonical_of(d)) << d;
  }
  EXPECT_EQ(*canonicalize(documents[4]),
            "{\"\":9,\"\\u0001\":5,\" \":4,\"!\":3,\"\\\"\":2,\"#\":1,\"Z\":8,\"\\\\\":7,\"a\":6}");
  // A wide object out of order, with every key repeated.
  std::string wide = "{";
  for (int k = 999; k >= 0; --k)
    wide += "\"k" + std::to_string(k % 500) + "\":" + std::to_string(k) + ",";
  wide += "\"end\":{\"y\":1,\"x\":2}}";
  const auto streamed = canonicalize(wide);
  ASSERT_TRUE(streamed.ok()) << streamed.error();
  EXPECT_EQ(*streamed, canonical_of(wide));
}

TEST(Canonical, InvalidUtf8FromElsewhereIsReplaced) {
  EXPECT_EQ(quote_json_string("a\xff"
                              "b\xe2\x82"),
            "\"a\\ufffdb\\ufffd\"");
}

}  // namespace
}  // namespace tovrel::cas
