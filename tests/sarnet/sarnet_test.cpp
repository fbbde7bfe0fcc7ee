#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tarnwick/sarnet/sarnet.hpp"
#include "tarnwick/text/error.hpp"

namespace fs = std::filesystem;
using tarnwick::sarnet::Sarnet;

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs row_of(const Sarnet& reader, const std::string& symbol)
{
  const auto& info = reader.get_info()->at(symbol);
  return {info.begin(), info.end()};
}

std::string error_of(Sarnet& reader, const std::string& text, const std::string& platform)
{
  try {
    reader.parse(text, platform, "DC Specs.txt");
  } catch (const tarnwick::Error& e) {
    return e.what();
  }
  return "no error";
}

const std::string k_version = "DTDCSpecSheet,version=3.0:platform=Jaguar\tDC Specs\n";
// Header rows 1 to 3 of a sheet with the one column key "SEL A" (column 3) and a comment
// column whose key is the line end around "Z".
const std::string k_head = k_version + "\n\t\t\tSel\t\n\t\t\ta\tz\n";

} // namespace

TEST(Sarnet, HeaderRowsCombineIntoUpperCaseKeys)
{
  // Row 2's empty cells take the heading on their left, a blank is no empty cell; row 3 adds
  // " " + its cell, empty or not; the last key keeps the line ends of both rows.
  Sarnet reader;
  reader.parse(k_version
                   + "\n\t\t\tSel\t\tCat\t\t\t \t\n"
                     "\tSymbol\tValue\ta\tb\tx\ty\t\tb\tz\n"
                     "\tvdd\t1\tp\tq\tr\ts\tt\tu\tv\n",
               "UltraFLEX");
  EXPECT_EQ(row_of(reader, "VDD"), (Pairs{{"SEL A", "P"},
                                          {"SEL B", "Q"},
                                          {"CAT X", "R"},
                                          {"CAT Y", "S"},
                                          {"CAT ", "T"},
                                          {"  B", "U"},
                                          {"\n Z\n", "V\n"}}));
}

TEST(Sarnet, SymbolsAndValuesAreUpperCasedAndLaterRowsReplace)
{
  Sarnet reader;
  reader.parse(k_head + "\tvdd_core\t\tmin\t\n\tvio\t\ttyp\t\n\tVDD_Core\t\tmaß\t\n",
               "UltraFLEXplus");
  ASSERT_EQ(reader.get_info()->size(), 2U);
  EXPECT_EQ(reader.get_info()->begin()->first, "VDD_CORE");
  EXPECT_EQ(row_of(reader, "VDD_CORE"), (Pairs{{"SEL A", "MASS"}, {"\n Z\n", "\n"}}));
}

TEST(Sarnet, GetSpecInfoKeepsColumnsFromIndexThreeUnderUpperCaseKeys)
{
  // Keys that meet once upper-cased leave the later column's cell at the first key's place.
  const std::vector<std::string> keys = {"",      "Symbol a",     "Value a",
                                         "Sel a", "Cat \xC3\x9F", "sel A"};
  const auto info = tarnwick::sarnet::get_spec_info({"x", "vdd", "1", "p", "q", "r"}, keys);
  EXPECT_EQ(Pairs(info.begin(), info.end()), (Pairs{{"SEL A", "R"}, {"CAT SS", "Q"}}));
  EXPECT_THROW(tarnwick::sarnet::get_spec_info({"x", "vdd", "1", "p", "q"}, keys), tarnwick::Error);
}

TEST(Sarnet, VersionIsKeptAsText)
{
  Sarnet ultraflex;
  ultraflex.parse("DTACSpecSheet,version=3.00:platform=Jaguar:toprow=-1\n", "UltraFLEXplus");
  EXPECT_EQ(ultraflex.get_spec_version(), "3.00");
  EXPECT_TRUE(ultraflex.get_info()->empty());

  Sarnet j750;
  j750.parse("DFF 1.3 AC Specs\n", "J750");
  EXPECT_EQ(j750.get_spec_version(), "1.3");

  Sarnet empty;
  empty.parse("", "UltraFLEX");
  EXPECT_EQ(empty.get_spec_version(), "");
}

TEST(Sarnet, LayoutErrorsNameTheRowAndKeepEarlierRows)
{
  Sarnet reader;
  EXPECT_EQ(error_of(reader, "DFF 1.3\n", "UltraFLEX"),
            "DC Specs.txt, row 0: no version mark \"version=(\\S+?):\" for the platform "
            "\"UltraFLEX\"");
  EXPECT_EQ(error_of(reader, k_version, "J750"),
            "DC Specs.txt, row 0: no version mark \"DFF (\\d+(\\.\\d+)?)\" for the platform "
            "\"J750\"");
  EXPECT_EQ(error_of(reader, k_version + "\n\t\t\tSel\n\t\t\ta\tb\n", "UltraFLEX"),
            "DC Specs.txt, row 3: the header row has 5 cells, the row above only 4");
  const std::string sheet = k_head + "\tvdd\t\t1\t2\n";
  EXPECT_EQ(error_of(reader, sheet + "\tvio\t\t1\n", "UltraFLEX"),
            "DC Specs.txt, row 5: the row has 4 cells, the header 5");
  // A trailing empty line is a row of one cell.
  EXPECT_EQ(error_of(reader, sheet + "\n", "UltraFLEX"),
            "DC Specs.txt, row 5: the row has 1 cells, the header 5");
  EXPECT_EQ(row_of(reader, "VDD"), (Pairs{{"SEL A", "1"}, {"\n Z\n", "2\n"}}));
}

