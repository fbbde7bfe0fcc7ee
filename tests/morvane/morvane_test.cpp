#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tarnwick/morvane/morvane.hpp"
#include "tarnwick/text/error.hpp"

namespace fs = std::filesystem;
using tarnwick::morvane::Morvane;

TEST(Morvane, ReadsThroughTheSpecReader)
{
  std::string pattern = (fs::temp_directory_path() / "morvane-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path dir = pattern;
  std::ofstream(dir / "DC Specs A.txt", std::ios::binary)
      << "DTSpecSheet,version=3.0:x\tspecs\r\n\r\n\t\t\tSelector\t\r\n\t\t\tVal\t\r\n"
         "\tvdd\t\tmin\t\r\n";

  Morvane reader;
  reader.read_dc_spec((dir / "DC%20Specs%20A.txt").string(), "UltraFLEX");
  EXPECT_EQ(reader.get_spec_version(), "3.0");
  EXPECT_EQ(reader.get_dc_info(), reader.get_info());
  EXPECT_EQ(reader.get_dc_info()->at("VDD").at("SELECTOR VAL"), "MIN");
  EXPECT_THROW(reader.read_dc_spec((dir / "missing.txt").string(), "UltraFLEX"),
               tarnwick::FileNotFoundError);
  fs::remove_all(dir);
}
