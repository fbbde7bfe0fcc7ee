// The brimsel program end to end: a dry run, the report confirmed by a script as a person would
// edit it in a spreadsheet program, then refactor mode applying what was confirmed.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tarnwick/brimsel/cli.hpp"
#include "tarnwick/brimsel/parser.hpp"
#include "tarnwick/brimsel/refactorer.hpp"

#include "../parvine/support.hpp"
#include "refactorer_test_util.hpp"

namespace tarnwick::brimsel {
namespace {

namespace fs = std::filesystem;
using parvine::test::captured;
using parvine::test::Outcome;
using parvine::test::read_file;
using parvine::test::read_with_openpyxl;
using parvine::test::run_brimsel;
using parvine::test::shell_quoted;
using parvine::test::TempDir;
using parvine::test::write_file;

const fs::path k_data = fs::path(TARNWICK_TEST_DATA_DIR) / "refactor" / "e2e";

// Every file below `folder` by its path relative to it, with its bytes.
std::map<std::string, std::string> snapshot(const fs::path& folder)
{
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) {
      files[fs::relative(entry.path(), folder).string()] = read_file(entry.path());
    }
  }
  return files;
}

// The one file directly in `folder` whose name starts with `prefix`.
std::string only_file(const fs::path& folder, const std::string& prefix)
{
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename().string().starts_with(prefix)) {
      found.push_back(entry.path().filename().string());
    }
  }
  EXPECT_EQ(found.size(), 1U) << prefix;
  return found.empty() ? std::string() : found[0];
}

// The confirmations a person adds: a boolean TRUE, a number 1 and a boolean TRUE confirm; the
// text "TRUE", a boolean FALSE and an empty cell do not. On "Global Variables" the column is
// inserted in front of the others, elsewhere it is appended.
const std::string k_edits =
    R"({"Global Variables": {"column": 1, "rows": {"counter": true, "limit": "TRUE"}},)"
    R"( "Module Variables": {"column": null, "rows": {"total": 1, "spare": false}},)"
    R"( "Local Variables": {"column": null, "rows": {"result": true}}})";

// The module tree copied to `parent`/vbt and changed by `change_copy` when given, dry-run from
// `parent` as `folder_arg`, and its report confirmed; returns the report's path as the dry run
// printed it.
std::string prepare(const fs::path& parent, const std::string& folder_arg,
                    const std::function<void(const fs::path& copy)>& change_copy = {})
{
  fs::copy(k_data / "vbt", parent / "vbt", fs::copy_options::recursive);
  if (change_copy) {
    change_copy(parent / "vbt");
  }
  const Outcome dry_run = run_brimsel({folder_arg}, "", parent);
  EXPECT_EQ(dry_run.status, 0) << dry_run.out << dry_run.err;
  const std::string report = folder_arg + "/" + only_file(parent / "vbt", "Brimsel_Report_");
  const std::string edit = "/usr/bin/python3 " + shell_quoted(k_data / "confirm_rows.py") + " "
                           + shell_quoted(parent / report) + " " + shell_quoted(k_edits);
  EXPECT_EQ(std::system(edit.c_str()), 0);
  return report;
}

const std::string k_prompt = "\n是否继续自动重构？(y/N): ";

