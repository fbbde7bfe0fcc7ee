#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tarnwick/text/error.hpp"

#include "run_device.hpp"

namespace {

using namespace tarnwick::olvent;
using namespace tarnwick::olvent::test;
using testing::ElementsAre;

// The engine with a fresh check workbook; each test fills the tables by hand and writes one
// summary sheet.
class SummarySheets : public TempDirTest
{
protected:
  void SetUp() override
  {
    TempDirTest::SetUp();
    engine = std::make_unique<Olvent>(dir().string());
    engine->progressbarOne = [this](double value) { progress.push_back(value); };
    engine->test_instance_dict = std::make_shared<tarnwick::kenmoor::TestInstanceDict>();
    path = dir() / "check.xlsm";
    workbook = engine->create_check_workbook(path.string());
  }

  void TearDown() override
  {
    workbook.reset();
    TempDirTest::TearDown();
  }

  WorkbookDump close_and_dump()
  {
    workbook->close();
    return dump_workbook(path, dir());
  }

  static tarnwick::kenmoor::InstanceContent record(const std::string& method,
                                                   std::vector<std::string> args)
  {
    tarnwick::kenmoor::InstanceContent content;
    content.method = method;
    content.arg_list = "A,B,C";
    content.arg_details = std::move(args);
    return content;
  }

