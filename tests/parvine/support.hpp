#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace tarnwick::parvine::test {

// A fresh folder under the system's temp folder, removed with everything in it.
class TempDir
{
public:
  TempDir()
  {
    std::string pattern = (std::filesystem::temp_directory_path() / "parvine-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("mkdtemp failed");
    }
    m_path = pattern;
  }
  ~TempDir() { std::filesystem::remove_all(m_path); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return m_path; }

private:
  std::filesystem::path m_path;
};

// Collects what is written to std::cout while it lives.
class CoutCapture
{
public:
  CoutCapture() : m_saved(std::cout.rdbuf(m_buffer.rdbuf())) {}
  ~CoutCapture() { std::cout.rdbuf(m_saved); }
  CoutCapture(const CoutCapture&) = delete;
  CoutCapture& operator=(const CoutCapture&) = delete;

  std::string text() const { return m_buffer.str(); }

private:
  std::ostringstream m_buffer;
  std::streambuf* m_saved;
};

inline std::string read_file(const std::filesystem::path& path)
{
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void write_file(const std::filesystem::path& path, const std::string& content)
{
  std::ofstream(path, std::ios::binary) << content;
}

} // namespace tarnwick::parvine::test
