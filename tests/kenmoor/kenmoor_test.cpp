#include "tarnwick/kenmoor/kenmoor.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include <unistd.h>

#include "tarnwick/text/error.hpp"

namespace fs = std::filesystem;
using tarnwick::kenmoor::InstanceContent;
using tarnwick::kenmoor::Kenmoor;
using tarnwick::kenmoor::PatternSetDict;

namespace tarnwick::kenmoor {
void PrintTo(const InstanceContent& content, std::ostream* out)
{
  *out << printed(content);
}
} // namespace tarnwick::kenmoor

namespace {

const std::string k_header = "DTTestInstancesSheet,version=2.4:platform=Jaguar\tTest Instances\n"
                             "\n"
                             "\t\tTest Procedure\t\t\tDC Specs\t\tAC Specs\n"
                             "\tTest Name\tType\tName\tCalled As\tCategory\tSelector\tCategory\n";

// A row of `count` cells holding `cells` at their positions, ended by LF.
std::string row(const std::map<std::size_t, std::string>& cells, std::size_t count = 24)
{
  std::string line;
  for (std::size_t i = 0; i < count; ++i) {
    line += (i > 0 ? "\t" : "") + (cells.contains(i) ? cells.at(i) : "");
  }
  return line + "\n";
}

std::string pattern_of(const std::string& cell, const std::string& platform)
{
  Kenmoor reader;
  reader.parse(k_header + row({{1, "i"}, {20, cell}}), {}, platform);
  return reader.get_instance_info()->at("I").at(0).pattern;
}

} // namespace

TEST(Kenmoor, RecordTakesCellsInKeyOrderAndClipsArgDetails)
{
  Kenmoor reader;
  reader.parse(k_header + row({{1, "func"}, {3, "Functional_T"}, {5, "dccat"}, {6, "Typ"}, {7, "accat"},
                               {8, "Max"}, {9, "ts1"}, {11, "lv1"}, {14, "A,B,C"}, {15, "a"},
                               {16, ""}, {17, "c"}, {18, "d"}}),
               {}, "UltraFLEX");
  const auto& record = reader.get_instance_info()->at("FUNC").at(0);
  EXPECT_EQ(record, (InstanceContent{"Functional_T", "dccat", "Typ", "ts1", "accat", "Max", "lv1", "",
                                     "A,B,C", {"a", "", "c"}}));
  EXPECT_EQ(printed(record), "{'Method': 'Functional_T', 'DC Category': 'dccat', 'DC Selector': 'Typ', "
                             "'TimeSet': 'ts1', 'AC Category': 'accat', 'AC Selector': 'Max', "
                             "'PinLevel': 'lv1', 'Pattern': '', 'ArgList': 'A,B,C', "
                             "'ArgDetails': ['a', '', 'c']}");

  Kenmoor clipped;
  clipped.parse(k_header + row({{1, "a"}}, 16) + row({{1, "b"}, {14, "x,y,z"}, {15, "1"}}, 17) +
                 row({{1, "c"}, {14, "x"}}, 15),
               {});
  const auto& table = *clipped.get_instance_info();
  EXPECT_EQ(table.at("A").at(0).arg_details, std::vector<std::string>{"\n"});
  EXPECT_EQ(table.at("B").at(0).arg_details, (std::vector<std::string>{"1", "\n"}));
  EXPECT_EQ(table.at("C").at(0).arg_list, "x\n");
  EXPECT_TRUE(table.at("C").at(0).arg_details.empty());
}

TEST(Kenmoor, NamesAreUpperCasedAndCollectInReadingOrder)
{
  Kenmoor reader;
  reader.parse(k_header + row({{1, "Func"}, {3, "m1"}}) + row({{1, "other"}}) + row({{1, "FUNC"}, {3, "m2"}}),
               {});
  reader.parse(k_header + row({{1, "func"}, {3, "m3"}}), {});
  const auto& table = *reader.get_instance_info();
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(table.begin()->first, "FUNC");
  const auto& records = table.at("FUNC");
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[2].method, "m3");
}

