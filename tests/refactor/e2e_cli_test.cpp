// The brimsel program end to end: a dry run, the report confirmed by a script as a person would
// edit it in a spreadsheet program, then refactor mode applying what was confirmed.
#include <gtest/gtest.h>

#include <cctype>
#include <tuple>
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
#include "tests/small_tmpfs.hpp"

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
  // global is renamed in the other module that uses it too; Globals.bas keeps its CR LF.
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
      "  - 更新了 3 个变量名的所有引用",
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
  // The global declared in the module that cannot be rewritten is renamed nowhere, so that
  // the modules still agree on its name; the module's other renames are made.
  EXPECT_NE(run.out.find("\n跳过无法安全应用的重命名: 'counter' -> 'g_Counter_lng' (Global Variables 第 "),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find(globals + "): 文件 " + globals + " 不能修改 (not valid UTF-8)\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(read_file(folder + "/模块/Flow.bas"),
            std::regex_replace(read_file(k_data / "expected" / "Flow.bas"),
                               std::regex(R"(\bg_Counter_lng\b)"), "counter"));

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

// The workbook library does not see its scratch files cut short when $TMPDIR fills up: neither
// report is then left behind broken, and the run ends with status 3 and the reason.
TEST(BrimselEndToEnd, AScratchFolderThatFillsUpLeavesNoBrokenReport)
{
  TempDir dir;
  const std::string folder = (dir.path() / "vbt").string();
  const std::string report = prepare(dir.path(), folder);
  const tarnwick::test::SmallTmpfs small(dir.path() / "small", 4096);
  if (!small.mounted()) {
    GTEST_SKIP() << small.why_not();
  }
  const std::string environment = "TMPDIR=" + shell_quoted(small.path());
  const std::string no_space = "': its temporary files: No space left on device\n";
  // A report of the same second as the one before is numbered "_2".
  const std::regex stamp("_[0-9]{8}_[0-9]{6}(_[0-9]+)?");

  const auto before = snapshot(folder);
  const Outcome dry_run = run_brimsel({folder}, "", {}, environment);
  EXPECT_EQ(dry_run.status, 3);
  EXPECT_TRUE(std::regex_replace(dry_run.out, stamp, "_STAMP")
                  .ends_with("\n生成报告时出错: cannot write workbook '" + folder
                             + "/Brimsel_Report_STAMP.xlsx" + no_space))
      << dry_run.out;
  EXPECT_EQ(snapshot(folder), before);

  const Outcome refactor = run_brimsel({folder, "refactor", report}, "y\n", {}, environment);
  EXPECT_EQ(refactor.status, 3);
  EXPECT_TRUE(std::regex_replace(refactor.out, stamp, "_STAMP")
                  .ends_with("\n生成报告时出错: cannot write workbook '" + folder
                             + "/VBT_Refactor_Report_STAMP.xlsx" + no_space))
      << refactor.out;
  // The sources are rewritten beside their backups; no refactor report.
  EXPECT_EQ(read_file(folder + "/Globals.bas"), read_file(k_data / "expected" / "Globals.bas"));
  std::vector<std::string> names;
  for (const auto& [name, bytes] : snapshot(folder)) {
    names.push_back(name.substr(0, name.find("_2")));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Brimsel_Report", "Globals.bas", "Globals.bas.backup",
                                             "模块/Flow.bas", "模块/Flow.bas.backup"}));
  EXPECT_TRUE(fs::is_empty(small.path()));
}

