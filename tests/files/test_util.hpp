#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <string_view>

#include "tarnwick/text/error.hpp"

namespace tarnwick::files::test {

// A fresh folder per test, removed afterwards.
class TempDirTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tarnwick-files-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
  }
  void TearDown() override
  {
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
  }

  // Writes `bytes` to the file `name` of the test's folder, creating the folders it names;
  // returns its path.
  std::filesystem::path write(const std::string& name, std::string_view bytes) const
  {
    const std::filesystem::path path = m_dir / name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  std::filesystem::path m_dir;
};

inline std::string read_file(const std::filesystem::path& path)
{
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_file(const std::filesystem::path& path, const std::string& content)
{
  std::ofstream(path, std::ios::binary) << content;
}

// The names in `folder`, sorted.
inline std::set<std::string> entries(const std::filesystem::path& folder)
{
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// The text of the tarnwick::Error that `call` throws ("" when none).
inline std::string error_of(const std::function<void()>& call)
{
  try {
    call();
  } catch (const tarnwick::Error& e) {
    return e.what();
  }
  return "";
}

} // namespace tarnwick::files::test
