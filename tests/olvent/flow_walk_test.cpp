#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tarnwick/kenmoor/kenmoor.hpp"
#include "tarnwick/text/error.hpp"

#include "run_device.hpp"

namespace {

using namespace tarnwick::olvent::test;
using tarnwick::olvent::OlventAccess;
using testing::ElementsAre;
using testing::HasSubstr;

class FlowWalk : public EngineRun
{
protected:
  // One job "J" on the flow table `flow` with the shared sheets below.
  void one_job(const std::vector<Cells>& flow, const std::vector<Instance>& instances)
  {
    sheet("Job List",
          job_list({{"J", "Test Instances", "Main Flow", "AC Specs", "DC Specs", "Pattern Sets"}}));
    sheet("Main Flow", flow_table(flow));
    sheet("Test Instances", test_instances(instances));
    sheet("Pattern Sets", pattern_sets({{"ps_a", "a.PAT"}}));
    sheet("DC Specs", spec_sheet("DCSpecSheet", "2.0", "Dc", {{{"vdd", "Typ", "1.2"}}}));
    sheet("AC Specs", spec_sheet("ACSpecSheet", "2.0", "Ac", {{{"per", "Typ", "=10*ns"}}}));
    sheet("Global Specs", global_specs({{"g_one", "1"}}));
  }
};

TEST_F(FlowWalk, LaysOutOneSheetRowPerRecordWithTheFlowCells)
{
  one_job(
      {flow_row("Test", "two_recs", "100", "1", "1", "Pass"),
       flow_row("Test", "not_an_instance", "150", "5", "5", "None"),
       flow_row("nop", "three_recs", "200", "2", "2", "Fail"),
       flow_row("Test", "one_rec", "300", "", "", "None"),
       flow_row("Use-Limit", "one_rec_lim", "301", "7", "8", ""),
       flow_row("Test", "one_rec", "400", "9", "9", "")},
      {{"two_recs"}, {"two_recs"}, {"three_recs"}, {"THREE_RECS"}, {"three_recs"}, {"one_rec"}});
  load();
  std::vector<std::string> paths = run({"J"});
  ASSERT_EQ(paths.size(), 1u);

  WorkbookDump dump = dump_workbook(paths[0], dir());
  EXPECT_THAT(dump.sheet_cells("J"),
              ElementsAre("A1=Opcode", "B1=Parameter", "C1=TestNumber", "D1=HardBinNumber",
                          "E1=SortBinNumber", "F1=Result",                               //
                          "A2=Test", "B2=TWO_RECS", "C2=100", "D2=1", "E2=1", "F2=Pass", //
                          "A3=Test", "B3=TWO_RECS", "C3=100", "D3=1", "E3=1", "F3=Pass", //
                          "A4=nop", "B4=THREE_RECS", "C4=200", "D4=2", "E4=2", "F4=Fail", "A5=nop",
                          "B5=THREE_RECS", "C5=200", "D5=2", "E5=2", "F5=Fail", "A6=nop",
                          "B6=THREE_RECS", "C6=200", "D6=2", "E6=2", "F6=Fail",
                          // bins and test number lent by the Use-Limit row
                          "A7=Test", "B7=ONE_REC", "C7=301", "D7=7", "E7=8", "F7=None", "A8=Test",
                          "B8=ONE_REC", "C8=400", "D8=9", "E8=9", "F8="));
  // Every value is a text cell; "None" and the empty result are yellow, a nop row is red
  // ("Fail" has no format of its own).
  EXPECT_EQ(dump.cell("J!C2"), (SeenCell{"s", "100", "-"}));
  EXPECT_EQ(dump.cell("J!F8"), (SeenCell{"n", "", "F7D674"}));
  EXPECT_EQ(Cells({dump.cell("J!F2").fill, dump.cell("J!F7").fill, dump.cell("J!B5").fill,
                   dump.cell("J!F5").fill}),
            Cells({"-", "F7D674", "FFC7CE", "FFC7CE"}));
  // The records of one instance are grouped below the first; a nop row stays red.
  EXPECT_EQ(
      Cells({dump.row("J!2"), dump.row("J!3"), dump.row("J!4"), dump.row("J!5"), dump.row("J!6"),
             dump.row("J!7")}),
      Cells({"0 0 1 -", "1 1 0 -", "0 0 1 FFC7CE", "1 1 0 FFC7CE", "1 1 0 FFC7CE", "0 0 0 -"}));
  EXPECT_EQ(Cells({dump.width("J!A"), dump.width("J!B"), dump.width("J!C")}),
            Cells({"", "21", "16"})); // columns C to F alike

  // The sort bins of every flow row, instance or not, in flow order.
  EXPECT_THAT(dump.sheet_cells("SortBinDescrp"),
              ElementsAre("A1=1", "B1=TWO_RECS", "A2=5", "B2=NOT_AN_INSTANCE", "A3=2",
                          "B3=THREE_RECS", "A4=8", "B4=ONE_REC", "A5=9", "B5=ONE_REC"));
}

TEST_F(FlowWalk, ReportsUnroundedProgressPerRow)
{
  one_job({flow_row("Test", "a", "1", "1", "1"), flow_row("Test", "b", "2", "1", "1"),
           flow_row("Test", "c", "3", "1", "1")},
          {{"a"}});
  load();
  run({"J"});
  EXPECT_THAT(progress,
              testing::IsSupersetOf({11.333333333333334, 53.33333333333333, 76.66666666666666}));
}

TEST_F(FlowWalk, FlowNamesAndPathsKeepTheirBlanks)
{
  // A device folder and a flow-table name with blanks; the flow sheet is read from its name
  // with blanks although the walk hands it over with "%20".
  device = make_dir("my device");
  sheet("Job List",
        job_list({{"J", "Test Instances", "Flow.Main Part", "AC Specs", "DC Specs", "Pattern Sets"},
                  {"EMPTY", "Test Instances", "", "AC Specs", "DC Specs", ""}}));
  sheet("Flow.Main Part", flow_table({flow_row("Test", "a", "1", "1", "1")}));
  sheet("Test Instances", test_instances({{"a"}}));
  sheet("Pattern Sets", pattern_sets({{"ps_a", "a.PAT"}}));
  sheet("DC%20Specs", spec_sheet("DCSpecSheet", "2.0", "Dc", {}));
  sheet("AC Specs", spec_sheet("ACSpecSheet", "2.0", "Ac", {}));
  load();
  std::vector<std::string> paths = run({"EMPTY", "J"});
  ASSERT_EQ(paths.size(), 1u) << testing::PrintToString(log);

  const std::string folder = device.string();
  EXPECT_THAT(log_from("Parse Job: EMPTY", 3),
              ElementsAre("Parse Job: EMPTY",
                          "Lomerick: ", "Flow Table Path Cannot be Empty, Please Check!"));
  EXPECT_THAT(log_from("Parse Job: J", 3),
              ElementsAre("Parse Job: J", "Lomerick: Flow",
                          "Warning: cannot read Global Specs, please check it!"));
  // Spec sheets are read from the plain name when it exists, else from the escaped one;
  // pattern sets always from the escaped one.
  EXPECT_EQ(engine->last_flow_info.dc_spec_name, folder + "/DC%20Specs.txt");
  EXPECT_EQ(engine->last_flow_info.ac_spec_name, folder + "/AC Specs.txt");
  EXPECT_EQ(engine->last_flow_info.pattern_set_name, folder + "/Pattern%20Sets.txt");
  EXPECT_FALSE(engine->last_flow_info.glob_spec_name.has_value());
  // The job without a flow table reports progress 1 only and keeps an empty sheet.
  EXPECT_EQ(progress[1], 1);
  EXPECT_EQ(progress[2], 1);
  WorkbookDump dump = dump_workbook(paths[0], dir());
  EXPECT_TRUE(dump.sheet_cells("EMPTY").empty());
  EXPECT_EQ(dump.text("J!B2"), "A");
}

TEST_F(FlowWalk, ReadsSharedSheetsOncePerLoadedDevice)
{
  sheet("Job List", job_list({{"A", "Inst A", "Flow A", "AC Specs", "DC Specs", "PS One"},
                              {"B", "Inst B", "Flow B", "AC Specs", "DC Specs", "PS One,PS Two"},
                              {"C", "Inst B", "Flow B", "AC Specs", "DC Specs", "PS Two,PS Two"}}));
  sheet("Flow A", flow_table({flow_row("Test", "ia", "1", "1", "1")}));
  sheet("Flow B", flow_table({flow_row("Test", "ib", "1", "1", "1")}));
  sheet("Inst A", test_instances({{"ia", "", "", "", "", "", "", "Patterns", {"set_one"}}}));
  sheet("Inst B",
        test_instances({{"ib", "", "", "", "", "", "", "Patterns,More", {"set_one", "set_two"}}}));
  sheet("PS One", pattern_sets({{"set_one", "one.PAT"}}));
  sheet("PS Two", pattern_sets({{"set_two", "two.PAT"}}));
  sheet("DC Specs", spec_sheet("DCSpecSheet", "2.0", "Dc", {}));
  sheet("AC Specs", spec_sheet("ACSpecSheet", "2.1", "Ac", {}));
  sheet("Global Specs", global_specs({{"g_one", "1"}}));
  load();
  auto patterns_of_ib = [this] { return engine->test_instance_dict->at("IB").at(0).pattern; };

  ASSERT_EQ(run({"A"}).size(), 1u);
  const auto* dc = engine->dc_spec_dict.get();
  const auto* ac = engine->ac_spec_dict.get();
  const auto* glob = engine->glob_spec_dict.get();
  EXPECT_EQ(engine->spec_version, "2.1"); // the AC sheet is read after the DC sheet
  EXPECT_EQ(engine->dc_spec_version, "2.0");
  EXPECT_EQ(engine->ac_spec_version, "2.1");

  // Job C reads "PS Two" afresh (it is not the sheet read last), then skips it: the sets of
  // job A's sheet are not among its own.
  ASSERT_EQ(run({"C"}).size(), 1u);
  EXPECT_EQ(patterns_of_ib(), "two.PAT");
  EXPECT_FALSE(engine->pattern_set_dict->contains("SET_ONE"));

  // Job B skips "PS Two", the sheet read last: its sets stay available next to those of
  // "PS One", so the instance resolves both.
  progress.clear();
  ASSERT_EQ(run({"B"}).size(), 1u);
  EXPECT_EQ(engine->dc_spec_dict.get(), dc);
  EXPECT_EQ(engine->ac_spec_dict.get(), ac);
  EXPECT_EQ(engine->glob_spec_dict.get(), glob);
  EXPECT_EQ(patterns_of_ib(), "one.PAT,two.PAT");
  EXPECT_EQ(engine->last_flow_info.pattern_set_name, (device / "PS%20Two.txt").string());
  EXPECT_EQ(progress, (std::vector<double>{0, 1, 2, 3, 4, 5, 6, 7, 8, 19, 100}));

  // Every pattern-set sheet of job C is now the one read last: the table stays as it was.
  const auto* sets = engine->pattern_set_dict.get();
  ASSERT_EQ(run({"C"}).size(), 1u);
  EXPECT_EQ(engine->pattern_set_dict.get(), sets);
  EXPECT_EQ(patterns_of_ib(), "one.PAT,two.PAT");

  // A failed pattern-set sheet keeps the last path read, so the next job tries it again.
  fs::remove(device / "PS One.txt");
  ASSERT_EQ(run({"A"}).size(), 1u);
  EXPECT_THAT(log, testing::Contains("Warning: cannot read PatternSet, please check it!"));
  EXPECT_EQ(engine->last_flow_info.pattern_set_name, (device / "PS%20Two.txt").string());
}

// A sheet that fails before the skipped one is no read of the job's own: the skipped sheet is
// still the earlier job's, and its sets stay.
TEST_F(FlowWalk, APatternSetSheetThatFailsBeforeTheSkippedOneKeepsTheEarlierJobsSets)
{
  sheet("Job List", job_list({{"A", "Inst", "Flow", "AC Specs", "DC Specs", "PS Two"},
                              {"B", "Inst", "Flow", "AC Specs", "DC Specs", "No Sets,PS Two"}}));
  sheet("Flow", flow_table({flow_row("Test", "ib", "1", "1", "1")}));
  sheet("Inst", test_instances({{"ib", "", "", "", "", "", "", "Patterns", {"set_two"}}}));
  sheet("PS Two", pattern_sets({{"set_two", "two.PAT"}}));
  sheet("DC Specs", spec_sheet("DCSpecSheet", "2.0", "Dc", {}));
  sheet("AC Specs", spec_sheet("ACSpecSheet", "2.1", "Ac", {}));
  sheet("Global Specs", global_specs({{"g_one", "1"}}));
  load();
  ASSERT_EQ(run({"A"}).size(), 1u);
  ASSERT_EQ(run({"B"}).size(), 1u);
  EXPECT_THAT(log, testing::Contains("Warning: cannot read PatternSet, please check it!"));
  EXPECT_TRUE(engine->pattern_set_dict->contains("SET_TWO"));
  EXPECT_EQ(engine->test_instance_dict->at("IB").at(0).pattern, "two.PAT");
}

TEST_F(FlowWalk, ParsesATestInstanceSheetOnceWhileItAndThePatternSetsStayTheSame)
{
  sheet("Job List", job_list({{"A", "Inst Shared,Inst A", "Flow", "AC Specs", "DC Specs", "PS One"},
                              {"B", "Inst A,Inst Shared,Inst Bad", "Flow", "AC Specs", "DC Specs",
                               "PS One"},
                              {"C", "Inst A", "Flow", "AC Specs", "DC Specs", "PS Two"}}));
  sheet("Flow", flow_table({flow_row("Test", "both", "1", "1", "1")}));
  // BOTH has records in two sheets, so the order in which sheets are added shows.
  sheet("Inst Shared", test_instances({{"both", "S"}, {"shared", "S"}}));
  sheet("Inst A", test_instances({{"a", "A", "", "", "", "", "", "Patterns", {"set"}},
                                  {"both", "A"}}));
  // A good row, then a row too short for the pattern-set cells: the read fails half way.
  sheet("Inst Bad", test_instances({{"good", "B"}}) + "\tshort\tVBT\r\n");
  sheet("PS One", pattern_sets({{"set", "one.PAT"}}));
  sheet("PS Two", pattern_sets({{"set", "two.PAT"}}));
  sheet("DC Specs", spec_sheet("DCSpecSheet", "2.0", "Dc", {}));
  sheet("AC Specs", spec_sheet("ACSpecSheet", "2.0", "Ac", {}));
  load();
  auto& sheets = OlventAccess::column_cache(*engine).instance_sheets;
  // The sheets were written just now; a clock an hour ahead lets their times count as settled.
  sheets.set_clock([] { return std::chrono::system_clock::now() + std::chrono::hours(1); });
  // What one reader gives for the sheets of a job, in order.
  auto read_directly = [this](const std::vector<std::string>& names) {
    tarnwick::kenmoor::Kenmoor reader;
    for (const auto& name : names) {
      try {
        reader.read_test_instance((device / (name + ".txt")).string(), *engine->pattern_set_dict,
                                  "UltraFLEX");
      } catch (const tarnwick::Error&) {
      }
    }
    return *reader.get_instance_info();
  };

  ASSERT_EQ(run({"A", "B"}).size(), 1u);
  // Job B parsed only the sheet job A did not name, and the failing one.
  EXPECT_EQ(sheets.reads(), 3u);
  EXPECT_EQ(*engine->test_instance_dict,
            read_directly({"Inst A", "Inst Shared", "Inst Bad"}));
  EXPECT_EQ(engine->test_instance_dict->at("SHORT").size(), 0u); // kept from the failed read
  EXPECT_EQ(engine->test_instance_dict->at("A").at(0).pattern, "one.PAT");

  // A failed sheet is parsed again; a changed one too.
  sheet("Inst Shared", test_instances({{"both", "S2"}, {"shared", "S2"}, {"more", "S2"}}));
  ASSERT_EQ(run({"B"}).size(), 1u);
  EXPECT_EQ(sheets.reads(), 5u);
  EXPECT_EQ(*engine->test_instance_dict,
            read_directly({"Inst A", "Inst Shared", "Inst Bad"}));
  EXPECT_EQ(engine->test_instance_dict->at("MORE").at(0).dc_category, "S2");

  // Other pattern sets: the sheet is parsed again with them.
  ASSERT_EQ(run({"C"}).size(), 1u);
  EXPECT_EQ(sheets.reads(), 6u);
  EXPECT_EQ(engine->test_instance_dict->at("A").at(0).pattern, "two.PAT");

  // Loading a device forgets the records kept.
  load();
  ASSERT_EQ(run({"A"}).size(), 1u);
  EXPECT_EQ(sheets.reads(), 8u);
}

TEST_F(FlowWalk, ReportsSheetsThatCannotBeReadAndGoesOn)
{
  one_job({flow_row("Test", "a", "1", "1", "1")}, {{"a"}});
  sheet("Job List", job_list({{"J", "Missing Sheet,Test Instances", "Main Flow", "AC Specs",
                               "DC Specs", "No Sets"}}));
  fs::remove(device / "Global Specs.txt");
  load();
  std::vector<std::string> paths = run({"J"});
  ASSERT_EQ(paths.size(), 1u);
  const std::string missing = device.string() + "/Missing Sheet.txt";
  EXPECT_THAT(log,
              ElementsAre("Parse Job: J", "Lomerick: Main Flow",
                          "Warning: cannot read PatternSet, please check it!",
                          "Error: cannot read " + missing + ", please check it!",
                          "Warning: cannot read Global Specs, please check it!",
                          "Output file path is: " + paths[0], "Execution successful!!!", k_end));
  EXPECT_THAT(stdout_text, HasSubstr("Missing Sheet.txt"));
  EXPECT_EQ(dump_workbook(paths[0], dir()).text("J!B2"), "A"); // the second sheet was read
}

TEST_F(FlowWalk, AMissingSpecSheetEndsTheRunBeforeTheSheetIsWritten)
{
  one_job({flow_row("Test", "a", "1", "1", "1")}, {{"a"}});
  fs::remove(device / "AC Specs.txt");
  load();
  EXPECT_TRUE(run({"J"}).empty());
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "An exception occurred!Please check!!!");
  EXPECT_THAT(log.back(), HasSubstr("AC Specs.txt"));
  // The handler still wrote the workbook: the job sheet without cells.
  std::vector<fs::path> written(fs::directory_iterator(out), fs::directory_iterator{});
  ASSERT_EQ(written.size(), 1u);
  WorkbookDump dump = dump_workbook(written[0], dir());
  EXPECT_EQ(dump.sheets, std::vector<std::string>{"J None None None False"});
  EXPECT_TRUE(dump.sheet_cells("J").empty());
}

} // namespace

