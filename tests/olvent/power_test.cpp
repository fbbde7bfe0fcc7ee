#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tarnwick/olvent/evaluate.hpp"
#include "tarnwick/text/error.hpp"

#include "pattern_support.hpp"

namespace {

using namespace tarnwick::olvent::test;
using tarnwick::olvent::OlventAccess;
using Strings = std::vector<std::string>;
using Clamps = std::vector<std::pair<std::string, double>>;

class PowerColumns : public ColumnsTest
{
protected:
  void SetUp() override
  {
    ColumnsTest::SetUp();
    engine->context_env = "CTX";
    engine->spec_version = "2.0"; // the DC table's own version is the one that counts
    engine->dc_spec_version = "3.0";
    engine->dc_spec_dict =
        spec_table({{"VDD", {{"SELECTORS MIN", "TYP"}, {"CTX::PWR TYP", "1.8"}}}});
  }

  // A pin-level sheet of (pin, parameter, value) rows.
  void write_levels(const std::string& name, const std::vector<Strings>& rows)
  {
    std::string text = "DTLevelSheet\nh\nh\n";
    for (const auto& row : rows)
      text += "\t" + row[0] + "\t\t" + row[1] + "\t" + row[2] + "\t\n";
    write_file(device + "/" + name + ".txt", text);
  }
  static tarnwick::kenmoor::InstanceContent record(const std::string& pin_level,
                                                   const std::string& category = "::PWR")
  {
    tarnwick::kenmoor::InstanceContent content;
    content.dc_category = category;
    content.dc_selector = "Min";
    content.pin_level = pin_level;
    return content;
  }
  int process(const std::string& name, int flow_table_index)
  {
    return OlventAccess::power_process_and_get_count(*engine, device, flow_row(name),
                                                     flow_table_index);
  }
  Clamps clamps(const std::string& name) const
  {
    const auto& map = engine->power_pin_clamp_dict.at(name);
    return Clamps(map.begin(), map.end());
  }
  void write_power_order(const std::string& name, const std::vector<Strings>& rows)
  {
    tarnwick::xlsx::Workbook order(dir() / name);
    auto& sheet = order.add_worksheet("Order");
    for (std::size_t r = 0; r < rows.size(); ++r)
      sheet.write_row(r, 0, rows[r]);
    order.close();
    engine->power_order_path = (dir() / name).string();
  }
};

TEST_F(PowerColumns, WritesRoundedLevelsUnderOneColumnPerPinForTheWholeJob)
{
  write_levels("Levels A", {{"VDDA", "Vmain", "=_VDD*1.1"},
                            {"VDDB", "VPS", "0.000004"},
                            {"VDDC", "vmain", "-0.000004"},
                            {"VDDD", "VPS", "0.000006"},
                            {"VDDE", "VPS", "12"},
                            {"VDDA", "IFoldLevel", "=_VDD/2"},
                            {"VDDB", "IFOLDLEVEL", "0.1234567"},
                            {"VDDC", "IFOLDLEVEL", "0"},
                            {"VDDD", "IFOLDLEVEL", "0"},
                            {"VDDE", "IFOLDLEVEL", "1/3"}});
  write_levels("Levels B", {{"VDDB", "VPS", "1"},
                            {"VDDX", "VPS", "2"},
                            {"VDDB", "IFOLDLEVEL", "1"},
                            {"VDDX", "IFOLDLEVEL", "2"}});
  add_instance("A", {record("Levels A"), record("Levels A", ""), record("Levels A")});
  add_instance("B", {record("Levels B")});
  add_instance("C", {record("Levels B", ""), record("Levels B", "")});
  EXPECT_EQ(process("A", 0), 5);
  EXPECT_EQ(process("B", 3), 6);
  EXPECT_EQ(process("C", 4), 6);
  EXPECT_EQ(engine->power_list, Strings({"VDDA", "VDDB", "VDDC", "VDDD", "VDDE", "VDDX"}));
  EXPECT_EQ(
      clamps("A"),
      Clamps({{"VDDA", 0.9}, {"VDDB", 0.12346}, {"VDDC", 0}, {"VDDD", 0}, {"VDDE", 0.33333}}));
  EXPECT_TRUE(engine->power_pin_clamp_dict.at("C").empty());

  // The same instance again, with its sheet and the DC table changed: its clamp map holds this
  // row's pins only, computed anew.
  write_levels("Levels A", {{"VDDA", "VPS", "=_VDD*1.1"}, {"VDDA", "IFOLDLEVEL", "0.5"}});
  engine->dc_spec_dict = spec_table({{"VDD", {{"SELECTORS MIN", "TYP"}, {"CTX::PWR TYP", "2.5"}}}});
  EXPECT_EQ(process("A", 6), 6);
  EXPECT_EQ(clamps("A"), Clamps({{"VDDA", 0.5}}));

  WorkbookDump sheet = close_and_dump();
  EXPECT_EQ(Strings({sheet.text("G1"), sheet.text("K1"), sheet.text("L1"), sheet.width("G")}),
            Strings({"VDDA", "VDDE", "VDDX", "16"}));
  EXPECT_EQ(Strings({sheet.text("G2"), sheet.text("H2"), sheet.text("I2"), sheet.text("J2"),
                     sheet.text("K2"), sheet.cell("G3").kind, sheet.text("G4")}),
            Strings({"1.98", "0.0", "-0.0", "1e-05", "12.0", "", "1.98"}));
  EXPECT_EQ(Strings({sheet.cell("G2").fill, sheet.cell("H2").fill, sheet.cell("I2").fill,
                     sheet.cell("J2").fill}),
            Strings({"-", "FFAA33", "FFAA33", "-"}));
  EXPECT_EQ(Strings({sheet.text("H5"), sheet.text("L5"), sheet.text("G8")}),
            Strings({"1.0", "2.0", "2.75"}));
}

TEST_F(PowerColumns, TheContextGoesOnlyBeforeACategoryThatBeginsWithTwoColons)
{
  engine->dc_spec_dict = spec_table({{"VDD",
                                      {{"SELECTORS MIN", "TYP"},
                                       {"CTX::PWR TYP", "1.8"},
                                       {"A::PWR TYP", "2"},
                                       {"::PWR TYP", "3"}}}});
  write_levels("Levels", {{"VDDA", "VPS", "=_VDD"}, {"VDDA", "IFOLDLEVEL", "1"}});
  add_instance("A", {record("Levels"), record("Levels", "A::PWR")});
  EXPECT_EQ(process("A", 0), 1);
  engine->context_env.clear();
  add_instance("B", {record("Levels")});
  EXPECT_EQ(process("B", 2), 1);
  WorkbookDump sheet = close_and_dump();
  EXPECT_EQ(Strings({sheet.text("G2"), sheet.text("G3"), sheet.text("G4")}),
            Strings({"1.8", "2.0", "3.0"}));
}

TEST_F(PowerColumns, PowerOrderWorkbookChoosesOrdersAndRenamesThePins)
{
  write_levels("Levels", {{"VDDA", "VPS", "1"},
                          {"VDDB", "VPS", "2"},
                          {"VDDC", "VPS", "3"},
                          {"VDDE", "VPS", "4"},
                          {"VDDA", "IFOLDLEVEL", "1"},
                          {"VDDB", "IFOLDLEVEL", "2"},
                          {"VDDC", "IFOLDLEVEL", "3"}});
  write_power_order(
      "order.xlsx",
      {{"VDDE", "Header"}, {"VDDB", "CORE"}, {"VDDA", ""}, {"VX", ""}, {"VDDC", "CORE"}});
  add_instance("A", {record("Levels"), record("Levels")});
  EXPECT_EQ(process("A", 0), 2);
  EXPECT_EQ(engine->power_list, Strings({"CORE", "VDDA"}));
  EXPECT_EQ(clamps("A"), Clamps({{"VDDB", 2}, {"VDDA", 1}, {"VDDC", 3}}));
  Strings missing = {"Cannot find power pin name in pin level file!", "Power pin name is: VX"};
  EXPECT_EQ(log, Strings({missing[0], missing[1], missing[0], missing[1]})); // once per record

  // Lower-case names find no pin; a sheet of one column lists none.
  log.clear();
  write_power_order("lower.xlsx", {{"Pin", "Alias"}, {"vdda", ""}});
  add_instance("B", {record("Levels")});
  EXPECT_EQ(process("B", 2), 2);
  EXPECT_EQ(log,
            Strings({"Cannot find power pin name in pin level file!", "Power pin name is: vdda"}));
  log.clear();
  write_power_order("narrow.xlsx", {{"Pin"}, {"VDDA"}, {"VDDB"}});
  EXPECT_EQ(process("B", 3), 2);
  EXPECT_TRUE(log.empty());

  WorkbookDump sheet = close_and_dump();
  EXPECT_EQ(Strings({sheet.text("G1"), sheet.text("H1"), sheet.text("G2"), sheet.text("H2"),
                     sheet.text("G3")}),
            Strings({"CORE", "VDDA", "3.0", "1.0", "3.0"}));
  EXPECT_EQ(Strings({sheet.cell("G4").kind, sheet.cell("G5").kind, sheet.cell("I1").kind}),
            Strings({"", "", ""}));
}

TEST_F(PowerColumns, AFailedRowKeepsWhatItWroteAndWidensThePatternOffset)
{
  write_levels("Levels", {{"VDDA", "VPS", "1"},
                          {"VDDB", "VPS", "1/(1-1)"},
                          {"VDDA", "IFOLDLEVEL", "1"},
                          {"VDDB", "IFOLDLEVEL", "1"}});
  add_instance("A", {record("Levels")});
  EXPECT_THROW(process("A", 0), tarnwick::olvent::EvaluationError);
  EXPECT_EQ(engine->power_list, Strings({"VDDA", "VDDB"}));
  EXPECT_EQ(engine->MAX_DSP_CNT, 2);
  EXPECT_EQ(clamps("A"), Clamps({{"VDDA", 1}}));

  // A clamp that cannot be computed leaves its level written and no clamp value.
  write_levels("Bad clamp", {{"VDDA", "VPS", "2"}, {"VDDA", "IFOLDLEVEL", "2/0"}});
  add_instance("BC", {record("Bad clamp")});
  EXPECT_THROW(process("BC", 5), tarnwick::olvent::EvaluationError);
  EXPECT_TRUE(engine->power_pin_clamp_dict.at("BC").empty());

  write_levels("No clamp", {{"VDDC", "VPS", "1"}});
  add_instance("N", {record("No clamp")});
  try {
    process("N", 1);
    ADD_FAILURE() << "no error";
  } catch (const tarnwick::Error& e) {
    EXPECT_STREQ(e.what(), "Power pin VDDC has no clamp row in No clamp");
  }
  add_instance("GONE", {record("Absent")});
  EXPECT_THROW(process("GONE", 2), tarnwick::FileNotFoundError);
  engine->power_order_path = (dir() / "absent.xlsx").string();
  EXPECT_THROW(process("A", 3), tarnwick::FileNotFoundError);

  testing::internal::CaptureStdout();
  EXPECT_EQ(process("NOPE", 4), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Info: cannot found NOPE in Test Instance, please check.\n");
  EXPECT_EQ(log, Strings({"Info: cannot found NOPE in Test Instance, please check."}));
  EXPECT_FALSE(engine->power_pin_clamp_dict.contains("NOPE"));
  WorkbookDump sheet = close_and_dump();
  EXPECT_EQ(Strings({sheet.text("G2"), sheet.text("G7")}), Strings({"1.0", "2.0"}));
}

} // namespace
