#include "tarnwick/files/rewrite.hpp"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "tarnwick/files/claim.hpp"
#include "tarnwick/files/regular_file.hpp"
#include "tarnwick/files/temporary.hpp"
#include "tarnwick/text/error.hpp"

namespace tarnwick::files {

namespace {

namespace fs = std::filesystem;

// Writes `bytes` to `temp` with the permission bits `mode`, syncs and closes it, and hands it
// to `before_naming`.
void fill(TemporaryFile& temp, std::string_view bytes, mode_t mode, SystemErrorText error_text,
          const BeforeNaming& before_naming)
{
  const std::string temp_path = temp.path().string();
  if (::fchmod(temp.fd(), mode & 07777) != 0) {
    throw Error(error_text(errno, temp_path));
  }
  if (!write_all(temp.fd(), bytes)) {
    throw Error(error_text(errno, temp_path));
  }
  temp.sync_and_close();
  if (before_naming) {
    before_naming(temp.path());
  }
}

} // namespace

std::string write_backup(const std::string& path, const std::string& stamp, std::string_view bytes,
                         mode_t mode, SystemErrorText error_text, const BeforeNaming& before_naming)
{
  // The temporary name comes from the source's, so that nothing but a complete backup ever
  // carries ".backup_" in its name.
  TemporaryFile temp(path, "backup of");
  fill(temp, bytes, mode & 0777, error_text, before_naming);
  const std::string base = path + ".backup_" + stamp;
  const fs::path name = claim_output_file(
      temp.path(),
      [&base](unsigned number) {
        return fs::path(number == 0 ? base : base + "_" + std::to_string(number));
      },
      0, "backup", ClaimMethod::complete_only);
  temp.release();
  return name.string();
}

void replace_file(const std::string& path, std::string_view bytes, const struct stat& original,
                  SystemErrorText error_text, const BeforeNaming& before_naming)
{
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) {
    throw Error(error_text(errno, path));
  }
  const std::string target(resolved);
  std::free(resolved);

  // Renaming over a file needs no permission on the file itself; a file that this user may not
  // write (read-only under version control, say) is refused as writing it in place would be.
  Fd writable(::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
  if (!writable || writable.close() != 0) {
    throw Error(error_text(errno, path));
  }

  TemporaryFile temp(target, "new text of");
  // Ownership is kept where the process may set it; a file of another user that this user may
  // write becomes this user's, as any editor's save would make it.
  if (::fchown(temp.fd(), original.st_uid, original.st_gid) != 0) {
    // Not permitted: the file keeps its content and mode under this user's ownership.
  }
  fill(temp, bytes, original.st_mode, error_text, before_naming);
  if (::rename(temp.path().c_str(), target.c_str()) != 0) {
    throw Error(error_text(errno, target));
  }
  temp.release();
  // The new content is in place; syncing the folder only hastens the rename to the disk.
  sync_folder(target);
}

} // namespace tarnwick::files
