#pragma once

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

namespace tarnwick::test {

// A file system of `bytes` mounted on the new folder `path` while the object lives, to run a
// program out of space where it keeps its scratch files. Mounting needs root (as CI runs);
// elsewhere `mounted` is false and `why_not` says why, for the test to skip.
class SmallTmpfs
{
public:
  SmallTmpfs(const std::filesystem::path& path, std::size_t bytes) : m_path(path)
  {
    std::filesystem::create_directories(path);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
    if (::mount("tmpfs", path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0) {
      m_mounted = true;
    } else {
      m_why_not = "cannot mount a tmpfs on " + path.string() + ": " + std::strerror(errno);
    }
  }
  ~SmallTmpfs()
  {
    if (m_mounted) {
      ::umount2(m_path.c_str(), MNT_DETACH);
    }
  }
  SmallTmpfs(const SmallTmpfs&) = delete;
  SmallTmpfs& operator=(const SmallTmpfs&) = delete;

  bool mounted() const { return m_mounted; }
  const std::string& why_not() const { return m_why_not; }
  const std::filesystem::path& path() const { return m_path; }

private:
  std::filesystem::path m_path;
  bool m_mounted = false;
  std::string m_why_not;
};

} // namespace tarnwick::test
