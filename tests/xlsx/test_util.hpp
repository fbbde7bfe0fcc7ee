#pragma once

#include <gtest/gtest.h>
#include <zip.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick::xlsx::test {

// A fresh directory per test, removed afterwards.
class TempDirTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-xlsx-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
  }
  void TearDown() override
  {
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
  }
  std::filesystem::path m_dir;
};

inline std::string read_file(const std::filesystem::path& path)
{
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void write_file(const std::filesystem::path& path, const std::string& content)
{
  std::ofstream(path, std::ios::binary) << content;
}

// Writes a zip archive holding `entries` (name, content), compressed.
inline void write_zip(const std::filesystem::path& path,
                      const std::vector<std::pair<std::string, std::string>>& entries)
{
  int code = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  if (archive == nullptr) {
    throw std::runtime_error("zip_open failed");
  }
  for (const auto& [name, content] : entries) {
    zip_source_t* source = zip_source_buffer(archive, content.data(), content.size(), 0);
    if (source == nullptr || zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
      zip_source_free(source);
      zip_discard(archive);
      throw std::runtime_error("zip_file_add failed");
    }
  }
  if (zip_close(archive) != 0) {
    zip_discard(archive);
    throw std::runtime_error("zip_close failed");
  }
}

struct PythonResult
{
  int status = -1;
  std::string output;
};

// True when /usr/bin/python3 with openpyxl is there (the independent reader of the tests).
inline bool have_openpyxl()
{
  static const bool available =
    std::system("/usr/bin/python3 -c 'import openpyxl' >/dev/null 2>&1") == 0;
  return available;
}

// Runs `script` with /usr/bin/python3, the workbook path as its one argument; the output holds
// standard output and error.
inline PythonResult run_python(const std::filesystem::path& dir, const std::string& script,
                               const std::filesystem::path& workbook)
{
  const auto script_path = dir / "check.py";
  const auto output_path = dir / "check.out";
  write_file(script_path, script);
  const std::string command = "/usr/bin/python3 '" + script_path.string() + "' '"
                              + workbook.string() + "' >'" + output_path.string() + "' 2>&1";
  PythonResult result;
  result.status = std::system(command.c_str());
  result.output = read_file(output_path);
  return result;
}

} // namespace tarnwick::xlsx::test
