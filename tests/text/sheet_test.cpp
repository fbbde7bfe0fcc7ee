#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "tarnwick/text/error.hpp"
#include "tarnwick/text/sheet.hpp"

namespace fs = std::filesystem;
using namespace tarnwick::text;

namespace {

TEST(SheetPath, KeepsAPathThatExistsEvenWithEscapes)
{
  const fs::path dir =
    fs::temp_directory_path() / ("tarnwick-sheet-" + std::to_string(std::random_device{}()));
  fs::create_directories(dir);
  const std::string escaped = (dir / "Flow%20Main.txt").string();
  const std::string plain = (dir / "Flow Main.txt").string();

  // Nothing there: every "%20" becomes a blank, the folder part included.
  EXPECT_EQ(existing_or_unescaped(escaped), plain);
  EXPECT_EQ(existing_or_unescaped("/no%20such/a%20b%20.txt"), "/no such/a b .txt");

  // A file whose own name holds "%20" is taken as written.
  std::ofstream(escaped) << "x";
  EXPECT_EQ(existing_or_unescaped(escaped), escaped);
  fs::remove_all(dir);
}

TEST(SheetPath, ReplaceAllIsLiteralAndLeftToRight)
{
  EXPECT_EQ(replace_all("%20%20%2", "%20", " "), "  %2");
  EXPECT_EQ(replace_all("aaa", "aa", "b"), "ba");
  EXPECT_EQ(replace_all("abc", "", "x"), "abc");
}

TEST(SheetRows, ShortRowsAndLocations)
{
  EXPECT_EQ(row_location("Flow.txt", 7), "Flow.txt, row 7");
  EXPECT_EQ(row_location("", 7), "row 7");
  EXPECT_NO_THROW(need_cells({"a", "b"}, 2));
  try {
    need_cells({"a", "b"}, 3);
    FAIL() << "a short row passed";
  } catch (const tarnwick::Error& error) {
    EXPECT_STREQ(error.what(), "row has 2 cells, needs at least 3");
  }
}

TEST(SheetVersion, MissingMarkNamesPlaceAndPattern)
{
  EXPECT_EQ(sheet_version("DTSpecSheet,version=3.0:platform=Jaguar\tDC\n", "UltraFLEX", "a.txt"),
            "3.0");
  try {
    sheet_version("DFF 1.1\tDC\n", "UltraFLEX", "a.txt");
    FAIL() << "no error";
  } catch (const tarnwick::Error& error) {
    EXPECT_STREQ(error.what(), "a.txt, row 0: no version mark \"version=(\\S+?):\" for the platform "
                               "\"UltraFLEX\"");
  }
  const std::vector<std::string> cells{"a", "b"};
  EXPECT_EQ(cell_at(cells, 1, "a.txt", 4), "b");
  EXPECT_THROW(cell_at(cells, 2, "a.txt", 4), tarnwick::Error);
}

TEST(SheetVersion, ChoosesThePatternByPlatform)
{
  const char* row0 = "DTPatternSetSheet,version=2.3:platform=Jaguar:toprow=-1\tPattern Sets\n";
  auto m = sheet_version_regex("UltraFLEXplus").search(row0);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->str(1), "2.3"); // lazy: stops at the first ":"

  EXPECT_FALSE(sheet_version_regex("J750").search(row0));
  auto dff = sheet_version_regex("J750").search("DFF 1.1\tPattern Sets\n");
  ASSERT_TRUE(dff);
  EXPECT_EQ(dff->str(1), "1.1");
  EXPECT_TRUE(is_ultraflex("UltraFLEX"));
  EXPECT_FALSE(is_ultraflex("ultraflex"));
}

} // namespace
