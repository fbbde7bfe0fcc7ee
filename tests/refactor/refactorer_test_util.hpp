#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tarnwick/brimsel/parser.hpp"
#include "tarnwick/brimsel/refactorer.hpp"

// captured(...): the console-capture helper of the parser tests.
#include "../brimsel/parser_test_util.hpp"

namespace tarnwick::brimsel::testing {

namespace fs = std::filesystem;


// One clock reading for every stamp, so that two runs fall into the same second.
inline RefactorClock fixed_clock()
{
  return [] { return std::chrono::system_clock::from_time_t(1'800'000'000); };
}

// A fresh folder per test, removed afterwards.
class RefactorTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    std::string pattern = (fs::temp_directory_path() / "refactor-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
  }
  void TearDown() override
  {
    std::error_code ignored;
    fs::remove_all(m_dir, ignored);
  }

  std::string path(const std::string& relative) const { return m_dir + "/" + relative; }

  // Writes `bytes` to `relative` under the folder, creating parent folders; returns the path.
  std::string write(const std::string& relative, const std::string& bytes) const
  {
    const fs::path file = path(relative);
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
    return file.string();
  }

  static std::string read(const std::string& file)
  {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  // Names of the entries of `folder`, sorted.
  static std::vector<std::string> entries(const std::string& folder)
  {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  static void parse(VBAParser& parser, const std::string& folder)
  {
    captured([&] { parser.parse_files(folder); });
  }

  std::string m_dir;
};

} // namespace tarnwick::brimsel::testing
