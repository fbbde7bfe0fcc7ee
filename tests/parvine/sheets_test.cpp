#include <gtest/gtest.h>

#include "tarnwick/brimsel/parvine/parvine.hpp"

namespace tarnwick::parvine {
namespace {

using namespace brimsel;
using Row = std::vector<Value>;

Value t(const std::string& text)
{
  return text;
}

Value n(std::int64_t number)
{
  return number;
}

VariableInfo variable(const std::string& name, VariableScope scope,
                      std::optional<std::string> function_name = std::nullopt)
{
  VariableInfo record{name, name, scope, VariableType::LONG, false, "src/a.bas", 4};
  record.function_name = std::move(function_name);
  record.correct_name = "i_Total_lng";
  record.issue_description = "缺少前缀";
  return record;
}

FunctionInfo function(const std::string& name, int start_line, int end_line,
                      std::vector<std::string> issues = {})
{
  return FunctionInfo{name, name, FunctionType::VBT, "src/f.bas", start_line, end_line, {},
                      std::move(issues)};
}

TEST(WidthFitting, CodePointsOfTheLongestCellPlusTwoUpToFifty)
{
  const Table table{{"涉及文件数", "行号", "问题描述", "所在函数", "x"},
                    {{n(1), n(120), t(std::string(70, 'a')), t(""), t(std::string(47, 'b'))},
                     {n(-3), n(7), t("a\xff" "b"), t(""), t(std::string(48, 'c'))}}};
  // Header lengths win over single digits and empty cells; 70 and 48 characters give 50.
  EXPECT_EQ(fitted_widths(table), (std::vector<double>{7, 5, 50, 6, 50}));
  // A byte that is no UTF-8 shows as one replacement character; a sign counts.
  EXPECT_EQ(cell_length(t("a\xff" "b")), 3U);
  EXPECT_EQ(cell_length(n(-3)), 2U);
}

TEST(VariableIssueRows, CellTextsAndReferenceCounts)
{
  References references;
  const auto ref = [](const char* file, std::optional<std::string> function_name) {
    return VariableReference{"total", file, 1, std::move(function_name), ""};
  };
  references["total"] = {ref("a.bas", "P"), ref("a.bas", "P"), ref("b.bas", "Q"),
                         ref("b.bas", std::nullopt)};
  references["Total"] = {ref("c.bas", "P")};

  VariableInfo module = variable("total", VariableScope::MODULE_PRIVATE);
  module.correct_name.reset();
  VariableInfo wave = variable("wave", VariableScope::GLOBAL);
  wave.var_type = VariableType::DSPWAVE;
  wave.is_array = wave.is_const = true;
  const VariableInfo local = variable("total", VariableScope::LOCAL, "P");
  const VariableInfo unnamed_procedure = variable("total", VariableScope::LOCAL, "");
  VariableInfo renamed = variable("other", VariableScope::GLOBAL);
  renamed.original_name = "total";

  const Table table =
    variable_issue_rows({&module, &wave, &local, &unnamed_procedure, &renamed}, references);
  EXPECT_EQ(table.headers, (std::vector<std::string>{"变量名", "建议名称", "问题描述", "作用域",
                                                     "类型", "是否数组", "文件路径", "行号",
                                                     "所在函数", "引用次数", "涉及文件数",
                                                     "是否常量"}));
  // No suggestion and no procedure give empty cells; the scope keeps its raw text.
  EXPECT_EQ(table.rows[0], (Row{t("total"), t(""), t("缺少前缀"), t("module_private"), t("Long"),
                                t("否"), t("src/a.bas"), n(4), t(""), n(4), n(2), t("否")}));
  EXPECT_EQ((Row{table.rows[1][0], table.rows[1][4], table.rows[1][5], table.rows[1][11]}),
            (Row{t("wave"), t("DspWave"), t("是"), t("是")}));
  const auto counts = [&](std::size_t row) { return Row{table.rows[row][9], table.rows[row][10]}; };
  // A local of a named procedure counts only the references inside it; files count them all.
  EXPECT_EQ(counts(2), (Row{n(2), n(2)}));
  EXPECT_EQ(counts(3), (Row{n(4), n(2)}));
  // Looked up under the original name, exact case.
  EXPECT_EQ(counts(4), (Row{n(4), n(2)}));

  const VariableInfo unreferenced = variable("count", VariableScope::GLOBAL);
  EXPECT_EQ(variable_issue_rows({&unreferenced}, references).rows[0][9], n(0));
  EXPECT_FALSE(references.contains("count"));
  EXPECT_TRUE(variable_issue_rows({}, references).rows.empty());
}

TEST(VariableIssueRows, SameNamedLocalsCountedOncePerName)
{
  // "tmp" declared in 200 procedures spread over 3 files, three uses in each, a few more
  // outside any procedure; one local of an unnamed procedure and one global of the same name.
  References references;
  std::vector<VariableInfo> records;
  constexpr int k_procedures = 200;
  for (int p = 0; p < k_procedures; ++p) {
    const std::string file = "m" + std::to_string(p % 3) + ".bas";
    const std::string procedure = "P" + std::to_string(p);
    for (int use = 0; use < 3; ++use) {
      references["tmp"].push_back({"tmp", file, use, procedure, ""});
    }
    records.push_back(variable("tmp", VariableScope::LOCAL, procedure));
    records.back().file_path = file;
  }
  references["tmp"].push_back({"tmp", "m9.bas", 1, std::nullopt, ""});
  references["tmp"].push_back({"tmp", "m0.bas", 2, "Elsewhere", ""});
  records.push_back(variable("tmp", VariableScope::LOCAL, ""));
  records.push_back(variable("tmp", VariableScope::GLOBAL));
  records.push_back(variable("tmp", VariableScope::LOCAL, "NoUse"));
  records.push_back(variable("cnt", VariableScope::LOCAL, "P1"));
  references["cnt"] = {{"cnt", "m1.bas", 1, "P1", ""}, {"cnt", "m2.bas", 1, "P2", ""}};

  std::vector<const VariableInfo*> variables;
  for (const VariableInfo& record : records) {
    variables.push_back(&record);
  }
  ReferenceCounts counts(references);
  const Table table = variable_issue_rows(variables, counts);
  ASSERT_EQ(table.rows.size(), records.size());
  for (int p = 0; p < k_procedures; ++p) {
    EXPECT_EQ((Row{table.rows[p][9], table.rows[p][10]}), (Row{n(3), n(4)})) << p;
  }
  const std::size_t total = references["tmp"].size();
  const auto counts_of = [&](std::size_t row) { return Row{table.rows[row][9], table.rows[row][10]}; };
  EXPECT_EQ(counts_of(k_procedures), (Row{n(static_cast<std::int64_t>(total)), n(4)}));
  EXPECT_EQ(counts_of(k_procedures + 1), (Row{n(static_cast<std::int64_t>(total)), n(4)}));
  EXPECT_EQ(counts_of(k_procedures + 2), (Row{n(0), n(4)}));
  EXPECT_EQ(counts_of(k_procedures + 3), (Row{n(1), n(2)}));
  // Each reference was looked at once, however many records share its name.
  EXPECT_EQ(counts.entries_walked(), total + 2);
  // The map is only read, and rows built without a shared counter give the same cells.
  EXPECT_FALSE(references.contains("NoUse"));
  EXPECT_EQ(variable_issue_rows(variables, references).rows, table.rows);
}

TEST(TypeIssueRows, CapitalisedScopeAndStoredCounts)
{
  TypeInfo type{"point", "point", "Type", "m.bas", 7};
  type.scope = "private";
  type.issue_description = "缺少type_前缀";
  type.reference_count = 3;
  type.referenced_files = {"m.bas", "n.bas"};
  EXPECT_EQ(type_issue_rows({&type}).rows[0],
            (Row{t("point"), t(""), t("缺少type_前缀"), t("Type"), t("Private"), n(3), n(2),
                 t("m.bas"), n(7)}));
  EXPECT_TRUE(type_issue_rows({}).rows.empty());
}

TEST(FunctionIssueRows, NameSuggestionAndDescriptionFromIssueTexts)
{
  Functions functions;
  functions["f.bas:Work_VBT"] =
    function("Work_VBT", 12, 20,
             {"参数 'argCount': 应使用PascalCase (建议改为: 'ArgCount')", "参数 'x': 过短",
              "参数名不合规", "参数 'y': 空建议 (建议改为: '')", "参数 'z': 全角 建议改为：'Z'",
              "函数过长"});
  functions["f.bas:Plain"] = function("Plain", 30, 40, {"函数过长"});

  const Table table = function_issue_rows(functions);
  ASSERT_EQ(table.rows.size(), 5U);
  EXPECT_EQ(table.rows[0], (Row{t("argCount"), t("ArgCount"), t("参数 'argCount': 应使用PascalCase"),
                                t("Work_VBT"), t("VBT"), t("函数参数"), t("src/f.bas"), n(12),
                                t("Work_VBT")}));
  const auto taken = [&](std::size_t row) {
    return Row{table.rows[row][0], table.rows[row][1], table.rows[row][2]};
  };
  EXPECT_EQ(taken(1), (Row{t("x"), t(""), t("参数 'x': 过短")}));
  EXPECT_EQ(taken(2), (Row{t("Unknown"), t(""), t("参数名不合规")}));
  EXPECT_EQ(taken(3), (Row{t("y"), t(""), t("参数 'y': 空建议")}));
  // The rule's own full-width colon introduces no suggestion.
  EXPECT_EQ(taken(4), (Row{t("z"), t(""), t("参数 'z': 全角 建议改为：'Z'")}));
  functions.erase("f.bas:Work_VBT");
  EXPECT_TRUE(function_issue_rows(functions).rows.empty());
}

TEST(SummaryRows, IssueCountsAgainstDeclaredCounts)
{
  VBAParser parser;
  parser.global_variables = {variable("a", VariableScope::GLOBAL), variable("b", VariableScope::GLOBAL)};
  parser.module_variables["x.bas"] = {variable("m", VariableScope::MODULE_PRIVATE)};
  parser.module_variables["y.bas"] = {variable("m1", VariableScope::MODULE_PRIVATE),
                                      variable("m2", VariableScope::MODULE_PRIVATE)};
  parser.local_variables["x.bas:P"] = {variable("l", VariableScope::LOCAL, "P")};
  parser.types["x.bas:T"] = TypeInfo{"T", "T", "Type", "x.bas", 1};
  parser.enums["x.bas:E"] = TypeInfo{"E", "E", "Enum", "x.bas", 5};
  parser.enums["y.bas:E"] = TypeInfo{"E", "E", "Enum", "y.bas", 5};
  AllIssues issues;
  issues.global_variables = {&parser.global_variables[0]};
  issues.module_variables = {&parser.global_variables[0], &parser.global_variables[1]};
  issues.enum_definitions = {&parser.enums["x.bas:E"]};

  EXPECT_EQ(summary_rows(issues, parser),
            (Table{{"检查项目", "发现问题数", "总数量"},
                   {{t("全局变量"), n(1), n(2)},
                    {t("模块变量"), n(2), n(3)},
                    {t("局部变量"), n(0), n(1)},
                    {t("Type定义"), n(0), n(1)},
                    {t("Enum定义"), n(1), n(2)},
                    {t("总计"), n(4), t("N/A")}}}));
}

TEST(ManualCheckRows, VariantsThenRepeatedNamesThenLongProcedures)
{
  VBAParser parser;
  const auto global = [](const std::string& name, VariableType type, int line) {
    VariableInfo record = variable(name, VariableScope::GLOBAL);
    record.var_type = type;
    record.line_number = line;
    return record;
  };
  VariableInfo constant = global("Limit", VariableType::VARIANT, 2);
  constant.is_const = true;
  parser.global_variables = {global("any", VariableType::VARIANT, 1),  constant,
                             global("site", VariableType::VARIANT, 3), global("Site", VariableType::VARIANT, 4),
                             global("gCount", VariableType::LONG, 5),  global("GCount", VariableType::LONG, 6),
                             global("any", VariableType::VARIANT, 7),  global("gCount", VariableType::LONG, 8),
                             global("gCount", VariableType::LONG, 9)};
  parser.functions["f.bas:Long"] = function("Long", 10, 70);
  parser.functions["f.bas:Sixty"] = function("Sixty", 100, 159);
  parser.functions["f.bas:Open"] = function("Open", 200, 0);

  const auto variant = [](const std::string& name, std::int64_t line) {
    return Row{t("变量类型判断"), t("src/a.bas"), n(line),
               t("变量 '" + name + "' 为Variant类型，请确认是否为正确类型"),
               t("确认变量类型，如有需要请手动更改变量声明")};
  };
  const auto conflict = [](const std::string& name, std::int64_t line) {
    return Row{t("变量名冲突"), t("src/a.bas"), n(line), t("变量名 '" + name + "' 可能与其他变量冲突"),
               t("检查是否存在命名冲突，考虑重命名")};
  };
  const Table table = manual_check_rows(parser);
  EXPECT_EQ(table.headers, (std::vector<std::string>{"检查类型", "文件路径", "行号", "问题描述", "建议操作"}));
  EXPECT_EQ(table.rows, (std::vector<Row>{variant("any", 1), variant("Site", 4), variant("any", 7),
                                          conflict("any", 7), conflict("gCount", 8),
                                          conflict("gCount", 9),
                                          {t("函数长度"), t("src/f.bas"), n(10),
                                           t("函数 'Long' 长度为 61 行，超过建议的60行"),
                                           t("考虑将函数分解为更小的函数")}}));
  EXPECT_TRUE(manual_check_rows(VBAParser{}).rows.empty());
}

// The cells of a refactor report with rows are read back in the command line's refactor test.
TEST(RefactorRows, EmptyTypesCountZeroAndNoChangesGiveTheTotalAlone)
{
  ChangesMade changes;
  changes["module_variable"] = {};
  changes["local_variable"] = {{"a.bas", 9, "x", "i_X_lng", "d", "t"}};
  EXPECT_EQ(refactor_change_rows(changes).rows.size(), 1U);
  EXPECT_EQ(refactor_summary_rows(changes).rows,
            (std::vector<Row>{{t("module_variable"), n(0)}, {t("local_variable"), n(1)},
                              {t("总计"), n(1)}}));
  EXPECT_TRUE(refactor_change_rows(ChangesMade{}).rows.empty());
  EXPECT_EQ(refactor_summary_rows(ChangesMade{}).rows, (std::vector<Row>{{t("总计"), n(0)}}));
}

} // namespace
} // namespace tarnwick::parvine