namespace {

TEST_F(FlowWalk, AJobWithoutDcOrAcSpecSheetResolvesFromTheGlobalSpecs)
{
  one_job({flow_row("Test", "lev", "100")}, {{"lev", "Dc", "nom", "", "", "", "Levels"}});
  // The job "J" names DC and AC spec sheets; "NOSPEC" leaves both cells empty.
  sheet("Job List",
        job_list({{"NOSPEC", "Test Instances", "Main Flow", "", "", "Pattern Sets"},
                  {"J", "Test Instances", "Main Flow", "AC Specs", "DC Specs", "Pattern Sets"},
                  {"NOSPEC2", "Test Instances", "Main Flow", " ", "", "Pattern Sets"}}));
  sheet("Levels", pin_levels({{"vdda", "VMain", "=_G_ONE*1.5"},
                              {"vdda", "IFoldLevel", "1"},
                              {"vddb", "VMain", "=_vdd"},
                              {"vddb", "IFoldLevel", "1"}}));
  load();
  std::vector<std::string> paths = run({"NOSPEC", "J", "NOSPEC2"});
  ASSERT_EQ(paths.size(), 1u);
  auto warnings = [&](const std::string& job) {
    return ElementsAre(
        "Warning: the job " + job + " names no DC spec sheet (its \"DC Specs\" cell is empty); "
        "it is checked with an empty DC spec table",
        "Warning: the job " + job + " names no AC spec sheet (its \"AC Specs\" cell is empty); "
        "it is checked with an empty AC spec table");
  };
  std::vector<std::string> warned;
  for (const auto& line : log)
    if (line.starts_with("Warning: the job "))
      warned.push_back(line);
  ASSERT_EQ(warned.size(), 4u);
  EXPECT_THAT(std::vector<std::string>(warned.begin(), warned.begin() + 2), warnings("NOSPEC"));
  EXPECT_THAT(std::vector<std::string>(warned.begin() + 2, warned.end()), warnings("NOSPEC2"));
  // No sheet path is made of the empty name.
  for (const auto& line : log)
    EXPECT_EQ(line.find("/.txt"), std::string::npos) << line;

  // A global symbol resolves; the DC spec symbol is found nowhere without the DC sheet.
  tarnwick::xlsx::Reader reader(paths[0]);
  for (const std::string job : {"NOSPEC", "NOSPEC2"}) {
    const auto sheet = reader.read_sheet(job);
    EXPECT_EQ(sheet.cell(0, 6).text, "VDDA") << job;
    EXPECT_EQ(sheet.cell(1, 6).text, "1.5") << job;
  }
  EXPECT_EQ(reader.read_sheet("J").cell(1, 7).text, "1.2"); // the DC sheet of J is read
  EXPECT_EQ(std::count(log.begin(), log.end(), "Spec symbol not found: VDD"), 2) \
      << testing::PrintToString(log);
}

} // namespace
