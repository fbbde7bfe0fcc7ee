#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>

#include <gtest/gtest.h>

#include "support.hpp"
#include "tarnwick/brimsel/cli.hpp"
#include "tarnwick/text/unicode.hpp"

namespace tarnwick::parvine {
namespace {

namespace fs = std::filesystem;
using test::Outcome;
using test::read_with_openpyxl;
using test::ReadWorkbook;
using test::run_brimsel;
using test::TempDir;

const fs::path k_build_dir = TARNWICK_BUILD_DIR;

// A copy of the test sources, so that reports land in a temp folder.
std::string copy_sources(const TempDir& dir)
{
  fs::copy(fs::path(TARNWICK_TEST_DATA_DIR) / "parvine" / "vbt", dir.path() / "vbt",
           fs::copy_options::recursive);
  return (dir.path() / "vbt").string();
}

// The parse summary of the test sources.
const std::string k_counts = "解析完成！\n发现 5 个全局变量\n发现 3 个函数\n发现 1 个Type定义\n发现 1 个Enum定义\n";

std::vector<fs::path> reports_in(const fs::path& folder)
{
  std::vector<fs::path> reports;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() == ".xlsx") {
      reports.push_back(entry.path());
    }
  }
  return reports;
}

// Every used column of `sheet` has the width of its longest cell + 2, at most 50, as the file
// stores it (the workbook library adds the padding of the default font).
void expect_fitted(const ReadWorkbook& book, const std::string& sheet)
{
  std::map<std::string, std::size_t> longest;
  for (const auto& [ref, cell] : book.cells.at(sheet)) {
    const std::string column = ref.substr(0, ref.find_first_of("0123456789"));
    longest[column] = std::max(longest[column], text::length(cell.substr(2)));
  }
  for (const auto& [column, length] : longest) {
    const double width = std::min(static_cast<double>(length) + 2, 50.0);
    ASSERT_TRUE(book.widths.contains(sheet)) << sheet;
    const auto& widths = book.widths.at(sheet);
    ASSERT_TRUE(widths.contains(column)) << sheet << " " << column;
    EXPECT_DOUBLE_EQ(widths.at(column), std::floor((width * 7 + 5) / 7 * 256) / 256)
      << sheet << " " << column;
  }
}

TEST(CommandLine, StopsWithStatusOne)
{
  const Outcome usage = run_brimsel({});
  EXPECT_EQ(usage.status, 1);
  EXPECT_EQ(usage.out, "用法: brimsel <目录路径> [模式] [报告路径]\n模式:\n"
                       "  dry-run  - 仅检查并生成报告 (默认)\n"
                       "  refactor - 使用已有报告进行重构，不生成新报告\n报告路径:\n"
                       "  在refactor模式下，指定dry-run模式生成的Excel报告路径\n退出状态:\n"
                       "  0 - 全部完成（在提示时取消也是 0）\n  1 - 参数错误\n"
                       "  2 - 没有应用任何修改\n  3 - 有文件或报告未能写入\n");

  TempDir dir;
  const Outcome no_folder = run_brimsel({dir.path() / "nowhere", "dry-run"});
  EXPECT_EQ(no_folder.status, 1);
  EXPECT_EQ(no_folder.out, "错误：目录 '" + (dir.path() / "nowhere").string() + "' 不存在\n");

  // A file in place of the folder: said so, and nothing parsed or written.
  const std::string module = (dir.path() / "Module1.bas").string();
  std::ofstream(module) << "Attribute VB_Name = \"Module1\"\n";
  const Outcome file = run_brimsel({module});
  EXPECT_EQ(file.status, 1);
  EXPECT_EQ(file.out, "错误：'" + module + "' 不是目录\n");

  // Mode and report path are tested only after the parse and its counts.
  const std::string folder = copy_sources(dir);
  const Outcome invalid = run_brimsel({folder, "DRY-RUN"});
  EXPECT_EQ(invalid.status, 1);
  EXPECT_TRUE(invalid.out.ends_with(k_counts + "错误：无效的模式 'DRY-RUN'\n支持的模式:\n"
                                    "  dry-run  - 仅检查并生成报告 (默认)\n"
                                    "  refactor - 使用已有报告进行重构\n"
                                    "用法: brimsel <目录路径> [模式] [报告路径]\n"))
    << invalid.out;
  const Outcome no_report = run_brimsel({folder, "refactor", ""});
  EXPECT_EQ(no_report.status, 1);
  EXPECT_TRUE(no_report.out.ends_with(k_counts + "错误：refactor模式需要指定报告路径\n"
                                      "用法: brimsel <目录路径> refactor <报告路径>\n"));
  const Outcome missing_report = run_brimsel({folder, "refactor", "none.xlsx"});
  EXPECT_EQ(missing_report.status, 1);
  EXPECT_TRUE(missing_report.out.ends_with("错误：指定的报告文件 'none.xlsx' 不存在\n"));
  EXPECT_TRUE(reports_in(folder).empty());
}

