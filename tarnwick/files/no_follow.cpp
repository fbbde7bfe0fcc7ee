#include "tarnwick/files/no_follow.hpp"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tarnwick/text/error.hpp"

namespace tarnwick::files {

Fd open_target_directory(const std::string& path)
{
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path), ec);
  if (ec) {
    throw Error("Cannot create folder " + path + ": " + ec.message());
  }
  Fd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) {
    throw Error("Cannot open folder " + path + ": " + errno_text(errno));
  }
  return fd;
}

Fd open_subdirectory(const Fd& parent, const std::string& name, const std::string& shown_path)
{
  if (::mkdirat(parent.get(), name.c_str(), 0777) != 0 && errno != EEXIST) {
    throw Error("Cannot create folder " + shown_path + ": " + errno_text(errno));
  }
  Fd fd(::openat(parent.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) {
    const int error = errno;
    struct stat st;
    if (::fstatat(parent.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0
        && S_ISLNK(st.st_mode)) {
      throw Error("Refusing to write through the symbolic link " + shown_path);
    }
    throw Error("Cannot open folder " + shown_path + ": " + errno_text(error));
  }
  return fd;
}

Fd create_file(const Fd& parent, const std::string& name, const std::string& shown_path)
{
  struct stat st;
  if (::fstatat(parent.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(st.st_mode)) {
      throw Error("Refusing to write through the symbolic link " + shown_path);
    }
    if (S_ISDIR(st.st_mode)) {
      throw Error("Cannot write file " + shown_path + ": a folder of that name exists");
    }
    if (::unlinkat(parent.get(), name.c_str(), 0) != 0 && errno != ENOENT) {
      throw Error("Cannot replace file " + shown_path + ": " + errno_text(errno));
    }
  }
  Fd fd(::openat(parent.get(), name.c_str(),
                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (fd.get() < 0) {
    throw Error("Cannot write file " + shown_path + ": " + errno_text(errno));
  }
  return fd;
}

void write_all(const Fd& fd, std::string_view data, const std::string& shown_path)
{
  if (!write_all(fd.get(), data)) {
    throw Error("Cannot write file " + shown_path + ": " + errno_text(errno));
  }
}

void close_file(Fd& fd, const std::string& shown_path)
{
  if (fd.close() != 0) {
    throw Error("Cannot write file " + shown_path + ": " + errno_text(errno));
  }
}

} // namespace tarnwick::files
