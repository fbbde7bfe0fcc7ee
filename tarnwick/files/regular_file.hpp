#pragma once

// Opening and reading files: only regular files, never waiting on a FIFO or a device, and never
// more than a size cap.

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <sys/stat.h>
#include <unistd.h>

#include "tarnwick/files/export.hpp"

namespace tarnwick::files {

// An owned file descriptor, closed when it goes.
class Fd
{
public:
  explicit Fd(int fd = -1) : m_fd(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& other) noexcept : m_fd(other.release()) {}
  Fd& operator=(Fd&& other) noexcept
  {
    if (this != &other) {
      reset();
      m_fd = other.release();
    }
    return *this;
  }
  ~Fd() { reset(); }

  int get() const { return m_fd; }
  explicit operator bool() const { return m_fd >= 0; }
  // Gives the descriptor up without closing it.
  int release()
  {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
  }
  // Closes the descriptor; returns what close returned (errno is kept).
  int close() { return ::close(release()); }
  void reset()
  {
    if (m_fd >= 0) {
      ::close(release());
    }
  }

private:
  int m_fd;
};

// The system's text for the errno value `error` ("No such file or directory").
TARNWICK_FILES_EXPORT std::string errno_text(int error);

// Writes all of `bytes` to `fd`, again after an interrupted or short write. Returns false, with
// errno set, when a write fails.
TARNWICK_FILES_EXPORT bool write_all(int fd, std::string_view bytes);

enum class OpenFor
{
  reading,
  writing, // created when missing, emptied when present
};

// Why open_regular_file gave no descriptor: the errno value of the call that failed (0 when
// something other than a regular file stands at the path) and the reason for messages: the
// system's text ("No such file or directory", "Permission denied") or what stands there ("Is a
// FIFO", "Is a character device", "Is a directory", "Is a socket", "Is a block device").
struct FileProblem
{
  int error = 0;
  std::string reason;

  // Nothing is at the path (the empty path included).
  bool missing() const { return error == ENOENT || error == ENOTDIR; }
};

// Opens the regular file at `path` for `mode`, following symbolic links, without waiting: a
// FIFO or a device is refused before any read. Reads and writes on the descriptor block as
// usual. Returns the descriptor, or an invalid one after filling `problem`.
TARNWICK_FILES_EXPORT Fd open_regular_file(const std::filesystem::path& path, OpenFor mode,
                                           FileProblem& problem);

// The same for reading. Throws FileNotFoundError "No such file or directory: '<path>'" when
// nothing is there, tarnwick::Error "<reason>: '<path>'" otherwise ("Is a FIFO: '<path>'").
TARNWICK_FILES_EXPORT Fd open_regular_file(const std::filesystem::path& path);

// A regular file as read whole: its bytes and its status when it was opened.
struct FileContent
{
  std::string bytes;
  struct stat status{};
};

enum class ReadFailure
{
  cannot_open, // as open_regular_file refuses it
  cannot_read, // its status or a read failed
  too_large,   // past the cap
};

// Why read_regular_file gave no content. Callers word it in their own messages.
struct ReadProblem
{
  ReadFailure failure = ReadFailure::cannot_open;
  // cannot_open: as open_regular_file fills it; cannot_read: the errno value and its text.
  FileProblem file;
  // too_large: the size the file states; none when it grew past the cap while it was read.
  std::optional<std::uint64_t> size;
};

// Reads the regular file at `path` whole, as open_regular_file opens it, refusing a file past
// `max_size` bytes by its size before a byte is read (and one that grows past it while read).
// Returns the content, or nothing after filling `problem`.
TARNWICK_FILES_EXPORT std::optional<FileContent>
read_regular_file(const std::filesystem::path& path, std::uint64_t max_size, ReadProblem& problem);

// The same, giving the bytes. Throws the errors of open_regular_file(path), and tarnwick::Error
// "File too large: '<path>' holds <n> bytes, more than <max_size>" for a file past `max_size`
// bytes (also one that grows past it while read: "... holds more than <max_size> bytes") or
// "Cannot read file: '<path>': <reason>" for a failed read.
TARNWICK_FILES_EXPORT std::string read_regular_file(const std::filesystem::path& path,
                                                    std::uint64_t max_size);

} // namespace tarnwick::files
