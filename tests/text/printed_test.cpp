#include <gtest/gtest.h>

#include "tarnwick/text/printed.hpp"

using namespace tarnwick::text;

TEST(Quoted, PrintsLikePythonRepr)
{
  EXPECT_EQ(quoted("abc"), "'abc'");
  EXPECT_EQ(quoted(""), "''");
  EXPECT_EQ(quoted("it's"), "\"it's\"");
  EXPECT_EQ(quoted("a\"b'c"), R"('a"b\'c')");
  EXPECT_EQ(quoted("say \"hi\""), R"('say "hi"')");
  EXPECT_EQ(quoted("C:\\dir"), R"('C:\\dir')");
  EXPECT_EQ(quoted("tab\there\r\n"), R"('tab\there\r\n')");
  EXPECT_EQ(quoted(std::string("\0\x1b\x7f", 3)), R"('\x00\x1b\x7f')");
  EXPECT_EQ(quoted("\u0085\u00A0\u200B\u3000"), R"('\x85\xa0\u200b\u3000')");
  EXPECT_EQ(quoted("中文 é"), "'中文 é'");
}

TEST(Quoted, ListsAndRecords)
{
  EXPECT_EQ(quoted_list({}), "[]");
  EXPECT_EQ(quoted_list({"a", "b'"}), R"(['a', "b'"])");
  EXPECT_EQ(printed_record({}), "{}");
  EXPECT_EQ(printed_record({{"Opcode", quoted("Test")}, {"write_row_start", "0"}}),
            "{'Opcode': 'Test', 'write_row_start': 0}");
}

namespace tarnwick::text {
namespace {

TEST(Excerpt, CutsALongLineToItsFirstCharactersAndMarksTheCut)
{
  const std::string fits(200, 'a');
  EXPECT_EQ(excerpt(fits), fits);
  EXPECT_EQ(excerpt(fits + "b"), fits + "...");
  // Characters, not bytes: a cut never splits one.
  std::string wide;
  for (int i = 0; i < 300; ++i)
    wide += "变";
  EXPECT_EQ(excerpt(wide), wide.substr(0, 600) + "...");
  EXPECT_EQ(excerpt(std::string(50000000, ' ')).size(), 203U);
}

} // namespace
} // namespace tarnwick::text
