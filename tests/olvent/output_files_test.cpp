// The check workbook on disk: the name really written, what stands at a name, the partial
// workbook of a failed run and the reason of a write that fails.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_device.hpp"
#include "support.hpp"
#include "tarnwick/text/error.hpp"

namespace {

using namespace tarnwick::olvent::test;
using testing::HasSubstr;

std::tm at_953()
{
  std::tm tm{};
  tm.tm_year = 2026 - 1900;
  tm.tm_mon = 2;
  tm.tm_mday = 7;
  tm.tm_hour = 9;
  tm.tm_min = 5;
  tm.tm_sec = 3;
  return tm;
}

class CheckWorkbookFile : public EngineRun
{
protected:
  void SetUp() override
  {
    EngineRun::SetUp();
    sheet("Job List", job_list({{"A", "Inst", "Flow", "AC", "DC", "PS"},
                                {"BROKEN", "Inst", "No Flow", "AC", "DC", "PS"}}));
    sheet("Flow", flow_table({flow_row("Test", "t1", "1", "1", "1", "Pass")}));
    sheet("Inst", test_instances({{"t1"}}));
    sheet("PS", pattern_sets({{"ps", "p.PAT"}}));
    sheet("DC", spec_sheet("DCSpecSheet", "2.0", "Dc", {}));
    sheet("AC", spec_sheet("ACSpecSheet", "2.0", "Ac", {}));
    sheet("Global Specs", global_specs({}));
    engine->set_clock(at_953);
  }

  // The name the clock gives.
  fs::path name() const { return out / "Olvent_2026-03-07__953.xlsm"; }
};

// Another run takes the name while this one is still checking: this run's workbook goes to the
// next free name, which it logs and returns, and the other file stays as it is.
TEST_F(CheckWorkbookFile, ANameTakenDuringTheRunIsNotReplaced)
{
  bool taken = false;
  engine->read_device(
      device.string(), "", "", "UltraFLEX", [this](const std::string& line) { log.push_back(line); },
      "Period", "", 0, [&](double) {
        if (!taken)
          write_file(name(), "another run");
        taken = true;
      });
  log.clear();
  const std::vector<std::string> paths = run({"A"});
  const std::string written = (out / "Olvent_2026-03-07__953_2.xlsm").string();
  EXPECT_EQ(paths, std::vector<std::string>{written});
  EXPECT_THAT(log, testing::Contains("Output file path is: " + written));
  EXPECT_EQ(read_file(name()), "another run");
  EXPECT_EQ(engine->partial_check_workbook(), "");
}

// A failed job still leaves the workbook with the sheets before it, under a name of its own;
// the run returns no path but keeps that name for the host.
TEST_F(CheckWorkbookFile, AFailedRunKeepsItsPartialWorkbook)
{
  load();
  fs::create_directory(name()); // a folder of that name is left alone
  testing::internal::CaptureStderr();
  EXPECT_TRUE(run({"A", "BROKEN"}).empty());
  testing::internal::GetCapturedStderr();
  const fs::path partial = out / "Olvent_2026-03-07__953_2.xlsm";
  EXPECT_EQ(engine->partial_check_workbook(), partial.string());
  EXPECT_EQ(tarnwick::xlsx::Reader(partial).sheet_names(),
            (std::vector<std::string>{"A", "BROKEN"}));
  EXPECT_TRUE(fs::is_directory(name()));

  EXPECT_EQ(run({"A"}).size(), 1u);
  EXPECT_EQ(engine->partial_check_workbook(), "");
}

// The reason is the system's, given once: the run's trace leaves it to the caller.
TEST_F(CheckWorkbookFile, AWorkbookThatCannotBeWrittenSaysWhy)
{
  load();
  const fs::path missing = dir() / "no such folder";
  testing::internal::CaptureStderr();
  try {
    run({"A"}, missing.string());
    ADD_FAILURE() << "no error";
  } catch (const tarnwick::Error& e) {
    EXPECT_EQ(std::string(e.what()), "cannot write workbook '" + missing.string() +
                                         "/Olvent_2026-03-07__953.xlsm': No such file or directory");
  }
  const std::string trace = testing::internal::GetCapturedStderr();
  EXPECT_THAT(trace, HasSubstr("failed while closing the check workbook"));
  EXPECT_THAT(trace, testing::Not(HasSubstr("No such file or directory")));
  EXPECT_EQ(engine->partial_check_workbook(), "");
}

TEST_F(CheckWorkbookFile, TheHostNamesThePartialWorkbookLast)
{
  const fs::path folder = make_dir("cli-out");
  Command failed = run_olvent({"-q", "-o", folder.string(), "-j", "A", "-j", "BROKEN",
                               device.string()},
                              dir());
  EXPECT_EQ(failed.status, 3);
  ASSERT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator{}), 1);
  const fs::path partial = fs::directory_iterator(folder)->path();
  EXPECT_THAT(failed.err, testing::EndsWith("\nolvent: error: the run failed (No such file or "
                                            "directory: '" + (device / "No Flow.txt").string()
                                            + "'); partial check workbook: " + partial.string()
                                            + "\n"));
}

} // namespace