TEST(CommandLine, DryRunReportReadBackWithOpenpyxl)
{
  TempDir dir;
  const std::string folder = copy_sources(dir);
  const Outcome run = run_brimsel({folder, "dry-run", "ignored.xlsx"});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.err, ""); // standard error is no terminal: no progress bar
  const auto reports = reports_in(folder);
  ASSERT_EQ(reports.size(), 1U);
  const std::string report = reports[0].string();
  EXPECT_TRUE(run.out.starts_with("开始处理目录: " + folder + "\n模式: dry-run\n"));
  EXPECT_TRUE(run.out.ends_with(k_counts + "正在生成dry-run报告: " + report
                                + "\nDry-run报告已生成: " + report + "\n\n✓ Dry-run报告已生成: "
                                + report + "\n\n请查看报告并确认修改，然后使用refactor模式应用修改\n"))
    << run.out;

  const ReadWorkbook book = read_with_openpyxl(report);
  EXPECT_EQ(book.order, (std::vector<std::string>{"Global Variables", "Module Variables",
                                                  "Local Variables", "Type Definitions",
                                                  "Enum Definitions", "Function Parameters",
                                                  "Summary", "Manual Check Required"}));
  for (const auto& sheet : book.order) {
    if (sheet == "Summary") {
      EXPECT_FALSE(book.widths.contains(sheet));
    } else {
      expect_fitted(book, sheet);
    }
  }
  const std::string long_file = folder + "/模块/deeper/Long.bas";
  const std::vector<std::array<std::string, 3>> expected{
    {"Global Variables", "A1", "s:变量名"},
    {"Global Variables", "L1", "s:是否常量"},
    // The first counter, used three times in Flow.bas and once in Long.bas.
    {"Global Variables", "A2", "s:counter"},
    {"Global Variables", "G2", "s:" + folder + "/Globals.bas"},
    {"Global Variables", "H2", "n:4"},
    {"Global Variables", "I2", "(none)"},
    {"Global Variables", "J2", "n:4"},
    {"Global Variables", "K2", "n:2"},
    {"Module Variables", "D2", "s:module_private"},
    // Two locals named result, each counting the uses inside its own procedure.
    {"Local Variables", "I2", "s:Measure_VBT"},
    {"Local Variables", "J2", "n:2"},
    {"Local Variables", "I4", "s:Helper"},
    {"Local Variables", "J4", "n:1"},
    {"Type Definitions", "E2", "s:Public"},
    {"Type Definitions", "F2", "n:1"},
    {"Function Parameters", "A2", "s:argCount"},
    {"Function Parameters", "H2", "n:7"},
    {"Summary", "C4", "n:4"},
    {"Summary", "C7", "s:N/A"},
    // The Variant global (not "site"), the second counter, the 61-line procedure.
    {"Manual Check Required", "D2", "s:变量 'anything' 为Variant类型，请确认是否为正确类型"},
    {"Manual Check Required", "B3", "s:" + long_file},
    {"Manual Check Required", "C3", "n:2"},
    {"Manual Check Required", "D4", "s:函数 'LongProc' 长度为 61 行，超过建议的60行"},
    {"Manual Check Required", "A5", "(none)"},
  };
  for (const auto& [sheet, ref, value] : expected) {
    EXPECT_EQ(book.cell(sheet, ref), value) << sheet << " " << ref;
  }
}

TEST(CommandLine, ReportFailuresEndWithStatusThree)
{
  TempDir dir;
  const std::string folder = copy_sources(dir);
  // The libraries without the report library, found before the build's own.
  const fs::path lib = dir.path() / "lib";
  fs::create_directory(lib);
  for (const auto& entry : fs::directory_iterator(k_build_dir / "lib")) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("libtarnwick_") && !name.starts_with("libtarnwick_parvine")) {
      fs::copy(entry.path(), lib / name, fs::copy_options::copy_symlinks);
    }
  }
  const std::string environment = "LD_LIBRARY_PATH=" + test::shell_quoted(lib);
  const std::string import_failure = "无法导入Excel报告生成器: " + (lib / "libtarnwick_parvine.so").string();
  const std::string install_line = "请安装所需依赖: scripts/install-deps\n";

  const Outcome missing = run_brimsel({folder}, "", {}, environment);
  EXPECT_EQ(missing.status, 3);
  EXPECT_TRUE(missing.out.ends_with(k_counts + import_failure
                                    + ": cannot open shared object file: No such file or directory\n"
                                    + install_line))
    << missing.out;
  // A library of that name without the entry points; the writer is obtained before the mode
  // is looked at.
  fs::copy(fs::canonical(lib / "libtarnwick_text.so"), lib / "libtarnwick_parvine.so");
  const Outcome no_entry = run_brimsel({folder, "refactor"}, "", {}, environment);
  EXPECT_EQ(no_entry.status, 3);
  EXPECT_TRUE(no_entry.out.ends_with(
    import_failure + ": undefined symbol: tarnwick_parvine_generate_dry_run_report\n" + install_line))
    << no_entry.out;
  EXPECT_TRUE(reports_in(folder).empty());

  // The report cannot be written: the workbook library finds no folder for its scratch files.
  const Outcome unwritable =
    run_brimsel({folder}, "", {}, "TMPDIR=" + test::shell_quoted(dir.path() / "none"));
  EXPECT_EQ(unwritable.status, 3);
  EXPECT_NE(unwritable.out.find("\n生成报告时出错: "), std::string::npos) << unwritable.out;
  EXPECT_EQ(unwritable.out.find("Dry-run报告已生成"), std::string::npos);
  EXPECT_TRUE(reports_in(folder).empty());
}

} // namespace
} // namespace tarnwick::parvine

namespace tarnwick::brimsel {
namespace {

TEST(ProgressBar, RedrawsInPlaceAndEndsItsLineAtTheLastStage)
{
  std::ostringstream out;
  {
    ProgressBar bar(out);
    bar.update(10);
    bar.update(45);
    EXPECT_EQ(out.str(), "\r[###...........................] 11%\r[###############...............] 50%");
    bar.update(90);
    bar.finish();
  }
  EXPECT_TRUE(out.str().ends_with("\r[##############################] 100%\n"));
  EXPECT_EQ(out.str().find('\n'), out.str().size() - 1);

  // A bar left open by a failing report ends its line, so the message starts afresh.
  std::ostringstream interrupted;
  ProgressBar(interrupted).update(30);
  EXPECT_EQ(interrupted.str(), "\r[##########....................] 33%\n");
}

} // namespace
} // namespace tarnwick::brimsel
