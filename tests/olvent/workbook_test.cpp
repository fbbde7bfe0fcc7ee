#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "run_device.hpp"
#include "tarnwick/common/common.hpp"
#include "tarnwick/olvent/olvent.hpp"
#include "tarnwick/text/error.hpp"
#include "tarnwick/xlsx/reader.hpp"

namespace {

namespace fs = std::filesystem;
using tarnwick::olvent::Olvent;
using tarnwick::olvent::OlventAccess;
using namespace tarnwick::olvent::test;

std::tm at(int year, int month, int day, int hour, int minute, int second)
{
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return tm;
}

class CheckWorkbook : public TempDirTest
{
};

TEST_F(CheckWorkbook, IsNamedAfterTheDateAndTheUnpaddedTime)
{
  Olvent engine(dir().string());
  engine.set_clock([] { return at(2026, 3, 7, 9, 5, 3); });
  EXPECT_EQ(engine.check_workbook_path("./"), "./Olvent_2026-03-07__953.xlsm");
  EXPECT_EQ(engine.check_workbook_path("out"), "out/Olvent_2026-03-07__953.xlsm");
  engine.set_clock([] { return at(2026, 12, 31, 23, 59, 59); });
  EXPECT_EQ(engine.check_workbook_path(""), "Olvent_2026-12-31__235959.xlsm");

  // The time of day is read first, the date just after it.
  std::vector<std::tm> reads = {at(2026, 3, 7, 23, 59, 59), at(2026, 3, 8, 0, 0, 0)};
  std::size_t next = 0;
  engine.set_clock([&] { return reads.at(next++); });
  EXPECT_EQ(engine.check_workbook_path("./"), "./Olvent_2026-03-08__235959.xlsm");
}

TEST_F(CheckWorkbook, NumbersANameThatIsTaken)
{
  Olvent engine(dir().string());
  // 01:23:45 and 12:34:05 both give "12345".
  engine.set_clock([] { return at(2026, 3, 7, 1, 23, 45); });
  std::string folder = dir().string();
  std::string first = engine.check_workbook_path(folder);
  EXPECT_EQ(first, folder + "/Olvent_2026-03-07__12345.xlsm");
  write_file(first, "");
  engine.set_clock([] { return at(2026, 3, 7, 12, 34, 5); });
  std::string second = engine.check_workbook_path(folder);
  EXPECT_EQ(second, folder + "/Olvent_2026-03-07__12345_2.xlsm");
  write_file(second, "");
  EXPECT_EQ(engine.check_workbook_path(folder + "/"), folder + "/Olvent_2026-03-07__12345_3.xlsm");
}

TEST_F(CheckWorkbook, FindsTheVbaProjectBesideTheEngineLibrary)
{
  fs::path expected = fs::path(TARNWICK_BUILD_DIR) / "lib" / "bin" / "vbaProject.bin";
  EXPECT_EQ(fs::weakly_canonical(Olvent::vba_project_path()), fs::weakly_canonical(expected));
  EXPECT_TRUE(fs::is_regular_file(Olvent::vba_project_path()));

  tarnwick::xlsx::Workbook workbook(dir() / "x.xlsm");
  std::string missing = (dir() / "bin" / "vbaProject.bin").string();
  try {
    OlventAccess::add_vba_project_file(workbook, missing);
    FAIL() << "no error";
  } catch (const tarnwick::FileNotFoundError& e) {
    EXPECT_EQ(std::string(e.what()), "VBA project file not found: " + missing);
  }
}

TEST_F(CheckWorkbook, IsWrittenWithFormatsSheetsAndVbaProject)
{
  Olvent engine(dir().string());
  engine.set_clock([] { return at(2026, 3, 7, 9, 5, 3); });
  std::string path = engine.check_workbook_path(dir().string());
  auto workbook = engine.create_check_workbook(path);
  EXPECT_TRUE(workbook->options().nan_inf_to_errors);

  // The layout of a run with the jobs A and B, with one cell in each format.
  for (const std::string job : {"JOB_A", "JOB_B"}) {
    auto& sheet = engine.add_job_sheet(*workbook, job);
    EXPECT_EQ(engine.work_sheet, &sheet);
    sheet.write_string(0, 0, "Opcode");
    sheet.write_string(1, 0, "red", engine.format_red);
    sheet.write_string(1, 1, "yellow", engine.format_yellow);
    sheet.write_string(1, 2, "orange", engine.format_orange);
    engine.excel_file_optimise(sheet);
  }
  workbook->add_worksheet("PatTsetMap_JOB_B");
  workbook->add_worksheet("SortBinDescrp");
  engine.excel_file_optimise(workbook->add_worksheet("InstParametersCheck"));
  engine.add_vba_project(*workbook);
  auto& clamp = workbook->add_worksheet("PowerPinClampCheck");
  clamp.write_string(0, 0, "Test Instance");
  clamp.write_number(1, 1, std::numeric_limits<double>::quiet_NaN());
  engine.excel_file_optimise(clamp, "B2");
  workbook->close();

  tarnwick::xlsx::Reader reader(path);
  EXPECT_EQ(reader.sheet_names(),
            (std::vector<std::string>{"JOB_A", "JOB_B", "PatTsetMap_JOB_B", "SortBinDescrp",
                                      "InstParametersCheck", "PowerPinClampCheck"}));
  tarnwick::common::unzip(path, (dir() / "parts").string());
  EXPECT_NE(read_file(dir() / "parts" / "[Content_Types].xml")
              .find("application/vnd.ms-excel.sheet.macroEnabled.main+xml"),
            std::string::npos);
  EXPECT_EQ(read_file(dir() / "parts" / "xl" / "vbaProject.bin"),
            read_file(Olvent::vba_project_path()));

  // An independent reader sees the formats, panes, filters and outline settings.
  WorkbookDump dump = dump_workbook(path, dir());
  EXPECT_THAT(dump.sheets,
              testing::ElementsAre("JOB_A C2 A1:CW1 20.0 True", "JOB_B C2 A1:CW1 20.0 True",
                                   "PatTsetMap_JOB_B None None None False",
                                   "SortBinDescrp None None None False",
                                   "InstParametersCheck C2 A1:CW1 20.0 True",
                                   "PowerPinClampCheck B2 A1:CW1 20.0 True"));
  EXPECT_THAT(dump.outline,
              testing::ElementsAre("JOB_A 1 0 1 0", "JOB_B 1 0 1 0", "PatTsetMap_JOB_B 1 1 1 0",
                                   "SortBinDescrp 1 1 1 0", "InstParametersCheck 1 1 1 0",
                                   "PowerPinClampCheck 1 1 1 0"));
  EXPECT_EQ(Cells({dump.cell("JOB_A!A2").fill, dump.cell("JOB_A!B2").fill,
                   dump.cell("JOB_A!C2").fill}),
            Cells({"FFC7CE", "F7D674", "FFAA33"}));
  EXPECT_EQ(dump.cell("PowerPinClampCheck!B2"), (SeenCell{"e", "#NUM!", "-"}));
  EXPECT_TRUE(dump.vba);
}

} // namespace
