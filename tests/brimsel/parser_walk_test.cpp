#include <algorithm>
#include <sys/stat.h>

#include "parser_test_util.hpp"

namespace tarnwick::brimsel {
namespace {

using testing::captured;
using testing::TempDirTest;

std::vector<std::string> keys_of(const auto& map)
{
  std::vector<std::string> keys;
  for (const auto& [key, value] : map) {
    keys.push_back(key);
  }
  return keys;
}

TEST(VBAParserLineTests, HeadersAndDeclarations)
{
  // Unicode white space and letters that match ASCII ones caselessly ("ſ" is "s") count too.
  for (const char* yes : {"Sub A()", "Public Function F() As Long", "PrivateFunction Foo()",
                          "friend sub X", "Function = 5", "\u00a0Sub A()", "ſub A()",
                          "Public\u3000Sub A()", "Sub\u2003A()"}) {
    EXPECT_TRUE(VBAParser::is_function_definition(yes)) << yes;
  }
  for (const char* no :
       {"Static Sub Run()", "Public Static Function F()", "Property Get Value()",
        "Private Declare Function X Lib \"k\" () As Long", "Sub", "Public Sub", "' Sub A()",
        "Sub_A()", "Subroutine A()", "PrivateFunctionsAreFun x", "Debug.Print x"}) {
    EXPECT_FALSE(VBAParser::is_function_definition(no)) << no;
  }
  for (const char* yes : {"Dim x", "GLOBAL g As Long", "Public Static Function F() As Long",
                          "Public Type T", "Const A = 5", "Dim x As Long ' note",
                          "conſt A = 5", "Dim\u00a0x As Long", "\u3000Dim x"}) {
    EXPECT_TRUE(VBAParser::is_variable_declaration(yes)) << yes;
  }
  for (const char* no :
       {"Public Function F() As Long", "Dimension = 1", "' Dim x As Long", "Dim", "Dim_x = 3",
        "Globals = 1", "Debug.Print x"}) {
    EXPECT_FALSE(VBAParser::is_variable_declaration(no)) << no;
  }
}

class VBAParserFiles : public TempDirTest
{};

TEST_F(VBAParserFiles, WalkFindsBasFilesFolderFilesFirstDepthFirst)
{
  write("zz_top.bas", "");
  write("a/a.bas", "");
  write("a/deep/d.bas", "");
  write("b/b.bas", "");
  write("MAIN.BAS", "");
  write(".bas", "");
  write("x.bas/inner.bas", ""); // a folder named like a source is walked, not read
  for (const char* skipped : {"a.bas.bak", "a.cls", "a.frm"}) {
    write(skipped, "");
  }
  std::filesystem::create_directory_symlink(m_dir + "/b", m_dir + "/link_to_b");
  ASSERT_EQ(::mkfifo((m_dir + "/pipe.bas").c_str(), 0600), 0);

  VBAParser parser;
  const std::string out = captured([&] { parser.parse_files(m_dir + "/"); });
  const std::string root = m_dir + "/";
  EXPECT_NE(out.find("找到 8 个 .bas 文件\n"), std::string::npos) << out;
  EXPECT_NE(out.find("解析文件 " + root + "pipe.bas 时出错: Not a regular file: '" + root
                     + "pipe.bas'\n"),
            std::string::npos)
      << out;

  const auto order = keys_of(parser.files);
  ASSERT_EQ(order.size(), 7u);
  std::vector<std::string> top(order.begin(), order.begin() + 3);
  std::sort(top.begin(), top.end());
  EXPECT_EQ(top, (std::vector<std::string>{root + ".bas", root + "MAIN.BAS", root + "zz_top.bas"}));
  const auto at = [&](const std::string& p) {
    return std::find(order.begin(), order.end(), root + p) - order.begin();
  };
  EXPECT_EQ(at("a/deep/d.bas"), at("a/a.bas") + 1);
  EXPECT_LT(at("x.bas/inner.bas"), 7);
  EXPECT_LT(at("b/b.bas"), 7);
}

TEST_F(VBAParserFiles, MissingFolderCountsNothing)
{
  VBAParser parser;
  const std::string out = captured([&] { parser.parse_files(m_dir + "/missing"); });
  EXPECT_EQ(out, "找到 0 个 .bas 文件\n正在收集变量引用信息...\n收集到 0 个变量的引用信息\n"
                 "解析完成：0 个全局变量，0 个函数\n");
}

TEST_F(VBAParserFiles, DecodingDropsInvalidBytesAndUnifiesLineEnds)
{
  write("m.bas", "\xEF\xBB\xBF"
                 "Dim a As Long\r\nx\xFF\xE4\xB8"
                 "A = 1\rDim b As Long\n\nDim c As Long");
  VBAParser parser;
  const std::string out = parse(parser);
  EXPECT_NE(out.find("\n文件 " + m_dir + "/m.bas 不是有效的 UTF-8: 已忽略无效字节，重构不会修改此文件\n"),
            std::string::npos)
      << out;
  const SourceLines& lines = parser.files.begin()->second;
  EXPECT_EQ(lines, (SourceLines{"\xEF\xBB\xBF"
                                "Dim a As Long\n",
                                "xA = 1\n", "Dim b As Long\n", "\n", "Dim c As Long"}));
  // The byte-order mark hides the first declaration.
  const VariableList& declared = parser.module_variables.begin()->second;
  ASSERT_EQ(declared.size(), 2u);
  EXPECT_EQ(declared[0].name, "b");
  EXPECT_EQ(declared[1].line_number, 5);
}

// Dropping the bytes of UTF-16 text would leave NUL characters between its letters: such a file
// is named with the reason and not read.
TEST_F(VBAParserFiles, Utf16FilesAreNamedAndNotRead)
{
  write("le.bas", std::string("\xFF\xFE" "D\0i\0m\0 \0x\0", 12));
  write("be.bas", std::string("\xFE\xFF" "\0D\0i\0m\0 \0x", 12));
  VBAParser parser;
  const std::string out = parse(parser);
  for (const auto& [name, mark] : {std::pair("le.bas", "FF FE"), std::pair("be.bas", "FE FF")}) {
    EXPECT_NE(out.find("解析文件 " + m_dir + "/" + name + " 时出错: UTF-16 text (byte-order mark "
                       + mark + ") is not read: save the module as UTF-8\n"),
              std::string::npos)
        << out;
  }
  EXPECT_TRUE(parser.files.empty());
}

TEST_F(VBAParserFiles, LineWalkOpensAndClosesProcedures)
{
  std::string text;
  for (int n = 1; n <= 20; ++n) {
    const char* line = n == 3    ? "Sub A()"
                       : n == 5  ? "  end sub"
                       : n == 6  ? "  End Property"
                       : n == 9  ? "    End Sub ' done"
                       : n == 11 ? "Dim x As Long"
                       : n == 12 ? "Private Type type_T"
                       : n == 13 ? "Sub B()"
                       : n == 14 ? "  Public Type type_Inner"
                       : n == 15 ? "  Dim y As Long"
                       : n == 20 ? "' last line"
                                 : "";
    text += std::string(line) + "\n";
  }
  text.pop_back();
  write("w.bas", text);
  write("types.bas", "public type type_Low\nEnd Type\ntype type_Bare\nEnum enum_Ok\nEnd Enum\n"
                     "Private\tEnum enum_Tab\nEnd Enum\n");
  write("two.bas",
        "Sub Init()\nDim a As Long\nSub Other()\nSub Init()\nEnd Functions\nDim b As Long\n");

  VBAParser parser;
  const std::string out = parse(parser);
  EXPECT_NE(out.find("解析完成：0 个全局变量，4 个函数\n"), std::string::npos);
  const std::string w = m_dir + "/w.bas:";
  const std::string two = m_dir + "/two.bas:";
  EXPECT_EQ(parser.functions.at(w + "A").end_line, 9);
  EXPECT_EQ(parser.functions.at(w + "B").end_line, 20);
  const auto closed = keys_of(parser.functions);
  EXPECT_LT(std::find(closed.begin(), closed.end(), w + "A"),
            std::find(closed.begin(), closed.end(), w + "B"));
  EXPECT_EQ(parser.module_variables.at(m_dir + "/w.bas").at(0).name, "x");
  EXPECT_EQ(parser.local_variables.at(w + "B").at(0).name, "y");
  EXPECT_TRUE(parser.types.contains(w + "type_T"));
  EXPECT_FALSE(parser.types.contains(w + "type_Inner")); // inside B: a declaration line
  // The header patterns ignore case; the bare "Type " prefix does not, and such a line is no
  // declaration either.
  const std::string types = m_dir + "/types.bas";
  EXPECT_EQ(parser.types.at(types + ":type_Low").scope, "public");
  EXPECT_FALSE(parser.types.contains(types + ":type_Bare"));
  EXPECT_FALSE(parser.module_variables.contains(types));
  EXPECT_EQ(parser.enums.at(types + ":enum_Ok").line_number, 4);
  EXPECT_EQ(parser.enums.at(types + ":enum_Tab").scope, "private");

  // Same-named procedures share one entry (the later record, the earlier place) and one list.
  const FunctionInfo& init = parser.functions.at(two + "Init");
  EXPECT_EQ(init.start_line, 4);
  EXPECT_EQ(init.end_line, 5);
  EXPECT_EQ(parser.functions.at(two + "Other").end_line, 3);
  const auto keys = keys_of(parser.functions);
  EXPECT_EQ(std::find(keys.begin(), keys.end(), two + "Init") + 1,
            std::find(keys.begin(), keys.end(), two + "Other"));
  EXPECT_EQ(parser.local_variables.at(two + "Init").at(0).name, "a");
  EXPECT_EQ(parser.module_variables.at(m_dir + "/two.bas").at(0).name, "b");
}

TEST_F(VBAParserFiles, SecondParseAddsToEverything)
{
  write("m.bas", "Public g_Count_lng As Long\nSub Run_VBT(x As Long)\ng_Count_lng = 1\nEnd Sub\n");
  VBAParser parser;
  parse(parser);
  parse(parser);
  EXPECT_EQ(parser.files.size(), 1u);
  EXPECT_EQ(parser.global_variables.size(), 2u);
  EXPECT_EQ(parser.functions.size(), 1u);
  EXPECT_EQ(parser.get_variable_references("g_Count_lng").size(), 2u);
  EXPECT_EQ(parser.functions.begin()->second.issues.size(), 1u); // a fresh record
}

} // namespace
} // namespace tarnwick::brimsel