// A module over the size cap is refused by its size, unread (the file here is sparse), and the
// others are checked; lines that kept the declaration pattern busy without end are read at
// once, and no line printed grows with the line it is about.
TEST(BrimselEndToEnd, AModuleOverTheCapIsRefusedAndTheOthersAreChecked)
{
  TempDir dir;
  const fs::path folder = dir.path() / "vbt";
  fs::create_directories(folder);
  write_file(folder / "Ok.bas", "Dim counter As Long\n");
  std::string as_as = "Dim b";
  while (as_as.size() < 3000000) {
    as_as += " As";
  }
  write_file(folder / "Long.bas",
             "Dim a" + std::string(3000000, ' ') + "x\n" + as_as + " x\n" + "Dim ' "
                 + std::string(3000000, 'y') + "\n");
  const fs::path huge = folder / "Huge.bas";
  write_file(huge, "");
  fs::resize_file(huge, (std::uintmax_t{64} << 20) + 1);

  const Outcome run = run_brimsel({folder.string()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\n解析文件 " + huge.string() + " 时出错: File too large: '"
                         + huge.string() + "' holds 67108865 bytes, more than 67108864\n"),
            std::string::npos)
      << run.out.substr(0, 2000);
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_LE(line.size(), 300U) << line.substr(0, 100);
  }
  EXPECT_EQ(fs::file_size(huge), (std::uintmax_t{64} << 20) + 1);
  const auto report = read_with_openpyxl(folder / only_file(folder, "Brimsel_Report_"));
  EXPECT_EQ(report.cell("Module Variables", "A2"), "s:counter");
  EXPECT_EQ(report.cell("Module Variables", "A3"), "s:b"); // "As x" ends that line
  EXPECT_EQ(report.cell("Module Variables", "A4"), "(none)");
}

// A name longer than a cell holds: the dry-run row says so, and confirming the row (whose cell
// kept only the name's beginning) is refused with that reason instead of "no declaration".
TEST(BrimselEndToEnd, ANameLongerThanACellIsSaidSoAndNotRenamed)
{
  TempDir dir;
  const fs::path folder = dir.path() / "vbt";
  fs::create_directories(folder);
  const std::string name(40000, 'x');
  const std::string source = "Dim " + name + " As Long\n";
  write_file(folder / "Long.bas", source);
  const Outcome dry_run = run_brimsel({folder.string()});
  ASSERT_EQ(dry_run.status, 0) << dry_run.out << dry_run.err;
  const fs::path report = folder / only_file(folder, "Brimsel_Report_");
  const auto cells = read_with_openpyxl(report);
  EXPECT_EQ(cells.cell("Module Variables", "A2"), "s:" + name.substr(0, 32767));
  EXPECT_TRUE(cells.cell("Module Variables", "C2")
                  .starts_with("s:名称过长（40000 个字符），超过报告单元格的 32767 个字符上限：单元格中"
                               "只有其开头，重构不能应用此行；建议名称过长（40006 个字符），超过报告单元格的 "
                               "32767 个字符上限：单元格中只有其开头，重构不能应用此行；变量命名不符合规范"))
      << cells.cell("Module Variables", "C2").substr(0, 300);

  const std::string edit = "/usr/bin/python3 " + shell_quoted(k_data / "confirm_rows.py") + " "
                           + shell_quoted(report) + " all";
  ASSERT_EQ(std::system(edit.c_str()), 0);
  const Outcome refactor = run_brimsel({folder.string(), "refactor", report.string()}, "y\n");
  EXPECT_EQ(refactor.status, 2) << refactor.out;
  EXPECT_NE(refactor.out.find("\n跳过无法安全应用的重命名: '" + std::string(200, 'x') + "...' -> 'm_X"
                              + std::string(197, 'x') + "...' (Module Variables 第 2 行, "
                              + (folder / "Long.bas").string()
                              + "): 名称有 32767 个字符，达到报告单元格的 32767 个字符上限，可能已被截断："
                                "不能重命名\n"),
            std::string::npos)
      << refactor.out.substr(0, 3000);
  std::istringstream lines(refactor.out);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_LE(line.size(), 800U) << line.substr(0, 100);
  }
  EXPECT_EQ(refactor.out.find("的声明"), std::string::npos);
  EXPECT_EQ(read_file(folder / "Long.bas"), source);
  EXPECT_EQ(snapshot(folder).size(), 2U); // the module and the dry-run report: no backup
}

// Property procedures and API declarations, as real modules have them.
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

