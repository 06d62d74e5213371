// Base64 codecs: round trips and the exact error texts of each decoder.

#include "base/base64.h"

#include <gtest/gtest.h>

namespace tovrel::base {
namespace {

TEST(Base64, EncodesRfc4648Vectors) {
  const std::pair<const char*, const char*> cases[] = {{"", ""},
                                                       {"f", "Zg=="},
                                                       {"fo", "Zm8="},
                                                       {"foo", "Zm9v"},
                                                       {"foob", "Zm9vYg=="},
                                                       {"fooba", "Zm9vYmE="},
                                                       {"foobar", "Zm9vYmFy"}};
  for (auto [plain, coded] : cases) {
    EXPECT_EQ(base64_encode(plain), coded);
    auto back = base64_decode(coded);
    ASSERT_TRUE(back.ok()) << coded << ": " << back.error();
    EXPECT_EQ(*back, plain);
  }
  EXPECT_EQ(base64_encode("\xfb\xff"), "+/8=");
  EXPECT_EQ(base64url_encode("\xfb\xff"), "-_8");
}

TEST(Base64Url, RoundTripsEveryLength) {
  std::string bytes;
  for (int n = 0; n < 70; ++n) {
    const std::string text = base64url_encode(bytes);
    EXPECT_EQ(text.size(), (n * 4 + 2) / 3);
    EXPECT_EQ(text.find('='), std::string::npos);
    auto back = base64url_decode(text);
    ASSERT_TRUE(back.ok()) << text;
    EXPECT_EQ(*back, bytes);
    bytes += static_cast<char>(n * 37 + 201);
  }
  EXPECT_EQ(base64url_encode(std::string(32, '\xff')).size(), 43u);
  EXPECT_EQ(base64url_encode(std::string(64, '\x01')).size(), 86u);
}

// Long texts cross the decoder's internal blocks; a fault far in is still found at its offset.
TEST(Base64Url, LongTexts) {
  std::string bytes;
  for (int n = 0; n < 3000; ++n) bytes += static_cast<char>(n * 131 + n / 7);
  const std::string text = base64url_encode(bytes);
  EXPECT_EQ(*base64url_decode(text), bytes);
  EXPECT_EQ(*base64_decode(base64_encode(bytes)), bytes);
  std::string bad = text;
  bad[2345] = '+';
  EXPECT_EQ(base64url_decode(bad).error(), "Invalid symbol 43, offset 2345.");
  bad = text;
  bad[1024] = '=';
  EXPECT_EQ(base64url_decode(bad).error(), "Invalid symbol 61, offset 1024.");
  EXPECT_EQ(base64url_decode(text.substr(0, 2049)).error(), "Invalid input length: 2049");
  EXPECT_EQ(base64url_decode(text.substr(0, 2046) + "B").error(),
            "Invalid last symbol 66, offset 2046.");
}

struct Bad {
  const char* text;
  const char* error;
};

TEST(Base64Url, StrictErrors) {
  const Bad cases[] = {
      {"AAA=", "Invalid padding"},
      {"AA==", "Invalid padding"},
      {"====", "Invalid padding"},
      {"AA=A", "Invalid symbol 61, offset 2."},
      {"AA+A", "Invalid symbol 43, offset 2."},
      {"AA/A", "Invalid symbol 47, offset 2."},
      {"AAAA\n", "Invalid symbol 10, offset 4."},
      {" AAA", "Invalid symbol 32, offset 0."},
      {"\xc3\xa9", "Invalid symbol 195, offset 0."},
      {"A", "Invalid input length: 1"},
      {"AAAAA", "Invalid input length: 5"},
      {"AB", "Invalid last symbol 66, offset 1."},
      {"AAB", "Invalid last symbol 66, offset 2."},
      {"AAAAAAB", "Invalid last symbol 66, offset 6."},
  };
  for (const Bad& c : cases) {
    auto r = base64url_decode(c.text);
    ASSERT_FALSE(r.ok()) << c.text;
    EXPECT_EQ(r.error(), c.error) << c.text;
  }
  EXPECT_EQ(*base64url_decode("AQ"), "\x01");
  EXPECT_EQ(*base64url_decode(""), "");
}

TEST(Base64Url, StrippedVariantDropsTrailingPaddingOnly) {
  const std::string key = base64url_encode(std::string(32, '\x07'));
  for (const char* pad : {"", "=", "==", "=========="}) {
    auto r = base64url_decode_stripped(key + pad);
    ASSERT_TRUE(r.ok()) << pad;
    EXPECT_EQ(*r, std::string(32, '\x07'));
  }
  EXPECT_EQ(*base64url_decode_stripped("===="), "");
  EXPECT_EQ(base64url_decode_stripped("AA=A=").error(), "Invalid symbol 61, offset 2.");
  EXPECT_EQ(base64url_decode_stripped(key + "=\n").error(), "Invalid symbol 61, offset 43.");
}

TEST(Base64, StandardDecoderErrors) {
  const Bad cases[] = {
      {"Zg=", "Invalid input length: 3"},
      {"Zm9", "Invalid input length: 3"},
      {"Z===", "Invalid padding"},
      {"Zm9v====", "Invalid padding"},
      {"Zg=A", "Invalid symbol 61, offset 2."},
      {"Zg-=", "Invalid symbol 45, offset 2."},
      {"Zh==", "Invalid last symbol 104, offset 1."},
      {"Zm9=", "Invalid last symbol 57, offset 2."},
  };
  for (const Bad& c : cases) {
    auto r = base64_decode(c.text);
    ASSERT_FALSE(r.ok()) << c.text;
    EXPECT_EQ(r.error(), c.error) << c.text;
  }
}

}  // namespace
}  // namespace tovrel::base
