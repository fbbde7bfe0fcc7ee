#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tarnwick/text/error.hpp"
#include "tarnwick/tiskel/tiskel.hpp"

namespace fs = std::filesystem;
using tarnwick::tiskel::GlobSpecDict;
using tarnwick::tiskel::ParseGlobalSpec;

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs pairs(const std::shared_ptr<const GlobSpecDict>& table)
{
  return {table->begin(), table->end()};
}

std::string error_of(ParseGlobalSpec& reader, const std::string& text, const std::string& platform)
{
  try {
    reader.parse(text, platform, "Global Specs.txt");
  } catch (const tarnwick::Error& e) {
    return e.what();
  }
  return "no error";
}

const std::string k_version = "DTGlobalSpecSheet,version=2.1:platform=Jaguar\tGlobal Specs\n";
const std::string k_header = "\tSymbol\tJob\tValue\tComment\n";

} // namespace

TEST(ParseGlobalSpec, DataRowsGiveUpperCaseSymbolsAndValues)
{
  ParseGlobalSpec reader;
  reader.parse(k_version + "\n" + k_header
                   + "\tvcl\t\t-1\tclamp\n"
                     "\tvdd_core\tFT\t=1.8*_vnom\tcore supply\n"
                     "\tvio\t\t1.8\n"
                     "\t\t\tnameless\t\n"
                     "\tVCL\t\t-2\t\n",
               "UltraFLEXplus");
  EXPECT_EQ(pairs(reader.get_info()),
            (Pairs{{"VCL", "-2"}, {"VDD_CORE", "=1.8*_VNOM"}, {"VIO", "1.8\n"}, {"", "NAMELESS"}}));
}

TEST(ParseGlobalSpec, RowThreeIsDataUnlessItIsAHeader)
{
  // Older exports keep a header in row 3 (any case and padding) or leave its cell 1 empty; a
  // short row 3 is passed over, not an error.
  for (const std::string row3 : {"\t Symbol \tJob\tValue\tComment\n", "\tSYMBOL\t\t\t\n",
                                 "\t \tJob\tValue\tComment\n", "\tvcl\t-1\n"}) {
    ParseGlobalSpec older;
    older.parse(k_version + "\n\n" + row3 + "\tvch\t\t6\t\n", "UltraFLEX");
    EXPECT_EQ(pairs(older.get_info()), (Pairs{{"VCH", "6"}})) << row3;
  }
}

TEST(ParseGlobalSpec, ErrorsNameTheRow)
{
  ParseGlobalSpec reader;
  EXPECT_EQ(error_of(reader, "DFF 1.1\n", "J750"), "no error");
  EXPECT_EQ(error_of(reader, k_version, "J750"),
            "Global Specs.txt, row 0: no version mark \"DFF (\\d+(\\.\\d+)?)\" for the "
            "platform \"J750\"");
  const std::string sheet = k_version + "\n" + k_header + "\tvcl\t\t-1\t\n";
  EXPECT_EQ(error_of(reader, sheet + "\n", "UltraFLEX"),
            "Global Specs.txt, row 4: the row has 1 cells, a global spec needs 4");
  EXPECT_EQ(error_of(reader, sheet + "\tvch\t\t6\n\tx\t\n", "UltraFLEX"),
            "Global Specs.txt, row 5: the row has 3 cells, a global spec needs 4");
  EXPECT_EQ(pairs(reader.get_info()), (Pairs{{"VCL", "-1"}, {"VCH", "6\n"}}));
}

TEST(ParseGlobalSpec, EveryReadStartsANewTable)
{
  std::string dir = (fs::temp_directory_path() / "tiskel-XXXXXX").string();
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  std::ofstream(dir + "/Global Specs.txt", std::ios::binary)
      << "DTGlobalSpecSheet,version=2.0:x\r\n\r\n\tSymbol\tJob\tValue\tComment\r\n"
         "\tvcl\t\t-1\tlow\r\n\tvph\t\t5\r\n";

  ParseGlobalSpec reader;
  EXPECT_THROW(reader.get_info(), tarnwick::Error);
  reader.read_spec(dir + "/Global%20Specs.txt", "UltraFLEX");
  const std::shared_ptr<const GlobSpecDict> first = reader.get_info();
  // A failed open keeps the table; a read starts a new one.
  EXPECT_THROW(reader.read_spec(dir + "/Missing%20Specs.txt", "UltraFLEX"),
               tarnwick::FileNotFoundError);
  EXPECT_EQ(reader.get_info(), first);
  reader.parse(k_version + "\n\n\n\tvch\t\t6\t\n", "UltraFLEX");
  EXPECT_EQ(pairs(first), (Pairs{{"VCL", "-1"}, {"VPH", "5\n"}}));
  EXPECT_EQ(pairs(reader.get_info()), (Pairs{{"VCH", "6"}}));
  fs::remove_all(dir);
}

TEST(ParseGlobalSpec, ReadsTheFirstSymbolOfTheSampleExport)
{
  const fs::path path =
      fs::path(TARNWICK_SOURCE_DIR) / "../shared/realdata/generated-ultraflex/Specs_Global.txt";
  if (!fs::exists(path)) {
    GTEST_SKIP() << "no sample exports at " << path;
  }
  ParseGlobalSpec reader;
  reader.read_spec(path.string(), "UltraFLEX");
  ASSERT_EQ(reader.get_info()->size(), 7U);
  EXPECT_EQ(reader.get_info()->begin()->first, "VCL_DEFAULT");
  EXPECT_EQ(reader.get_info()->at("VCL_DEFAULT"), "-1");
}
