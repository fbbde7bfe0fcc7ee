#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "tarnwick/xlsx/reader.hpp"
#include "tarnwick/xlsx/writer.hpp"

#include "run_device.hpp"

namespace {

using namespace tarnwick::olvent::test;
using testing::ElementsAre;
using testing::HasSubstr;

// A copy of a bundled device in a temporary folder (the pattern tool writes its listing into
// the pattern folder), and the command line run on it.
class EndToEnd : public EngineRun
{
protected:
  void SetUp() override
  {
    EngineRun::SetUp();
    use_built_pattern_tool();
    fs::copy(e2e_device("e2e_two_jobs"), device, fs::copy_options::recursive);
    patterns = (device / "Patterns").string();
  }

  Command olvent(const std::vector<std::string>& args, const std::string& env = "") const
  {
    return run_olvent(args, dir(), env);
  }

  // The one check workbook in the output folder.
  fs::path check_workbook() const
  {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(out))
      if (entry.path().extension() == ".xlsm")
        found.push_back(entry.path());
    EXPECT_EQ(found.size(), 1u);
    return found.empty() ? fs::path() : found[0];
  }

  std::string patterns;
};

TEST_F(EndToEnd, TwoJobsFromTheCommandLine)
{
  Command result = olvent({device.string(), "--patterns", patterns, "-o", out.string()});
  ASSERT_EQ(result.status, 0) << result.err;
  fs::path path = check_workbook();
  EXPECT_THAT(result.out, testing::EndsWith("Output file path is: " + path.string()
                                            + "\nExecution successful!!!\n" + k_end + "\n"));

  WorkbookDump dump = dump_workbook(path, dir());
  EXPECT_THAT(dump.sheets, ElementsAre("FT_ROOM C2 A1:CW1 20.0 True", "FT_HOT C2 A1:CW1 20.0 True",
                                       "PatTsetMap_FT_HOT None None None False",
                                       "SortBinDescrp None None None False",
                                       "InstParametersCheck C2 A1:CW1 20.0 True",
                                       "PowerPinClampCheck B2 A1:CW1 20.0 True"));
  EXPECT_TRUE(dump.vba);

  // Job FT_ROOM: three power pins, levels from the DC sheet's selector column; two patterns of
  // the first record after them; the second record grouped below the first.
  EXPECT_EQ(dump.texts({"FT_ROOM!G1", "FT_ROOM!H1", "FT_ROOM!I1", "FT_ROOM!J1", "FT_ROOM!N1"}),
            Cells({"VDD", "VDDIO", "VDDA", "PatternName_0", "Period_1"}));
  EXPECT_EQ(dump.cell("FT_ROOM!G2"), (SeenCell{"s", "1.8", "-"}));
  EXPECT_EQ(dump.cell("FT_ROOM!I2"), (SeenCell{"s", "0.0", "FFAA33"}));
  EXPECT_EQ(dump.text("FT_ROOM!C3"), "201"); // lent by the Use-Limit row
  EXPECT_EQ(dump.cell("FT_ROOM!F3"), (SeenCell{"s", "None", "F7D674"}));
  EXPECT_EQ(dump.texts({"FT_ROOM!J3", "FT_ROOM!K3", "FT_ROOM!L3", "FT_ROOM!N3", "FT_ROOM!O3",
                        "FT_ROOM!J4"}),
            Cells({".\\Patterns\\func\\core_a.PAT.gz", "10.000n", "CLK:5.000n;", "10.000n,40.000n",
                   "CLK:5.000n;,CLK:40.000n;", ".\\Patterns\\func\\core_a.PAT.gz"}));
  // The records grouped below the first; the nop row red.
  EXPECT_EQ(Cells({dump.row("FT_ROOM!3"), dump.row("FT_ROOM!4"), dump.row("FT_ROOM!5")}),
            Cells({"0 0 1 -", "1 1 0 -", "0 0 0 FFC7CE"}));
  EXPECT_EQ(dump.cell("FT_ROOM!I5"), (SeenCell{"s", "0.0", "FFAA33"}));
  EXPECT_EQ(dump.text("FT_ROOM!B6"), "SUB_TEST"); // from the called sub-flow
  EXPECT_EQ(dump.cell("FT_ROOM!F6"), (SeenCell{"n", "", "F7D674"}));
  EXPECT_EQ(dump.width("FT_ROOM!J"), "41");

  // Job FT_HOT: one power pin, but its pattern columns stay after the widest block so far.
  EXPECT_EQ(
      dump.texts({"FT_HOT!G1", "FT_HOT!H1", "FT_HOT!J1", "FT_HOT!G2", "FT_HOT!N3", "FT_HOT!O3"}),
      Cells({"VDD", "<:>", "PatternName_0", "2.0", "40.000n,", "CLK:40.000n;,"}));

  // The pattern map and the clamp grid cover both jobs; the other two the last job only.
  EXPECT_THAT(
      dump.sheet_cells("PatTsetMap_FT_HOT"),
      ElementsAre(
          "A1=Instances", "B1=Pattern", "C1=Tset_0", "D1=Period_0", "E1=Tset_1", "F1=Period_1",
          "A2=FUNC,FUNC,FUNC_HOT", "B2=.\\Patterns\\func\\core_a.PAT.gz", "C2=tset_func",
          "D2=10.000n,10.000n,10.000n", "A3=FUNC", "B3=.\\Patterns\\func\\func_b.PAT.gz",
          "C3=tset_func", "D3=10.000n", "E3=tset_slow", "F3=40.000n", "A4=FUNC_HOT",
          "B4=.\\Patterns\\hot\\func_hot.PAT.gz", "C4=tset_slow", "D4=40.000n", "E4=tset_fast"));
  EXPECT_THAT(dump.sheet_cells("SortBinDescrp"),
              ElementsAre("A1=2", "B1=CONT_HOT", "A2=3", "B2=FUNC_HOT"));
  EXPECT_THAT(dump.conditional, testing::Contains("SortBinDescrp!A1:A2 duplicateValues FFC7CE"));
  EXPECT_EQ(dump.text("InstParametersCheck!B2"), "CONT_HOT");
  EXPECT_EQ(dump.cell("InstParametersCheck!M2"), (SeenCell{"s", "=_i_cont", "-"})); // no formula
  EXPECT_EQ(dump.text("InstParametersCheck!B3"), "FUNC_HOT");
  EXPECT_EQ(dump.cell("InstParametersCheck!B4").kind, "");
  EXPECT_THAT(dump.conditional,
              testing::Contains("InstParametersCheck!L2:M2 containsBlanks FFC7CE"));
  EXPECT_THAT(dump.sheet_cells("PowerPinClampCheck"),
              ElementsAre("A1=Test Instance", "B1=VDD", "C1=VDDIO", "D1=VDDA", "A2=CONT", "B2=0.1",
                          "C2=0.2", "D2=0.1", "A3=SKIPPED_TEST", "B3=0.1", "C3=0.2", "D3=0.1",
                          "A4=CONT_HOT", "B4=0.2", "C4=#NUM!", "D4=#NUM!"));

  // The project's reader: the same sheets, levels as texts, clamps as numbers and errors.
  tarnwick::xlsx::Reader reader(path);
  auto room = reader.read_sheet("FT_ROOM");
  EXPECT_EQ(room.cell(1, 6).kind, tarnwick::xlsx::CellKind::text);
  EXPECT_EQ(room.cell(1, 6).text, "1.8");
  auto clamps = reader.read_sheet("PowerPinClampCheck");
  EXPECT_EQ(clamps.cell(1, 1).kind, tarnwick::xlsx::CellKind::number);
  EXPECT_EQ(clamps.cell(1, 1).number, 0.1);
  EXPECT_EQ(clamps.cell(3, 2).text, "#NUM!"); // a formula whose cached result is the error
  EXPECT_EQ(clamps.cell(3, 2).formula, "#NUM!");
}

