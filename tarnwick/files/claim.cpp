#include "tarnwick/files/claim.hpp"

#include <cerrno>
#include <cstdio> // renameat2
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tarnwick/files/regular_file.hpp"
#include "tarnwick/files/temporary.hpp"
#include "tarnwick/text/error.hpp"

namespace tarnwick::files {

namespace {

namespace fs = std::filesystem;

// Numbers tried by one claim before it gives up: far more than writers in one second.
constexpr unsigned k_max_claims = 100000;

bool exists_at(const fs::path& path)
{
  struct stat info{};
  return ::lstat(path.c_str(), &info) == 0;
}

bool refused_by_file_system(int error)
{
  return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP
         || error == EPERM;
}

enum class Attempt
{
  claimed,
  taken,   // something stands at the name
  refused, // the file system does not do this method
  failed,  // errno holds the reason
};

Attempt by_rename(const fs::path& temp, const fs::path& name)
{
  if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE) == 0) {
    return Attempt::claimed;
  }
  if (errno == EEXIST) {
    return Attempt::taken;
  }
  // EPERM is a real refusal for rename (a sticky folder), not a missing feature.
  return errno != EPERM && refused_by_file_system(errno) ? Attempt::refused : Attempt::failed;
}

Attempt by_link(const fs::path& temp, const fs::path& name)
{
  if (::link(temp.c_str(), name.c_str()) == 0) {
    // A temporary name that stays behind is a second name of the complete file, no loss.
    ::unlink(temp.c_str());
    return Attempt::claimed;
  }
  if (errno == EEXIST) {
    return Attempt::taken;
  }
  return refused_by_file_system(errno) ? Attempt::refused : Attempt::failed;
}

// The name holds an empty file of this writer's own for a moment: a writer killed right then
// leaves that empty file behind, so this is the last resort.
Attempt by_placeholder(const fs::path& temp, const fs::path& name)
{
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    return errno == EEXIST ? Attempt::taken : Attempt::failed;
  }
  ::close(fd);
  if (::rename(temp.c_str(), name.c_str()) != 0) {
    const int error = errno;
    ::unlink(name.c_str());
    errno = error;
    return Attempt::failed;
  }
  return Attempt::claimed;
}

} // namespace

void sync_folder(const fs::path& file)
{
  const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

fs::path numbered_path(const fs::path& base, unsigned number)
{
  if (number <= 1) {
    return base;
  }
  fs::path numbered = base;
  numbered.replace_filename(base.stem().string() + "_" + std::to_string(number)
                            + base.extension().string());
  return numbered;
}

unsigned first_free_number(const fs::path& base)
{
  unsigned number = 1;
  while (number < k_max_claims && exists_at(numbered_path(base, number))) {
    ++number;
  }
  return number;
}

std::string to_string(ClaimMethod method)
{
  switch (method) {
  case ClaimMethod::automatic:
    return "automatic";
  case ClaimMethod::rename_noreplace:
    return "rename_noreplace";
  case ClaimMethod::hard_link:
    return "hard_link";
  case ClaimMethod::placeholder:
    return "placeholder";
  case ClaimMethod::complete_only:
    return "complete_only";
  }
  return "";
}

fs::path claim_output_file(const fs::path& temp, const fs::path& base, unsigned first,
                           const std::string& what, ClaimMethod method)
{
  return claim_output_file(
      temp, [&base](unsigned number) { return numbered_path(base, number); }, first == 0 ? 1 : first,
      what, method);
}

fs::path claim_output_file(const fs::path& temp, const NameSequence& names, unsigned first,
                           const std::string& what, ClaimMethod method)
{
  // The method tried first, and the one that follows it where the file system refuses it.
  const auto fallback = [method](ClaimMethod current) -> std::optional<ClaimMethod> {
    if (method == ClaimMethod::automatic && current != ClaimMethod::placeholder) {
      return current == ClaimMethod::rename_noreplace ? ClaimMethod::hard_link
                                                      : ClaimMethod::placeholder;
    }
    if (method == ClaimMethod::complete_only && current == ClaimMethod::rename_noreplace) {
      return ClaimMethod::hard_link;
    }
    return std::nullopt;
  };
  ClaimMethod current =
      method == ClaimMethod::automatic || method == ClaimMethod::complete_only
          ? ClaimMethod::rename_noreplace
          : method;
  unsigned number = first;
  for (unsigned tries = 0; tries < k_max_claims; ++tries) {
    const fs::path name = names(number);
    Attempt attempt = Attempt::failed;
    switch (current) {
    case ClaimMethod::automatic:
    case ClaimMethod::complete_only:
    case ClaimMethod::rename_noreplace:
      attempt = by_rename(temp, name);
      break;
    case ClaimMethod::hard_link:
      attempt = by_link(temp, name);
      break;
    case ClaimMethod::placeholder:
      attempt = by_placeholder(temp, name);
      break;
    }
    const int error = errno;
    switch (attempt) {
    case Attempt::claimed:
      sync_folder(name);
      return name;
    case Attempt::taken:
      ++number;
      break;
    case Attempt::refused:
      if (const std::optional<ClaimMethod> next = fallback(current)) {
        current = *next;
        break;
      }
      [[fallthrough]];
    case Attempt::failed:
      throw Error(cannot_write_text(what, name) + errno_text(error));
    }
  }
  throw Error(cannot_write_text(what, names(first)) + "no free name up to "
              + names(number).filename().string());
}

} // namespace tarnwick::files