TEST(BrimselEndToEnd, ConfirmedRowsAreRenamedWithByteExactBackupsAndListedInTheRefactorReport)
{
  TempDir dir;
  const std::string folder = (dir.path() / "vbt").string();
  const std::string report = prepare(dir.path(), folder);
  const auto before = snapshot(folder);

  const Outcome run = run_brimsel({folder, "refactor", report}, "y\n");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.err, "");

  // Sources: declaration and references renamed where a row was confirmed, nothing else. The
  // global is renamed only in the file that declares it; Globals.bas keeps its CR LF.
  const std::string globals = folder + "/Globals.bas";
  const std::string flow = folder + "/模块/Flow.bas";
  EXPECT_EQ(read_file(globals), read_file(k_data / "expected" / "Globals.bas"));
  EXPECT_EQ(read_file(flow), read_file(k_data / "expected" / "Flow.bas"));

  // One backup per rewritten file, a byte-exact copy of the original; the refactor report;
  // nothing else new (no temporary file left behind).
  const std::string globals_backup = only_file(folder, "Globals.bas.backup_");
  const std::string flow_backup = only_file(folder + "/模块", "Flow.bas.backup_");
  const std::string refactor_report = only_file(folder, "VBT_Refactor_Report_");
  const std::regex stamped(R"(.*_\d{8}_\d{6}(\.xlsx)?)");
  for (const auto& name : {globals_backup, flow_backup, refactor_report}) {
    EXPECT_TRUE(std::regex_match(name, stamped)) << name;
  }
  auto expected = before;
  expected["Globals.bas"] = read_file(k_data / "expected" / "Globals.bas");
  expected["模块/Flow.bas"] = read_file(k_data / "expected" / "Flow.bas");
  expected[globals_backup] = before.at("Globals.bas");
  expected["模块/" + flow_backup] = before.at("模块/Flow.bas");
  auto after = snapshot(folder);
  EXPECT_EQ(after.erase(refactor_report), 1U);
  EXPECT_EQ(after, expected);

  const std::string report_path = folder + "/" + refactor_report;
  EXPECT_TRUE(run.out.starts_with("开始处理目录: " + folder + "\n模式: refactor\n")) << run.out;
  const std::vector<std::string> tail{
      "使用已有报告: " + report,
      k_prompt + "正在读取Excel报告: " + report,
      "从Excel中读取到 3 个确认的修改:",
      "  - 全局变量: counter -> g_Counter_lng",
      "  - 模块变量: total -> m_Total_lng",
      "  - 局部变量: result -> Result_dbl",
      "已备份文件: " + folder + "/" + globals_backup,
      "已修改文件: " + globals,
      "  - 更新了 1 个变量名的所有引用",
      "已备份文件: " + folder + "/模块/" + flow_backup,
      "已修改文件: " + flow,
      "  - 更新了 2 个变量名的所有引用",
      "重构应用成功！",
      "正在生成重构报告: " + report_path,
      "重构报告已生成: " + report_path,
      "✓ 重构报告已生成: " + report_path,
  };
  std::string expected_tail;
  for (const auto& line : tail) {
    expected_tail += line + "\n";
  }
  EXPECT_TRUE(run.out.ends_with(expected_tail)) << run.out;

  // The refactor report lists exactly the three confirmed renames.
  auto [order, widths, cells] = read_with_openpyxl(report_path);
  EXPECT_EQ(order, (std::vector<std::string>{"Refactor Changes", "Refactor Summary"}));
  EXPECT_TRUE(widths.empty());
  const std::regex timestamp(R"(s:\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})");
  for (const auto& ref : {"G2", "G3", "G4"}) {
    EXPECT_TRUE(std::regex_match(cells["Refactor Changes"][ref], timestamp)) << ref;
    cells["Refactor Changes"].erase(ref);
  }
  const std::map<std::string, std::string> changes{
      {"A1", "s:修改类型"}, {"B1", "s:文件路径"}, {"C1", "s:行号"}, {"D1", "s:原名称"},
      {"E1", "s:新名称"}, {"F1", "s:修改描述"}, {"G1", "s:修改时间"},
      {"A2", "s:global_variable"}, {"B2", "s:" + globals}, {"C2", "n:4"}, {"D2", "s:counter"},
      {"E2", "s:g_Counter_lng"}, {"F2", "s:全局变量 'counter' 重命名为 'g_Counter_lng'"},
      {"A3", "s:module_variable"}, {"B3", "s:" + flow}, {"C3", "n:4"}, {"D3", "s:total"},
      {"E3", "s:m_Total_lng"}, {"F3", "s:模块变量 'total' 重命名为 'm_Total_lng'"},
      {"A4", "s:local_variable"}, {"B4", "s:" + flow}, {"C4", "n:8"}, {"D4", "s:result"},
      {"E4", "s:Result_dbl"},
      {"F4", "s:局部变量 'result' 在函数 'Measure_VBT' 中重命名为 'Result_dbl'"},
  };
  EXPECT_EQ(cells["Refactor Changes"], changes);
  const std::map<std::string, std::string> summary{
      {"A1", "s:修改类型"}, {"B1", "s:修改数量"}, {"A2", "s:global_variable"}, {"B2", "n:1"},
      {"A3", "s:module_variable"}, {"B3", "n:1"}, {"A4", "s:local_variable"}, {"B4", "n:1"},
      {"A5", "s:总计"}, {"B5", "n:3"},
  };
  EXPECT_EQ(cells["Refactor Summary"], summary);
}

