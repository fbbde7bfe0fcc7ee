#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "tarnwick/brimsel/parser.hpp"
#include "tarnwick/brimsel/refactorer.hpp"

// captured(...) and the temp-folder fixture of the parser tests.
#include "../brimsel/parser_test_util.hpp"

namespace tarnwick::brimsel::testing {

namespace fs = std::filesystem;

// One clock reading for every stamp, so that two runs fall into the same second.
inline RefactorClock fixed_clock()
{
  return [] { return std::chrono::system_clock::from_time_t(1'800'000'000); };
}

// While it lives, no file that this process writes grows past `bytes`, as on a full disk: such a
// write fails with EFBIG ("File too large") instead of raising SIGXFSZ.
class FileSizeLimit
{
public:
  explicit FileSizeLimit(rlim_t bytes)
  {
    if (::getrlimit(RLIMIT_FSIZE, &m_old) != 0) {
      throw std::runtime_error("getrlimit failed");
    }
    m_old_handler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = m_old;
    limit.rlim_cur = bytes;
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
      ::signal(SIGXFSZ, m_old_handler);
      throw std::runtime_error("setrlimit failed");
    }
  }
  ~FileSizeLimit()
  {
    ::setrlimit(RLIMIT_FSIZE, &m_old);
    ::signal(SIGXFSZ, m_old_handler);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
  rlimit m_old{};
  sighandler_t m_old_handler = SIG_DFL;
};

// The parser tests' temp-folder fixture with what the refactorer tests need besides.
class RefactorTest : public TempDirTest
{
protected:
  std::string path(const std::string& relative) const { return m_dir + "/" + relative; }

  static std::string read(const std::string& file) { return read_file(file); }

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
};

} // namespace tarnwick::brimsel::testing