// A class module and a UserForm that use the globals of Globals.bas: the class shadows one of
// them with a member, the form with a control known by its event procedure.
const std::string k_class_module = "VERSION 1.0 CLASS\n"
                                   "BEGIN\n"
                                   "  MultiUse = -1  'True\n"
                                   "END\n"
                                   "Attribute VB_Name = \"Tally\"\n"
                                   "Attribute VB_Exposed = False\n"
                                   "Option Explicit\n"
                                   "Private limit As Double\n"
                                   "Public Sub Add()\n"
                                   "    counter = counter + 1 ' counter\n"
                                   "    limit = Globals.limit\n"
                                   "End Sub\n";
const std::string k_form_module = "VERSION 5.00\n"
                                  "Begin {C62A69F0-16DC-11CE-9E98-00AA00574A4F} Panel\n"
                                  "   Caption         =   \"counter\"\n"
                                  "   Tag             =   limit\n"
                                  "End\n"
                                  "Attribute VB_Name = \"Panel\"\n"
                                  "Attribute counter.VB_VarHelpID = -1\n"
                                  "Private Sub Ok_Click()\n"
                                  "    MsgBox counter & limit\n"
                                  "End Sub\n"
                                  "Private Sub limit_Change()\n"
                                  "End Sub\n";

// A word of a source line as the check below sees it (a run of ASCII letters, digits, "_" and
// non-ASCII bytes), with the line's other text kept as it is.
struct Word
{
  std::size_t begin = 0;
  std::string text;
  bool code = true;      // outside a comment (string literals are no words)
  bool member = false;   // after "." or "!"
  std::string qualifier; // the word directly before that "."
  bool named = false;    // before ":="
  bool type = false;     // after As or As New
};

std::string lower(std::string text)
{
  for (char& c : text) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return text;
}

// The words of `line`, and the line with each word made "w".
std::pair<std::vector<Word>, std::string> words_of(const std::string& line)
{
  std::vector<Word> words;
  std::string gaps;
  bool comment = false;
  for (std::size_t i = 0; i < line.size();) {
    const auto c = static_cast<unsigned char>(line[i]);
    if (!comment && c == '"') {
      const std::size_t end = line.find('"', i + 1);
      const std::size_t stop = end == std::string::npos ? line.size() : end + 1;
      gaps += line.substr(i, stop - i);
      i = stop;
      continue;
    }
    if (std::isalnum(c) == 0 && c != '_' && c < 0x80) {
      comment = comment || c == '\'';
      gaps += line[i++];
      continue;
    }
    Word word;
    word.begin = i;
    word.code = !comment;
    while (i < line.size()
           && (std::isalnum(static_cast<unsigned char>(line[i])) != 0 || line[i] == '_'
               || static_cast<unsigned char>(line[i]) >= 0x80)) {
      word.text += line[i++];
    }
    const std::size_t before = line.find_last_not_of(" \t", word.begin == 0 ? 0 : word.begin - 1);
    word.member = word.begin > 0 && before != std::string::npos && (line[before] == '.' || line[before] == '!');
    if (word.member && !words.empty() && words.back().begin + words.back().text.size() == before) {
      word.qualifier = lower(words.back().text);
    }
    const std::size_t after = line.find_first_not_of(" \t", i);
    word.named = after != std::string::npos && line.compare(after, 2, ":=") == 0;
    const std::size_t n = words.size();
    word.type = (n >= 1 && lower(words[n - 1].text) == "as")
                || (n >= 2 && lower(words[n - 1].text) == "new" && lower(words[n - 2].text) == "as");
    gaps += 'w';
    words.push_back(std::move(word));
  }
  return {words, gaps};
}

// One confirmed rename that the refactor report lists as applied.
struct Applied
{
  std::string type;
  std::string file;
  int line = 0;
  std::string old_name;
  std::string new_name;
};

