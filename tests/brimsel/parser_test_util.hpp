#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
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

// A fresh folder under the system's temp folder, removed with everything in it.
class TempDir
{
public:
  TempDir()
  {
    std::string pattern = (std::filesystem::temp_directory_path() / "brimsel-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("mkdtemp failed");
    }
    m_path = pattern;
  }
  ~TempDir()
  {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return m_path; }

private:
  std::filesystem::path m_path;
};

inline std::string read_file(const std::filesystem::path& path)
{
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Writes `bytes` to `path`, creating parent folders.
inline void write_file(const std::filesystem::path& path, const std::string& bytes)
{
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// A fresh folder per test.
class TempDirTest : public ::testing::Test
{
protected:
  // Writes `bytes` to `relative` under the folder; returns the path.
  std::string write(const std::string& relative, const std::string& bytes) const
  {
    const std::filesystem::path path = std::filesystem::path(m_dir) / relative;
    write_file(path, bytes);
    return path.string();
  }

  // Parses `folder` (the test's own when empty); returns the console output.
  std::string parse(VBAParser& parser, const std::string& folder = {}) const
  {
    return captured([&] { parser.parse_files(folder.empty() ? m_dir : folder); });
  }

  TempDir m_temp;
  std::string m_dir = m_temp.path().string();
};

} // namespace tarnwick::brimsel::testing