TEST_F(EndToEnd, TwoJobsInProcessReportEveryStep)
{
  load("", "", patterns);
  std::vector<std::string> paths = run({"FT_ROOM", "FT_HOT"});
  ASSERT_EQ(paths.size(), 1u);
  // clang-format off
  EXPECT_EQ(progress, (std::vector<double>{0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 12, 14, 16, 19, 21, 23,
                                           25, 27, 44, 58, 72, 86, 100, 1, 2, 3, 4, 5, 6, 7, 8,
                                           13, 19, 24, 65, 100, 96.66666666666667, 100.0,
                                           103.33333333333333}));
  // clang-format on
  const std::string info = "Info: cannot found NOT_AN_INSTANCE in Test Instance, please check.";
  const std::string tset_warning = "Warning: Tset(tset_fast) in pattern(.\\Patterns\\hot\\"
                                   "func_hot.PAT.gz) is not list in TSB: Time Sets";
  EXPECT_THAT(log,
              ElementsAre("Parse Job: FT_ROOM", "Lomerick: Flow Main", info, info,
                          "Parse Job: FT_HOT", "Lomerick: Flow Hot", tset_warning,
                          "Output file path is: " + paths[0], "Execution successful!!!", k_end));
  EXPECT_EQ(stdout_text, info + "\n" + info + "\n" + tset_warning + "\n");

  // State carried over the jobs: the widest power block, one version per spec sheet, the
  // pattern tool's answers.
  EXPECT_EQ(engine->MAX_DSP_CNT, 3);
  EXPECT_EQ(engine->dc_spec_version, "3.0");
  EXPECT_EQ(engine->ac_spec_version, "2.0");
  EXPECT_EQ(engine->tset_dict.size(), 3u);

  // A second run on the same load asks the tool no more: its listing file is not rewritten.
  fs::path listing = fs::path(patterns) / "pattern_tset.txt";
  ASSERT_TRUE(fs::exists(listing));
  fs::remove(listing);
  ASSERT_EQ(run({"FT_HOT"}).size(), 1u);
  EXPECT_FALSE(fs::exists(listing));
  EXPECT_EQ(engine->tset_dict.at(".\\Patterns\\func\\core_a.PAT.gz").at("tset_func"),
            "10.000n,10.000n,10.000n,10.000n");
}

