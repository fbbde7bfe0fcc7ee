#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <unistd.h>

// A fresh temporary folder per test, and PATH with the build's bin/ (where patinfo is) first.
class ToolDir : public testing::Test
{
protected:
  void SetUp() override
  {
    m_dir = std::filesystem::temp_directory_path() /
            ("dravel_" + std::to_string(getpid()) + "_" +
             testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(m_dir);
    std::filesystem::create_directories(m_dir);
    if (const char* path = std::getenv("PATH")) {
      m_old_path = path;
    }
    set_path(std::string(TARNWICK_BUILD_DIR "/bin:") + m_old_path.value_or(""));
  }

  void TearDown() override
  {
    if (m_old_path) {
      setenv("PATH", m_old_path->c_str(), 1);
    } else {
      unsetenv("PATH");
    }
    std::filesystem::remove_all(m_dir);
  }

  static void set_path(const std::string& path) { setenv("PATH", path.c_str(), 1); }

  std::filesystem::path write(const std::filesystem::path& relative, const std::string& bytes)
  {
    const auto path = m_dir / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  static std::string slurp(const std::filesystem::path& path)
  {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::filesystem::path m_dir;
  std::optional<std::string> m_old_path;
};
