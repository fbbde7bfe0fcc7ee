#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tarnwick/pellick/pellick.hpp"
#include "tarnwick/text/error.hpp"

namespace fs = std::filesystem;
using tarnwick::pellick::Pellick;

TEST(Pellick, ReadsThroughTheSpecReader)
{
  std::string pattern = (fs::temp_directory_path() / "pellick-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path dir = pattern;
  std::ofstream(dir / "AC Specs A.txt", std::ios::binary)
      << "DTSpecSheet,version=3.0:x\tspecs\r\n\r\n\t\t\tSelector\t\r\n\t\t\tVal\t\r\n"
         "\tvdd\t\tmin\t\r\n";

  Pellick reader;
  reader.read_ac_spec((dir / "AC%20Specs%20A.txt").string(), "UltraFLEX");
  EXPECT_EQ(reader.get_spec_version(), "3.0");
  EXPECT_EQ(reader.get_ac_info(), reader.get_info());
  EXPECT_EQ(reader.get_ac_info()->at("VDD").at("SELECTOR VAL"), "MIN");
  EXPECT_THROW(reader.read_ac_spec((dir / "missing.txt").string(), "UltraFLEX"),
               tarnwick::FileNotFoundError);
  fs::remove_all(dir);
}
