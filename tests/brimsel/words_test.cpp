#include "tarnwick/brimsel/words.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnwick::brimsel {
namespace {

// Invalid bytes are never part of a word: an overlong form of a letter stays invalid, and an
// invalid sequence is passed as one maximal subpart.
TEST(Words, InvalidBytesSeparateWords)
{
  const struct
  {
    std::string text;
    char32_t cp;
    std::size_t length;
  } decoded[] = {
      {"a", U'a', 1},
      {"\xC3\xA9", U'é', 2},
      {"\xF0\x9D\x90\x80", 0x1D400, 4},
      {"\xC1\x81", 0xFFFD, 1},         // overlong "A"
      {"\xE0\x81\x81", 0xFFFD, 1},     // overlong "A" in three bytes
      {"\xED\xA0\x80", 0xFFFD, 1},     // a surrogate
      {"\xF4\x90\x80\x80", 0xFFFD, 1}, // above U+10FFFF
      {"\xE4\xB8" "a", 0xFFFD, 2},     // cut short
      {"\xE4\xB8", 0xFFFD, 2},         // cut short by the end
      {"\x80", 0xFFFD, 1},
  };
  for (const auto& item : decoded) {
    EXPECT_EQ(decode_at(item.text, 0), std::make_pair(item.cp, item.length)) << item.text;
  }

  std::vector<std::string> words;
  for_each_word("ab\xC1\x81" "cd \xE4\xB8" "e\xC3\xA9 x\xED\xA0\x80y", [&](std::string_view word,
                                                                         bool identifier) {
    words.push_back(std::string(word) + (identifier ? " i" : ""));
  });
  EXPECT_EQ(words, (std::vector<std::string>{"ab i", "cd i", "e\xC3\xA9", "x i", "y i"}));
}

} // namespace
} // namespace tarnwick::brimsel