std::vector<Applied> applied_renames(const fs::path& report)
{
  auto cells = read_with_openpyxl(report).cells["Refactor Changes"];
  std::vector<Applied> renames;
  for (int row = 2; cells.contains("A" + std::to_string(row)); ++row) {
    const auto cell = [&](const char* column) { return cells[column + std::to_string(row)].substr(2); };
    renames.push_back({cell("A"), cell("B"), std::stoi(cell("C")), cell("D"), cell("E")});
  }
  return renames;
}

// Where each applied rename must stand, from the parser's tables of the sources as they were:
// (file, line, offset of the word) -> new name. A local: its procedure's code words of that
// name (in any case); a module-level variable: its module's, outside the procedures that
// declare the name; a global: the same in every module that does not declare the name at
// module level; and wherever the declaring module's name qualifies it. Member access, named
// arguments, type names, Declare, Type, Enum, "#", Attribute and Option lines never.
std::map<std::tuple<std::string, std::size_t, std::size_t>, std::string>
expected_words(const VBAParser& parsed, const std::vector<Applied>& renames)
{
  struct Module
  {
    std::string name; // VB_Name, lower-cased
    std::vector<const FunctionInfo*> procedures;
    std::set<std::string> declared; // module-level names, lower-cased
    std::vector<bool> skipped;      // lines no variable stands on
  };
  std::map<std::string, Module> modules;
  const std::regex vb_name(R"re(^Attribute VB_Name = "(\w+)")re");
  const std::regex no_variables(R"(^\s*(#|Attribute |Option |((Public|Private)\s+)?Declare\s))",
                                std::regex::icase);
  const std::regex block(R"(^\s*((Public|Private)\s+)?(Type|Enum)\s)", std::regex::icase);
  const std::regex block_end(R"(^\s*End\s+(Type|Enum)\b)", std::regex::icase);
  for (const auto& [file, lines] : parsed.files) {
    Module& module = modules[file];
    bool in_block = false;
    for (const std::string& line : lines) {
      std::smatch match;
      if (module.name.empty() && std::regex_search(line, match, vb_name)) {
        module.name = lower(match[1]);
      }
      in_block = (in_block || std::regex_search(line, block)) && !std::regex_search(line, block_end);
      module.skipped.push_back(in_block || std::regex_search(line, no_variables));
    }
  }
  for (const auto& [key, function] : parsed.functions) {
    modules[function.file_path].procedures.push_back(&function);
    modules[function.file_path].declared.insert(lower(function.name));
  }
  for (const auto& [file, list] : parsed.module_variables) {
    for (const VariableInfo& v : list) {
      modules[file].declared.insert(lower(v.name));
    }
  }
  for (const VariableInfo& v : parsed.global_variables) {
    modules[v.file_path].declared.insert(lower(v.name));
  }
  const auto declares_local = [&](const FunctionInfo& function, const std::string& name) {
    for (const FunctionParameter& parameter : function.parameters) {
      if (lower(parameter.name) == name) {
        return true;
      }
    }
    const auto locals = parsed.local_variables.find(function.file_path + ":" + function.name);
    if (locals != parsed.local_variables.end()) {
      for (const VariableInfo& v : locals->second) {
        if (lower(v.name) == name) {
          return true;
        }
      }
    }
    return false;
  };

  std::map<std::tuple<std::string, std::size_t, std::size_t>, std::string> expected;
  for (const Applied& rename : renames) {
    const std::string name = lower(rename.old_name);
    const Module& home = modules.at(rename.file);
    const FunctionInfo* own = nullptr;
    for (const FunctionInfo* function : home.procedures) {
      if (function->start_line <= rename.line && rename.line <= function->end_line) {
        own = function;
      }
    }
    for (const auto& [file, lines] : parsed.files) {
      const Module& module = modules.at(file);
      const bool other = file != rename.file;
      if (other && (own != nullptr || rename.type != "global_variable")) {
        continue;
      }
      const bool keeps_its_own = other && module.declared.contains(name);
      for (std::size_t l = 0; l < lines.size(); ++l) {
        const int line = static_cast<int>(l + 1);
        const FunctionInfo* in = nullptr;
        for (const FunctionInfo* function : module.procedures) {
          if (function->start_line <= line && line <= function->end_line) {
            in = function;
          }
        }
        const bool in_scope = own != nullptr ? in == own
                                             : !keeps_its_own && (in == nullptr || !declares_local(*in, name));
        for (const Word& word : words_of(lines[l]).first) {
          const bool qualified = word.member && own == nullptr && word.qualifier == home.name;
          const bool plain = in_scope && !module.skipped[l] && !word.member && !word.named && !word.type;
          if (word.code && lower(word.text) == name && (plain || qualified)) {
            expected[{file, l, word.begin}] = rename.new_name;
          }
        }
      }
    }
  }
  return expected;
}

