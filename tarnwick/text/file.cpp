#include "tarnwick/text/file.hpp"

#include <optional>
#include <string_view>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>

#include "tarnwick/text/error.hpp"

namespace tarnwick::text {

namespace {

std::string quoted_path(const std::filesystem::path& path)
{
  return "'" + path.string() + "'";
}

std::string errno_text(int error)
{
  return std::generic_category().message(error);
}

// What stands at a path instead of a regular file; nothing for a regular file.
std::optional<std::string_view> not_regular(mode_t mode)
{
  if (S_ISREG(mode)) {
    return std::nullopt;
  }
  if (S_ISFIFO(mode)) {
    return "Is a FIFO";
  }
  if (S_ISCHR(mode)) {
    return "Is a character device";
  }
  if (S_ISDIR(mode)) {
    return "Is a directory";
  }
  if (S_ISSOCK(mode)) {
    return "Is a socket";
  }
  if (S_ISBLK(mode)) {
    return "Is a block device";
  }
  return "Is not a regular file";
}

Fd refuse(FileProblem& problem, int error, std::string reason)
{
  problem = {error, std::move(reason)};
  return Fd();
}

} // namespace

bool write_all(int fd, std::string_view bytes)
{
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

Fd open_regular_file(const std::filesystem::path& path, OpenFor mode, FileProblem& problem)
{
  if (path.empty()) {
    return refuse(problem, ENOENT, errno_text(ENOENT));
  }
  // A device is not even opened (opening some has effects of its own); the check on the open
  // descriptor below covers a file replaced in between.
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    if (const auto kind = not_regular(st.st_mode)) {
      return refuse(problem, 0, std::string(*kind));
    }
  } else if (errno != ENOENT || mode == OpenFor::reading) {
    return refuse(problem, errno, errno_text(errno));
  }
  // O_NONBLOCK: opening a FIFO does not wait for its other end.
  const int access = mode == OpenFor::reading ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC;
  Fd fd(::open(path.c_str(), access | O_NONBLOCK | O_CLOEXEC, 0666));
  if (!fd) {
    return refuse(problem, errno, errno_text(errno));
  }
  if (::fstat(fd.get(), &st) != 0) {
    return refuse(problem, errno, errno_text(errno));
  }
  if (const auto kind = not_regular(st.st_mode)) {
    return refuse(problem, 0, std::string(*kind));
  }
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return refuse(problem, errno, errno_text(errno));
  }
  return fd;
}

Fd open_regular_file(const std::filesystem::path& path)
{
  FileProblem problem;
  Fd fd = open_regular_file(path, OpenFor::reading, problem);
  if (!fd) {
    if (problem.missing()) {
      throw FileNotFoundError("No such file or directory: " + quoted_path(path));
    }
    throw Error(problem.reason + ": " + quoted_path(path));
  }
  return fd;
}

std::string read_regular_file(const std::filesystem::path& path, std::uint64_t max_size)
{
  const Fd fd = open_regular_file(path);
  const auto too_large = [&](const std::string& holds) {
    return Error("File too large: " + quoted_path(path) + " holds " + holds);
  };
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) {
    throw Error("Cannot read file: " + quoted_path(path) + ": " + errno_text(errno));
  }
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (size > max_size) {
    throw too_large(std::to_string(size) + " bytes, more than " + std::to_string(max_size));
  }
  // The size is a hint: a file that grows while it is read is cut off at the cap all the same.
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(size));
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      throw Error("Cannot read file: " + quoted_path(path) + ": " + errno_text(errno));
    }
    if (got == 0) {
      return bytes;
    }
    if (bytes.size() + static_cast<std::uint64_t>(got) > max_size) {
      throw too_large("more than " + std::to_string(max_size) + " bytes");
    }
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
}

} // namespace tarnwick::text
