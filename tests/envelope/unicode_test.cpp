// The generated Unicode tables, the white-space trim and the quoted debug form.

#include "envelope/unicode.h"

#include <gtest/gtest.h>

#include "base/whitespace.h"

namespace tovrel::envelope::unicode {
namespace {

TEST(UnicodeTables, SortedAndDisjoint) {
  const struct {
    const char* name;
    const CodePointRange* table;
    std::size_t size;
  } tables[] = {{"extend", kGraphemeExtend, kGraphemeExtendSize},
                {"hidden", kNotPrintable, kNotPrintableSize}};
  for (const auto& t : tables) {
    ASSERT_GT(t.size, 0u) << t.name;
    for (std::size_t i = 0; i < t.size; ++i) {
      EXPECT_LE(t.table[i].first, t.table[i].last) << t.name << i;
      if (i > 0) {
        EXPECT_LT(t.table[i - 1].last + 1, t.table[i].first) << t.name << i;
      }
    }
  }
}

TEST(UnicodeTables, Properties) {
  for (char32_t c : {U'\u0300', U'\u0301', U'\u036f', U'\u200c', U'\U000e0100'}) {
    EXPECT_TRUE(is_grapheme_extend(c)) << static_cast<unsigned>(c);
  }
  EXPECT_FALSE(is_grapheme_extend(U'e'));
  // Cc, Cf, Co, Cn, Zl, Zp, Zs (not the space) are not printable; surrogates cannot occur in
  // UTF-8 but are listed too.
  for (char32_t c : {0x0u, 0x1Fu, 0x7Fu, 0x9Fu, 0xADu, 0x200Bu, 0xFEFFu, 0xE000u, 0x378u, 0xFFFFu,
                     0x10FFFFu, 0x2028u, 0x2029u, 0xA0u, 0x3000u, 0xD800u}) {
    EXPECT_FALSE(is_printable(c)) << std::hex << static_cast<unsigned>(c);
  }
  for (char32_t c : {U' ', U'~', U'\'', U'\u00e9', U'\u4e2d', U'\U0001f600'}) {
    EXPECT_TRUE(is_printable(c)) << static_cast<unsigned>(c);
  }
}

TEST(TrimWhiteSpace, BothEndsOnly) {
  using base::trim_unicode_whitespace;
  EXPECT_EQ(trim_unicode_whitespace(""), "");
  EXPECT_EQ(trim_unicode_whitespace(" \t\n"), "");
  EXPECT_EQ(trim_unicode_whitespace("\u3000\u00a0a b\u2029\r\n"), "a b");
  EXPECT_EQ(trim_unicode_whitespace("\ufeffa\ufeff"), "\ufeffa\ufeff");
  EXPECT_EQ(trim_unicode_whitespace("\u00e9"), "\u00e9");
  EXPECT_EQ(trim_unicode_whitespace("x\u0085"), "x");
  // Every White_Space character goes; the look-alikes that are not White_Space stay.
  for (const char* c : {"\t", "\n", "\v", "\f", "\r", " ", "\u0085", "\u00a0", "\u1680", "\u2000",
                        "\u200a", "\u2028", "\u2029", "\u202f", "\u205f", "\u3000"}) {
    EXPECT_EQ(trim_unicode_whitespace(c), "") << c;
  }
  for (const char* c : {"\u200b", "\ufeff", "\u180e", "\u2060"}) {
    EXPECT_EQ(trim_unicode_whitespace(c), c) << c;
  }
}

TEST(DebugQuoted, Escapes) {
  const struct {
    std::string in;
    const char* out;
  } cases[] = {
      {"", R"("")"},
      {"execution-secrets/v2", R"("execution-secrets/v2")"},
      {"\"\\\t\r\n", R"("\"\\\t\r\n")"},
      {std::string("a\0b", 3), R"("a\0b")"},
      {"it's", R"("it's")"},
      {"\x01\x1f\x7f", R"("\u{1}\u{1f}\u{7f}")"},
      {"\b\f\v", R"("\u{8}\u{c}\u{b}")"},
      {"a b\u00a0c\u3000", R"("a b\u{a0}c\u{3000}")"},
      {"\u00ad\u200b\ufeff\u2028\u2029", R"("\u{ad}\u{200b}\u{feff}\u{2028}\u{2029}")"},
      {"\ue000\U0010ffff\u0378", R"("\u{e000}\u{10ffff}\u{378}")"},
      {"e\u0301\u0300", R"("e\u{301}\u{300}")"},
      {"\u0301", R"("\u{301}")"},
      {"\u00e9\u4e2d\U0001f600", "\"\u00e9\u4e2d\U0001f600\""},
  };
  for (const auto& c : cases) EXPECT_EQ(debug_quoted(c.in), c.out) << c.out;
}

}  // namespace
}  // namespace tovrel::envelope::unicode
