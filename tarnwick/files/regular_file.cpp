#include "tarnwick/files/regular_file.hpp"

#include <string_view>
#include <system_error>

#include <fcntl.h>

#include "tarnwick/text/error.hpp"

namespace tarnwick::files {

namespace {

std::string quoted_path(const std::filesystem::path& path)
{
  return "'" + path.string() + "'";
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

// Throws the error of open_regular_file(path) for `problem`.
[[noreturn]] void throw_open_problem(const FileProblem& problem, const std::filesystem::path& path)
{
  if (problem.missing()) {
    throw FileNotFoundError("No such file or directory: " + quoted_path(path));
  }
  throw Error(problem.reason + ": " + quoted_path(path));
}

std::nullopt_t refuse(ReadProblem& problem, ReadFailure failure, int error = 0,
                      std::optional<std::uint64_t> size = std::nullopt)
{
  problem.failure = failure;
  if (failure == ReadFailure::cannot_read) {
    problem.file = {error, errno_text(error)};
  }
  problem.size = size;
  return std::nullopt;
}

} // namespace

std::string errno_text(int error)
{
  return std::generic_category().message(error);
}

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
    throw_open_problem(problem, path);
  }
  return fd;
}

std::optional<FileContent> read_regular_file(const std::filesystem::path& path,
                                             std::uint64_t max_size, ReadProblem& problem)
{
  const Fd fd = open_regular_file(path, OpenFor::reading, problem.file);
  if (!fd) {
    return refuse(problem, ReadFailure::cannot_open);
  }
  FileContent content;
  if (::fstat(fd.get(), &content.status) != 0) {
    return refuse(problem, ReadFailure::cannot_read, errno);
  }
  const auto size = static_cast<std::uint64_t>(content.status.st_size);
  if (size > max_size) {
    return refuse(problem, ReadFailure::too_large, 0, size);
  }
  // The size is a hint: a file that grows while it is read is cut off at the cap all the same.
  content.bytes.reserve(static_cast<std::size_t>(size));
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return refuse(problem, ReadFailure::cannot_read, errno);
    }
    if (got == 0) {
      return content;
    }
    if (content.bytes.size() + static_cast<std::uint64_t>(got) > max_size) {
      return refuse(problem, ReadFailure::too_large);
    }
    content.bytes.append(buffer, static_cast<std::size_t>(got));
  }
}

std::string read_regular_file(const std::filesystem::path& path, std::uint64_t max_size)
{
  ReadProblem problem;
  if (std::optional<FileContent> content = read_regular_file(path, max_size, problem)) {
    return std::move(content->bytes);
  }
  switch (problem.failure) {
  case ReadFailure::cannot_open:
    throw_open_problem(problem.file, path);
  case ReadFailure::cannot_read:
    throw Error("Cannot read file: " + quoted_path(path) + ": " + problem.file.reason);
  case ReadFailure::too_large:
    break;
  }
  const std::string holds =
      problem.size ? std::to_string(*problem.size) + " bytes, more than " + std::to_string(max_size)
                   : "more than " + std::to_string(max_size) + " bytes";
  throw Error("File too large: " + quoted_path(path) + " holds " + holds);
}

} // namespace tarnwick::files
