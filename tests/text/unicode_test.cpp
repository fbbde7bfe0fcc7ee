#include <gtest/gtest.h>

#include <unicode/locid.h>

#include "tarnwick/text/regex.hpp"
#include "tarnwick/text/unicode.hpp"

using namespace tarnwick::text;

TEST(CaseMapping, UsesFullRootLocaleMappings)
{
  EXPECT_EQ(upper("straße"), "STRASSE");
  EXPECT_EQ(upper("ﬁx"), "FIX");
  EXPECT_EQ(lower("\u212A"), "k");
  EXPECT_EQ(upper("vdd_core ö"), "VDD_CORE Ö");
  EXPECT_EQ(lower("ÄBC"), "äbc");
  // Turkish rules never apply: "i" stays dotless-free, "ı" upper-cases to "I".
  EXPECT_EQ(upper("iı"), "II");
  EXPECT_EQ(lower("I"), "i");
  EXPECT_EQ(upper("中文"), "中文");
}

TEST(CaseMapping, AsciiTextMapsAsTheFullMappingDoes)
{
  // ASCII text takes a short cut; a non-ASCII neighbour sends the same text through ICU.
  for (int c = 0; c < 0x80; ++c) {
    const std::string ascii(1, static_cast<char>(c));
    EXPECT_EQ(upper(ascii) + "\u00C9", upper(ascii + "\u00E9")) << c;
    EXPECT_EQ(lower(ascii) + "\u00E9", lower(ascii + "\u00C9")) << c;
  }
  EXPECT_EQ(upper("vdd_Core1\t\n"), "VDD_CORE1\t\n");
}

TEST(CaseMapping, IgnoresTheDefaultLocale)
{
  const icu::Locale saved = icu::Locale::getDefault();
  UErrorCode status = U_ZERO_ERROR;
  icu::Locale::setDefault(icu::Locale("tr", "TR"), status);
  ASSERT_TRUE(U_SUCCESS(status));
  EXPECT_EQ(upper("i"), "I");
  EXPECT_EQ(lower("I"), "i");
  icu::Locale::setDefault(saved, status);
}

TEST(CaseMapping, RepairsInvalidInput)
{
  EXPECT_EQ(upper("a\xFF"), "A\uFFFD");
}

TEST(Strip, RemovesExactlyTheWhiteSpaceSet)
{
  EXPECT_EQ(strip(" \t\n\v\f\r\x1C\x1F a b \u0085\u00A0\u1680\u2000\u200A\u2028\u2029\u202F\u205F\u3000"),
            "a b");
  EXPECT_EQ(strip("\uFEFFx\uFEFF"), "\uFEFFx\uFEFF");
  EXPECT_EQ(strip("\u200Bx\u180E"), "\u200Bx\u180E");
  EXPECT_EQ(strip("\x08x\x0E"), "\x08x\x0E");
  EXPECT_EQ(strip("   "), "");
  EXPECT_EQ(lstrip(" x "), "x ");
  EXPECT_EQ(rstrip(" x\u3000"), " x");
  // A trailing invalid byte stays; it is not a space.
  EXPECT_EQ(rstrip("x \xA0"), "x \xA0");
}

TEST(CharacterClasses, FollowUnicodeProperties)
{
  EXPECT_TRUE(is_upper(U'Ö'));
  EXPECT_FALSE(is_upper(U'ǅ')); // title case is neither
  EXPECT_TRUE(is_lower(U'ª'));
  EXPECT_FALSE(is_lower(U'A'));

  EXPECT_TRUE(is_digit(U'٣'));
  EXPECT_TRUE(is_digit(U'²')); // numeric type Digit
  EXPECT_FALSE(is_digit(U'½'));
  EXPECT_FALSE(is_digit(U'ⅷ'));

  EXPECT_TRUE(is_alpha(U'中'));
  EXPECT_FALSE(is_alpha(U'_'));
  EXPECT_FALSE(is_alpha(U'٣'));

  EXPECT_TRUE(is_alnum(U'½'));
  EXPECT_TRUE(is_alnum(U'ⅷ'));
  EXPECT_FALSE(is_alnum(U'_'));

  EXPECT_TRUE(is_word(U'_'));
  EXPECT_TRUE(is_word(U'é'));
  EXPECT_TRUE(is_word(U'²'));
  EXPECT_FALSE(is_word(U'-'));
  EXPECT_FALSE(is_word(U'\u3000'));

  EXPECT_FALSE(is_alpha(0x110000));
  EXPECT_TRUE(is_space(U'\u3000'));
  EXPECT_FALSE(is_space(U'\uFEFF'));
}

TEST(Utf8, FindsAndRepairsInvalidSequences)
{
  EXPECT_TRUE(is_valid_utf8("a\u00e9\u4e2d\U0001F600"));
  EXPECT_FALSE(is_valid_utf8("\xC0\x80"));         // overlong
  EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));     // surrogate
  EXPECT_FALSE(is_valid_utf8("\xF4\x90\x80\x80")); // above U+10FFFF
  EXPECT_FALSE(is_valid_utf8("\xE4\xB8"));         // cut short

  EXPECT_EQ(repair_utf8("a\xE4\xB8z"), "a\uFFFDz");         // one per maximal subpart
  EXPECT_EQ(repair_utf8("\xED\xA0\x80"), "\uFFFD\uFFFD\uFFFD"); // surrogate bytes one by one
  EXPECT_EQ(drop_invalid_utf8("\xE4" "a"), "a");
  EXPECT_EQ(drop_invalid_utf8("\xC0\xAFok\xE4\xB8\xAD"), "ok\u4e2d");
}

TEST(Utf8, CountsAndCutsCodePoints)
{
  EXPECT_EQ(length("a中é"), 3u);
  EXPECT_EQ(tarnwick::text::truncate("中文abc", 3), "中文a");
  EXPECT_EQ(tarnwick::text::truncate("ab", 5), "ab");
  EXPECT_EQ(to_u32("a\xFF中"), (std::u32string{U'a', 0xFFFD, U'中'}));
  EXPECT_EQ(to_utf8(U"x\U0001F600"), "x\U0001F600");
  EXPECT_EQ(from_windows_1252("\x80\x9F\xFF"), "€Ÿÿ");
}

TEST(CharacterClasses, WordCharactersAgreeWithUnicodePatterns)
{
  const Regex word(R"(^\w$)", {.unicode = true});
  for (const char32_t cp : {U'_', U'a', U'中', U'٣', U'²', U'Ⅷ', U'\u0301', U'\u203F', U'\u00B7',
                            U'-', U' ', U'\u3000', U'\U0001F600'}) {
    EXPECT_EQ(is_word(cp), word.search(to_utf8(std::u32string(1, cp))).has_value())
        << std::hex << static_cast<unsigned>(cp);
  }
}
