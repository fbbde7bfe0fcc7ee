#include "parser_test_util.hpp"

namespace tarnwick::brimsel {
namespace {

std::size_t total(const text::OrderedMap<std::string, VariableList>& map)
{
  std::size_t n = 0;
  for (const auto& [key, list] : map) {
    n += list.size();
  }
  return n;
}

// A test program's VBT folder: four modules (one CR LF, one CR LF with code-page comment bytes
// and no final line end, in a subfolder), a class module and a text file that are not read.
TEST(VBAParserModuleTree, CountsOfARealLookingProject)
{
  const std::string root = std::string(TARNWICK_TEST_DATA_DIR) + "/brimsel/vbt_project";
  VBAParser parser;
  const std::string out = testing::captured([&] { parser.parse_files(root); });
  EXPECT_EQ(out, "找到 4 个 .bas 文件\n文件 " + root
                     + "/Legacy/OldHelpers.bas 不是有效的 UTF-8: 已忽略无效字节，重构不会修改此文件\n"
                       "正在收集变量引用信息...\n收集到 16 个变量的引用信息\n"
                       "解析完成：6 个全局变量，8 个函数\n");

  const AllIssues issues = parser.get_all_variable_issues();
  std::size_t references = 0;
  for (const auto& [name, list] : parser.variable_references) {
    references += list.size();
  }
  std::size_t parameter_issues = 0;
  for (const auto& [key, function] : parser.functions) {
    parameter_issues += function.issues.size();
  }
  std::cout << "files " << parser.files.size() << ", globals " << parser.global_variables.size()
            << " (" << issues.global_variables.size() << " with issues), module "
            << total(parser.module_variables) << " (" << issues.module_variables.size()
            << "), local " << total(parser.local_variables) << " (" << issues.local_variables.size()
            << "), functions " << parser.functions.size() << " (" << parameter_issues
            << " parameter issues), types " << parser.types.size() << " ("
            << issues.type_definitions.size() << "), enums " << parser.enums.size() << " ("
            << issues.enum_definitions.size() << "), references " << references << "\n";

  EXPECT_EQ(parser.files.size(), 4u);
  EXPECT_EQ(issues.global_variables.size(), 3u);
  EXPECT_EQ(total(parser.module_variables), 4u);
  EXPECT_EQ(issues.module_variables.size(), 3u);
  EXPECT_EQ(total(parser.local_variables), 14u);
  EXPECT_EQ(issues.local_variables.size(), 8u);
  EXPECT_EQ(parameter_issues, 7u);
  EXPECT_EQ(parser.types.size(), 2u);
  EXPECT_EQ(issues.type_definitions.size(), 1u);
  EXPECT_EQ(parser.enums.size(), 2u);
  EXPECT_EQ(issues.enum_definitions.size(), 1u);
  EXPECT_EQ(references, 30u);

  const std::string main = root + "/VBT_Main.bas";
  const std::string old = root + "/Legacy/OldHelpers.bas";
  EXPECT_EQ(parser.files.at(main)[3], "Private m_LastResult As type_MeasResult\n");
  EXPECT_EQ(parser.files.at(old)[1], "' Gre des Puffers\n");
  EXPECT_EQ(parser.files.at(old).back(), "    tmp_str = \"x\"");
  EXPECT_EQ(parser.functions.at(old + ":Unfinished").end_line, 9);
}

} // namespace
} // namespace tarnwick::brimsel