TEST(Sarnet, SheetWithASelectorNameColumnKeepsEachSelectorsRow)
{
  // The version-2.0 layout: one row per selector under "Selector Name" / "Selector Val".
  const std::string head = "DTDCSpecSheet,version=2.0:platform=Jaguar\tDC Specs\n\n"
                           "\t\t\tSelector\t\tpower_down_levels\t\t\tComment\n"
                           "\tSymbol\tValue\tName\tVal\tTyp\tMin\tMax\t\n";
  Sarnet reader;
  reader.parse(head
                   + "\tvdd_main_val\t\tnom\tTyp\t=0.2*V\t=0.1*V\t=0.3*V\t\n"
                     "\tvdd_main_val\t\tmin\tMin\t=0.2*V\t=0.1*V\t=0.3*V\t\n"
                     "\tvdd_main_val\t\tMax\tMax\t=0.2*V\t=0.1*V\t=0.3*V\t\n"
                     "\tvdd_alt_val\t\tnom\tTyp\t8\t7\t9\t\n",
               "UltraFLEX", "DC Specs.txt");
  const auto rows = reader.get_selector_rows();
  ASSERT_NE(rows, nullptr);
  const auto& main = rows->at("VDD_MAIN_VAL");
  ASSERT_EQ(main.size(), 3U);
  EXPECT_EQ(main.at("NOM").at("SELECTOR VAL"), "TYP");
  EXPECT_EQ(main.at("MIN").at("SELECTOR VAL"), "MIN");
  EXPECT_EQ(main.at("MAX").at("POWER_DOWN_LEVELS MAX"), "=0.3*V");
  EXPECT_EQ(rows->at("VDD_ALT_VAL").size(), 1U);
  // The spec table keeps the last row of a symbol, as for any sheet.
  EXPECT_EQ(reader.get_info()->at("VDD_MAIN_VAL").at("SELECTOR VAL"), "MAX");

  // Without that column (selectors as columns) there are no rows by selector.
  Sarnet columns;
  columns.parse(k_head + "\tvdd\t\tmin\t\n", "UltraFLEX", "DC Specs.txt");
  EXPECT_EQ(columns.get_selector_rows(), nullptr);
}

TEST(Sarnet, ReadsFilesIntoATableThatOutlivesTheReader)
{
  std::string dir = (fs::temp_directory_path() / "sarnet-XXXXXX").string();
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  std::ofstream(dir + "/DC Spec A.txt", std::ios::binary)
      << "DTDCSpecSheet,version=2.0:x\r\n\r\n\t\t\tSel\t\r\n\t\t\ta\tz\r\n\tvdd\t\tmin\t\r\n";
  std::ofstream(dir + "/B%20C.txt", std::ios::binary) << k_head << "\tvio\t\tmax\t\n";

  std::shared_ptr<const tarnwick::sarnet::SpecDict> table;
  {
    Sarnet reader;
    // "%20" turns back into blanks when nothing exists under the path as written ...
    reader.read_spec(dir + "/DC%20Spec%20A.txt", "UltraFLEX");
    EXPECT_EQ(reader.get_spec_version(), "2.0");
    table = reader.get_info();
    // ... and stays when something does; the second read adds to the same table.
    reader.read_spec(dir + "/B%20C.txt", "UltraFLEX");
    EXPECT_EQ(reader.get_spec_version(), "3.0");
    EXPECT_THROW(reader.read_spec(dir + "/No%20Such.txt", "UltraFLEX"),
                 tarnwick::FileNotFoundError);
  }
  ASSERT_EQ(table->size(), 2U);
  EXPECT_EQ(table->at("VDD").at("SEL A"), "MIN");
  EXPECT_EQ(table->at("VIO").at("SEL A"), "MAX");
  fs::remove_all(dir);
}

TEST(Sarnet, ReadsTheSampleAcSpecExport)
{
  const fs::path path =
      fs::path(TARNWICK_SOURCE_DIR) / "../shared/realdata/generated-ultraflex/SpecsAC_func.txt";
  if (!fs::exists(path)) {
    GTEST_SKIP() << "no sample exports at " << path;
  }
  Sarnet reader;
  reader.read_spec(path.string(), "UltraFLEX");
  EXPECT_EQ(reader.get_spec_version(), "2.0");
  const auto& cycle = reader.get_info()->at("CYCLE");
  EXPECT_EQ(cycle.at("SELECTOR VAL"), "MAX");
  EXPECT_EQ(cycle.at("FUNC_100MHZ MAX"), "=11*NS");
}
