#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tarnwick/quenby/quenby.hpp"
#include "tarnwick/text/error.hpp"

namespace fs = std::filesystem;
using tarnwick::quenby::ParsePinLevel;
using tarnwick::quenby::PinLevelDict;

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs pairs(const std::shared_ptr<const PinLevelDict>& table)
{
  return {table->begin(), table->end()};
}

const std::string k_header = "DTLevelSheet,version=2.1:platform=Jaguar\tPin Levels\n\n"
                             "\tPin/Group\tSeq.\tParameter\tValue\tComment\n";

} // namespace

TEST(ParsePinLevel, LevelAndClampRowsGiveTheFirstOperandUpperCased)
{
  ParsePinLevel reader;
  reader.parse(k_header
               + "\tVDD\t\tVmain\t=1.2\t\n"
                 "\tVIO\t\tVPS\t=_vio_lvl\t\n"
                 "\tVDD\t\tIFoldLevel\t=0.5\t\n"
                 "\tVDD\t\tVil\t=9\t\n"
                 "\tvdd_core\t\tVMAIN\t=_VDD + 0.1\t\n"
                 "\tvcc\t\tvps\t=_vdd*1.1\n"
                 "\tvpp\t\tVMain\t 0.9 \t\n"
                 "\tVDD\t\tVMAIN\t=1.3\t\n"
                 "\t\t\tVMAIN\t2\t\n"
                 "\tVLATE\t\tVMAIN\t3\t\n"
                 "\n");
  EXPECT_EQ(pairs(reader.get_pin_level_info()), (Pairs{{"VDD", "1.3"},
                                                       {"VIO", "_VIO_LVL"},
                                                       {"VDD_CORE", "_VDD"},
                                                       {"VCC", "_VDD*1.1"},
                                                       {"VPP", "0.9"}}));
  EXPECT_EQ(pairs(reader.get_pin_clamp_info()), (Pairs{{"VDD", "0.5"}}));
}

TEST(ParsePinLevel, EveryRowIsSortedByItsOwnParameterAndPin)
{
  // Rows of one parameter text and of one pin may come apart and back again; "ſ" upper-cases
  // to "S", a trailing blank keeps a parameter from matching.
  ParsePinLevel reader;
  reader.parse(k_header
               + "\tvdd\t\tvp\xC5\xBF\t=1\t\n"
                 "\tvio\t\tVps \t=2\t\n"
                 "\tvio\t\tIFoldLevel\t=3\t\n"
                 "\tvdd\t\tIFOLDLEVEL\t=4\t\n"
                 "\tvio\t\tvp\xC5\xBF\t=5\t\n"
                 "\tVdd\t\tVps \t=6\t\n");
  EXPECT_EQ(pairs(reader.get_pin_level_info()), (Pairs{{"VDD", "1"}, {"VIO", "5"}}));
  EXPECT_EQ(pairs(reader.get_pin_clamp_info()), (Pairs{{"VIO", "3"}, {"VDD", "4"}}));
}

TEST(ParsePinLevel, ShortRowsAndMissingValuesAreErrors)
{
  ParsePinLevel reader;
  const auto error_of = [&reader](const std::string& rows) {
    try {
      reader.parse(k_header + "\tVDD\t\tVMAIN\t1\t\n" + rows, "LV.txt");
    } catch (const tarnwick::Error& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(error_of("\n"), "LV.txt, row 4: no cell 1 (the row has 1 cells)");
  EXPECT_EQ(error_of("\tVIO\t\n"), "LV.txt, row 4: no cell 3 (the row has 3 cells)");
  EXPECT_EQ(error_of("\tVIO\t\tVps"), "LV.txt, row 4: no cell 4 (the row has 4 cells)");
  EXPECT_EQ(error_of("\tVIO\t\tIFoldLevel\t  \t\n"), "LV.txt, row 4: no value in cell 4");
  // Rows of other parameters need no value cell.
  EXPECT_EQ(error_of("\tVIO\t\tVil\n\tVIO\t\tVPS\t2\t\n"), "no error");
  EXPECT_EQ(pairs(reader.get_pin_level_info()), (Pairs{{"VDD", "1"}, {"VIO", "2"}}));
}

TEST(ParsePinLevel, ReadsCrLfIntoTablesThatOutliveTheReader)
{
  std::string dir = (fs::temp_directory_path() / "quenby-XXXXXX").string();
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  std::ofstream(dir + "/LV A.txt", std::ios::binary) << "v\r\n\r\nh\r\n\tvdd\t\tVMain\t=_v\t\r\n";
  std::ofstream(dir + "/LV B.txt", std::ios::binary)
      << k_header << "\tvio\t\tVPS\t2\t\n\tvdd\t\tIFoldLevel\t3\n";

  std::shared_ptr<const PinLevelDict> levels;
  std::shared_ptr<const PinLevelDict> clamps;
  {
    ParsePinLevel reader;
    reader.read_pin_level(dir + "/LV A.txt");
    levels = reader.get_pin_level_info();
    clamps = reader.get_pin_clamp_info();
    reader.read_pin_level(dir + "/LV B.txt");
    // The path is used as written.
    EXPECT_THROW(reader.read_pin_level(dir + "/LV%20A.txt"), tarnwick::FileNotFoundError);
  }
  EXPECT_EQ(pairs(levels), (Pairs{{"VDD", "_V"}, {"VIO", "2"}}));
  EXPECT_EQ(pairs(clamps), (Pairs{{"VDD", "3"}}));
  fs::remove_all(dir);
}

TEST(ParsePinLevel, ReadsTheSampleLevelExport)
{
  const fs::path path =
      fs::path(TARNWICK_SOURCE_DIR) / "../shared/realdata/generated-ultraflex/LV_func.txt";
  if (!fs::exists(path)) {
    GTEST_SKIP() << "no sample exports at " << path;
  }
  ParsePinLevel reader;
  reader.read_pin_level(path.string());
  EXPECT_EQ(pairs(reader.get_pin_level_info()),
            (Pairs{{"VDD1", "_VDD_MAIN_VAL"}, {"VDD2", "_VDD_MAIN_VAL"}}));
  EXPECT_EQ(pairs(reader.get_pin_clamp_info()),
            (Pairs{{"VDD1", "_FOLD_VAL"}, {"VDD2", "_FOLD_VAL"}}));
}
