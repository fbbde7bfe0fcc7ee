#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "tarnwick/files/ending_signals.hpp"
#include "tarnwick/files/export.hpp"

// Temporary files and folders that never outlive their purpose: a temporary file beside the
// final name of an output (see claim.hpp), a run's scratch folder. Both are removed when their
// object goes and, until then, by a signal caught by catch_ending_signals.

namespace tarnwick::files {

// "cannot write <what> '<path>': ", how the messages of an output that cannot be written begin.
TARNWICK_FILES_EXPORT std::string cannot_write_text(const std::string& what,
                                                    const std::filesystem::path& path);

// A new empty file beside `final_path` (same folder, hidden name derived from it), created
// exclusively with the usual permissions; closed and removed by the destructor unless
// `release` was called (until then a signal caught by catch_ending_signals removes it too).
// Throws tarnwick::Error "cannot write <what> '<final_path>': " + the system's reason
// (strerror) when the folder is missing, not a folder or not writable.
class TARNWICK_FILES_EXPORT TemporaryFile
{
public:
  TemporaryFile(const std::filesystem::path& final_path, const std::string& what);
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const std::filesystem::path& path() const { return m_path; }
  int fd() const { return m_fd; }

  // Flushes the content to the disk and closes the file. Throws tarnwick::Error with the
  // system's reason (a full disk shows here at the latest).
  void sync_and_close();

  // Leaves the file to the caller (it was moved into place): the destructor does nothing.
  void release()
  {
    m_cleanup.reset();
  }

private:
  std::filesystem::path m_path;
  std::string m_failed; // "cannot write <what> '<final_path>': "
  int m_fd = -1;
  std::optional<CleanupOnSignal> m_cleanup;
};

// A fresh folder "<prefix>-XXXXXX" below $TMPDIR (or /tmp) for a run's scratch files, removed
// with all it holds when the object goes, or by a signal caught by catch_ending_signals first,
// unless `keep` was called. Throws tarnwick::Error "cannot create a temporary folder from
// <pattern>: " + the system's reason.
class TARNWICK_FILES_EXPORT TemporaryFolder
{
public:
  explicit TemporaryFolder(const std::string& prefix);
  ~TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::filesystem::path& path() const { return m_path; }

  // Leaves the folder in place at the end, and to a signal.
  void keep();

private:
  std::filesystem::path m_path;
  std::optional<CleanupOnSignal> m_cleanup;
};

} // namespace tarnwick::files