TEST(BrimselEndToEnd, DeclinedPromptOrNothingToApplyChangesNothing)
{
  TempDir dir;
  const std::string folder = (dir.path() / "vbt").string();
  const std::string report = prepare(dir.path(), folder);
  const auto before = snapshot(folder);
  const std::string asked = "使用已有报告: " + report + "\n" + k_prompt;

  // Only "y", white space and case aside, goes on.
  for (const std::string answer : {"n\n", "yes\n", "\n"}) {
    const Outcome cancelled = run_brimsel({folder, "refactor", report}, answer);
    EXPECT_EQ(cancelled.status, 0);
    EXPECT_TRUE(cancelled.out.ends_with(asked + "重构已取消\n")) << cancelled.out;
  }

  // End of input and a closed standard input: the error line of the report handler; nothing
  // was applied.
  for (const auto& input : {std::optional<std::string>(""), std::optional<std::string>()}) {
    const Outcome ended = run_brimsel({folder, "refactor", report}, input);
    EXPECT_EQ(ended.status, 2) << ended.err;
    EXPECT_TRUE(ended.out.ends_with(asked + "生成报告时出错: EOF when reading a line\n"))
        << ended.out;
  }

  // A folder and a text file pass as the report path, but hold no confirmed rows.
  const std::string notes = (dir.path() / "notes.txt").string();
  write_file(notes, "counter -> g_Counter_lng\n");
  for (const std::string& not_a_report : {folder, notes}) {
    const Outcome no_workbook = run_brimsel({folder, "refactor", not_a_report}, " Y \n");
    EXPECT_EQ(no_workbook.status, 2);
    EXPECT_TRUE(no_workbook.out.ends_with("未找到任何确认的修改\n重构应用失败\n"))
        << no_workbook.out;
  }

  // The report of another folder: its rows name files this parse did not read.
  const fs::path copy = dir.path() / "copy";
  fs::copy(k_data / "vbt", copy, fs::copy_options::recursive);
  const auto copy_before = snapshot(copy);
  const Outcome other = run_brimsel({copy.string(), "refactor", report}, "y\n");
  EXPECT_EQ(other.status, 2);
  EXPECT_TRUE(other.out.ends_with("跳过未解析的文件: " + folder + "/Globals.bas\n跳过未解析的文件: "
                                  + folder + "/模块/Flow.bas\n重构应用失败\n"))
      << other.out;
  EXPECT_EQ(snapshot(copy), copy_before);

  // No source rewritten, no backup, no refactor report.
  EXPECT_EQ(snapshot(folder), before);
}

// A module with a byte that is no UTF-8 is named in the dry run and refused by the refactor;
// the other files are rewritten, the run ends with the count of files not changed and status 3,
// and the refactor report lists what was changed.
TEST(BrimselEndToEnd, AFileThatCannotBeRewrittenIsCountedAndTheOthersAreReported)
{
  TempDir dir;
  const std::string folder = (dir.path() / "vbt").string();
  const std::string globals = folder + "/Globals.bas";
  const std::string report = prepare(dir.path(), folder, [](const fs::path& copy) {
    write_file(copy / "Globals.bas", read_file(copy / "Globals.bas") + "' Gr\xFC\xDF" "e\r\n");
  });
  const std::string code_page = read_file(globals);

  const Outcome run = run_brimsel({folder, "refactor", report}, "y\n");
  EXPECT_EQ(run.status, 3) << run.out << run.err;
  EXPECT_NE(run.out.find("\n文件 " + globals
                         + " 不是有效的 UTF-8: 已忽略无效字节，重构不会修改此文件\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("\n备份文件失败 " + globals + ": not valid UTF-8, the file is not "
                         "rewritten\n已备份文件: " + folder + "/模块/Flow.bas.backup_"),
            std::string::npos)
      << run.out;
  const std::string refactor_report = folder + "/" + only_file(folder, "VBT_Refactor_Report_");
  EXPECT_TRUE(run.out.ends_with("\n重构未完成: 1 个文件未能修改\n正在生成重构报告: " + refactor_report
                                + "\n重构报告已生成: " + refactor_report + "\n✓ 重构报告已生成: "
                                + refactor_report + "\n"))
      << run.out;
  EXPECT_EQ(read_file(globals), code_page);
  for (const auto& entry : fs::directory_iterator(folder)) {
    EXPECT_FALSE(entry.path().filename().string().starts_with("Globals.bas.")) << entry.path();
  }
  EXPECT_EQ(read_file(folder + "/模块/Flow.bas"), read_file(k_data / "expected" / "Flow.bas"));

  auto cells = read_with_openpyxl(refactor_report).cells;
  EXPECT_EQ(cells["Refactor Changes"]["D2"], "s:total");
  EXPECT_EQ(cells["Refactor Changes"]["D3"], "s:result");
  EXPECT_EQ(cells["Refactor Summary"]["A4"], "s:总计");
  EXPECT_EQ(cells["Refactor Summary"]["B4"], "n:2");
}