  std::unique_ptr<Olvent> engine;
  std::unique_ptr<tarnwick::xlsx::Workbook> workbook;
  fs::path path;
  std::vector<double> progress;
};

TEST_F(SummarySheets, PatternMapListsInstancesTimeSetsAndValues)
{
  engine->cycle_mode = "Period";
  engine->pat2inst_dict["p1"] = {"I1", "I2"};
  engine->pat2inst_dict["p2"] = {"I3"};
  engine->pat2inst_dict["p3"] = {"I1"};
  engine->tset_dict["p1"]["TA"] = "10.000n";
  engine->tset_dict["p2"]["TA"] = "10.000n,20.000n";
  engine->tset_dict["p2"]["TB"] = "5.000n";
  engine->tset_dict["p3"]["TC"] = "";
  auto& sheet = workbook->add_worksheet("PatTsetMap_J");
  engine->write_pat_tset_map(engine->pat2inst_dict, engine->tset_dict, sheet);

  WorkbookDump dump = close_and_dump();
  EXPECT_THAT(dump.sheet_cells("PatTsetMap_J"),
              ElementsAre("A1=Instances", "B1=Pattern", "C1=Tset_0", "D1=Period_0", "E1=Tset_1",
                          "F1=Period_1", "A2=I1,I2", "B2=p1", "C2=TA", "D2=10.000n", "A3=I3",
                          "B3=p2", "C3=TA", "D3=10.000n,20.000n", "E3=TB", "F3=5.000n", "A4=I1",
                          "B4=p3", "C4=TC"));
  // 90 + 10 * r / N with r the next row, unrounded.
  EXPECT_EQ(progress, (std::vector<double>{96.66666666666667, 100.0, 103.33333333333333}));
  EXPECT_EQ(dump.sheets[0], "PatTsetMap_J None None None False"); // no optimise step
}

TEST_F(SummarySheets, PatternMapHeadsFrequencyUnlessThePeriodModeIsExact)
{
  for (const std::string mode : {"Frequency", "", "period"}) {
    engine->cycle_mode = mode;
    engine->pat2inst_dict["p"] = {"I"};
    engine->tset_dict["p"]["T0"] = "1.000G";
    engine->tset_dict["p"]["T1"] = "2.000G";
    engine->write_pat_tset_map(engine->pat2inst_dict, engine->tset_dict,
                               workbook->add_worksheet("M_" + mode));
  }
  WorkbookDump dump = close_and_dump();
  for (const std::string mode : {"Frequency", "", "period"}) {
    EXPECT_EQ(dump.text("M_" + mode + "!D1"), "Frequency_0") << mode;
    EXPECT_EQ(dump.text("M_" + mode + "!F1"), "Frequency_1") << mode;
  }
  EXPECT_EQ(progress, (std::vector<double>{110.0, 110.0, 110.0})); // one pattern reaches 110
}

TEST_F(SummarySheets, PatternMapFailsForAPatternWithoutInstances)
{
  engine->tset_dict["lonely"]["T"] = "1.000n";
  auto& sheet = workbook->add_worksheet("M");
  EXPECT_THROW(engine->write_pat_tset_map(engine->pat2inst_dict, engine->tset_dict, sheet),
               tarnwick::Error);
}

TEST_F(SummarySheets, SortBinsRepeatedInTheFlowAreRed)
{
  engine->sort_bin_dscrp = {{"1", "A"}, {"2", "B"}, {"1", "C"}};
  engine->write_bin_descrp(workbook->add_worksheet("SortBinDescrp"));
  engine->sort_bin_dscrp.clear();
  engine->write_bin_descrp(workbook->add_worksheet("Empty"));
  WorkbookDump dump = close_and_dump();
  EXPECT_THAT(dump.sheet_cells("SortBinDescrp"),
              ElementsAre("A1=1", "B1=A", "A2=2", "B2=B", "A3=1", "B3=C"));
  // One rule on the sort-bin column; none for an empty list.
  EXPECT_THAT(dump.conditional, ElementsAre("SortBinDescrp!A1:A3 duplicateValues FFC7CE"));
  EXPECT_TRUE(dump.sheet_cells("Empty").empty());
}

TEST_F(SummarySheets, InstanceParametersTakeTheLastRecordOfEachInstance)
{
  auto& table = *engine->test_instance_dict;
  // Decision: an instance left without records does not stop the sheet.
  table["EMPTY"] = {};
  table["TWO"] = {record("First", {"a1", "", "c1"}), record("Second", {"a2"})};
  table["NONE"] = {record("NoArgs", {})};
  table["NONE"][0].arg_list = "";
  engine->write_inst_para(workbook->add_worksheet("InstParametersCheck"));
  WorkbookDump dump = close_and_dump();

  EXPECT_THAT(dump.sheet_cells("InstParametersCheck"),
              ElementsAre("A1=Comment", "B1=Test Instance", "C1=Method", "D1=DC Category",
                          "E1=DC Selector", "F1=TimeSet", "G1=AC Category", "H1=AC Selector",
                          "I1=PinLevel", "J1=Pattern", "K1=ArgList", "L1=ArgDetails", "B2=EMPTY",
                          // the second record replaces the first; "c1" stays beyond its list
                          "B3=TWO", "C3=Second", "K3=A,B,C", "L3=a2", "N3=c1", "B4=NONE",
                          "C4=NoArgs"));
  // One blanks rule per record over its argument cells; an empty list gives columns K and L.
  EXPECT_THAT(dump.conditional,
              testing::UnorderedElementsAre("InstParametersCheck!L3:N3 containsBlanks FFC7CE",
                                            "InstParametersCheck!L3 containsBlanks FFC7CE",
                                            "InstParametersCheck!K4:L4 containsBlanks FFC7CE"));
  EXPECT_EQ(dump.sheets[0], "InstParametersCheck C2 A1:CW1 20.0 True");
}

TEST_F(SummarySheets, ClampGridListsInstancesByPinColumn)
{
  engine->power_pin_clamp_dict["A"]["P1"] = 0.1;
  engine->power_pin_clamp_dict["A"]["P2"] = 0.25;
  // Listed under P2, the leftmost column it holds, not under P3, its own first pin.
  engine->power_pin_clamp_dict["D"]["P3"] = 3;
  engine->power_pin_clamp_dict["D"]["P2"] = 4;
  engine->power_pin_clamp_dict["B"]["P2"] = 1.5;
  engine->power_pin_clamp_dict["E"]; // no pins: no row
  engine->power_pin_clamp_dict["C"]["P1"] = 2;
  engine->write_power_pin_clamp(workbook->add_worksheet("PowerPinClampCheck"));
  engine->power_pin_clamp_dict.clear();
  engine->write_power_pin_clamp(workbook->add_worksheet("Nothing"));
  WorkbookDump dump = close_and_dump();

  EXPECT_THAT(dump.sheet_cells("PowerPinClampCheck"),
              ElementsAre("A1=Test Instance", "B1=P1", "C1=P2", "D1=P3",             //
                          "A2=A", "B2=0.1", "C2=0.25", "D2=#NUM!",                   //
                          "A3=C", "B3=2", "C3=#NUM!", "D3=#NUM!",                    //
                          "A4=D", "B4=#NUM!", "C4=4", "D4=3",                        //
                          "A5=B", "B5=#NUM!", "C5=1.5", "D5=#NUM!"));
  EXPECT_EQ(dump.cell("PowerPinClampCheck!B2").kind, "n");
  EXPECT_EQ(dump.cell("PowerPinClampCheck!C3").kind, "e");
  EXPECT_THAT(dump.sheets,
              ElementsAre("PowerPinClampCheck B2 A1:CW1 20.0 True", "Nothing B2 A1:CW1 20.0 True"));
  EXPECT_THAT(dump.sheet_cells("Nothing"), ElementsAre("A1=Test Instance"));
}

} // namespace
