#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tarnwick/text/error.hpp"

#include "run_device.hpp"

namespace {

using namespace tarnwick::olvent::test;
using testing::ElementsAre;
using testing::HasSubstr;

const std::string k_long_job = "JOB_WITH_A_NAME_OF_25_CHS";

class RunDriver : public EngineRun
{
protected:
  void SetUp() override
  {
    EngineRun::SetUp();
    sheet("Job List", job_list({{"A", "Inst", "Flow", "AC", "DC", "PS"},
                                {k_long_job, "Inst", "Flow", "AC", "DC", "PS"},
                                {"B/C", "Inst", "Flow", "AC", "DC", "PS"},
                                {"BROKEN", "Inst", "No Flow", "AC", "DC", "PS"}}));
    sheet("Flow", flow_table({flow_row("Test", "t1", "1", "1", "1", "Pass")}));
    sheet("Inst", test_instances({{"t1"}}));
    sheet("PS", pattern_sets({{"ps", "p.PAT"}}));
    sheet("DC", spec_sheet("DCSpecSheet", "2.0", "Dc", {}));
    sheet("AC", spec_sheet("ACSpecSheet", "2.0", "Ac", {}));
    sheet("Global Specs", global_specs({}));
  }

  std::vector<fs::path> written() const
  {
    return {fs::directory_iterator(out), fs::directory_iterator{}};
  }

