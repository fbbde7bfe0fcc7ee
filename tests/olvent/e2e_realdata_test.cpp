// Runs over the sheet exports in real layouts kept outside the project (see the folder's
// README); skipped where they are absent. The exports are copied into a temporary folder: the
// job list gets the name an export of the tester gives it, or a job list of our own names the
// real sheets.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tarnwick/xlsx/reader.hpp"

#include "run_device.hpp"

namespace {

using namespace tarnwick::olvent::test;
using testing::HasSubstr;

fs::path realdata(const std::string& name)
{
  return fs::path(TARNWICK_SOURCE_DIR) / ".." / "shared" / "realdata" / name;
}

class RealData : public EngineRun
{
protected:
  // Copies the exports `name` into the device folder; false when they are absent.
  bool copy(const std::string& name)
  {
    if (!fs::is_directory(realdata(name)))
      return false;
    fs::remove_all(device);
    fs::copy(realdata(name), device, fs::copy_options::recursive);
    for (const auto& entry : fs::recursive_directory_iterator(device))
      fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
    return true;
  }

  // A job list of one job per flow table, each naming `instances`, `patsets` and the specs.
  void own_job_list(const std::vector<std::string>& flows, const std::string& instances,
                    const std::string& patsets, const std::string& ac, const std::string& dc)
  {
    std::vector<Job> jobs;
    for (const auto& flow : flows)
      jobs.push_back({flow, instances, flow, ac, dc, patsets});
    sheet("Job List", job_list(jobs));
  }

  // The handler's error line of the last run, or "" after a successful one.
  std::string failure() const
  {
    auto lines = log_from("An exception occurred!Please check!!!", 2);
    return lines.size() == 2 ? lines[1] : "";
  }
};

TEST_F(RealData, UltraflexJobListNamesFlowTablesThatDoNotExist)
{
  if (!copy("generated-ultraflex"))
    GTEST_SKIP() << "no real exports at " << realdata("generated-ultraflex");
  fs::rename(device / "Jobs.txt", device / "Job List.txt");
  load();
  ASSERT_EQ(engine->get_job_list()->size(), 2u);
  EXPECT_TRUE(run({"FT"}).empty());
  // The job names its flow tables as one list in one cell: no such sheet.
  EXPECT_THAT(failure(), HasSubstr("prb1_flow,prb2_flow,test_flow"));
  EXPECT_THAT(failure(), HasSubstr("No such file or directory"));
}

TEST_F(RealData, UltraflexFlowTablesWalkOrFailNamingTheirSheet)
{
  if (!copy("generated-ultraflex"))
    GTEST_SKIP() << "no real exports at " << realdata("generated-ultraflex");
  use_built_pattern_tool();
  const std::string instances = "prb1_instances,prb2_instances,global_instances,"
                                "flow_control_instances";
  own_job_list({"prb1_flow", "test_flow", "basic_interface_flow", "custom_tests_flow", "prb2_flow"},
               instances, "", "SpecsAC_func", "SpecsDC_func");
  load("", "", device.string());

  // prb2_flow ends with a test row whose bins are empty.
  for (const std::string job :
       {"prb1_flow", "test_flow", "basic_interface_flow", "custom_tests_flow", "prb2_flow"}) {
    log.clear();
    std::vector<std::string> paths = run({job});
    ASSERT_EQ(paths.size(), 1u) << job << ": " << failure();
    tarnwick::xlsx::Reader reader(paths[0]);
    EXPECT_EQ(reader.sheet_names().front(), job);
    EXPECT_EQ(reader.read_sheet(job).cell(0, 0).text, "Opcode");
    fs::remove(paths[0]);
  }
  // prb1_flow's instances are in the sheets: one sheet row per record.
  log.clear();
  std::vector<std::string> paths = run({"prb1_flow"});
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_GT(tarnwick::xlsx::Reader(paths[0]).read_sheet("prb1_flow").row_count(), 50u);
  EXPECT_THAT(log, testing::Contains("Warning: cannot read Global Specs, please check it!"));

}

TEST_F(RealData, UltraflexPatternSetsOfAnOlderLayoutFailWithTheirItem)
{
  if (!copy("generated-ultraflex"))
    GTEST_SKIP() << "no real exports at " << realdata("generated-ultraflex");
  own_job_list({"prb1_flow"}, "prb1_instances", "prb2_patsets", "SpecsAC_func", "SpecsDC_func");
  load();
  EXPECT_TRUE(run({"prb1_flow"}).empty());
  EXPECT_EQ(failure(), "Error: Patset found item without pattern definition: Yes");
}

TEST_F(RealData, J750ExportsWithoutSpecSheetsFailNamingTheSheet)
{
  if (!copy("generated-j750"))
    GTEST_SKIP() << "no real exports at " << realdata("generated-j750");
  own_job_list({"prb1_flow"}, "prb1_instances", "prb1_patsets", "SpecsAC", "SpecsDC");
  engine->read_device(
      device.string(), "", "", "J750", [this](const std::string& line) { log.push_back(line); },
      "Period", "", 0, nullptr);
  EXPECT_TRUE(run({"prb1_flow"}).empty());
  EXPECT_THAT(failure(), HasSubstr("SpecsDC.txt"));
  // The flow table, pattern sets and instances were read before.
  EXPECT_GT(engine->test_instance_dict->size(), 0u);
}

} // namespace
