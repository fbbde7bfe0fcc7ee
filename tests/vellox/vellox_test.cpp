#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tarnwick/text/error.hpp"
#include "tarnwick/vellox/vellox.hpp"

namespace fs = std::filesystem;
using tarnwick::vellox::ParseTIM;

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs periods(const ParseTIM& reader)
{
  return {reader.get_timing_info()->begin(), reader.get_timing_info()->end()};
}

Pairs clocks(const ParseTIM& reader, const std::string& time_set)
{
  const auto& map = reader.get_clk_info()->at(time_set);
  return {map.begin(), map.end()};
}

// Row 0 and `count` - 1 padded header rows (a bare line end would end the sheet).
std::string header(std::size_t count)
{
  std::string out = "DTTimesetBasicSheet,version=2.3:platform=Jaguar\tTime Sets (Basic)\n";
  for (std::size_t i = 1; i < count; ++i) {
    out += "\t\n";
  }
  return out;
}

Pairs periods_of(const std::string& text, const std::string& platform)
{
  ParseTIM reader;
  reader.parse(text, platform);
  return periods(reader);
}

} // namespace

TEST(ParseTIM, UltraFlexRowsGivePeriodsAndClockRows)
{
  ParseTIM reader;
  reader.parse(header(7)
                   + "\tts_a\t=_PER\tCLKP\t=_PER/2\tclock\tes\n"
                     "\tts_a\t=_PER*2\tDATA\tx\tdata\tes\n"
                     "\tts_b\t10E-9\tCLKP\t5E-9\tclock\tes\n"
                     "\tTS_A\t=9\tclkN\t=_per/4\tclock\tes\n"
                     "\tts_c\t=1\tCLK\t=2\tclock\n"
                     "\tts_a\t=_PER\tCLKP\t=_per/3\tclock\t\n",
               "UltraFLEXplus");
  EXPECT_EQ(periods(reader), (Pairs{{"TS_A", "_PER"}, {"TS_B", "10E-9"}, {"TS_C", "1"}}));
  EXPECT_EQ(clocks(reader, "TS_A"), (Pairs{{"CLKP", "_PER/3"}, {"clkN", "_PER/4"}}));
  EXPECT_EQ(clocks(reader, "TS_B"), (Pairs{{"CLKP", "5E-9"}}));
  // A row kind in the last cell carries the line end and marks no clock.
  EXPECT_EQ(clocks(reader, "TS_C"), Pairs{});
}

TEST(ParseTIM, J750ClockIsTheRowsPeriodOverItsDivider)
{
  ParseTIM reader;
  reader.parse(header(6)
                   + "\tts1\t=_per\t\t2\tmcg\t\n"
                     "\tts1\t=_per2\t\t4\tmcg\t\n"
                     "\tts1\t=_per3\t\t2\tmcg\t\n"
                     "\tts2\t=10\t\tdiv=2\tmcg\t\n"
                     "\tts3\t=10\tX\t=3\tclock\t\n",
               "J750Ex");
  EXPECT_EQ(periods(reader), (Pairs{{"TS1", "_PER"}, {"TS2", "10"}, {"TS3", "10"}}));
  EXPECT_EQ(clocks(reader, "TS1"), (Pairs{{"2", "_PER3/2"}, {"4", "_PER2/4"}}));
  EXPECT_EQ(clocks(reader, "TS2"), (Pairs{{"div=2", "10/div=2"}}));
  EXPECT_EQ(clocks(reader, "TS3"), Pairs{});
}

TEST(ParseTIM, FirstDataRowDependsOnThePlatform)
{
  const std::string sheet = header(6) + "\tj750\t1\t\t2\tmcg\t\n\tuflex\t3\tCK\t4\tclock\t\n";
  EXPECT_EQ(periods_of(sheet, "UltraFLEXplus"), (Pairs{{"UFLEX", "3"}}));
  EXPECT_EQ(periods_of(sheet, "IG-XL J750"), (Pairs{{"J750", "1"}, {"UFLEX", "3"}}));
  EXPECT_EQ(periods_of(sheet + "\tshort\n", "Catalyst"), Pairs{});
}

