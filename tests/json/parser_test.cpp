#include "json/parser.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "json/writer.h"

namespace tovrel::json {
namespace {

std::string error_of(std::string_view text) {
  const auto r = parse(text);
  return r.ok() ? "ok: " + to_compact(*r) : r.error();
}

TEST(Parser, ErrorMessagesAndPositions) {
  const struct {
    std::string input;
    std::string error;
  } cases[] = {
      {"", "EOF while parsing a value at line 1 column 0"},
      {"   \n  ", "EOF while parsing a value at line 2 column 2"},
      {"[1,", "EOF while parsing a value at line 1 column 3"},
      {"{\"a\":", "EOF while parsing a value at line 1 column 5"},
      {"-", "EOF while parsing a value at line 1 column 1"},
      {"nul", "EOF while parsing a value at line 1 column 3"},
      {"1.", "EOF while parsing a value at line 1 column 2"},
      {"1e+", "EOF while parsing a value at line 1 column 3"},
      {"\"abc", "EOF while parsing a string at line 1 column 4"},
      {"\"\\", "EOF while parsing a string at line 1 column 2"},
      {"\"\\u12", "EOF while parsing a string at line 1 column 5"},
      {"\"\\ud800", "EOF while parsing a string at line 1 column 7"},
      {"[1", "EOF while parsing a list at line 1 column 2"},
      {"[", "EOF while parsing a list at line 1 column 1"},
      {"{", "EOF while parsing an object at line 1 column 1"},
      {"{\"a\"", "EOF while parsing an object at line 1 column 4"},
      {"{\"a\":1", "EOF while parsing an object at line 1 column 6"},
      {"x", "expected value at line 1 column 1"},
      {"[,1]", "expected value at line 1 column 2"},
      {"\xff", "expected value at line 1 column 1"},
      {"trx", "expected ident at line 1 column 3"},
      {"{\n  \"a\": tru\n}", "expected ident at line 3 column 0"},
      {"{\"a\" 1}", "expected `:` at line 1 column 6"},
      {"[1 2]", "expected `,` or `]` at line 1 column 4"},
      {"[\n1,\n2 x]", "expected `,` or `]` at line 3 column 3"},
      {"{\"a\":1 \"b\":2}", "expected `,` or `}` at line 1 column 8"},
      {"{1:2}", "key must be a string at line 1 column 2"},
      {"{\"a\":1,2:3}", "key must be a string at line 1 column 8"},
      {"\"\\x\"", "invalid escape at line 1 column 3"},
      {"\"\\u12g4\"", "invalid escape at line 1 column 7"},
      {"01", "invalid number at line 1 column 2"},
      {"-01", "invalid number at line 1 column 3"},
      {"-x", "invalid number at line 1 column 2"},
      {"1.x", "invalid number at line 1 column 3"},
      {"1ex", "invalid number at line 1 column 3"},
      {"[.5]", "expected value at line 1 column 2"},
      {"1e400", "number out of range at line 1 column 5"},
      {"1e2147483648", "number out of range at line 1 column 12"},
      {"[1e999999999999]", "number out of range at line 1 column 13"},
      {"\"\xff\"", "invalid unicode code point at line 1 column 3"},
      {"\"a\x01\"",
       "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
      {"\"a\nb\"",
       "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"},
      {"\"\\udc00\"", "lone leading surrogate in hex escape at line 1 column 7"},
      {"\"\\ud800\\u0041\"", "lone leading surrogate in hex escape at line 1 column 13"},
      {"\"\\ud800x\"", "unexpected end of hex escape at line 1 column 8"},
      {"\"\\ud800\\n\"", "unexpected end of hex escape at line 1 column 9"},
      {"1 2", "trailing characters at line 1 column 3"},
      {"{}x", "trailing characters at line 1 column 3"},
      {"1x", "trailing characters at line 1 column 2"},
      {"null\f", "trailing characters at line 1 column 5"},
      {"[1,]", "trailing comma at line 1 column 4"},
      {"{\"a\":1,}", "trailing comma at line 1 column 8"},
      {std::string(128, '['), "recursion limit exceeded at line 1 column 128"},
      {"{\"a\":" + std::string(127, '['), "recursion limit exceeded at line 1 column 132"},
  };
  for (const auto& c : cases) EXPECT_EQ(error_of(c.input), c.error) << "input: " << c.input;
}

TEST(Parser, NestingUpTo127Levels) {
  const std::string deep = std::string(127, '[') + std::string(127, ']');
  EXPECT_TRUE(parse(deep).ok());
  std::string objects;
  for (int k = 0; k < 127; ++k) objects += "{\"k\":";
  objects += "1" + std::string(127, '}');
  EXPECT_TRUE(parse(objects).ok());
  // Depth is about nesting, not count: many siblings at level 1 are fine.
  std::string wide = "[";
  for (int k = 0; k < 1000; ++k) wide += "[],";
  wide += "[]]";
  EXPECT_TRUE(parse(wide).ok());
}

TEST(Parser, InvalidUtf8InStrings) {
  const std::string cases[] = {
      "\"\xc0\x80\"",          // overlong NUL
      "\"\xed\xa0\x80\"",      // encoded surrogate
      "\"\xf4\x90\x80\x80\"",  // beyond U+10FFFF
      "\"\xe2\x82\"",          // truncated sequence before the quote
      "\"\x80\"",              // stray continuation byte
  };
  for (const auto& c : cases) {
    EXPECT_EQ(error_of(c),
              "invalid unicode code point at line 1 column " + std::to_string(c.size()))
        << c;
  }
  // In a key too, and an earlier position of the bad byte does not win over a later fault.
  EXPECT_EQ(error_of("{\"\xff\":1}"), "invalid unicode code point at line 1 column 4");
  EXPECT_EQ(error_of("\"\xff\\x\""), "invalid escape at line 1 column 4");
  // Valid multi-byte text passes unchanged, also past the 8-byte fast scan.
  const std::string text = "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 and some more ascii text";
  const auto r = parse("\"" + text + "\"");
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->as_string(), text);
}

// The scan of long strings: a control character at every place is found at its column, and
// multi-byte characters are taken whole wherever they start.
TEST(Parser, LongStrings) {
  constexpr std::size_t kLength = 150;
  for (std::size_t at = 0; at < kLength; ++at) {
    std::string text(kLength, 'x');
    text[at] = '\x01';
    EXPECT_EQ(error_of("\"" + text + "\""),
              "control character (\\u0000-\\u001F) found while parsing a string at line 1 column " +
                  std::to_string(at + 2));
    std::string utf8(kLength + 4, 'x');
    utf8.replace(at, 4, "\xf0\x9f\x98\x80");
    const auto r = parse("\"" + utf8 + "\"");
    ASSERT_TRUE(r.ok()) << at << ": " << r.error();
    EXPECT_EQ(r->as_string(), utf8);
    utf8[at + 3] = 'x';  // the sequence cut short
    EXPECT_EQ(error_of("\"" + utf8 + "\""),
              "invalid unicode code point at line 1 column " + std::to_string(kLength + 6))
        << at;
  }
}

TEST(Parser, Escapes) {
  const struct {
    const char* input;
    std::string value;
  } cases[] = {
      {R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
      {R"("\u0000")", std::string(1, '\0')},
      {R"("\u00e9\u00E9")", "\xc3\xa9\xc3\xa9"},
      {R"("\u20ac")", "\xe2\x82\xac"},
      {R"("\uffff")", "\xef\xbf\xbf"},
      {R"("\ud83d\ude00")", "\xf0\x9f\x98\x80"},
      {R"("\uDBFF\uDFFF")", "\xf4\x8f\xbf\xbf"},
      {R"("a\tb\u0041long enough to cross eight bytes")", "a\tbAlong enough to cross eight bytes"},
      {"\"\x7f\"", "\x7f"},
  };
  for (const auto& c : cases) {
    const auto r = parse(c.input);
    ASSERT_TRUE(r.ok()) << c.input << ": " << r.error();
    EXPECT_EQ(r->as_string(), c.value) << c.input;
  }
}

// A string or key without escapes arrives as a view of the parsed bytes themselves (callers
// may keep it as long as the bytes live); one with escapes as its decoded text.
TEST(Parser, UnescapedStringsAreViewsOfTheInput) {
  struct Strings final : Handler {
    explicit Strings(std::string_view input) : input(input) {}
    void null() override {}
    void boolean(bool) override {}
    void u64(std::uint64_t) override {}
    void i64(std::int64_t) override {}
    void f64(double) override {}
    void string(std::string_view value) override { seen(value); }
    void key(std::string_view key) override { seen(key); }
    void begin_array() override {}
    void end_array() override {}
    void begin_object() override {}
    void end_object() override {}
    // Each string as "in:" and its offset, or "copy:" and its text.
    void seen(std::string_view s) {
      const std::less_equal<const char*> le;
      if (le(input.data(), s.data()) && le(s.data() + s.size(), input.data() + input.size())) {
        log.push_back("in:" + std::to_string(s.data() - input.data()));
      } else {
        log.push_back("copy:" + std::string(s));
      }
    }
    std::string_view input;
    std::vector<std::string> log;
  };
  const std::string input =
      R"({"plain": ["a long value past sixteen bytes", "\u00e9x"], "k\n": "v"})";
  Strings strings(input);
  ASSERT_TRUE(parse(input, strings).ok());
  EXPECT_EQ(strings.log,
            (std::vector<std::string>{"in:2", "in:12", "copy:\xc3\xa9x", "copy:k\n", "in:66"}));
}

TEST(Parser, NumberKinds) {
  const auto num = [](const char* t) { return *parse(t); };
  EXPECT_EQ(num("0"), JsonValue(std::uint64_t{0}));
  EXPECT_EQ(num("18446744073709551615"), JsonValue(std::uint64_t{18446744073709551615u}));
  EXPECT_EQ(num("-1"), JsonValue(std::int64_t{-1}));
  EXPECT_EQ(num("-9223372036854775808"), JsonValue(std::int64_t{-9223372036854775807 - 1}));
  ASSERT_TRUE(num("-0").is_double());
  EXPECT_TRUE(std::signbit(num("-0").as_double()));
  EXPECT_TRUE(num("1.0").is_double());
  EXPECT_TRUE(num("1e0").is_double());
  EXPECT_TRUE(num("-9223372036854775809").is_double());
  EXPECT_TRUE(num("18446744073709551616").is_double());
  // The integer stays exact, the same digits with a fraction take the power-of-ten reading.
  EXPECT_EQ(num("9007199254740993"), JsonValue(std::uint64_t{9007199254740993u}));
  EXPECT_EQ(num("9007199254740993.0").as_double(), 9007199254740994.0);
}

TEST(Parser, NumberText) {
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
      {"0e999999999999", "0.0"},
      {"1e-999999999999", "0.0"},
      {"-1e-2147483648", "-0.0"},
      {"18446744073709551615", "18446744073709551615"},
      {"18446744073709551616", "1.8446744073709552e+19"},
      {"100000000000000000000", "1e+20"},
      {"-9223372036854775808", "-9223372036854775808"},
      {"-9223372036854775809", "-9.223372036854776e+18"},
      {"123456789012345.678", "123456789012345.69"},
      {"9007199254740993.0", "9007199254740994.0"},
      {"1.7976931348623157e308", "1.7976931348623157e+308"},
      {"5e-324", "5e-324"},
      // Digits beyond the significand after the point are dropped, before it they scale.
      {"184467440737095516159.5", "1.844674407370955e+20"},
      {"0.184467440737095516159", "0.1844674407370955"},
      {"1e-320", "1e-320"},
  };
  for (const auto& c : cases) {
    const auto r = parse(c.input);
    ASSERT_TRUE(r.ok()) << c.input << ": " << r.error();
    EXPECT_EQ(to_compact(*r), c.text) << c.input;
  }
}

TEST(Parser, ObjectsArraysAndWhitespace) {
  const auto r = parse(" \t\r\n{ \"b\" : [ true , false , null ] ,\n\"a\":{}, \"b\":1 }\r\n ");
  ASSERT_TRUE(r.ok()) << r.error();
  // The repeated key keeps its last value.
  EXPECT_EQ(to_compact(*r), "{\"a\":{},\"b\":1}");
  EXPECT_EQ(to_compact(*parse("[[],{},\"\",[[]]]")), "[[],{},\"\",[[]]]");
}

}  // namespace
}  // namespace tovrel::json
