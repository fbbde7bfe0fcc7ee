#include "tarnwick/files/temporary.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "tarnwick/files/regular_file.hpp"
#include "tarnwick/text/error.hpp"

namespace tarnwick::files {

namespace {

namespace fs = std::filesystem;

// 16 hexadecimal digits, different in every thread and process.
std::string random_tag()
{
  thread_local std::mt19937_64 engine{(static_cast<std::uint64_t>(std::random_device{}()) << 32)
                                      ^ std::random_device{}()
                                      ^ static_cast<std::uint64_t>(::getpid())};
  char tag[17];
  std::snprintf(tag, sizeof tag, "%016llx", static_cast<unsigned long long>(engine()));
  return tag;
}

} // namespace

std::string cannot_write_text(const std::string& what, const fs::path& path)
{
  return "cannot write " + what + " '" + path.string() + "': ";
}

TemporaryFile::TemporaryFile(const fs::path& final_path, const std::string& what)
  : m_failed(cannot_write_text(what, final_path))
{
  const std::string prefix = "." + final_path.filename().string() + ".";
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = final_path;
    candidate.replace_filename(prefix + random_tag() + ".tmp");
    // No signal ends the process between making the file and arming its removal.
    HoldEndingSignals held;
    m_fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (m_fd >= 0) {
      m_path = std::move(candidate);
      m_cleanup.emplace(m_path, CleanupKind::file);
      return;
    }
    if (errno != EEXIST) {
      throw Error(m_failed + errno_text(errno));
    }
  }
  throw Error(m_failed + errno_text(EEXIST));
}

TemporaryFile::~TemporaryFile()
{
  if (m_fd >= 0) {
    ::close(m_fd);
  }
  if (m_cleanup) { // not released
    ::unlink(m_path.c_str());
  }
}

void TemporaryFile::sync_and_close()
{
  const int fd = m_fd;
  m_fd = -1;
  if (::fsync(fd) != 0) {
    const int error = errno;
    ::close(fd);
    throw Error(m_failed + errno_text(error));
  }
  if (::close(fd) != 0 && errno != EINTR) {
    throw Error(m_failed + errno_text(errno));
  }
}

TemporaryFolder::TemporaryFolder(const std::string& prefix)
{
  const char* base = std::getenv("TMPDIR");
  const std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + prefix + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  // No signal ends the process between making the folder and arming its removal.
  HoldEndingSignals held;
  if (::mkdtemp(buffer.data()) == nullptr) {
    throw Error("cannot create a temporary folder from " + pattern + ": " + errno_text(errno));
  }
  m_path = buffer.data();
  m_cleanup.emplace(m_path, CleanupKind::tree);
}

TemporaryFolder::~TemporaryFolder()
{
  if (m_cleanup) { // not kept
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
  }
}

void TemporaryFolder::keep()
{
  m_cleanup.reset();
}

} // namespace tarnwick::files
