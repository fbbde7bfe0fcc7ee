#include <gtest/gtest.h>

#include "tarnwick/text/error.hpp"
#include "tarnwick/text/regex.hpp"

using namespace tarnwick::text;
using Texts = std::vector<std::string>;

TEST(Regex, SearchMatchAndFullMatchDiffer)
{
  const Regex re(R"(version=(\S+?):)");
  const auto m = re.search("x version=2.0:y");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->str(1), "2.0");
  EXPECT_EQ(m->start(), 2u);
  EXPECT_EQ(m->end(), 14u);
  EXPECT_FALSE(re.match_at_start("x version=2.0:"));
  EXPECT_TRUE(re.match_at_start("version=2.0:tail"));
  EXPECT_FALSE(re.full_match("version=2.0:tail"));
  // Full match tries the other alternatives rather than stopping at the first.
  EXPECT_EQ(Regex("a|ab").full_match("ab")->str(), "ab");
  EXPECT_FALSE(re.search("version=2.0:", 5));
}

TEST(Regex, AbsentGroupIsNotAnEmptyGroup)
{
  const Regex re(R"((?P<num>\d+)?(?P<sign>-?)x)");
  const auto m = re.search("x");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->size(), 3u);
  EXPECT_FALSE(m->matched(1));
  EXPECT_EQ(m->group("num"), std::nullopt);
  EXPECT_EQ(m->str(1), "");
  EXPECT_TRUE(m->matched(2));
  EXPECT_EQ(m->group("sign"), std::optional<std::string>(""));
  EXPECT_EQ(m->group(7), std::nullopt);
  EXPECT_THROW(m->group("nope"), tarnwick::Error);
  EXPECT_THROW(m->start(1), tarnwick::Error);
}

TEST(Regex, FindAllYieldsFirstGroupOrWholeMatch)
{
  const Regex ops(R"([\+\-\*\/\(\)])");
  EXPECT_EQ(ops.find_all("=_A*(_B+2)"), (Texts{"*", "(", "+", ")"}));
  EXPECT_EQ(ops.split("=_A*(_B+2)"), (Texts{"=_A", "", "_B", "2", ""}));
  EXPECT_EQ(Regex("(a)|b").find_all("ab"), (Texts{"a", ""}));
  EXPECT_EQ(Regex(R"(repeat\s=\s(\d+))").find_all("repeat = 4, repeat = 12"), (Texts{"4", "12"}));
  EXPECT_EQ(Regex("x").find_all("abc"), Texts{});
}

TEST(Regex, EmptyMatchesFollowCurrentPythonRules)
{
  const Regex word(R"(\w*)");
  EXPECT_EQ(word.find_all("ab c"), (Texts{"ab", "", "c", ""}));
  const Regex xs("x*");
  EXPECT_EQ(xs.split("axbc"), (Texts{"", "a", "", "b", "c", ""}));
  EXPECT_EQ(xs.sub("abxd", "-"), "-a-b--d-");
  // Stepping past an empty match never splits a multi-byte character.
  const Regex empty("");
  EXPECT_EQ(empty.find_all("é中"), (Texts{"", "", ""}));
  EXPECT_EQ(empty.split("é中"), (Texts{"", "é", "中", ""}));
  EXPECT_EQ(empty.sub("é中", "-"), "-é-中-");
}

TEST(Regex, SubstitutesTheReplacementLiterally)
{
  const Regex word(R"(\b(x)\b)");
  EXPECT_EQ(word.sub("x + xy + x", "$1"), "$1 + xy + $1");
  EXPECT_EQ(word.sub("x + x", R"(\1\g<1>)"), R"(\1\g<1> + \1\g<1>)");
  EXPECT_EQ(word.sub("x x x", "y", 2), "y y x");
  EXPECT_EQ(word.sub("none", "y"), "none");
}

TEST(Regex, SplitWithoutMatchGivesWholeText)
{
  EXPECT_EQ(Regex(R"(\s+)").split("a  b\tc"), (Texts{"a", "b", "c"}));
  EXPECT_EQ(Regex(R"(\s+)").split(""), (Texts{""}));
  EXPECT_EQ(Regex(R"([/\\])").split(R"(C:\work/p)"), (Texts{"C:", "work", "p"}));
}

TEST(Regex, CaselessAndUnicodeOptions)
{
  const Regex job("job.*list", {.caseless = true});
  EXPECT_TRUE(job.search("MyJOB_List.txt"));
  EXPECT_TRUE(Regex("straße", {.caseless = true}).search("STRAßE"));
  EXPECT_TRUE(Regex("é", {.caseless = true}).search("É"));

  const Regex ascii_word(R"(^\w+$)");
  const Regex unicode_word(R"(^\w+$)", {.unicode = true});
  EXPECT_FALSE(ascii_word.search("中文变量"));
  EXPECT_TRUE(unicode_word.search("中文变量"));
  EXPECT_TRUE(unicode_word.search("café_1"));
  EXPECT_TRUE(Regex(R"(\s)", {.unicode = true}).search("\u3000"));
  EXPECT_FALSE(Regex(R"(\s)").search("\u3000"));
  // "." takes one code point, never one byte.
  EXPECT_EQ(Regex("^.$").search("中")->str(), "中");
}

TEST(Regex, NewlineIsLineFeed)
{
  EXPECT_EQ(Regex("(?m)^b$").find_all("a\nb\nc"), (Texts{"b"}));
  EXPECT_EQ(Regex("a$").find_all("a\n"), (Texts{"a"}));
  EXPECT_FALSE(Regex("a.b").search("a\nb"));
}

TEST(Regex, FailuresThrowInsteadOfReadingAsNoMatch)
{
  EXPECT_THROW(Regex("(unclosed"), tarnwick::Error);
  try {
    Regex("a(");
    FAIL();
  } catch (const tarnwick::Error& e) {
    EXPECT_NE(std::string(e.what()).find("'a('"), std::string::npos) << e.what();
  }

  const Regex catastrophic("(a+)+$", {.match_limit = 1000});
  const std::string subject = std::string(30, 'a') + "b";
  try {
    catastrophic.search(subject);
    FAIL() << "no error";
  } catch (const tarnwick::Error& e) {
    EXPECT_NE(std::string(e.what()).find("match limit"), std::string::npos) << e.what();
  }
  EXPECT_THROW(catastrophic.find_all(subject), tarnwick::Error);
  EXPECT_TRUE(catastrophic.search("aaa"));

  EXPECT_THROW(Regex("a").search("a\xFF"), tarnwick::Error);
  EXPECT_THROW(Regex("z").sub("\xC0\x80", "y"), tarnwick::Error);
}

TEST(Regex, MovedRegexAndMatchesOutliveTheOriginal)
{
  std::optional<Match> m;
  {
    Regex a("(?P<k>k)");
    Regex b = std::move(a);
    m = b.search("k");
  }
  ASSERT_TRUE(m);
  EXPECT_EQ(m->group("k"), std::optional<std::string>("k"));
}

TEST(Regex, EscapeMakesALiteralPattern)
{
  const std::string literal = R"(a.b*c(1)[x]\$^|?+{2} 中)";
  EXPECT_TRUE(Regex(regex_escape(literal)).full_match(literal));
  EXPECT_FALSE(Regex(regex_escape("a.b")).search("axb"));
}
