// Runs over the sheet exports in real layouts kept outside the project (see the folder's
// README); skipped where they are absent. The exports are copied into a temporary folder: the
// job list gets the name an export of the tester gives it, or a job list of our own names the
// real sheets.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
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

  // The flow tables among the exports ("*_flow.txt"), by name.
  std::vector<std::string> flow_tables() const
  {
    std::vector<std::string> flows;
    for (const auto& entry : fs::directory_iterator(device)) {
      const std::string name = entry.path().filename().string();
      if (name.ends_with("_flow.txt"))
        flows.push_back(name.substr(0, name.size() - 4));
    }
    std::sort(flows.begin(), flows.end());
    return flows;
  }

  // Runs the olvent program over the device folder with `args` in front; the workbook is
  // written into `out`.
  Command olvent(std::vector<std::string> args)
  {
    args.insert(args.end(), {"-q", "-o", out.string(), device.string()});
    return run_olvent(args, make_dir("scratch"), "TMPDIR=" + shell_quote(make_dir("tmp").string()));
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

TEST_F(RealData, UltraflexPatternSetsOfAnOlderLayoutReadTheirItemColumn)
{
  if (!copy("generated-ultraflex"))
    GTEST_SKIP() << "no real exports at " << realdata("generated-ultraflex");
  // Version 2.1: the file is in the column "File/Group Name" (cell 4), "Yes" (Burst) in cell 5.
  own_job_list({"prb1_flow"}, "prb1_instances", "prb1_patsets,prb2_patsets", "SpecsAC_func",
               "SpecsDC_func");
  load();
  EXPECT_EQ(run({"prb1_flow"}).size(), 1u) << failure();
  const auto& record = engine->test_instance_dict->at("ANOTHER_NOT_P1_OR_P2_TEST").at(0);
  EXPECT_EQ(record.pattern, "another_not_p1_or_p2_test.PAT,nvm_global_subs.PAT");
  EXPECT_EQ(record.arg_details.at(0), "another_not_p1_or_p2_test_pset");
}

// Every job of a job list of our own, one per flow table, with all the instance and
// pattern-set sheets; a job of our own checks the DC spec sheet's rows per selector.
TEST_F(RealData, UltraflexEveryJobEndsWithStatusZero)
{
  if (!copy("generated-ultraflex"))
    GTEST_SKIP() << "no real exports at " << realdata("generated-ultraflex");
  const std::string instances = "prb1_instances,prb2_instances,global_instances,"
                                "flow_control_instances";
  const std::string patsets = "prb1_patsets,prb2_patsets,global_patsets,flow_control_patsets";
  std::vector<Job> jobs;
  for (const auto& flow : flow_tables())
    jobs.push_back({flow, instances, flow, "SpecsAC_func", "SpecsDC_func", patsets});
  ASSERT_EQ(jobs.size(), 7u);
  // The sheet has rows nom (Typ), min (Min) and max (Max) for vdd_main_val, whose
  // power_down_levels values are 0.2, 0.1 and 0.3; the levels sheet sets VMain of vdd1 to it.
  jobs.push_back({"own_levels", "own_instances", "own_levels_flow", "SpecsAC_func",
                  "SpecsDC_func", patsets});
  sheet("Job List", job_list(jobs));
  std::vector<Instance> levels;
  std::vector<Cells> rows;
  for (const std::string selector : {"nom", "min", "max"}) {
    levels.push_back({"lev_" + selector, "power_down_levels", selector, "", "", "", "LV_func"});
    rows.push_back(flow_row("Test", "lev_" + selector, "100"));
  }
  sheet("own_instances", test_instances(levels));
  sheet("own_levels_flow", flow_table(rows));

  Command checked = olvent({});
  ASSERT_EQ(checked.status, 0) << checked.err;
  EXPECT_EQ(checked.err.find("An exception occurred"), std::string::npos) << checked.err;
  // -q prints the path of the workbook written, and nothing else.
  ASSERT_TRUE(checked.out.ends_with(".xlsm\n")) << checked.out;
  ASSERT_EQ(std::count(checked.out.begin(), checked.out.end(), '\n'), 1) << checked.out;
  tarnwick::xlsx::Reader reader(checked.out.substr(0, checked.out.size() - 1));
  for (const auto& job : jobs)
    EXPECT_EQ(reader.read_sheet(job.name).cell(0, 0).text, "Opcode") << job.name;
  const auto own = reader.read_sheet("own_levels");
  EXPECT_EQ(own.cell(0, 6).text, "VDD1");
  EXPECT_EQ(own.cell(1, 6).text, "0.2");
  EXPECT_EQ(own.cell(2, 6).text, "0.1");
  EXPECT_EQ(own.cell(3, 6).text, "0.3");
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

// The J750 layouts, every flow table a job whose spec cells are empty.
TEST_F(RealData, J750EveryJobWithoutSpecSheetsEndsWithStatusZero)
{
  if (!copy("generated-j750"))
    GTEST_SKIP() << "no real exports at " << realdata("generated-j750");
  const std::vector<std::string> flows = flow_tables();
  ASSERT_EQ(flows.size(), 7u);
  own_job_list(flows, "prb1_instances,prb2_instances,global_instances,flow_control_instances",
               "prb1_patsets,prb2_patsets,global_patsets,flow_control_patsets", "", "");
  Command checked = olvent({"--platform", "J750"});
  ASSERT_EQ(checked.status, 0) << checked.err;
  EXPECT_EQ(checked.err.find("An exception occurred"), std::string::npos) << checked.err;
  for (const auto& flow : flows)
    EXPECT_NE(checked.err.find("Warning: the job " + flow + " names no DC spec sheet"),
              std::string::npos)
        << flow;
  EXPECT_TRUE(checked.out.ends_with(".xlsm\n")) << checked.out;

  // DFF 1.3 instances: the arguments start after "Overlay" (cell 13), so the pattern set in
  // the first argument gives the pattern.
  engine->read_device(
      device.string(), "", "", "J750", [this](const std::string& line) { log.push_back(line); },
      "Period", "", 0, nullptr);
  EXPECT_EQ(run({"prb1_flow"}).size(), 1u) << failure();
  const auto& record = engine->test_instance_dict->at("ANOTHER_NOT_P1_OR_P2_TEST").at(0);
  EXPECT_EQ(record.pattern, "another_not_p1_or_p2_test.PAT,nvm_global_subs.PAT");
  EXPECT_EQ(record.arg_list, "another_not_p1_or_p2_test_pset");
}

} // namespace