// The class and form modules of a folder before and after a confirm-all run (path relative to
// the folder -> bytes): each header (VERSION line, BEGIN ... END designer block, Attribute lines)
// is byte-identical; every changed word is an applied rename's old name made its new one; and
// no code word (member access and named arguments aside) is an applied global's old name where
// the module does not declare that name itself (a variable, member, procedure, parameter or
// control). Returns the class and form
// modules that changed.
std::set<std::string> check_class_and_form_modules(const std::map<std::string, std::string>& before,
                                         const std::map<std::string, std::string>& after,
                                         const std::vector<Applied>& renames)
{
  std::set<std::pair<std::string, std::string>> pairs;
  std::map<std::string, std::string> globals; // lower-cased old name -> new name
  for (const Applied& rename : renames) {
    pairs.insert({rename.old_name, rename.new_name});
    if (rename.type == "global_variable") {
      globals[lower(rename.old_name)] = rename.new_name;
    }
  }
  std::set<std::string> changed;
  for (const auto& [relative, old_bytes] : before) {
    const std::string extension = lower(fs::path(relative).extension().string());
    if (extension != ".cls" && extension != ".frm") {
      continue;
    }
    const std::string& new_bytes = after.at(relative);
    if (new_bytes != old_bytes) {
      changed.insert(relative);
    }
    std::istringstream old_text(old_bytes);
    std::istringstream new_text(new_bytes);
    std::string old_line;
    std::string new_line;
    bool header = true;
    int depth = 0;
    for (std::size_t l = 0; std::getline(old_text, old_line); ++l) {
      std::getline(new_text, new_line);
      const std::string where = relative + ":" + std::to_string(l + 1);
      if (header) {
        const std::size_t indent = std::min(old_line.find_first_not_of(' '), old_line.size());
        const std::string first = lower(old_line.substr(indent, old_line.find_first_of(" \r", indent) - indent));
        if (depth > 0) {
          depth += first == "begin" || first == "beginproperty" ? 1 : 0;
          depth -= first == "end" || first == "endproperty" ? 1 : 0;
        } else if (first == "begin") {
          depth = 1;
        } else if (first != "version" && first != "object" && first != "attribute") {
          header = false;
        }
      }
      if (header) {
        EXPECT_EQ(new_line, old_line) << where;
        continue;
      }
      const auto [old_words, old_gaps] = words_of(old_line);
      const auto [new_words, new_gaps] = words_of(new_line);
      EXPECT_EQ(new_gaps, old_gaps) << where;
      if (new_gaps != old_gaps) {
        continue;
      }
      for (std::size_t i = 0; i < old_words.size(); ++i) {
        if (new_words[i].text != old_words[i].text) {
          EXPECT_TRUE(pairs.contains({old_words[i].text, new_words[i].text}))
              << where << " " << old_words[i].text << " -> " << new_words[i].text;
        }
        const Word& word = new_words[i];
        const auto global = globals.find(lower(word.text));
        if (global == globals.end() || !word.code || word.named || word.member) {
          continue;
        }
        const std::string name = global->first;
        const std::regex declares("(\\b(Dim|Private|Public|Global|Const|Static|Function|Sub|Get|Let|"
                                  "Set|WithEvents)\\s+" + name + "\\b)|(Begin\\s+\\w+\\.\\w+\\s+"
                                  + name + "\\b)|(Sub\\s+" + name + "_\\w+\\s*\\()|([(,]\\s*((ByVal|"
                                  "ByRef|Optional)\\s+)*" + name + "\\b)",
                                  std::regex::icase);
        EXPECT_TRUE(std::regex_search(old_bytes, declares))
            << where << ": '" << word.text << "' is still the old name of " << global->second;
      }
    }
  }
  return changed;
}

