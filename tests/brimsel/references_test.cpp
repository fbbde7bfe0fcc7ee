#include "parser_test_util.hpp"

namespace tarnwick::brimsel {
namespace {

class VBAParserReferences : public testing::TempDirTest
{};

// "line[@function]" of every reference of `name`.
std::vector<std::string> where(const VBAParser& parser, const std::string& name)
{
  std::vector<std::string> out;
  for (const VariableReference& r : parser.get_variable_references(name)) {
    EXPECT_EQ(r.var_name, name);
    out.push_back(std::to_string(r.line_number) + (r.function_name ? "@" + *r.function_name : ""));
  }
  return out;
}

TEST_F(VBAParserReferences, WordsCaseKeywordsProceduresCommentsAndStrings)
{
  write("a.bas", "Dim total As Long\n"                // 1: declaration, not scanned
                 "Dim Error As Long, error As Long\n" // 2
                 "Dim Work As Long, x1 As Long, x As Long, 计数 As Long\n"
                 "Sub Work(total As Long)\n" // 4: header, not scanned
                 "    total = total + 1\n"   // 5: two references
                 "    Total = 1: Work\n"     // 6: other case, procedure name
                 "    ' total is reset\n"    // 7: comments count
                 "    s = \"total\" & 计total & total计 & total_2\n" // 8: string counts
                 "    On Error GoTo 0: error = 1\n" // 9: keyword Error, variable error
                 "    y = 1x + x1 + 计数\n"         // 10
                 "End Sub\n"
                 "total = 2\n"); // 12: outside any procedure
  write("sub/b.bas", "Sub Other()\nx = x\nEnd Sub\n");
  VBAParser parser;
  const std::string out = parse(parser);
  EXPECT_NE(out.find("正在收集变量引用信息...\n收集到 4 个变量的引用信息\n解析完成："),
            std::string::npos)
      << out;

  EXPECT_EQ(where(parser, "total"),
            (std::vector<std::string>{"5@Work", "5@Work", "7@Work", "8@Work", "12"}));
  EXPECT_EQ(where(parser, "error"), (std::vector<std::string>{"9@Work"}));
  EXPECT_EQ(where(parser, "x1"), (std::vector<std::string>{"10@Work"}));
  EXPECT_EQ(where(parser, "x"), (std::vector<std::string>{"2@Other", "2@Other"}));
  for (const char* never : {"Error", "Work", "计数", "Total"}) {
    EXPECT_TRUE(parser.get_variable_references(never).empty()) << never;
  }
  // Map order is the order of first references.
  std::vector<std::string> keys;
  for (const auto& [key, refs] : parser.variable_references) {
    keys.push_back(key);
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"total", "error", "x1", "x"}));
  const VariableReference& first = parser.get_variable_references("total").front();
  EXPECT_EQ(first.context, "total = total + 1");
  EXPECT_EQ(first.file_path, m_dir + "/a.bas");
  EXPECT_EQ(VBAParser::vba_keywords.size(), 44u);
}

TEST_F(VBAParserReferences, TypeAndEnumLinesCountOncePerName)
{
  write("a.bas", "Public Type type_Point\n"
                 "    x As Long\n"
                 "End Type\n"
                 "Public Type Point\n"
                 "End Type\n"
                 "Public Enum Shared\n"
                 "End Enum\n"
                 "Dim a As type_Point, b As type_Point\n" // 1 for type_Point
                 "' uses type_Point and Point\n"          // 1 each
                 "Dim c As type_Point2\n"                 // none
                 "  type type_Point\n"                    // header form: none
                 "Dim 点 As 点Point, p As Point\n");      // Point once
  write("sub/b.bas", "Private Type Point\nEnd Type\nPrivate Type Shared\nEnd Type\n"
                     "Sub S()\nDim q As Point, s As Shared\nEnd Sub\n");
  VBAParser parser;
  parse(parser);
  const std::string a = m_dir + "/a.bas";
  const std::string b = m_dir + "/sub/b.bas";
  const TypeInfo& type_point = parser.types.at(a + ":type_Point");
  EXPECT_EQ(type_point.reference_count, 2);
  EXPECT_EQ(type_point.referenced_files, (std::set<std::string>{a}));
  // Of two blocks named Point the later in the tables takes every count.
  EXPECT_EQ(parser.types.at(a + ":Point").reference_count, 0);
  EXPECT_TRUE(parser.types.at(a + ":Point").referenced_files.empty());
  EXPECT_EQ(parser.types.at(b + ":Point").reference_count, 3);
  EXPECT_EQ(parser.types.at(b + ":Point").referenced_files, (std::set<std::string>{a, b}));
  // An Enum beats a Type of the same name.
  EXPECT_EQ(parser.enums.at(a + ":Shared").reference_count, 1);
  EXPECT_EQ(parser.types.at(b + ":Shared").reference_count, 0);
}

TEST_F(VBAParserReferences, AllIssuesHoldsTheParsersOwnRecordsInTableOrder)
{
  VBAParser empty;
  const AllIssues none = empty.get_all_variable_issues();
  EXPECT_TRUE(none.global_variables.empty() && none.module_variables.empty()
              && none.local_variables.empty() && none.type_definitions.empty()
              && none.enum_definitions.empty());

  write("m.bas", "Public g_Ok_lng As Long, bad As Long\n"
                 "Private m_Ok_lng As Long, worse As Long\n"
                 "Type type_Fine\nEnd Type\nEnum Mode\nEnd Enum\n"
                 "Sub Run()\nDim i As Long, y As Long\nEnd Sub\n");
  VBAParser parser;
  parse(parser);
  const AllIssues issues = parser.get_all_variable_issues();
  ASSERT_EQ(issues.global_variables.size(), 1u);
  EXPECT_EQ(issues.global_variables[0], &parser.global_variables[1]);
  ASSERT_EQ(issues.module_variables.size(), 1u);
  EXPECT_EQ(issues.module_variables[0], &parser.module_variables.begin()->second[1]);
  ASSERT_EQ(issues.local_variables.size(), 1u);
  EXPECT_EQ(issues.local_variables[0]->name, "y");
  EXPECT_TRUE(issues.type_definitions.empty());
  ASSERT_EQ(issues.enum_definitions.size(), 1u);
  EXPECT_EQ(issues.enum_definitions[0], &parser.enums.begin()->second);

  // The records stay where they are while the parser grows.
  const VariableInfo* kept = issues.global_variables[0];
  parse(parser);
  EXPECT_EQ(kept, &parser.global_variables[1]);
  EXPECT_EQ(parser.get_all_variable_issues().global_variables.size(), 2u);
}

} // namespace
} // namespace tarnwick::brimsel
