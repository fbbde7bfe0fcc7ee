#include "tarnwick/habron/habron.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tarnwick/text/error.hpp"

namespace fs = std::filesystem;
using tarnwick::habron::Habron;
using tarnwick::habron::JobListContent;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

const std::string k_header = "DTJobListSheet,version=2.5:platform=Jaguar\tJob List\n"
                             "\n"
                             "\t\tSheet Parameters\t\n"
                             "\tJob Name\tPin Map\tTest Instances\tFlow Table\tAC Specs\tDC Specs\t"
                             "Pattern Sets\tComment\n";

class HabronFile : public testing::Test
{
protected:
  void SetUp() override
  {
    m_dir = fs::temp_directory_path() /
            ("habron_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }

  fs::path write(const std::string& name, const std::string& bytes)
  {
    const auto path = m_dir / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  fs::path m_dir;
};

} // namespace

TEST(Habron, RowCellsGoToTheirKeysAsWritten)
{
  Habron reader;
  reader.parse(k_header + "\tJOB1\tpins\tTS_A, TS_B\tFlow Main\tAC1\tDC1\tPS1,PS2\n");
  const auto table = reader.get_test_job_list_info();
  ASSERT_EQ(table->size(), 1u);
  const JobListContent& job = table->at("JOB1");
  EXPECT_EQ(job.test_instance_list, (std::vector<std::string>{"TS_A", " TS_B"}));
  EXPECT_EQ(job.flow_table, "Flow Main");
  EXPECT_EQ(job.ac_spec, "AC1");
  EXPECT_EQ(job.dc_spec, "DC1");
  // The last cell keeps its line end.
  EXPECT_EQ(job.pattern_set, (std::vector<std::string>{"PS1", "PS2\n"}));
  EXPECT_EQ(job.global_spec, "Global Specs");
  EXPECT_EQ(printed(job), "{'TestInstanceList': ['TS_A', ' TS_B'], 'Flow Table': 'Flow Main', "
                          "'DC Spec': 'DC1', 'AC Spec': 'AC1', 'PatternSet': ['PS1', 'PS2\\n'], "
                          "'Global Spec': 'Global Specs'}");
}

TEST(Habron, RepeatedNamesReplaceInPlaceAndCaseCounts)
{
  Habron reader;
  reader.parse(k_header + "\tJOB1\tp\tI1\tF1\tA\tD\tP\tGlobal X\n"
                          "\tjob1\tp\tI2\tF2\tA\tD\tP\tx\n"
                          "\tJOB1\tp\tI3\tF3\tA\tD\tP\tx\ty\tz\n");
  const auto table = reader.get_test_job_list_info();
  ASSERT_EQ(table->size(), 2u);
  EXPECT_EQ(table->begin()->first, "JOB1");
  EXPECT_EQ(table->begin()->second.flow_table, "F3");
  EXPECT_EQ(table->begin()->second.pattern_set, std::vector<std::string>{"P"});
  EXPECT_EQ(table->begin()->second.global_spec, "Global Specs");
  EXPECT_EQ(std::next(table->begin())->first, "job1");
}

TEST(Habron, ShortRowsWarnAndUnnamedRowsAreSkippedSilently)
{
  Habron reader;
  CaptureStdout();
  reader.parse(k_header + "\n"
                          "\tJOB1\tp\tI1\n"
                          "\t\tp\tI1\tF1\tA\tD\tP\n"
                          "\tJOB2\tp\tI2\tF2");
  EXPECT_EQ(GetCapturedStdout(), "Warning: No flow table found in this line: \n\n"
                                 "Warning: No flow table found in this line: \tJOB1\tp\tI1\n\n");
  const auto table = reader.get_test_job_list_info();
  ASSERT_EQ(table->size(), 1u);
  EXPECT_TRUE(table->contains("JOB2"));
}

TEST(Habron, FiveCellRowGetsEmptyTextsForMissingCells)
{
  Habron reader;
  reader.parse(k_header + "\tJOB1\tp\tI1\tFlow\n\tJOB2\tp\tI1\tFlow\tAC\tDC\n");
  const auto table = reader.get_test_job_list_info();
  const auto& five = table->at("JOB1");
  EXPECT_EQ(five.flow_table, "Flow\n");
  EXPECT_EQ(five.ac_spec, "");
  EXPECT_EQ(five.dc_spec, "");
  EXPECT_EQ(five.pattern_set, std::vector<std::string>{""});
  EXPECT_EQ(five.global_spec, "Global Specs");
  const auto& seven = table->at("JOB2");
  EXPECT_EQ(seven.dc_spec, "DC\n");
  EXPECT_EQ(seven.pattern_set, std::vector<std::string>{""});
}

TEST(Habron, HeaderRowsAreNeverRead)
{
  Habron reader;
  CaptureStdout();
  reader.parse("\tA\tp\tI\tF\tA\tD\tP\n\tB\tp\tI\tF\tA\tD\tP\n\n\tC\tp\tI\tF\tA\tD\tP\n");
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_TRUE(reader.get_test_job_list_info()->empty());
}

TEST_F(HabronFile, ReadsCrLfFileAndTableOutlivesReader)
{
  auto crlf = k_header + "\tJOB1\tp\tI1\tF1\tA\tD\tPS1\n";
  for (std::size_t at = 0; (at = crlf.find('\n', at)) != std::string::npos; at += 2) {
    crlf.insert(at, "\r");
  }
  const auto path = write("job list.txt", crlf);
  std::shared_ptr<tarnwick::habron::JobListDict> table;
  {
    Habron reader;
    reader.read_job_list(path);
    table = reader.get_test_job_list_info();
  }
  ASSERT_EQ(table->size(), 1u);
  EXPECT_EQ(table->at("JOB1").pattern_set, std::vector<std::string>{"PS1\n"});
}

TEST_F(HabronFile, MissingFileIsNotFoundAndPathIsUsedUnchanged)
{
  write("job list.txt", k_header + "\tJOB1\tp\tI1\tF1\tA\tD\tPS1\n");
  Habron reader;
  EXPECT_THROW(reader.read_job_list(m_dir / "job%20list.txt"), tarnwick::FileNotFoundError);
  EXPECT_THROW(reader.read_job_list(m_dir), tarnwick::Error);
  EXPECT_TRUE(reader.get_test_job_list_info()->empty());
}

TEST(HabronRealData, ReadsGeneratedJobList)
{
  const fs::path path = "/work/shared/realdata/generated-ultraflex/Jobs.txt";
  if (!fs::exists(path)) {
    GTEST_SKIP() << "no real-layout exports on this machine";
  }
  Habron reader;
  CaptureStdout();
  reader.read_job_list(path);
  GetCapturedStdout();
  const auto table = reader.get_test_job_list_info();
  ASSERT_TRUE(table->contains("FT"));
  EXPECT_EQ(table->at("FT").ac_spec, "SpecsAC_func");
  EXPECT_EQ(table->at("FT").dc_spec, "SpecsDC_func");
}