// Confirms every suggestion of the dry-run report of `folder` and applies them; then checks,
// word by word, that each applied rename stands exactly where its variable is meant, that
// nothing else changed (string literals, member access, other variables; comments only from
// an old name to its new one), and that the same report again changes nothing. Returns the
// refactor run's output.
std::string confirm_all_and_check(const fs::path& folder, std::size_t failed_files = 0)
{
  VBAParser parsed;
  captured([&] { parsed.parse_files(folder.string()); });
  EXPECT_EQ(run_brimsel({folder.string()}).status, 0);
  const std::string report = (folder / only_file(folder, "Brimsel_Report_")).string();
  const std::string edit = "/usr/bin/python3 " + shell_quoted(k_data / "confirm_rows.py") + " "
                           + shell_quoted(report) + " all";
  EXPECT_EQ(std::system(edit.c_str()), 0);
  const auto before = snapshot(folder);

  const Outcome run = run_brimsel({folder.string(), "refactor", report}, "y\n");
  const std::string failed_line =
      "\n重构未完成: " + std::to_string(failed_files) + " 个文件未能修改\n";
  EXPECT_EQ(run.status, failed_files == 0 ? 0 : 3) << run.err;
  EXPECT_NE(run.out.find(failed_files == 0 ? "\n重构应用成功！\n" : failed_line), std::string::npos)
      << run.out;
  const std::vector<Applied> listed =
      applied_renames(folder / only_file(folder, "VBT_Refactor_Report_"));
  EXPECT_FALSE(listed.empty());
  // The renames as confirmed; the records of the class and form modules they changed aside.
  std::vector<Applied> renames;
  std::set<std::string> class_and_form_records;
  for (const Applied& rename : listed) {
    if (parsed.files.contains(rename.file)) {
      renames.push_back(rename);
    } else {
      class_and_form_records.insert(fs::relative(rename.file, folder).string());
    }
  }
  std::set<std::pair<std::string, std::string>> pairs;
  for (const Applied& rename : renames) {
    pairs.insert({rename.old_name, rename.new_name});
  }
  const auto expected = expected_words(parsed, renames);
  const auto after = snapshot(folder);
  std::size_t checked = 0;
  for (const auto& [file, lines] : parsed.files) {
    const std::string relative = fs::relative(file, folder).string();
    std::istringstream old_text(before.at(relative));
    std::istringstream new_text(after.at(relative));
    std::string old_line;
    std::string new_line;
    for (std::size_t l = 0; std::getline(old_text, old_line); ++l) {
      std::getline(new_text, new_line);
      const auto [old_words, old_gaps] = words_of(old_line);
      const auto [new_words, new_gaps] = words_of(new_line);
      EXPECT_EQ(new_gaps, old_gaps) << relative << ":" << l + 1;
      if (new_gaps != old_gaps) {
        continue;
      }
      for (std::size_t i = 0; i < old_words.size(); ++i) {
        const Word& was = old_words[i];
        const auto meant = expected.find({file, l, was.begin});
        const std::string where = relative + ":" + std::to_string(l + 1) + " " + was.text;
        if (meant != expected.end()) {
          EXPECT_EQ(new_words[i].text, meant->second) << where;
          ++checked;
        } else if (!was.code && new_words[i].text != was.text) {
          EXPECT_TRUE(pairs.contains({was.text, new_words[i].text})) << where;
        } else {
          EXPECT_EQ(new_words[i].text, was.text) << where;
        }
      }
    }
  }
  EXPECT_EQ(checked, expected.size());
  // Every class or form module that changed has its backup and a record of its own.
  const std::set<std::string> changed = check_class_and_form_modules(before, after, renames);
  EXPECT_EQ(class_and_form_records, changed);
  for (const std::string& relative : changed) {
    const fs::path module = folder / relative;
    EXPECT_EQ(read_file(module.parent_path()
                        / only_file(module.parent_path(), module.filename().string() + ".backup_")),
              before.at(relative));
  }

  // Every procedure is found again; the same report again has nothing left to change.
  VBAParser reparsed;
  captured([&] { reparsed.parse_files(folder.string()); });
  EXPECT_EQ(reparsed.functions.size(), parsed.functions.size());
  const Outcome again = run_brimsel({folder.string(), "refactor", report}, "y\n");
  EXPECT_TRUE(again.out.ends_with(failed_files == 0 ? "重构应用失败\n" : failed_line))
      << again.out;
  EXPECT_EQ(again.out.find("已备份文件"), std::string::npos) << again.out;
  EXPECT_EQ(snapshot(folder), after);
  return run.out;
}