TEST_F(EndToEnd, FrequencyModeShowsFrequencies)
{
  Command result = olvent({device.string(), "--patterns", patterns, "--cycle-mode", "Frequency",
                           "-q", "-o", out.string()});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_THAT(result.out, testing::Not(HasSubstr("Parse Job: "))); // no log lines
  WorkbookDump dump = dump_workbook(check_workbook(), dir());
  EXPECT_EQ(dump.texts({"FT_ROOM!K1", "FT_ROOM!N1", "FT_ROOM!K3", "FT_ROOM!L3", "FT_ROOM!N3"}),
            Cells({"Freq_0", "Freq_1", "100.000M", "CLK:200.000M;", "100.000M,25.000M"}));
  EXPECT_EQ(dump.texts({"PatTsetMap_FT_HOT!D1", "PatTsetMap_FT_HOT!F1", "PatTsetMap_FT_HOT!D2"}),
            Cells({"Frequency_0", "Frequency_1", "100.000M,100.000M,100.000M"}));
}

TEST_F(EndToEnd, APowerOrderWorkbookChoosesAndNamesThePowerColumns)
{
  fs::path order = dir() / "power order.xlsx";
  {
    tarnwick::xlsx::Workbook workbook(order);
    auto& sheet = workbook.add_worksheet("Order");
    sheet.write_row(0, 0, std::vector<std::string>{"Power Pin", "Alias"});
    sheet.write_row(1, 0, std::vector<std::string>{"VDDIO", "IO_SUPPLY"});
    sheet.write_row(2, 0, std::vector<std::string>{"VDD", ""});
    sheet.write_row(3, 0, std::vector<std::string>{"VX", "UNUSED"});
    workbook.close();
  }
  load("", order.string());
  std::vector<std::string> paths = run({"FT_ROOM"});
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_THAT(
      log_from("Cannot find power pin name in pin level file!", 2),
      ElementsAre("Cannot find power pin name in pin level file!", "Power pin name is: VX"));
  WorkbookDump dump = dump_workbook(paths[0], dir());
  // VDDA is not listed: two columns.
  EXPECT_EQ(dump.texts({"FT_ROOM!G1", "FT_ROOM!H1", "FT_ROOM!G2", "FT_ROOM!H2", "FT_ROOM!I1"}),
            Cells({"IO_SUPPLY", "VDD", "3.3", "1.8", "PatternName_0"}));
  // Clamps stay keyed by the pin names of the level sheet.
  EXPECT_THAT(dump.sheet_cells("PowerPinClampCheck"),
              ElementsAre("A1=Test Instance", "B1=VDDIO", "C1=VDD", "A2=CONT", "B2=0.2", "C2=0.1",
                          "A3=SKIPPED_TEST", "B3=0.2", "C3=0.1"));
}

TEST_F(EndToEnd, APowerStepErrorIsReportedForItsRowAndMovesThePatternColumns)
{
  fs::path error_device = make_dir("power error");
  fs::copy(e2e_device("e2e_power_error"), error_device, fs::copy_options::recursive);
  load(error_device.string());
  std::vector<std::string> paths = run({"PWR"});
  ASSERT_EQ(paths.size(), 1u);
  const std::string printed = "{'Opcode': 'Test', 'Parameter': 'BAD_POWER', 'TestNumber': '20', "
                              "'HardBin': '2', 'SortBin': '2', 'Result': 'Fail', "
                              "'write_row_start': 1}";
  // Three log lines and one standard-output line; both rows still report progress.
  EXPECT_THAT(log_from("Error found in power process:", 3),
              ElementsAre("Error found in power process:",
                          "Power pin VDDQ has no clamp row in Levels Bad", "1 - " + printed));
  EXPECT_EQ(stdout_text, "1 " + printed + "\n");
  EXPECT_EQ(progress, (std::vector<double>{0, 1, 2, 3, 4, 5, 6, 7, 8, 13, 19, 24, 65, 100}));
  WorkbookDump dump = dump_workbook(paths[0], dir());
  // The failed row had written its VDD column: the pattern columns go after it.
  EXPECT_EQ(dump.text("PWR!G1"), "VDD");
  EXPECT_EQ(dump.text("PWR!G3"), "1.2");
  EXPECT_EQ(dump.text("PWR!B3"), "BAD_POWER"); // the failed row keeps its flow cells
  EXPECT_EQ(dump.text("PWR!H1"), "PatternName_0");
  EXPECT_EQ(dump.text("PWR!H2"), ".\\Patterns\\func.PAT");
  EXPECT_EQ(dump.cell("PWR!I2").kind, ""); // no pattern folder: no period
  EXPECT_THAT(dump.sheet_cells("PowerPinClampCheck"),
              ElementsAre("A1=Test Instance", "B1=VDD", "A2=BAD_POWER", "B2=0.1"));
}

