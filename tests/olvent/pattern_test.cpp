#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "tarnwick/olvent/columns.hpp"
#include "tarnwick/text/error.hpp"
#include "tarnwick/vellox/vellox.hpp"

#include "pattern_support.hpp"

namespace {

using namespace tarnwick::olvent::test;
using tarnwick::olvent::OlventAccess;
using Strings = std::vector<std::string>;

// Patterns are small text files listing their time sets; a stand-in pattern tool first on
// PATH prints them in the tool's listing layout and counts its calls.
class PatternColumns : public ColumnsTest
{
protected:
  void SetUp() override
  {
    ColumnsTest::SetUp();
    tool = make_dir("tool").string();
    write_file(tool + "/patinfo",
               "#!/bin/sh\necho \"$1\" >> \"$(dirname \"$0\")/calls.txt\"\n"
               "while read -r t; do printf '\\t%s 0\\n' \"$t\"; done < \"$1\"\n");
    chmod((tool + "/patinfo").c_str(), 0755);
    old_path = std::getenv("PATH");
    setenv("PATH", (tool + ":" + old_path).c_str(), 1);
    engine->pattern_path = make_dir("pats").string();
    engine->context_env = "CTX";
    engine->spec_version = "3.0"; // the AC table's own version is the one that counts
    engine->ac_spec_version = "2.0";
    engine->ac_spec_dict =
        spec_table({{"PER", {{"SELECTOR VAL", "TYP"}, {"CTX::FAST TYP", "1E-8"}}}});
    write_file(device + "/Tim.txt", "h\nh\nh\nh\nh\nh\nh\n"
                                    "\tts1\t=_PER\tCLK\t=_PER/2\tclock\t\n"
                                    "\tts2\t2E-8\tCLK\t1E-8\tclock\t\n");
    write_file(engine->pattern_path + "/P1.pat", "ts1\n");
    write_file(engine->pattern_path + "/P2.pat", "ts1\nTS2\n");
  }
  void TearDown() override
  {
    setenv("PATH", old_path.c_str(), 1);
    ColumnsTest::TearDown();
  }

  static tarnwick::kenmoor::InstanceContent record(const std::string& pattern,
                                                   const std::string& time_set = "Tim")
  {
    tarnwick::kenmoor::InstanceContent content;
    content.pattern = pattern;
    content.time_set = time_set;
    content.ac_category = "::Fast";
    content.ac_selector = "Typ";
    return content;
  }
  void process(const std::string& name, int dps_count, int write_row_start)
  {
    OlventAccess::pattern_period_clk_process(*engine, dps_count, write_row_start, flow_row(name),
                                             device);
  }
  Strings tool_calls() const
  {
    Strings calls;
    std::istringstream lines(read_file(tool + "/calls.txt"));
    for (std::string line; std::getline(lines, line);)
      calls.push_back(line.substr(line.rfind('/') + 1));
    return calls;
  }

