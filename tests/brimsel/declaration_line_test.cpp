#include "tarnwick/brimsel/declaration_line.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tarnwick/text/regex.hpp"

namespace tarnwick::brimsel {
namespace {

// The declaration pattern as the line rules write it; match_declaration must agree with it.
const text::Regex& declaration_pattern()
{
  static const text::Regex pattern{
      R"(^\s*(Public|Private|Global|Dim|Const)\s+(?:(Const)\s+)?(?P<names>.+?)\s+As\s+(?:New\s+)?(?P<type>\w+)(?:\s*\([^)]*\))?\s*(?:=\s*.+)?$)",
      {.caseless = true, .unicode = true}};
  return pattern;
}

void expect_same_as_pattern(const std::string& line)
{
  const auto expected = declaration_pattern().match_at_start(line);
  const auto got = match_declaration(line);
  ASSERT_EQ(got.has_value(), expected.has_value()) << '[' << line << ']';
  if (!got) {
    return;
  }
  EXPECT_EQ(got->keyword, expected->str(1)) << '[' << line << ']';
  EXPECT_EQ(got->const_word, expected->matched(2)) << '[' << line << ']';
  EXPECT_EQ(got->names, *expected->group("names")) << '[' << line << ']';
  EXPECT_EQ(got->type, *expected->group("type")) << '[' << line << ']';
}

TEST(DeclarationLine, ReadsLinesAsThePatternDoes)
{
  for (const char* line :
       {"Dim a As Long", "Public x, y As String", "Private Const K As Long = 5",
        "Global g() As Double", "Dim w As New Collection", "Dim n As New", "Dim n As New (1)",
        "Dim a As T (1 To 3) = x", "Dim a As T(1) =", "Dim a As T = ", "Dim   As Long",
        "Dim  As Long", "Const Const   As Long", "Dim Const As Long", "Dim Const  As x",
        "Dim Const", "Dim a As Long As Integer", "Dim a As x (As y", "Dim a As x (As y)",
        "dim A aS lOnG", "Dim a Aſ Long", "Dim\u3000a\u3000As\u3000Long", "Dim a As Long'x",
        "Dim a\u00a0As\u00a0Long", "Dim a\u180eAs Long", "Dim a\u0085As Long", "DimAs Long",
        "Dim é As ñ", "Dim a As b c", "Public Sub X() As Long"}) {
    expect_same_as_pattern(line);
  }
  // Random lines of the characters that matter.
  const std::vector<std::string> pieces = {
      " ", " ", "  ", "\t", "\u3000", "\u00a0", "As", "as", "AS", "Aſ", "New", "Const", "Dim",
      "a", "x_1", "é", "(", ")", "=", ",", "5", "Public", "Global"};
  std::mt19937 random(20261209);
  for (int round = 0; round < 20000; ++round) {
    std::string line = round % 2 == 0 ? "Dim" : pieces[random() % pieces.size()];
    const std::size_t count = random() % 12;
    for (std::size_t i = 0; i < count; ++i) {
      line += pieces[random() % pieces.size()];
    }
    expect_same_as_pattern(line);
  }
}

// The lines that kept the pattern busy without end: the work of match_declaration, counted in
// characters looked at, stays within a few times the line's length (the pattern took about
// the square of it).
TEST(DeclarationLine, WorkGrowsLinearlyWithTheLine)
{
  for (const std::size_t length : {std::size_t{10000}, std::size_t{1000000}}) {
    const struct
    {
      std::string line;
      bool declaration;
    } cases[] = {
        {"Dim a" + std::string(length, ' ') + "x", false},
        {"Dim a As Long" + std::string(length, ' ') + "x", false},
        {"Dim" + std::string(length, ' ') + "a", false},
        {"Dim a" + [&] {
           std::string text;
           while (text.size() < length) {
             text += " As";
           }
           return text;
         }(),
         true}, // the last "As" is the type

        {"Dim a" + [&] {
           std::string text;
           while (text.size() < length) {
             text += " As x (";
           }
           return text + ") y";
         }(),
         false},
        {"Dim a" + std::string(length, ' ') + "As Long", true},
    };
    for (const auto& c : cases) {
      std::size_t steps = 0;
      EXPECT_EQ(match_declaration(c.line, &steps).has_value(), c.declaration);
      EXPECT_LE(steps, 8 * c.line.size()) << c.line.substr(0, 20) << " of " << c.line.size();
    }
  }
}

} // namespace
} // namespace tarnwick::brimsel
