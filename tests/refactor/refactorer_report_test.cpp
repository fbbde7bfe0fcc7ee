#include "tarnwick/xlsx/writer.hpp"

#include "refactorer_test_util.hpp"

namespace tarnwick::brimsel::testing {
namespace {

using ReportReadBackTest = RefactorTest;

// Lines of `text` without their LF.
std::vector<std::string> lines_of(const std::string& text)
{
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

// Saves a workbook the way a spreadsheet program does after a person's edit: `script` is Python
// that fills the openpyxl workbook `wb` (its default sheet already removed), `P` is the source
// path; byte pairs added to PATCH are replaced in the saved parts (values openpyxl can't write).
void save_edited_report(const std::string& report, const std::string& source,
                        const std::string& script)
{
  const std::string program =
      "import openpyxl, sys\n"
      "wb = openpyxl.Workbook()\n"
      "wb.remove(wb.active)\n"
      "P = sys.argv[2]\n"
      "PATCH = []\n"
      + script
      + "wb.save(sys.argv[1])\n"
        "import zipfile\n"
        "with zipfile.ZipFile(sys.argv[1]) as z:\n"
        "    parts = [(i, z.read(i)) for i in z.infolist()]\n"
        "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
        "    for info, data in parts:\n"
        "        for old, new in PATCH:\n"
        "            data = data.replace(old, new)\n"
        "        z.writestr(info, data)\n";
  const std::string program_path = report + ".py";
  std::ofstream(program_path) << program;
  const std::string command =
      "/usr/bin/python3 '" + program_path + "' '" + report + "' '" + source + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << program;
}

TEST_F(ReportReadBackTest, AppliesOnlyRowsConfirmedByTrueOrOne)
{
  const std::string source = write("src/a.bas", "Public cnt As Long\r\n"
                                                "Public tot As Long\r\n"
                                                "Public foo As Long\r\n"
                                                "Sub Work()\r\n"
                                                "    Dim loc As Long\r\n"
                                                "    loc = cnt + tot + foo\r\n"
                                                "End Sub\r\n");
  const std::string report = path("report.xlsx");
  save_edited_report(report, source, R"(
g = wb.create_sheet("Global Variables")
g.append(["变量名", "建议名称", "是否应用", "文件路径", "行号", "Apply"])
g.append(["cnt", "g_Cnt", True, P, 1, False])
g.append(["tot", "g_Tot", 1, P, 2.9, None])
g.append(["foo", "g_Foo", "TRUE", P, 3, True])
g.append(["foo", "g_Foo", False, P, 3, True])
g.append(["foo", None, True, P, 3])
g.append(["foo", "1foo", True, P, 3])
g.append(["Property Get Value", "g_PropertyGetValue_alng", True, P, 3])
g.append([" ", "g_X", True, P, 3])
g.append(["foo", "g_Foo", True, P, 4242.5])
PATCH.append((b"<v>4242.5</v>", b"<v>inf</v>"))
g.append(["foo", "g_Foo", True, P, 3])
l = wb.create_sheet("Local Variables")
l.append(["应用", "变量名", "建议名称", "文件路径", "行号", "所在函数"])
l.append([1, "loc", "i_Loc", P, "5", "Work"])
l.append([True, "loc", "i_Loc", P, 1e20, "Work"])
l.append([True, "loc", "i_Loc", P, 5, "Work"])
)");
  VBAParser parser;
  parse(parser, path("src"));
  VBTRefactorer refactorer(parser, fixed_clock());
  ApplyResult applied;
  const std::vector<std::string> out =
      lines_of(captured([&] { applied = refactorer.apply_changes_from_excel(report); }));

  ASSERT_EQ(applied, (ApplyResult{1, 0, 0}));
  ASSERT_EQ(out.size(), 14U);
  EXPECT_EQ(out[0], "正在读取Excel报告: " + report);
  // Each refused row is named by its sheet and row; the rows after it are read.
  EXPECT_EQ(out[1], "跳过无效的重命名: 'foo' -> '1foo' (Global Variables 第 7 行, " + source + ")");
  EXPECT_EQ(out[2], "跳过无效的重命名: 'Property Get Value' -> 'g_PropertyGetValue_alng' "
                    "(Global Variables 第 8 行, "
                        + source + ")");
  EXPECT_EQ(out[3], "跳过无效的重命名: ' ' -> 'g_X' (Global Variables 第 9 行, " + source + ")");
  EXPECT_EQ(out[4], "读取全局变量工作表失败: 第 10 行的行号不是有限的数: inf");
  EXPECT_TRUE(out[5].starts_with("读取模块变量工作表失败: ")) << out[5];
  EXPECT_TRUE(out[6].starts_with("读取局部变量工作表失败: 第 3 行的行号超出范围: ")) << out[6];
  EXPECT_EQ(out[7], "从Excel中读取到 3 个确认的修改:");
  EXPECT_EQ(out[8], "  - 全局变量: cnt -> g_Cnt");
  EXPECT_EQ(out[9], "  - 全局变量: tot -> g_Tot");
  EXPECT_EQ(out[10], "  - 局部变量: loc -> i_Loc");
  EXPECT_EQ(out[12], "已修改文件: " + source);
  EXPECT_EQ(out[13], "  - 更新了 3 个变量名的所有引用");

  EXPECT_EQ(read(source), "Public g_Cnt As Long\r\n"
                          "Public g_Tot As Long\r\n"
                          "Public foo As Long\r\n"
                          "Sub Work()\r\n"
                          "    Dim i_Loc As Long\r\n"
                          "    i_Loc = g_Cnt + g_Tot + foo\r\n"
                          "End Sub\r\n");
  const std::vector<RenameChange>& globals = refactorer.changes_of("global_variable");
  ASSERT_EQ(globals.size(), 2U);
  EXPECT_EQ(globals[1], (RenameChange{source, 2, "tot", "g_Tot", "全局变量 'tot' 重命名为 'g_Tot'",
                                      globals[0].timestamp}));
  EXPECT_EQ(globals[0].timestamp.size(), 19U);
  ASSERT_EQ(refactorer.changes_of("local_variable").size(), 1U);
  EXPECT_EQ(refactorer.changes_of("local_variable")[0].description,
            "局部变量 'loc' 在函数 'Work' 中重命名为 'i_Loc'");
}

TEST_F(ReportReadBackTest, ARowThatCannotBeRenamedSafelyIsNamedBySheetAndRowAndChangesNothing)
{
  const std::string text = "Sub ReadAll()\n"
                           "    Dim Line As String, n As Long\n"
                           "    Line Input #1, Line\n"
                           "    n = n + 1\n"
                           "End Sub\n";
  const std::string source = write("src/a.bas", text);
  const std::string report = path("report.xlsx");
  save_edited_report(report, source, R"(
l = wb.create_sheet("Local Variables")
l.append(["变量名", "建议名称", "文件路径", "行号", "所在函数", "应用"])
l.append(["Line", "Line_str", P, 2, "ReadAll", True])
l.append(["n", "N_lng", P, 2, "ReadAll", True])
)");
  VBAParser parser;
  parse(parser, path("src"));
  VBTRefactorer refactorer(parser, fixed_clock());
  ApplyResult applied;
  const std::vector<std::string> out =
      lines_of(captured([&] { applied = refactorer.apply_changes_from_excel(report); }));
  ASSERT_EQ(applied, (ApplyResult{1, 0, 0}));
  ASSERT_EQ(out.size(), 10U);
  EXPECT_EQ(out[6], "跳过无法安全应用的重命名: 'Line' -> 'Line_str' (Local Variables 第 2 行, " + source
                        + "): 'Line' 在第 3 行是 VBA 语句的一部分");
  EXPECT_EQ(read(source), "Sub ReadAll()\n"
                          "    Dim Line As String, N_lng As Long\n"
                          "    Line Input #1, Line\n"
                          "    N_lng = N_lng + 1\n"
                          "End Sub\n");
  ASSERT_EQ(refactorer.applied_changes().size(), 1U);
  EXPECT_EQ(refactorer.applied_changes().at("local_variable").size(), 1U);
  EXPECT_EQ(refactorer.applied_changes().at("local_variable")[0].original_name, "n");
}

// A path that is no workbook at all is the command line's refactor test.
TEST_F(ReportReadBackTest, NothingConfirmedGivesFalse)
{
  const std::string source = write("src/a.bas", "Public cnt As Long\n");
  VBAParser parser;
  parse(parser, path("src"));

  // The dry-run report as written: no confirmation column.
  const std::string report = path("report.xlsx");
  {
    xlsx::Workbook workbook(report);
    xlsx::Worksheet& sheet = workbook.add_worksheet("Global Variables");
    sheet.write_row(0, 0, std::vector<std::string>{"变量名", "建议名称", "文件路径"});
    sheet.write_row(1, 0, std::vector<std::string>{"cnt", "g_Cnt", source});
    workbook.add_worksheet("Module Variables").write_string(0, 0, "应用");
    workbook.add_worksheet("Local Variables");
    workbook.close();
  }
  VBTRefactorer refactorer(parser);
  std::string out =
      captured([&] { EXPECT_EQ(refactorer.apply_changes_from_excel(report), ApplyResult{}); });
  EXPECT_EQ(out, "正在读取Excel报告: " + report + "\n未找到任何确认的修改\n");

  EXPECT_EQ(read(source), "Public cnt As Long\n");
  EXPECT_TRUE(refactorer.changes_made().empty());
}

TEST_F(ReportReadBackTest, ListsTenConfirmedRenamesAndCountsTheRest)
{
  VBAParser parser;
  for (const int count : {10, 11}) {
    const std::string report = path("report" + std::to_string(count) + ".xlsx");
    {
      xlsx::Workbook workbook(report);
      xlsx::Worksheet& sheet = workbook.add_worksheet("Global Variables");
      sheet.write_row(0, 0, std::vector<std::string>{"应用", "变量名", "建议名称", "文件路径"});
      for (int i = 1; i <= count; ++i) {
        const std::string n = std::to_string(i);
        sheet.write_number(static_cast<xlsx::Row>(i), 0, 1.0);
        sheet.write_row(static_cast<xlsx::Row>(i), 1,
                        std::vector<std::string>{"v" + n, "g_V" + n, "gone.bas"});
      }
      workbook.close();
    }
    VBTRefactorer refactorer(parser);
    ApplyResult applied;
    const std::vector<std::string> out =
        lines_of(captured([&] { applied = refactorer.apply_changes_from_excel(report); }));
    std::vector<std::string> expected{"正在读取Excel报告: " + report,
                                      "读取模块变量工作表失败: ", "读取局部变量工作表失败: ",
                                      "从Excel中读取到 " + std::to_string(count) + " 个确认的修改:"};
    for (int i = 1; i <= 10; ++i) {
      expected.push_back("  - 全局变量: v" + std::to_string(i) + " -> g_V" + std::to_string(i));
    }
    if (count > 10) {
      expected.push_back("  ... 以及另外 1 个修改");
    }
    // The file of the report is not one of this parse: nothing is rewritten.
    expected.push_back("跳过未解析的文件: gone.bas");
    ASSERT_EQ(out.size(), expected.size()) << count;
    for (std::size_t i = 0; i < out.size(); ++i) {
      EXPECT_TRUE(out[i].starts_with(expected[i])) << out[i];
    }
    EXPECT_EQ(applied, (ApplyResult{0, 0, 1}));
    EXPECT_EQ(refactorer.changes_of("global_variable").size(), static_cast<std::size_t>(count));
  }
}

TEST(RefactorAllIssues, RecordsEachSuggestionThatDiffersFromItsName)
{
  VBAParser parser;
  const auto variable = [](const std::string& name, std::optional<std::string> correct_name,
                           VariableScope scope, const std::string& file) {
    VariableInfo record{name, name, scope, VariableType::LONG, false, file, 3};
    record.correct_name = std::move(correct_name);
    return record;
  };
  parser.global_variables = {variable("cnt", "g_Cnt", VariableScope::GLOBAL, "g.bas"),
                             variable("same", "same", VariableScope::GLOBAL, "g.bas"),
                             variable("none", std::nullopt, VariableScope::GLOBAL, "g.bas"),
                             variable("empty", "", VariableScope::GLOBAL, "g.bas"),
                             variable("Case", "case", VariableScope::GLOBAL, "g.bas")};
  parser.module_variables["m.bas"] = {variable("tot", "m_Tot", VariableScope::MODULE_PRIVATE, "m.bas")};
  VariableInfo local = variable("x", "i_X", VariableScope::LOCAL, "m.bas");
  local.function_name = "Work";
  parser.local_variables["m.bas:Work"] = {local};
  TypeInfo type{"Point", "Point", "Type", "m.bas", 7};
  type.correct_name = "type_Point";
  parser.types["m.bas:Point"] = type;
  TypeInfo enumeration{"Color", "Color", "Enum", "m.bas", 9};
  enumeration.correct_name = "enum_Color";
  parser.enums["m.bas:Color"] = enumeration;

  VBTRefactorer refactorer(parser, fixed_clock());
  const std::string out = captured([&] { refactorer.refactor_all_issues(); });
  // The records name files this parse did not read: recorded, but nothing is rewritten.
  EXPECT_EQ(out, "开始自动重构...\n跳过未解析的文件: g.bas\n跳过未解析的文件: m.bas\n自动重构完成！\n");

  const std::string stamp = refactorer.changes_of("global_variable").at(0).timestamp;
  EXPECT_EQ(stamp.size(), 19U);
  const auto rename = [&](const std::string& file, std::int64_t line, const std::string& from,
                          const std::string& to, const std::string& description) {
    return std::vector<RenameChange>{{file, line, from, to, description, stamp}};
  };
  ChangesMade expected;
  expected["global_variable"] = {rename("g.bas", 3, "cnt", "g_Cnt", "全局变量 'cnt' 重命名为 'g_Cnt'")[0],
                                 rename("g.bas", 3, "Case", "case", "全局变量 'Case' 重命名为 'case'")[0]};
  expected["module_variable"] = rename("m.bas", 3, "tot", "m_Tot", "模块变量 'tot' 重命名为 'm_Tot'");
  expected["local_variable"] =
      rename("m.bas", 3, "x", "i_X", "局部变量 'x' 在函数 'Work' 中重命名为 'i_X'");
  expected["type_definition"] =
      rename("m.bas", 7, "Point", "type_Point", "Type定义 'Point' 重命名为 'type_Point'");
  expected["enum_definition"] =
      rename("m.bas", 9, "Color", "enum_Color", "Enum定义 'Color' 重命名为 'enum_Color'");
  EXPECT_EQ(refactorer.changes_made(), expected);
}

} // namespace
} // namespace tarnwick::brimsel::testing
