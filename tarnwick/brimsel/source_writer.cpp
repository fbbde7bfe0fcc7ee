#include "tarnwick/brimsel/source_writer.hpp"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

#include "tarnwick/brimsel/source_file.hpp"
#include "tarnwick/text/error.hpp"
#include "tarnwick/text/file.hpp"
#include "tarnwick/xlsx/output_file.hpp"

namespace tarnwick::brimsel {

namespace {

namespace fs = std::filesystem;

[[noreturn]] void throw_os_error(const std::string& path)
{
  throw Error(os_error_text(errno, path));
}

// Writes `bytes` to `temp` with the permission bits `mode`, syncs and closes it, and hands it
// to `before_naming`.
void fill(xlsx::TemporaryFile& temp, std::string_view bytes, mode_t mode,
          const BeforeNaming& before_naming)
{
  const std::string temp_path = temp.path().string();
  if (::fchmod(temp.fd(), mode & 07777) != 0) {
    throw_os_error(temp_path);
  }
  if (!text::write_all(temp.fd(), bytes)) {
    throw_os_error(temp_path);
  }
  temp.sync_and_close();
  if (before_naming) {
    before_naming(temp.path());
  }
}

} // namespace

std::string write_backup(const std::string& path, const std::string& stamp, std::string_view bytes,
                         mode_t mode, const BeforeNaming& before_naming)
{
  // The temporary name comes from the source's, so that nothing but a complete backup ever
  // carries ".backup_" in its name.
  xlsx::TemporaryFile temp(path, "backup of");
  fill(temp, bytes, mode & 0777, before_naming);
  const std::string base = path + ".backup_" + stamp;
  const fs::path name = xlsx::claim_output_file(
      temp.path(),
      [&base](unsigned number) {
        return fs::path(number == 0 ? base : base + "_" + std::to_string(number));
      },
      0, "backup", xlsx::ClaimMethod::complete_only);
  temp.release();
  return name.string();
}

void replace_file(const std::string& path, std::string_view bytes, const struct stat& original,
                  const BeforeNaming& before_naming)
{
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) {
    throw_os_error(path);
  }
  const std::string target(resolved);
  std::free(resolved);

  // Renaming over a file needs no permission on the file itself; a source that this user may
  // not write (read-only under version control, say) is refused as writing it in place would be.
  text::Fd writable(::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
  if (!writable || writable.close() != 0) {
    throw_os_error(path);
  }

  xlsx::TemporaryFile temp(target, "new text of");
  // Ownership is kept where the process may set it; a file of another user that this user may
  // write becomes this user's, as any editor's save would make it.
  if (::fchown(temp.fd(), original.st_uid, original.st_gid) != 0) {
    // Not permitted: the file keeps its content and mode under this user's ownership.
  }
  fill(temp, bytes, original.st_mode, before_naming);
  if (::rename(temp.path().c_str(), target.c_str()) != 0) {
    throw_os_error(target);
  }
  temp.release();
  // The new content is in place; syncing the folder only hastens the rename to the disk.
  xlsx::sync_folder(target);
}

std::string join_with_ends(const SourceLines& lines, const std::vector<std::string>& ends)
{
  std::string joined;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (line.ends_with('\n')) {
      line.remove_suffix(1);
      joined += line;
      joined += i < ends.size() && !ends[i].empty() ? ends[i] : "\n";
    } else {
      joined += line;
    }
  }
  return joined;
}

} // namespace tarnwick::brimsel
