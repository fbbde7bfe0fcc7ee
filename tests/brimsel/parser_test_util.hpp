#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "tarnwick/brimsel/parser.hpp"

namespace tarnwick::brimsel::testing {

// Runs `body` and returns what it wrote to std::cout.
template <class Body> std::string captured(Body body)
{
  std::ostringstream out;
  std::streambuf* old = std::cout.rdbuf(out.rdbuf());
  try {
    body();
  } catch (...) {
    std::cout.rdbuf(old);
    throw;
  }
  std::cout.rdbuf(old);
  return out.str();
}

// A fresh folder per test, removed afterwards.
class TempDirTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    std::string pattern = (std::filesystem::temp_directory_path() / "brimsel-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
  }
  void TearDown() override
  {
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
  }

  // Writes `bytes` to `relative` under the folder, creating parent folders.
  std::string write(const std::string& relative, const std::string& bytes)
  {
    const std::filesystem::path path = std::filesystem::path(m_dir) / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  // Parses the folder; returns the console output.
  std::string parse(VBAParser& parser) const
  {
    return captured([&] { parser.parse_files(m_dir); });
  }

  std::string m_dir;
};

} // namespace tarnwick::brimsel::testing