TEST(Kenmoor, EmptyNameEndsTableAndShortRowsFail)
{
  Kenmoor reader;
  reader.parse(k_header + row({{1, "a"}}) + row({}) + row({{1, "b"}}), {});
  EXPECT_EQ(reader.get_instance_info()->size(), 1u);

  // A row too short for cell 14 fails after its name entry exists.
  try {
    reader.parse(k_header + row({{1, "short"}}, 14), {}, "UltraFLEX", "x.txt");
    FAIL() << "no error";
  } catch (const tarnwick::Error& error) {
    EXPECT_STREQ(error.what(), "x.txt, row 4: row has 14 cells, needs at least 15");
  }
  EXPECT_TRUE(reader.get_instance_info()->at("SHORT").empty());
  // An empty line has one cell, too few for the name.
  EXPECT_THROW(reader.parse(k_header + "\n", {}), tarnwick::Error);
  // With sets to look up, cells 14 to 19 must exist.
  EXPECT_THROW(reader.parse(k_header + row({{1, "c"}}, 19), {{"PS", {"p.pat"}}}), tarnwick::Error);
}

TEST(Kenmoor, PatternSetNamesInCells14To19)
{
  const PatternSetDict sets = {{"TWO", {"a.PAT", "b.PAT"}}, {"ONE", {"c.pat"}}, {"NONE", {}}};
  Kenmoor reader;
  reader.parse(k_header + row({{1, "i1"}, {16, "two"}, {18, "One"}, {19, "TWO"}, {20, "x.pat"}}) +
                 row({{1, "i2"}, {13, "ONE"}, {20, "\tz.pat"}}) + row({{1, "i3"}, {14, "none"}, {21, "y.pat"}}),
               sets, "UltraFLEX");
  const auto& table = *reader.get_instance_info();
  EXPECT_EQ(table.at("I1").at(0).pattern, "a.PAT,b.PAT,c.pat,a.PAT,b.PAT");
  // No set named (cell 13 is outside the range): searched instead.
  EXPECT_EQ(table.at("I2").at(0).pattern, "z.pat");
  // A named set without paths gives nothing, so the row is searched too.
  EXPECT_EQ(table.at("I3").at(0).pattern, "y.pat");
}

TEST(Kenmoor, ColumnsComeFromTheHeadingRows)
{
  // The J750 layout: no "Mixed Signal Timing" column, so "Overlay" is cell 12 and the
  // arguments start at cell 13.
  const std::string j750 = "DFF 1.3\tTest Instances\n\n"
                           "\t\tTest Procedure\t\t\tDC Specs\t\tAC Specs\t\tSheet Parameters\n"
                           "\tTest Name\tType\tName\tCalled As\tCategory\tSelector\tCategory\t"
                           "Selector\tTime Sets\tEdge Sets\tPin Levels\tOverlay\tArg0\tArg1\n";
  const auto row13 = row({{1, "nvm"}, {3, "Empty_T"}, {5, "NVM"}, {6, "Typ"}, {7, "Spec"},
                          {8, "Default"}, {9, "Tim"}, {11, "Lvl"}, {13, "Patterns,Mode"},
                          {14, "ps_a"}, {15, "m1"}});
  Kenmoor reader;
  reader.parse(j750 + row13, {{"PS_A", {"a.PAT"}}}, "J750");
  EXPECT_EQ(reader.get_instance_info()->at("NVM").at(0),
            (InstanceContent{"Empty_T", "NVM", "Typ", "Tim", "Spec", "Default", "Lvl", "a.PAT",
                             "Patterns,Mode", {"ps_a", "m1"}}));

  // Columns moved by the headings; "Category" and "Selector" are found under their group.
  const std::string moved = "h0\n\n\t\tTest Procedure\t\tAC Specs\t\tDC Specs\n"
                            "\tTest Name\tType\tName\tCategory\tSelector\tCategory\tSelector\t"
                            "Pin Levels\tTime Sets\tOverlay\tArg0\n";
  Kenmoor shifted;
  shifted.parse(moved + row({{1, "x"}, {3, "m"}, {4, "ac"}, {5, "acsel"}, {6, "dc"}, {7, "dcsel"},
                             {8, "lv"}, {9, "ts"}, {11, "one.pat"}}),
                {}, "UltraFLEX");
  EXPECT_EQ(shifted.get_instance_info()->at("X").at(0),
            (InstanceContent{"m", "dc", "dcsel", "ts", "ac", "acsel", "lv", "one.pat", "one.pat",
                             {""}}));
}