TEST_F(EndToEnd, AZippedDeviceGivesTheSameWorkbook)
{
  fs::path archive = dir() / "e2e_two_jobs.zip";
  std::vector<std::pair<std::string, std::string>> entries = {{"e2e_two_jobs/", ""}};
  for (const auto& entry : fs::directory_iterator(device))
    if (entry.is_regular_file())
      entries.emplace_back("e2e_two_jobs/" + entry.path().filename().string(),
                           read_file(entry.path()));
  write_zip(archive, entries);

  Command folder = olvent({device.string(), "--patterns", patterns, "-q", "-o", out.string()});
  ASSERT_EQ(folder.status, 0) << folder.err;
  WorkbookDump expected = dump_workbook(check_workbook(), dir());
  fs::remove(check_workbook());
  Command zipped = olvent({archive.string(), "--patterns", patterns, "-q", "-o", out.string()},
                          "TMPDIR=" + shell_quote(make_dir("tmp2").string()));
  ASSERT_EQ(zipped.status, 0) << zipped.err;
  WorkbookDump actual = dump_workbook(check_workbook(), dir());
  EXPECT_EQ(actual.sheets, expected.sheets);
  EXPECT_EQ(actual.cells, expected.cells);
  EXPECT_EQ(actual.rows, expected.rows);
  EXPECT_EQ(actual.conditional, expected.conditional);
}

TEST_F(EndToEnd, AReportLibraryThatCannotBeOpenedEndsTheVbtStage)
{
  // The build's libraries without the report library, found first by the loader.
  fs::path lib = make_dir("lib");
  for (const auto& entry : fs::directory_iterator(fs::path(TARNWICK_BUILD_DIR) / "lib")) {
    std::string name = entry.path().filename().string();
    if (name.find("parvine") == std::string::npos)
      fs::copy(entry.path(), lib / name,
               fs::copy_options::copy_symlinks | fs::copy_options::recursive);
  }
  Command result = olvent({device.string(), "--vbt-check", "-o", out.string()},
                          "LD_LIBRARY_PATH=" + shell_quote(lib.string()));
  EXPECT_EQ(result.status, 4) << result.err; // the check workbook alone was written
  fs::path check = check_workbook();
  EXPECT_THAT(result.out, HasSubstr("发现 1 个Enum定义\nAn exception occurred!Please check!!!\n"
                                    + (lib / "libtarnwick_parvine.so").string()));
  EXPECT_THAT(result.out, testing::Not(HasSubstr("✓ 检查报告已生成")));
  EXPECT_THAT(result.err, HasSubstr("ReportImportError"));
  EXPECT_THAT(result.err, testing::EndsWith(
                            "\nolvent: error: the VBT check wrote no report ("
                            + (lib / "libtarnwick_parvine.so").string()
                            + ": cannot open shared object file: No such file or directory); the "
                              "check workbook is " + check.string() + "\n"));
  EXPECT_EQ(tarnwick::xlsx::Reader(check).sheet_names().size(), 6u);
}

TEST_F(EndToEnd, TheExampleDeviceChecksWithEveryOption)
{
  fs::path demo = make_dir("demo");
  fs::copy(fs::path(TARNWICK_SOURCE_DIR) / "examples" / "demo-device", demo,
           fs::copy_options::recursive);
  Command result =
      olvent({demo.string(), "--patterns", (demo / "Patterns").string(), "--power-order",
              (demo / "Power Order.xlsx").string(), "--vbt-check", "-o", out.string()});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_THAT(result.out, testing::Not(HasSubstr("An exception occurred")));
  EXPECT_THAT(result.out, testing::Not(HasSubstr("Error")));
  EXPECT_THAT(result.out, HasSubstr("✓ 检查报告已生成: "));
  tarnwick::xlsx::Reader reader(check_workbook());
  EXPECT_EQ(reader.sheet_names(),
            (std::vector<std::string>{"FT_ROOM", "FT_HOT", "CP1", "PatTsetMap_CP1", "SortBinDescrp",
                                      "InstParametersCheck", "PowerPinClampCheck"}));
}

} // namespace
