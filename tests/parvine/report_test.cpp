#include <ctime>
#include <functional>

#include <gtest/gtest.h>

#include "support.hpp"
#include "tarnwick/brimsel/parvine/parvine.hpp"
#include "tarnwick/text/error.hpp"
#include "tarnwick/xlsx/reader.hpp"

namespace tarnwick::parvine {
namespace {

using namespace brimsel;
using test::captured;

// 7 December 2026, 22:15:30 local time.
std::chrono::system_clock::time_point report_time()
{
  std::tm local{};
  local.tm_year = 2026 - 1900;
  local.tm_mon = 11;
  local.tm_mday = 7;
  local.tm_hour = 22;
  local.tm_min = 15;
  local.tm_sec = 30;
  local.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&local));
}

std::vector<std::string> sheet_names(const std::string& path)
{
  return xlsx::Reader(path).sheet_names();
}

class Report : public ::testing::Test
{
protected:
  const Parvine writer{[] { return report_time(); }};
  std::vector<int> progress;
  ProgressCallback record_progress = [this](int value) { progress.push_back(value); };
  test::TempDir dir;
  const std::string folder = dir.path().string();
  const std::string expected_path = folder + "/Brimsel_Report_20261207_221530.xlsx";
};

TEST(ReportFilePath, StampAndFolderJoin)
{
  const auto time = report_time();
  EXPECT_EQ(report_file_path("", "Brimsel_Report_", time), "Brimsel_Report_20261207_221530.xlsx");
  EXPECT_EQ(report_file_path(".", "X_", time), "./X_20261207_221530.xlsx");
  EXPECT_EQ(report_file_path("out/", "X_", time), "out/X_20261207_221530.xlsx");
  EXPECT_EQ(report_file_path("out", "X_", time), "out/X_20261207_221530.xlsx");
}

TEST_F(Report, EmptyParserGivesSummaryAloneAndNineProgressCalls)
{
  std::string path;
  captured([&] { path = writer.generate_dry_run_report(record_progress, VBAParser{}, folder); });
  EXPECT_EQ(path, expected_path);
  EXPECT_EQ(progress, (std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80, 90}));
  EXPECT_EQ(sheet_names(path), (std::vector<std::string>{"Summary"}));
}

TEST_F(Report, OnlySheetsWithRowsInTheirFixedOrder)
{
  VBAParser parser;
  VariableInfo local{"total", "total", VariableScope::LOCAL, VariableType::LONG, false,
                     "dir\xff/a.bas", 3};
  local.issue_description = "局部变量应以i_开头";
  parser.local_variables["k"] = {local};
  parser.global_variables.push_back(
    {"any", "any", VariableScope::GLOBAL, VariableType::VARIANT, false, "a.bas", 1});
  parser.functions["a.bas:W"] =
    FunctionInfo{"W", "W", FunctionType::OTHER, "a.bas", 2, 9, {}, {"参数 'v': 过短"}};

  std::string path;
  captured([&] { path = writer.generate_dry_run_report(record_progress, parser, folder); });
  EXPECT_EQ(sheet_names(path), (std::vector<std::string>{"Local Variables", "Function Parameters",
                                                         "Summary", "Manual Check Required"}));
  // Path bytes that are no UTF-8 are repaired, so the workbook stays readable.
  EXPECT_EQ(xlsx::Reader(path).read_sheet("Local Variables").cell(1, 6).text,
            "dir\xef\xbf\xbd/a.bas");
}

// The message names the system's reason for the report's own path.
std::string failure(const std::function<void()>& call)
{
  try {
    call();
  } catch (const Error& e) {
    return e.what();
  }
  return "no error";
}

TEST_F(Report, MissingOrFileFolderFailsAtCloseAndLeavesNothing)
{
  test::write_file(dir.path() / "plain", "not a folder");
  for (const std::string& bad : {folder + "/missing", folder + "/plain"}) {
    const std::string reason =
      bad.ends_with("missing") ? "No such file or directory" : "Not a directory";
    progress.clear();
    const std::string out = captured([&] {
      EXPECT_EQ(failure([&] { writer.generate_dry_run_report(record_progress, VBAParser{}, bad); }),
                "cannot write workbook '" + bad + "/Brimsel_Report_20261207_221530.xlsx': "
                  + reason);
      EXPECT_EQ(failure([&] { writer.generate_refactor_report(ChangesMade{}, bad); }),
                "cannot write workbook '" + bad + "/VBT_Refactor_Report_20261207_221530.xlsx': "
                  + reason);
    });
    EXPECT_EQ(out.find("Dry-run报告已生成"), std::string::npos);
    EXPECT_EQ(progress.size(), 9U);
    EXPECT_EQ(out.find("重构报告已生成"), std::string::npos);
  }
  EXPECT_FALSE(std::filesystem::exists(folder + "/missing"));
}