TEST(ParseTIM, StopRules)
{
  const std::string row = "\tts\t1\tCK\t2\tclock\t\n";
  const std::string late = "\tlate\t1\tCK\t2\tclock\t\n";
  // A bare line end among the header rows is an empty header row; among the data rows it
  // ends the sheet.
  EXPECT_EQ(periods_of(header(3) + "\n\t\n\t\n\t\n" + row, "UltraFLEX"), (Pairs{{"TS", "1"}}));
  EXPECT_EQ(periods_of("\n\n\n\n\n\n\n" + row, "UltraFLEX"), (Pairs{{"TS", "1"}}));
  EXPECT_EQ(periods_of(header(7) + row + "\n" + late, "UltraFLEX"), (Pairs{{"TS", "1"}}));
  EXPECT_EQ(periods_of(header(6) + row + "\n" + late, "J750"), (Pairs{{"TS", "1"}}));
  // A line of white space stops it only from row 7 on.
  EXPECT_EQ(periods_of(header(6) + "\t\t\t\n" + row, "UltraFLEX"), (Pairs{{"TS", "1"}}));
  EXPECT_EQ(periods_of(header(7) + row + "\t \t\n" + late, "UltraFLEX"), (Pairs{{"TS", "1"}}));
  EXPECT_EQ(periods_of(header(7) + row + "\t\xC2\xA0\n" + late, "UltraFLEX"), (Pairs{{"TS", "1"}}));
  // J750 reads row 6 even when it is blank.
  EXPECT_EQ(periods_of(header(6) + "\t\t\t\t\t \n" + "\t\n" + row, "J750"), (Pairs{{"", ""}}));
}

TEST(ParseTIM, ShortRowFailsAtItsFirstMissingCell)
{
  ParseTIM reader;
  const std::string sheet = header(7) + "\tts_a\t=1\tCK\t=2\tclock\t\n";
  const auto error_of = [&reader](const std::string& text) {
    try {
      reader.parse(text, "UltraFLEX", "TS.txt");
    } catch (const tarnwick::Error& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(error_of(sheet + "\tts_b"), "TS.txt, row 8: no cell 2 (the row has 2 cells)");
  EXPECT_EQ(periods(reader), (Pairs{{"TS_A", "1"}}));
  EXPECT_EQ(clocks(reader, "TS_B"), Pairs{});
  EXPECT_EQ(error_of(sheet + "\tts_c\t1\tCK\t2\n"),
            "TS.txt, row 8: no cell 5 (the row has 5 cells)");
  EXPECT_EQ(reader.get_timing_info()->at("TS_C"), "1");
}

TEST(ParseTIM, ReadsCrLfIntoTablesThatOutliveTheReader)
{
  std::string dir = (fs::temp_directory_path() / "vellox-XXXXXX").string();
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  std::ofstream(dir + "/TS A.txt", std::ios::binary)
      << "v\r\n\t\r\n\t\r\n\t\r\n\t\r\n\t\r\n\t\r\n\tts\t=_p\tCK\t=_p/2\tclock\t\r\n";
  std::ofstream(dir + "/TS B.txt", std::ios::binary)
      << header(7) << "\tts\t9\tCK2\t9\tclock\t\n\tts2\t3\t\t\t\t\n";

  std::shared_ptr<const tarnwick::vellox::TimingPeriod> period_table;
  std::shared_ptr<const tarnwick::vellox::ClkDic> clock_table;
  {
    ParseTIM reader;
    reader.read_timing(dir + "/TS A.txt", "UltraFLEX");
    period_table = reader.get_timing_info();
    clock_table = reader.get_clk_info();
    reader.read_timing(dir + "/TS B.txt", "UltraFLEX");
    // The path is used as written.
    EXPECT_THROW(reader.read_timing(dir + "/TS%20A.txt", "UltraFLEX"), tarnwick::FileNotFoundError);
  }
  EXPECT_EQ(Pairs(period_table->begin(), period_table->end()), (Pairs{{"TS", "_P"}, {"TS2", "3"}}));
  const auto& ts = clock_table->at("TS");
  EXPECT_EQ(Pairs(ts.begin(), ts.end()), (Pairs{{"CK", "_P/2"}, {"CK2", "9"}}));
  fs::remove_all(dir);
}

TEST(ParseTIM, SampleExportReadsPastItsEmptyRowOne)
{
  const fs::path path =
      fs::path(TARNWICK_SOURCE_DIR) / "../shared/realdata/generated-ultraflex/func_tsb.txt";
  if (!fs::exists(path)) {
    GTEST_SKIP() << "no sample exports at " << path;
  }
  ParseTIM reader;
  reader.read_timing(path.string(), "UltraFLEX");
  EXPECT_FALSE(reader.get_timing_info()->empty());
  EXPECT_EQ(reader.get_clk_info()->size(), reader.get_timing_info()->size());
}
