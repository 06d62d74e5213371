#include "json/writer.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace tovrel::json {
namespace {

TEST(NumberText, Table) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {1.0, "1.0"},
      {1.5, "1.5"},
      {100.0, "100.0"},
      {-2.25, "-2.25"},
      {1e15, "1000000000000000.0"},
      {1e16, "1e+16"},
      {1.5e16, "1.5e+16"},
      {0.00001, "0.00001"},
      {1.5e-7, "1.5e-7"},
      {1e-6, "1e-6"},
      {0.1, "0.1"},
      {123456.789, "123456.789"},
      {1.7976931348623157e308, "1.7976931348623157e+308"},
      {5e-324, "5e-324"},
      {std::nan(""), "null"},
      {std::numeric_limits<double>::infinity(), "null"},
      {-std::numeric_limits<double>::infinity(), "null"},
  };
  for (const auto& c : cases) EXPECT_EQ(number_text(c.value), c.text) << c.text;
}

TEST(CompactText, EscapesAndKeyOrder) {
  JsonValue v = object();
  v["b"] = "q\"b\\s\b\t\n\f\r\x01\x1f\x7f é";
  v["a"] = Array{JsonValue(),
                 true,
                 false,
                 std::uint64_t{18446744073709551615u},
                 std::int64_t{-9223372036854775807 - 1},
                 2.0};
  v["\xc3\xa9"] = 1;
  v["B"] = Object{};
  EXPECT_EQ(to_compact(v),
            "{\"B\":{},\"a\":[null,true,false,18446744073709551615,-9223372036854775808,2.0],"
            "\"b\":\"q\\\"b\\\\s\\b\\t\\n\\f\\r\\u0001\\u001f\x7f \xc3\xa9\",\"\xc3\xa9\":1}");
}

// The writer puts members in key order itself, whatever order they are handed over in, and
// keeps the last of a repeated key.
TEST(TextWriter, OrdersMembersItself) {
  std::string out;
  TextWriter w(out, write_compact_string);
  w.begin_array();
  w.begin_object();
  w.key("b");
  w.u64(1);
  w.key("a");
  w.begin_object();
  w.key("y");
  w.f64(0.5);
  w.key("x");
  w.string("\xc3\xa9");
  w.end_object();
  w.key("b");
  w.i64(-2);
  w.key("");
  w.null();
  w.end_object();
  w.boolean(false);
  w.end_array();
  EXPECT_EQ(out, "[{\"\":null,\"a\":{\"x\":\"\xc3\xa9\",\"y\":0.5},\"b\":-2},false]");
}

// One special byte at every place in strings long enough for the wide scan, each escaped where
// it stands; bytes from 0x80 and DEL pass unchanged.
TEST(CompactText, EscapesAtEveryPosition) {
  for (const char special : {'"', '\\', '\n', '\x01', '\x1f'}) {
    for (std::size_t at = 0; at < 150; ++at) {
      std::string s(150, 'a');
      s[at] = special;
      s[(at + 17) % 150] = '\x7f';
      s[(at + 23) % 150] = '\xff';
      const std::string quoted = to_compact(JsonValue(s));
      const std::string escape = to_compact(JsonValue(std::string(1, special)));
      std::string expected = "\"" + s + "\"";
      expected.replace(at + 1, 1, escape.substr(1, escape.size() - 2));
      EXPECT_EQ(quoted, expected) << int(special) << " at " << at;
    }
  }
}

}  // namespace
}  // namespace tovrel::json