TEST_F(Report, FailingProgressSinkStopsTheReportWithoutAWorkbook)
{
  struct Stop
  {
  };
  for (const int failing : {10, 50, 90}) {
    progress.clear();
    const ProgressCallback sink = [&](int value) {
      progress.push_back(value);
      if (value == failing) {
        throw Stop{};
      }
    };
    const std::string out = captured(
      [&] { EXPECT_THROW(writer.generate_dry_run_report(sink, VBAParser{}, folder), Stop); });
    EXPECT_EQ(progress.back(), failing);
    EXPECT_EQ(out, "正在生成dry-run报告: " + expected_path + "\n");
    EXPECT_FALSE(std::filesystem::exists(expected_path)) << failing;
  }
}

// Reports of one second never replace what stands at their name, a folder included: each
// takes the next free number and prints and returns the name it was written under.
TEST_F(Report, TakenNamesAreNumberedAndLeftAlone)
{
  std::filesystem::create_directory(expected_path);
  test::write_file(std::filesystem::path(expected_path) / "inside", "kept");
  const std::string refactor_path = folder + "/VBT_Refactor_Report_20261207_221530.xlsx";
  test::write_file(refactor_path, "kept");

  std::vector<std::string> paths;
  const std::string out = captured([&] {
    for (int i = 0; i < 2; ++i) {
      paths.push_back(writer.generate_dry_run_report(record_progress, VBAParser{}, folder));
      paths.push_back(writer.generate_refactor_report(ChangesMade{}, folder));
    }
  });
  const std::string stem = folder + "/Brimsel_Report_20261207_221530";
  const std::string refactor_stem = folder + "/VBT_Refactor_Report_20261207_221530";
  EXPECT_EQ(paths, (std::vector<std::string>{stem + "_2.xlsx", refactor_stem + "_2.xlsx",
                                             stem + "_3.xlsx", refactor_stem + "_3.xlsx"}));
  EXPECT_EQ(out, "正在生成dry-run报告: " + paths[0] + "\nDry-run报告已生成: " + paths[0] + "\n"
                   + "正在生成重构报告: " + paths[1] + "\n重构报告已生成: " + paths[1] + "\n"
                   + "正在生成dry-run报告: " + paths[2] + "\nDry-run报告已生成: " + paths[2] + "\n"
                   + "正在生成重构报告: " + paths[3] + "\n重构报告已生成: " + paths[3] + "\n");
  for (const auto& path : paths) {
    EXPECT_FALSE(sheet_names(path).empty()) << path;
  }
  EXPECT_EQ(test::read_file(std::filesystem::path(expected_path) / "inside"), "kept");
  EXPECT_EQ(test::read_file(refactor_path), "kept");

  // Another writer takes the free name while the report is written: the report goes on to the
  // next one, and its last line and result name that.
  const ProgressCallback take_name = [&](int value) {
    if (value == 50) {
      test::write_file(stem + "_4.xlsx", "other writer");
    }
  };
  std::string path;
  const std::string raced =
    captured([&] { path = writer.generate_dry_run_report(take_name, VBAParser{}, folder); });
  EXPECT_EQ(path, stem + "_5.xlsx");
  EXPECT_EQ(raced, "正在生成dry-run报告: " + stem + "_4.xlsx\nDry-run报告已生成: " + path + "\n");
  EXPECT_EQ(test::read_file(stem + "_4.xlsx"), "other writer");
}

// With rows the sheets and lines are those of the command line's refactor test.
TEST_F(Report, RefactorReportWithoutChangesHasTheSummaryAlone)
{
  std::string empty;
  captured([&] { empty = writer.generate_refactor_report(ChangesMade{}, folder); });
  EXPECT_EQ(empty, folder + "/VBT_Refactor_Report_20261207_221530.xlsx");
  EXPECT_EQ(sheet_names(empty), (std::vector<std::string>{"Refactor Summary"}));
}

} // namespace
} // namespace tarnwick::parvine