  // The log lines from the handler's first line on.
  std::vector<std::string> handler_lines() const
  {
    return log_from("An exception occurred!Please check!!!", 10);
  }
};

TEST_F(RunDriver, WritesTheJobSheetsThenTheSummarySheets)
{
  load();
  std::vector<std::string> paths = run({"A", k_long_job});
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_EQ(fs::path(paths[0]).parent_path(), out);
  EXPECT_THAT(std::vector<std::string>(log.end() - 3, log.end()),
              ElementsAre("Output file path is: " + paths[0], "Execution successful!!!", k_end));
  // The sheets and formats went with the workbook.
  EXPECT_EQ(engine->work_sheet, nullptr);
  EXPECT_FALSE(engine->format_red || engine->format_yellow || engine->format_orange ||
               engine->format_bold);
  // The pattern map's name is cut to the 31 characters a sheet name may have.
  EXPECT_EQ(
      tarnwick::xlsx::Reader(paths[0]).sheet_names(),
      (std::vector<std::string>{"A", k_long_job, "PatTsetMap_JOB_WITH_A_NAME_OF_2", "SortBinDescrp",
                                "InstParametersCheck", "PowerPinClampCheck"}));
}

TEST_F(RunDriver, AnEmptySelectionIsAnErrorOfTheGuardedSection)
{
  load();
  testing::internal::CaptureStderr();
  std::vector<std::string> paths = run({});
  std::string trace = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(paths.empty());
  EXPECT_THAT(log, ElementsAre("An exception occurred!Please check!!!",
                               "No job selected: the pattern map sheet is named after the last "
                               "job checked"));
  EXPECT_THAT(trace, HasSubstr(log.back()));
  EXPECT_EQ(progress, std::vector<double>{0});
  // The workbook was still closed: a file without job or summary sheets.
  ASSERT_EQ(written().size(), 1u);
  tarnwick::xlsx::Reader reader(written()[0]);
  for (const auto& name : reader.sheet_names())
    EXPECT_EQ(name.rfind("PatTsetMap_", 0), std::string::npos) << name;
}

TEST_F(RunDriver, AFailedJobKeepsTheSheetsWrittenBeforeIt)
{
  load();
  std::vector<std::string> paths = run({"A", "B/C"});
  EXPECT_TRUE(paths.empty());
  EXPECT_EQ(handler_lines().size(), 2u);
  ASSERT_EQ(written().size(), 1u);
  EXPECT_EQ(tarnwick::xlsx::Reader(written()[0]).sheet_names(), std::vector<std::string>{"A"});

  // A job whose flow table is missing: its sheet stays empty, no summary sheet follows.
  log.clear();
  fs::remove(written()[0]);
  paths = run({"A", "BROKEN", k_long_job});
  EXPECT_TRUE(paths.empty());
  ASSERT_EQ(handler_lines().size(), 2u);
  EXPECT_THAT(handler_lines()[1], HasSubstr("No Flow.txt"));
  EXPECT_EQ(tarnwick::xlsx::Reader(written()[0]).sheet_names(),
            (std::vector<std::string>{"A", "BROKEN"}));
}

TEST_F(RunDriver, AWorkbookThatCannotBeWrittenReachesTheCaller)
{
  load();
  const std::string missing = (dir() / "no such folder").string();
  // The close inside the guarded section fails: the handler logs and passes the error on
  // without closing again.
  EXPECT_THROW(run({"A"}, missing), tarnwick::Error);
  EXPECT_EQ(handler_lines().size(), 2u);
  EXPECT_THAT(log, testing::Not(testing::Contains(HasSubstr("Output file path is: "))));

  // A failing job and then the handler's own close.
  log.clear();
  EXPECT_THROW(run({"BROKEN"}, missing), tarnwick::Error);
  ASSERT_EQ(handler_lines().size(), 2u);
  EXPECT_THAT(handler_lines()[1], HasSubstr("No Flow.txt"));
  EXPECT_FALSE(fs::exists(missing));
}

class VbtStage : public RunDriver
{
protected:
  void SetUp() override
  {
    RunDriver::SetUp();
    write_file(device / "Module1.bas", "Attribute VB_Name = \"Module1\"\r\n"
                                       "Public Count As Long\r\n"
                                       "Public Type Point\r\n  X As Long\r\nEnd Type\r\n"
                                       "Public Function Run_VBT(argc As Long) As Long\r\n"
                                       "  Dim total As Long\r\n  Run_VBT = total\r\n"
                                       "End Function\r\n");
    load("", "", "", "Period", 1);
  }
};

TEST_F(VbtStage, ParsesTheDeviceAndWritesTheReportAfterTheCheckWorkbook)
{
  std::vector<std::string> paths = run({"A"});
  ASSERT_EQ(paths.size(), 2u);
  EXPECT_THAT(paths[0], HasSubstr("Olvent_"));
  EXPECT_THAT(paths[1], testing::StartsWith((out / "Brimsel_Report_").string()));
  EXPECT_TRUE(fs::is_regular_file(paths[1]));

  EXPECT_THAT(log_from("Output file path is: " + paths[0], 12),
              ElementsAre("Output file path is: " + paths[0], "Execution successful!!!", k_end,
                          "开始处理目录中的BAS文件: " + device.string(), "解析完成！",
                          "发现 1 个全局变量", "发现 1 个函数", "发现 1 个Type定义",
                          "发现 0 个Enum定义", "\n✓ 检查报告已生成: " + paths[1], k_end));
  std::vector<double> tail(progress.end() - 11, progress.end());
  EXPECT_EQ(tail, (std::vector<double>{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
  EXPECT_THAT(stdout_text, HasSubstr("找到 1 个 .bas 文件"));
}

TEST_F(VbtStage, AFailureInTheStageKeepsTheCheckWorkbookPath)
{
  // The report's progress calls reach the host's sink; one that fails ends the stage.
  engine->progressbarOne = [this](double value) {
    if (value == 30)
      throw std::runtime_error("progress sink gone");
    progress.push_back(value);
  };
  std::vector<std::string> paths = run({"A"});
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_THAT(handler_lines(),
              ElementsAre("An exception occurred!Please check!!!", "progress sink gone"));
  EXPECT_EQ(log_from("发现 0 个Enum定义", 2)[1], "An exception occurred!Please check!!!");
  // The check workbook on disk is complete.
  EXPECT_EQ(tarnwick::xlsx::Reader(paths[0]).sheet_names().size(), 5u);
}

// Each log line reaches the marked sink too, with the very text the log sink gets, marked where
// it is logged: each line of a report with the report's severity, and the first line of a job
// or of the VBT check as such; every other line is plain.
TEST_F(VbtStage, MarksEachLogLineWhereItIsLogged)
{
  using tarnwick::olvent::LogMark;
  using Marked = std::vector<std::pair<std::string, LogMark>>;
  Marked marked;
  engine->set_marked_log_sink(
      [&marked](const std::string& line, const LogMark& mark) { marked.emplace_back(line, mark); });
  // The lines marked since the last call that are not plain.
  auto not_plain = [&] {
    std::vector<std::string> texts;
    Marked found;
    for (const auto& [line, mark] : marked) {
      texts.push_back(line);
      if (mark != LogMark::plain())
        found.emplace_back(line, mark);
    }
    EXPECT_EQ(texts, log);
    marked.clear();
    log.clear();
    return found;
  };

  run({"A"});
  EXPECT_EQ(not_plain(),
            (Marked{{"Parse Job: A", LogMark::job_begins()},
                    {"开始处理目录中的BAS文件: " + device.string(), LogMark::vbt_check_begins()}}));
  run({"BROKEN"});
  const std::vector<std::string> handler = handler_lines();
  ASSERT_EQ(handler.size(), 2u);
  EXPECT_EQ(not_plain(), (Marked{{"Parse Job: BROKEN", LogMark::job_begins()},
                                 {handler[0], LogMark::error()},
                                 {handler[1], LogMark::error_detail()}}));

  // A failed flow row: its heading, the error and the row.
  load((fs::path(TARNWICK_TEST_DATA_DIR) / "olvent" / "e2e_power_error").string());
  marked.clear();
  run({"PWR"});
  const std::vector<std::string> report = log_from("Error found in power process:", 3);
  ASSERT_EQ(report.size(), 3u);
  EXPECT_EQ(report[1], "Power pin VDDQ has no clamp row in Levels Bad");
  EXPECT_EQ(not_plain(), (Marked{{"Parse Job: PWR", LogMark::job_begins()},
                                 {report[0], LogMark::error()},
                                 {report[1], LogMark::error_detail()},
                                 {report[2], LogMark::error_detail()}}));
}

} // namespace