TEST(Kenmoor, SearchFindsWholePatternFileNamesOfThePlatform)
{
  struct Case
  {
    std::string cell, platform, pattern;
  };
  const std::vector<Case> cases = {
    // UltraFLEX reads .pat and .patx, UltraFLEXplus .patx, the others .pat.
    {R"(.\Patterns\func_a.patx)", "UltraFLEX", R"(.\Patterns\func_a.patx)"},
    {"b.PAT", "UltraFLEX", "b.PAT"},
    {"b.patx", "UltraFLEXplus", "b.patx"},
    {"a.pat", "UltraFLEXplus", ""},
    {"D.PAT", "J750", "D.PAT"},
    {"b.patx", "J750", ""},
    {"a.pat.gz", "UltraFLEX", "a.pat.gz"},
    // A name ends at the end of its cell or at a comma, never inside a word.
    {"MyTestMethods.Parametric.PatternCheck", "UltraFLEX", ""},
    {"core.patxy", "UltraFLEX", ""},
    {"a.pat.bak", "J750", ""},
    {"dir x/p.pat,q.pat tail", "J750", "dir x/p.pat"},
    {"Patterns,p1.pat,p2.PATX", "UltraFLEX", "p1.pat,p2.PATX"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(pattern_of(c.cell, c.platform), c.pattern) << c.cell << " on " << c.platform;
  }

  // Cell 0 has no tab before it; the same path twice stands twice; matches stay in one cell.
  Kenmoor reader;
  reader.parse(k_header + row({{0, "zero.pat"}, {1, "i"}, {15, "s.pat"}, {16, "s.pat"}, {17, "x"}, {18, ".pat"}}),
               {}, "UltraFLEX");
  EXPECT_EQ(reader.get_instance_info()->at("I").at(0).pattern, "s.pat,s.pat");

  // Only the first 144 cells (UltraFLEX) or 93 cells (others) are searched.
  for (const auto& [platform, reach] : {std::pair{"UltraFLEX", 144u}, std::pair{"J750", 93u}}) {
    Kenmoor wide;
    wide.parse(k_header + row({{1, "in"}, {reach - 1, "in.pat"}}, 200) +
                 row({{1, "out"}, {reach, "out.pat"}}, 200),
               {}, platform);
    EXPECT_EQ(wide.get_instance_info()->at("IN").at(0).pattern, "in.pat") << platform;
    EXPECT_EQ(wide.get_instance_info()->at("OUT").at(0).pattern, "") << platform;
  }
}

TEST(Kenmoor, ReadsCrLfFileUnderBlankEscapedName)
{
  const auto dir = fs::temp_directory_path() / ("kenmoor_test_" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "Inst A.txt", std::ios::binary)
    << "h0\r\nh1\r\nh2\r\nh3\r\n\tfunc\t\tm\t\t\t\t\t\t\t\t\t\t\t\tp.PATX\r\n";
  Kenmoor reader;
  reader.read_test_instance((dir / "Inst%20A.txt").string(), {});
  const auto table = reader.get_instance_info();
  EXPECT_EQ(table->at("FUNC").at(0).pattern, "p.PATX");
  EXPECT_EQ(table->at("FUNC").at(0).arg_details, std::vector<std::string>{"p.PATX\n"});
  EXPECT_THROW(reader.read_test_instance((dir / "Inst%20B.txt").string(), {}),
               tarnwick::FileNotFoundError);
  fs::remove_all(dir);
}

TEST(KenmoorRealData, ReadsGeneratedInstances)
{
  const fs::path path = fs::path(TARNWICK_SOURCE_DIR) / "../shared/realdata/generated-ultraflex/prb1_instances.txt";
  if (!fs::exists(path)) {
    GTEST_SKIP() << "no real-layout exports on this machine";
  }
  Kenmoor reader;
  reader.read_test_instance(path.string(), {{"BGAP_VOLTAGE_MEAS_PSET", {"bgap.PAT"}}}, "UltraFLEX");
  const auto& table = *reader.get_instance_info();
  ASSERT_TRUE(table.contains("BGAP_VOLTAGE_MEAS"));
  EXPECT_EQ(table.at("BGAP_VOLTAGE_MEAS").at(0).pattern, "bgap.PAT");
  EXPECT_EQ(table.at("BGAP_VOLTAGE_MEAS").at(0).method, "Functional_T");
}
