#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

namespace tarnwick::test {

// A fresh folder for one test, removed afterwards.
class TempDirTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    std::string pattern =
      (std::filesystem::temp_directory_path() / "tarnwick-common-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
  }

  void TearDown() override
  {
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
  }

  const std::filesystem::path& dir() const { return m_dir; }

  static std::string read_file(const std::filesystem::path& path)
  {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  static void write_file(const std::filesystem::path& path, const std::string& content)
  {
    std::ofstream out(path, std::ios::binary);
    out << content;
  }

private:
  std::filesystem::path m_dir;
};

} // namespace tarnwick::test
