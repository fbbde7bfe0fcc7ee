// The lexemes of one logical VBA line, as the rename scope rules read modules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tarnwick/brimsel/vba_lexer.hpp"

namespace tarnwick::brimsel {
namespace {

// The lexemes of `line`, each as a kind letter and its text: i identifier, n number, s string,
// c comment, y symbol, a ":=", k ":".
std::vector<std::string> lexemes(const std::string& line)
{
  std::vector<Lexeme> lexed;
  lex_line(line, lexed);
  std::vector<std::string> out;
  for (const Lexeme& lexeme : lexed) {
    const char* kinds = "inscyak";
    out.push_back(std::string(1, kinds[static_cast<int>(lexeme.kind)]) + " "
                  + line.substr(lexeme.begin, lexeme.end - lexeme.begin));
  }
  return out;
}

using List = std::vector<std::string>;

TEST(VbaLexer, LexemesOfALine)
{
  struct Case
  {
    const char* line;
    List expected;
  };
  const Case cases[] = {
      {"x = y + 1", {"i x", "y =", "i y", "y +", "n 1"}},
      {"s = \"a \"\"b\"\" c\" ' note", {"i s", "y =", "s \"a \"\"b\"\" c\"", "c  note"}},
      {"Rem whole line", {"c  whole line"}},
      {"x = 1: Rem after a colon", {"i x", "y =", "n 1", "k :", "c  after a colon"}},
      {"Remark = 1", {"i Remark", "y =", "n 1"}},
      {"Call f(a:=1)", {"i Call", "i f", "y (", "i a", "a :=", "n 1", "y )"}},
      {"h = &HFF + &O17", {"i h", "y =", "n &HFF", "y +", "n &O17"}},
      {"d = #1/31/2024# + #12:30 PM#", {"i d", "y =", "n #1/31/2024#", "y +", "n #12:30 PM#"}},
      {"#If Win64 Then", {"y #", "i If", "i Win64", "i Then"}},
      {"Open p For Input As #1", {"i Open", "i p", "i For", "i Input", "i As", "y #", "n 1"}},
      {"x.y!z", {"i x", "y .", "i y", "y !", "i z"}},
      {"\xEF\xBB\xBF" "Dim 变量 As Long", {"i Dim", "i 变量", "i As", "i Long"}},
      {"n = 12abc", {"i n", "y =", "n 12abc"}},
      {"unterminated = \"abc", {"i unterminated", "y =", "s \"abc"}},
      {"Function F(a As Long, _\n    b As Long) As Long",
       {"i Function", "i F", "y (", "i a", "i As", "i Long", "y ,", "i b", "i As", "i Long", "y )",
        "i As", "i Long"}},
      {"x = a _ \r\n  + _b", {"i x", "y =", "i a", "y +", "y _b"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(lexemes(c.line), c.expected) << c.line;
  }
}

TEST(VbaLexer, ContinuedLinesAndReservedWords)
{
  struct Case
  {
    const char* line;
    bool continued;
  };
  const Case cases[] = {
      {"Function F(a As Long, _\n", true}, {"x = a _  \r\n", true}, {"_\n", true},
      {"x = a_\n", false},                 {"x = \"_\"\n", false},  {"y = 1\n", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(continues(c.line), c.continued) << c.line;
  }
  for (const char* word : {"Dim", "dim", "REDIM", "ParamArray", "Me", "AddressOf", "Null"}) {
    EXPECT_TRUE(is_reserved(word)) << word;
  }
  for (const char* word : {"Counter", "Value", "Dimension", "ParamArrays", ""}) {
    EXPECT_FALSE(is_reserved(word)) << word;
  }
}

} // namespace
} // namespace tarnwick::brimsel
