#include "tarnwick/habron/habron.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "tarnwick/text/error.hpp"

namespace fs = std::filesystem;
using tarnwick::habron::Habron;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using Items = std::vector<std::string>;

namespace {

const std::string k_header = "DTJobListSheet,version=2.5:platform=Jaguar\tJob List\n\n"
                             "\t\tSheet Parameters\t\n"
                             "\tJob Name\tPin Map\tTest Instances\tFlow Table\tAC Specs\tDC Specs\n";

} // namespace

TEST(Habron, RowCellsGoToTheirKeysAsWritten)
{
  Habron reader;
  reader.parse(k_header + "\tJOB1\tpins\tTS_A, TS_B\tFlow Main\tAC1\tDC1\tPS1,PS2\n"
                          "\tjob1\tp\tI2\tF2\tA\tD\tP\tGlobal X\ty\n"
                          "\tJOB1\tp\tI3\tF3\tA\tD\tP\n");
  const auto table = reader.get_test_job_list_info();
  ASSERT_EQ(table->size(), 2u);
  // A repeated name keeps its first place and takes the later row; names keep their case.
  EXPECT_EQ(table->begin()->first, "JOB1");
  EXPECT_EQ(table->at("JOB1").flow_table, "F3");
  EXPECT_EQ(table->at("job1").global_spec, "Global Specs");
  EXPECT_EQ(table->at("job1").pattern_set, Items{"P"});

  reader.parse(k_header + "\tJOB1\tpins\tTS_A, TS_B\tFlow Main\tAC1\tDC1\tPS1,PS2\n");
  EXPECT_EQ(printed(table->at("JOB1")),
            "{'TestInstanceList': ['TS_A', ' TS_B'], 'Flow Table': 'Flow Main', 'DC Spec': 'DC1', "
            "'AC Spec': 'AC1', 'PatternSet': ['PS1', 'PS2\\n'], 'Global Spec': 'Global Specs'}");
}

TEST(Habron, ShortAndUnnamedRows)
{
  Habron reader;
  CaptureStdout();
  // Header rows are never read, whatever they hold.
  reader.parse("\tA\tp\tI\tF\tA\tD\tP\n\n\n\n");
  reader.parse(k_header + "\n\tJOB1\tp\tI1\n\t\tp\tI1\tF1\tA\tD\tP\n\tJOB2\tp\tI2\tF2\n\tJOB3\tp\tI\tF\tAC\tDC");
  EXPECT_EQ(GetCapturedStdout(), "Warning: No flow table found in this line: \n\n"
                                 "Warning: No flow table found in this line: \tJOB1\tp\tI1\n\n");
  const auto table = reader.get_test_job_list_info();
  ASSERT_EQ(table->size(), 2u);
  // Rows of five to seven cells count their missing cells as empty texts.
  const auto& five = table->at("JOB2");
  EXPECT_EQ(five.flow_table, "F2\n");
  EXPECT_EQ(five.ac_spec, "");
  EXPECT_EQ(five.dc_spec, "");
  EXPECT_EQ(five.pattern_set, Items{""});
  EXPECT_EQ(table->at("JOB3").dc_spec, "DC");
  EXPECT_EQ(table->at("JOB3").pattern_set, Items{""});
}

TEST(Habron, ReadsFileWithCrLfAndTableOutlivesReader)
{
  const auto dir = fs::temp_directory_path() / ("habron_test_" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "job list.txt", std::ios::binary)
    << "h\r\n\r\n\r\n\r\n\tJOB1\tp\tI1\tF1\tA\tD\tPS1\r\n";
  std::shared_ptr<tarnwick::habron::JobListDict> table;
  {
    Habron reader;
    reader.read_job_list(dir / "job list.txt");
    // The path is used unchanged: no "%20" fallback here.
    EXPECT_THROW(reader.read_job_list(dir / "job%20list.txt"), tarnwick::FileNotFoundError);
    EXPECT_THROW(reader.read_job_list(dir), tarnwick::Error);
    table = reader.get_test_job_list_info();
  }
  fs::remove_all(dir);
  ASSERT_EQ(table->size(), 1u);
  EXPECT_EQ(table->at("JOB1").pattern_set, Items{"PS1\n"});
}

TEST(HabronRealData, ReadsGeneratedJobList)
{
  const fs::path path = fs::path(TARNWICK_SOURCE_DIR) / "../shared/realdata/generated-ultraflex/Jobs.txt";
  if (!fs::exists(path)) {
    GTEST_SKIP() << "no real-layout exports on this machine";
  }
  Habron reader;
  reader.read_job_list(path);
  const auto& ft = reader.get_test_job_list_info()->at("FT");
  EXPECT_EQ(ft.ac_spec, "SpecsAC_func");
  EXPECT_EQ(ft.dc_spec, "SpecsDC_func");
}