  std::string tool;
  std::string old_path;
};

TEST_F(PatternColumns, WritesPatternPeriodAndClockTextsBesideThePowerBlock)
{
  add_instance("INST",
               {record("./pats/P1.pat"), record(""), record("./pats/P1.pat,./pats/P2.pat")});
  process("INST", 2, 4); // columns from I, rows 6 to 8
  WorkbookDump sheet = close_and_dump();

  EXPECT_EQ(
      Strings({sheet.text("I1"), sheet.text("J1"), sheet.text("K1"), sheet.text("L1"),
               sheet.text("M1"), sheet.text("N1")}),
      Strings({"PatternName_0", "Period_0", "Clock_0", "PatternName_1", "Period_1", "Clock_1"}));
  EXPECT_EQ(Strings({sheet.text("I6"), sheet.text("J6"), sheet.text("K6")}),
            Strings({"./pats/P1.pat", "10.000n", "CLK:5.000n;"}));
  EXPECT_EQ(sheet.cell("I7").kind, "");
  EXPECT_EQ(
      Strings({sheet.text("I8"), sheet.text("L8"), sheet.text("M8"), sheet.text("N8")}),
      Strings({"./pats/P1.pat", "./pats/P2.pat", "10.000n,20.000n", "CLK:5.000n;,CLK:10.000n;"}));
  EXPECT_EQ(Strings({sheet.row("6"), sheet.row("7"), sheet.row("8")}),
            Strings({"0 0 1 -", "1 1 0 -", "1 1 0 -"}));
  EXPECT_EQ(sheet.width("I"), "41");
  EXPECT_EQ(sheet.width("L"), "41");

  EXPECT_EQ(engine->pat2inst_dict.at("./pats/P1.pat"), Strings({"INST", "INST"}));
  EXPECT_EQ(engine->tset_dict.at("./pats/P1.pat").at("ts1"), "10.000n,10.000n");
  EXPECT_EQ(engine->tset_dict.at("./pats/P2.pat").at("TS2"), "20.000n");
  EXPECT_EQ(tool_calls(), Strings({"P1.pat", "P2.pat"}));
  EXPECT_TRUE(log.empty());
}

TEST_F(PatternColumns, FrequencyModeInvertsEveryValueOnlyForTheExactModeText)
{
  add_instance("INST", {record("./pats/P1.pat,./pats/P2.pat")});
  engine->cycle_mode = "Frequency";
  process("INST", 0, 0);
  engine->work_sheet = &workbook->add_worksheet("OTHER");
  engine->cycle_mode = "frequency"; // anything but "Frequency" shows periods
  process("INST", 0, 0);
  WorkbookDump sheet = close_and_dump();
  EXPECT_EQ(Strings({sheet.text("H1"), sheet.text("H2"), sheet.text("I2"), sheet.text("K1"),
                     sheet.text("K2"), sheet.text("L2")}),
            Strings({"Freq_0", "100.000M", "CLK:200.000M;", "Freq_1", "100.000M,50.000M",
                     "CLK:200.000M;,CLK:100.000M;"}));
  EXPECT_EQ(engine->tset_dict.at("./pats/P1.pat").at("ts1"), "100.000M,10.000n");
}

TEST_F(PatternColumns, ChangedSheetsSpecTablesAndPlatformAreReadAgain)
{
  add_instance("INST", {record("./pats/P1.pat")});
  process("INST", 0, 0);
  engine->ac_spec_dict =
      spec_table({{"PER", {{"SELECTOR VAL", "TYP"}, {"CTX::FAST TYP", "2E-8"}}}});
  process("INST", 0, 1);
  write_file(device + "/Tim.txt", "h\nh\nh\nh\nh\nh\nh\n\tts1\t4E-8\tCLK\t1E-8\tclock\t\n");
  process("INST", 0, 2);
  // Written again at once with the same size: the file's times may not have moved on.
  write_file(device + "/Tim.txt", "h\nh\nh\nh\nh\nh\nh\n\tts1\t5E-8\tCLK\t1E-8\tclock\t\n");
  process("INST", 0, 3);
  engine->platform = "J750"; // its rows start at row 6, too short here
  EXPECT_THROW(process("INST", 0, 4), tarnwick::Error);
  WorkbookDump sheet = close_and_dump();
  EXPECT_EQ(Strings({sheet.text("H2"), sheet.text("H3"), sheet.text("H4"), sheet.text("I4"),
                     sheet.text("H5")}),
            Strings({"10.000n", "20.000n", "40.000n", "CLK:10.000n;", "50.000n"}));
}

TEST_F(PatternColumns, ValuesThatCannotBeComputedShowTheirExpression)
{
  write_file(engine->pattern_path + "/E.pat", "zero\nneg\nnope\ndiv\n");
  auto timing = std::make_shared<tarnwick::vellox::TimingPeriod>();
  auto clocks = std::make_shared<tarnwick::vellox::ClkDic>();
  for (auto [name, period] :
       {std::pair{"ZERO", "0"}, {"NEG", "-5"}, {"NOPE", "_NOPE"}, {"DIV", "1/0"}}) {
    timing->insert_or_assign(name, period);
    (*clocks)[name].insert_or_assign("CLK", name == std::string("ZERO") ? "_NOPE" : "1E-9");
  }
  engine->tsb_dict.insert_or_assign("Tim", timing);
  engine->clock_dic.insert_or_assign("Tim", clocks);
  auto [periods, clock_texts] =
      OlventAccess::extract_per_clk(*engine, "./pats/E.pat", "Tim", "CTX::FAST", "Typ");
  EXPECT_EQ(periods, Strings({"Error: cannot parse AC variables: 0=0",
                              "Error: cannot parse AC variables: -5=-5",
                              "Error: cannot parse AC variables: _NOPE=",
                              "Error: cannot parse AC variables: 1/0=1/0"}));
  EXPECT_EQ(clock_texts[0], "CLK:Error: cannot parse AC variables: CLK=_NOPE;");
  EXPECT_EQ(clock_texts[1], "CLK:1.000n;");

  engine->cycle_mode = "Frequency";
  std::tie(periods, clock_texts) =
      OlventAccess::extract_per_clk(*engine, "./pats/E.pat", "Tim", "CTX::FAST", "Typ");
  EXPECT_EQ(periods, Strings({"Error: cannot parse AC variables: 0=1/(0)",
                              "Error: cannot parse AC variables: -5=1/(-5)",
                              "Error: cannot parse AC variables: _NOPE=",
                              "Error: cannot parse AC variables: 1/0=1/(1/0)"}));
  EXPECT_EQ(engine->tset_dict.at("./pats/E.pat").at("neg"),
            "Error: cannot parse AC variables: -5=-5,Error: cannot parse AC variables: -5=1/(-5)");
}

TEST_F(PatternColumns, MissingTimeSetsAndPatternsAreReportedAndTheToolAskedOncePerPattern)
{
  write_file(engine->pattern_path + "/P3.pat", "ts1\nt3\n");
  add_instance("INST", {record("./pats/P3.pat", "Tim,TimB"), record("./pats/P9.pat")});
  testing::internal::CaptureStdout();
  process("INST", 0, 0);
  process("NOPE", 0, 0);
  std::string out = testing::internal::GetCapturedStdout();
  std::string missing = "Warning: Tset(t3) in pattern(./pats/P3.pat) is not list in TSB: Tim,TimB";
  std::string no_file =
      "Warning: Tset(Error: pattern file does not exist) in pattern(./pats/P9.pat) "
      "is not list in TSB: Tim";
  std::string no_instance = "Info: cannot found NOPE in Test Instance, please check.";
  EXPECT_EQ(log, Strings({missing, no_file, no_instance}));
  EXPECT_EQ(out, missing + "\n" + no_file + "\n" + no_instance + "\n");
  EXPECT_TRUE(engine->tsb_dict.contains("Tim,TimB"));

  // A later run of the same loaded device asks the tool nothing it was asked before.
  workbook->close();
  workbook = engine->create_check_workbook((dir() / "second.xlsm").string());
  engine->add_job_sheet(*workbook, "JOB");
  process("INST", 0, 0);
  EXPECT_EQ(tool_calls(), Strings({"P3.pat"}));
  EXPECT_EQ(engine->tset_dict.at("./pats/P3.pat").at("ts1"), "10.000n,10.000n");
  EXPECT_EQ(engine->tset_dict.at("./pats/P3.pat").at("t3"), ",");
  workbook_path = (dir() / "second.xlsm").string();
  WorkbookDump sheet = close_and_dump();
  EXPECT_EQ(Strings({sheet.text("H2"), sheet.text("I2"), sheet.text("G3"), sheet.cell("H3").kind}),
            Strings({"10.000n,", "CLK:5.000n;,", "./pats/P9.pat", ""}));
}

TEST_F(PatternColumns, FailuresOfToolAndTimeSetSheetAndTheRowFormatKept)
{
  add_instance("INST", {record("./pats/P1.pat"), record("./pats/P2.pat")});
  engine->work_sheet->set_row(2, std::nullopt, engine->format_red);
  std::filesystem::create_directory(engine->pattern_path
                                    + "/pattern_tset.txt"); // listing unwritable
  process("INST", 0, 0);
  EXPECT_EQ(log, Strings({"Warning: cannot read pattern file: ./pats/P1.pat",
                          "Warning: cannot read pattern file: ./pats/P2.pat"}));
  EXPECT_TRUE(engine->pat2inst_dict.empty());

  add_instance("GONE", {record("./pats/P1.pat"), record("./pats/P1.pat", "Absent")});
  EXPECT_THROW(process("GONE", 0, 4), tarnwick::FileNotFoundError);

  engine->pattern_path.clear(); // no pattern folder: empty values, instance still recorded
  add_instance("BARE", {record("./pats/P1.pat")});
  process("BARE", 0, 8);
  EXPECT_EQ(engine->pat2inst_dict.at("./pats/P1.pat"), Strings({"BARE"}));

  WorkbookDump sheet = close_and_dump();
  EXPECT_EQ(Strings({sheet.text("G2"), sheet.text("G3"), sheet.row("2"), sheet.row("3")}),
            Strings({"./pats/P1.pat", "./pats/P2.pat", "0 0 1 -", "1 1 0 FFC7CE"}));
  EXPECT_EQ(
      Strings({sheet.cell("H2").kind, sheet.row("6"), sheet.cell("G7").kind, sheet.text("G10")}),
      Strings({"", "0 0 1 -", "", "./pats/P1.pat"}));
}

// A sheet file whose times are not yet two seconds in the past may still change unseen.
TEST(SheetFileCache, TrustsOnlyTimesPastTheClockGranule)
{
  using namespace std::chrono;
  using tarnwick::olvent::columns::settled;
  const auto now = system_clock::now();
  const auto s = duration_cast<seconds>(now.time_since_epoch()).count();
  const auto ns = duration_cast<nanoseconds>(now.time_since_epoch()).count() % 1000000000;
  EXPECT_FALSE(settled({.modified_s = s - 1, .changed_s = s - 1}, now)); // whole seconds
  EXPECT_TRUE(settled({.modified_s = s - 3, .changed_s = s - 3}, now));
  EXPECT_TRUE(
      settled({.modified_s = s - 1, .modified_ns = 5, .changed_s = s - 1, .changed_ns = 5}, now));
  EXPECT_FALSE(
      settled({.modified_s = s - 9, .modified_ns = 5, .changed_s = s, .changed_ns = ns}, now));
}

} // namespace
