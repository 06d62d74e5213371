#include "json/writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tovrel::json {
namespace {

TEST(NumberText, Table) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {0.0, "0.0"},         {-0.0, "-0.0"},        {1.0, "1.0"},
      {1.5, "1.5"},         {100.0, "100.0"},      {-2.25, "-2.25"},
      {1e15, "1000000000000000.0"},                {1e16, "1e+16"},
      {1.5e16, "1.5e+16"},  {0.00001, "0.00001"},  {1.5e-7, "1.5e-7"},
      {1e-6, "1e-6"},       {0.1, "0.1"},          {123456.789, "123456.789"},
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
  v["a"] = Array{JsonValue(), true, false, std::uint64_t{18446744073709551615u},
                 std::int64_t{-9223372036854775807 - 1}, 2.0};
  v["\xc3\xa9"] = 1;
  v["B"] = Object{};
  EXPECT_EQ(to_compact(v),
            "{\"B\":{},\"a\":[null,true,false,18446744073709551615,-9223372036854775808,2.0],"
            "\"b\":\"q\\\"b\\\\s\\b\\t\\n\\f\\r\\u0001\\u001f\x7f \xc3\xa9\",\"\xc3\xa9\":1}");
}

}  // namespace
}  // namespace tovrel::json