TEST(BrimselEndToEnd, ReportOfTheDotSlashFolderAppliesToThePlainFolder)
{
  TempDir dir;
  const std::string report = prepare(dir.path(), "./vbt");
  const Outcome run = run_brimsel({"vbt", "refactor", report}, " Y \n", dir.path());
  ASSERT_EQ(run.status, 0) << run.out << run.err;

  // The report's "./vbt/..." paths name the files this parse read as "vbt/...".
  EXPECT_EQ(run.out.find("跳过未解析的文件"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\n已修改文件: vbt/Globals.bas\n  - 更新了 1 个变量名的所有引用\n"
                         "已备份文件: vbt/模块/Flow.bas.backup_"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("\n重构应用成功！\n正在生成重构报告: vbt/VBT_Refactor_Report_"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(read_file(dir.path() / "vbt" / "Globals.bas"),
            read_file(k_data / "expected" / "Globals.bas"));
  EXPECT_EQ(read_file(dir.path() / "vbt" / "模块" / "Flow.bas"),
            read_file(k_data / "expected" / "Flow.bas"));

  // The refactor report keeps the paths as the report gave them.
  auto cells = read_with_openpyxl(
      dir.path() / "vbt" / only_file(dir.path() / "vbt", "VBT_Refactor_Report_")).cells;
  EXPECT_EQ(cells["Refactor Changes"]["B2"], "s:./vbt/Globals.bas");
  EXPECT_EQ(cells["Refactor Changes"]["B4"], "s:./vbt/模块/Flow.bas");
  EXPECT_EQ(cells["Refactor Summary"]["B5"], "n:3");
}

// The disk fills up once the sources are rewritten (at 2 KB a file, in this process): the
// refactor report cannot be written. Sources and backups stay, the run says so, status 3.
TEST(BrimselEndToEnd, RefactorReportThatCannotBeWrittenEndsWithStatusThree)
{
  TempDir dir;
  const std::string folder = (dir.path() / "vbt").string();
  const std::string report = prepare(dir.path(), folder);

  std::istringstream answer("y\n");
  std::streambuf* const old_in = std::cin.rdbuf(answer.rdbuf());
  int status = -1;
  const std::string out = captured([&] {
    const brimsel::testing::FileSizeLimit full_disk(2048);
    status = run_command_line({folder, "refactor", report});
  });
  std::cin.rdbuf(old_in);

  EXPECT_EQ(status, 3);
  EXPECT_NE(out.find("\n重构应用成功！\n正在生成重构报告: " + folder + "/VBT_Refactor_Report_"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\n生成报告时出错: "), std::string::npos) << out;
  EXPECT_EQ(out.find("✓ 重构报告已生成"), std::string::npos) << out;
  EXPECT_EQ(read_file(folder + "/Globals.bas"), read_file(k_data / "expected" / "Globals.bas"));
  EXPECT_EQ(read_file(folder + "/模块/Flow.bas"), read_file(k_data / "expected" / "Flow.bas"));
  // The two sources, their backups and the dry-run report; no partial refactor report.
  std::vector<std::string> names;
  for (const auto& [name, bytes] : snapshot(folder)) {
    names.push_back(name.substr(0, name.find("_2")));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Brimsel_Report", "Globals.bas", "Globals.bas.backup",
                                             "模块/Flow.bas", "模块/Flow.bas.backup"}));
}

// Property procedures and API declarations, as real modules have them: the declaration rules
// list each header as a variable named by its text, with a suggestion that is no rename.
const std::string k_property_module =
    "Attribute VB_Name = \"Counter\"\n"
    "Private Declare Function GetTick Lib \"kernel32\" (ByVal s As String) As Long\n"
    "Public Declare PtrSafe Function FindWin Lib \"user32\" (ByVal s As String, ByVal t As String) "
    "As LongPtr\n"
    "Private count As Long\n"
    "Public Property Get Value() As Long\n"
    "    Value = count\n"
    "End Property\n"
    "Public Property Get Item(ByVal i As Integer) As Long\n"
    "    Item = count + i\n"
    "End Property\n";

// The words of `text` (runs of ASCII letters, digits, "_" and non-ASCII bytes) and the text
// with each word made "w".
std::pair<std::vector<std::string>, std::string> words_and_gaps(const std::string& text)
{
  std::pair<std::vector<std::string>, std::string> split;
  bool in_word = false;
  for (const char c : text) {
    const bool word = std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'
                      || static_cast<unsigned char>(c) >= 0x80;
    if (word && !in_word) {
      split.first.emplace_back();
      split.second += 'w';
    }
    if (word) {
      split.first.back() += c;
    } else {
      split.second += c;
    }
    in_word = word;
  }
  return split;
}

// Each declaration line's variable names, by file and line, in table order.
std::map<std::pair<std::string, std::int64_t>, std::vector<std::string>>
declared_names(const VBAParser& parser)
{
  std::map<std::pair<std::string, std::int64_t>, std::vector<std::string>> names;
  const auto add = [&](const VariableList& list) {
    for (const VariableInfo& v : list) {
      names[{v.file_path, v.line_number}].push_back(v.name);
    }
  };
  add(parser.global_variables);
  for (const auto& [file, list] : parser.module_variables) {
    add(list);
  }
  for (const auto& [key, list] : parser.local_variables) {
    add(list);
  }
  return names;
}

// The names of a file's declaration lines once every suggestion is applied: a name with a
// suggestion that is a valid rename takes it, any other keeps its own.
std::map<std::pair<std::string, std::int64_t>, std::vector<std::string>>
renamed_names(const VBAParser& parser)
{
  std::map<std::pair<std::string, std::int64_t>, std::vector<std::string>> names;
  const auto add = [&](const VariableList& list) {
    for (const VariableInfo& v : list) {
      const bool renamed = v.correct_name && is_valid_rename(v.name, *v.correct_name);
      names[{v.file_path, v.line_number}].push_back(renamed ? *v.correct_name : v.name);
    }
  };
  add(parser.global_variables);
  for (const auto& [file, list] : parser.module_variables) {
    add(list);
  }
  for (const auto& [key, list] : parser.local_variables) {
    add(list);
  }
  return names;
}

TEST(BrimselEndToEnd, EverySuggestionConfirmedRenamesWholeNamesOnlyAndASecondRunChangesNothing)
{
  TempDir dir;
  const fs::path root = dir.path() / "all";
  const auto recursive = fs::copy_options::recursive;
  fs::create_directories(root);
  fs::copy(fs::path(TARNWICK_SOURCE_DIR) / "examples" / "demo-device" / "VBT", root / "demo",
           recursive);
  fs::copy(fs::path(TARNWICK_TEST_DATA_DIR) / "brimsel" / "vbt_project", root / "project",
           recursive);
  fs::copy(k_data / "vbt", root / "e2e", recursive);
  write_file(root / "Counter.bas", k_property_module);
  const std::string folder = root.string();

  VBAParser parsed;
  captured([&] { parsed.parse_files(folder); });
  ASSERT_EQ(run_brimsel({folder}).status, 0);
  const std::string report = folder + "/" + only_file(root, "Brimsel_Report_");
  const std::string edit = "/usr/bin/python3 " + shell_quoted(k_data / "confirm_rows.py") + " "
                           + shell_quoted(report) + " all";
  ASSERT_EQ(std::system(edit.c_str()), 0);
  // The API declaration returning LongPtr is a Variant global, for a person to check.
  const std::string variant_row = "s:变量 'Declare PtrSafe Function FindWin Lib \"user32\"' "
                                  "为Variant类型，请确认是否为正确类型";
  bool listed = false;
  const auto dry_run_report = read_with_openpyxl(report);
  for (const auto& [ref, value] : dry_run_report.cells.at("Manual Check Required")) {
    listed = listed || value == variant_row;
  }
  EXPECT_TRUE(listed);
  const auto before = snapshot(root);

  // The module with code-page bytes is not rewritten: the run says so and ends with status 3.
  const Outcome run = run_brimsel({folder, "refactor", report}, "y\n");
  ASSERT_EQ(run.status, 3) << run.err;
  const std::string refused = "\n备份文件失败 " + folder
                              + "/project/Legacy/OldHelpers.bas: not valid UTF-8, the file is not "
                                "rewritten\n";
  EXPECT_NE(run.out.find(refused), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\n重构未完成: 1 个文件未能修改\n正在生成重构报告: "), std::string::npos)
      << run.out;
  // The four headers are refused, each in a line; every other suggestion is applied.
  for (const char* header : {"Declare Function GetTick Lib \"kernel32\"",
                             "Declare PtrSafe Function FindWin Lib \"user32\"",
                             "Property Get Value", "Property Get Item"}) {
    EXPECT_NE(run.out.find(std::string("\n跳过无效的重命名: '") + header + "' -> "),
              std::string::npos)
        << header;
  }
  EXPECT_EQ(read_file(root / "Counter.bas"),
            std::regex_replace(k_property_module, std::regex(R"(\bcount\b)"), "m_Count_lng"));

  // Only whole words changed, each from an old name to its suggestion: no header, blank or
  // other text was rewritten.
  auto expected = renamed_names(parsed);
  const auto unchanged = declared_names(parsed);
  std::set<std::pair<std::string, std::string>> renames;
  for (const auto& [place, names] : unchanged) {
    const auto& new_names = expected.at(place);
    for (std::size_t i = 0; i < names.size(); ++i) {
      renames.insert({names[i], new_names[i]});
    }
  }
  const auto after = snapshot(root);
  for (const auto& [file, lines] : parsed.files) {
    const std::string relative = fs::relative(file, root).string();
    const auto [old_words, old_gaps] = words_and_gaps(before.at(relative));
    const auto [new_words, new_gaps] = words_and_gaps(after.at(relative));
    ASSERT_EQ(new_gaps, old_gaps) << file;
    for (std::size_t i = 0; i < old_words.size(); ++i) {
      if (new_words[i] != old_words[i]) {
        EXPECT_TRUE(renames.contains({old_words[i], new_words[i]}))
            << file << ": " << old_words[i] << " -> " << new_words[i];
      }
    }
  }

  // A second parse finds every declared name under its new name, where its file was rewritten,
  // and every procedure as before.
  VBAParser reparsed;
  captured([&] { reparsed.parse_files(folder); });
  for (auto& [place, names] : expected) {
    const std::string relative = fs::relative(place.first, root).string();
    if (after.at(relative) == before.at(relative)) {
      names = unchanged.at(place);
    }
  }
  EXPECT_EQ(declared_names(reparsed), expected);
  EXPECT_EQ(reparsed.functions.size(), parsed.functions.size());
  for (const auto& [key, function] : parsed.functions) {
    EXPECT_TRUE(reparsed.functions.contains(key)) << key;
  }

  // The same report again: nothing left to change but the refused module, no backup, no
  // refactor report.
  const Outcome again = run_brimsel({folder, "refactor", report}, "y\n");
  EXPECT_EQ(again.status, 3);
  EXPECT_NE(again.out.find(refused), std::string::npos) << again.out;
  EXPECT_TRUE(again.out.ends_with("\n重构未完成: 1 个文件未能修改\n")) << again.out;
  EXPECT_EQ(again.out.find("已备份文件"), std::string::npos) << again.out;
  EXPECT_EQ(snapshot(root), after);
}

} // namespace
} // namespace tarnwick::brimsel