TEST(BrimselEndToEnd, EverySuggestionOfTheDemoAndTestTreesIsAppliedWhereItsVariableIsMeant)
{
  TempDir dir;
  fs::copy(fs::path(TARNWICK_SOURCE_DIR) / "examples" / "demo-device" / "VBT", dir.path() / "demo",
           fs::copy_options::recursive);
  confirm_all_and_check(dir.path() / "demo");
  fs::copy(fs::path(TARNWICK_TEST_DATA_DIR) / "brimsel" / "vbt_project", dir.path() / "project",
           fs::copy_options::recursive);
  // Legacy/OldHelpers.bas is not valid UTF-8: it is left as it was, and so is every global
  // that it declares or uses.
  confirm_all_and_check(dir.path() / "project", 1);

  fs::copy(k_data / "vbt", dir.path() / "e2e", fs::copy_options::recursive);
  write_file(dir.path() / "e2e" / "Counter.bas", k_property_module);
  write_file(dir.path() / "e2e" / "Tally.cls", k_class_module);
  write_file(dir.path() / "e2e" / "Panel.frm", k_form_module);
  const std::string out = confirm_all_and_check(dir.path() / "e2e");
  // The Declare statements and Property headers are no variables: no row, nothing refused; the
  // module variable is renamed inside the Property blocks too.
  EXPECT_EQ(out.find("跳过无效的重命名"), std::string::npos) << out;
  EXPECT_EQ(read_file(dir.path() / "e2e" / "Counter.bas"),
            std::regex_replace(k_property_module, std::regex(R"(\bcount\b)"), "m_Count_lng"));
  // The class and the form follow the globals in their code where they do not declare the name.
  std::string tally = std::regex_replace(k_class_module, std::regex(R"(    counter = counter \+ 1)"),
                                         "    g_Counter_lng = g_Counter_lng + 1");
  EXPECT_EQ(read_file(dir.path() / "e2e" / "Tally.cls"),
            std::regex_replace(tally, std::regex(R"(Globals\.limit)"), "Globals.g_Limit_dbl"));
  EXPECT_EQ(read_file(dir.path() / "e2e" / "Panel.frm"),
            std::regex_replace(k_form_module, std::regex("MsgBox counter"), "MsgBox g_Counter_lng"));
}

TEST(BrimselEndToEnd, EverySuggestionOfARealLibraryIsAppliedWhereItsVariableIsMeant)
{
  const fs::path library = fs::path(TARNWICK_SOURCE_DIR) / ".." / "shared" / "realdata" / "vba-stdvba";
  if (!fs::is_directory(library)) {
    GTEST_SKIP() << "no public VBA library at " << library;
  }
  TempDir dir;
  fs::copy(library, dir.path() / "stdvba", fs::copy_options::recursive);
  confirm_all_and_check(dir.path() / "stdvba");
}

} // namespace
} // namespace tarnwick::brimsel
