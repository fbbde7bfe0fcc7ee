#include "tarnwick/xlsx/part_check.hpp"

#include <zip.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <pugixml.hpp>

namespace tarnwick::xlsx {

namespace {

// Parts the workbook library writes as XML through its scratch files.
bool xml_part(std::string_view name)
{
  return name.ends_with(".xml") || name.ends_with(".rels") || name.ends_with(".vml");
}

struct ArchiveCloser
{
  void operator()(zip_t* archive) const { zip_discard(archive); }
};

struct PartCloser
{
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};

} // namespace

PartCheck check_parts(std::span<const char> archive)
{
  PartCheck check;
  const auto found = [&check](std::string problem) {
    check.problem = std::move(problem);
    return check;
  };
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(archive.data(), archive.size(), 0, &error);
  if (source == nullptr) {
    std::string reason = zip_error_strerror(&error);
    zip_error_fini(&error);
    return found(std::move(reason));
  }
  std::unique_ptr<zip_t, ArchiveCloser> zip(zip_open_from_source(source, ZIP_RDONLY, &error));
  if (!zip) {
    zip_source_free(source);
    std::string reason = "not a zip archive: " + std::string(zip_error_strerror(&error));
    zip_error_fini(&error);
    return found(std::move(reason));
  }
  zip_error_fini(&error);

  const zip_int64_t count = zip_get_num_entries(zip.get(), 0);
  std::string data;
  std::vector<char> buffer(std::size_t{1} << 16);
  for (zip_int64_t index = 0; index < count; ++index) {
    const auto at = static_cast<zip_uint64_t>(index);
    const char* name = zip_get_name(zip.get(), at, 0);
    if (name == nullptr) {
      return found("part " + std::to_string(index) + ": " + zip_strerror(zip.get()));
    }
    if (!xml_part(name)) {
      continue;
    }
    const std::string failed = "part '" + std::string(name) + "'";
    std::unique_ptr<zip_file_t, PartCloser> file(zip_fopen_index(zip.get(), at, 0));
    if (!file) {
      return found(failed + ": " + zip_strerror(zip.get()));
    }
    // The checksum is compared when the last byte has been read.
    data.clear();
    for (;;) {
      const zip_int64_t got = zip_fread(file.get(), buffer.data(), buffer.size());
      if (got < 0) {
        return found(failed + ": " + zip_error_strerror(zip_file_get_error(file.get())));
      }
      if (got == 0) {
        break;
      }
      data.append(buffer.data(), static_cast<std::size_t>(got));
    }
    check.xml_bytes += data.size();
    pugi::xml_document doc;
    const pugi::xml_parse_result result =
      doc.load_buffer_inplace(data.data(), data.size(), pugi::parse_minimal);
    if (!result) {
      return found(failed + " is not well-formed XML (" + result.description() + " at offset "
                   + std::to_string(result.offset) + ")");
    }
  }
  return check;
}

std::optional<std::string> scratch_space_problem(const std::filesystem::path& folder,
                                                 std::uint64_t bytes)
{
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    // A folder that takes no file at all says why itself.
    if (errno == ENOSPC || errno == EDQUOT || errno == EROFS || errno == EIO) {
      return std::string(std::strerror(errno));
    }
    return std::nullopt;
  }
  std::optional<std::string> problem;
  const int result =
    ::fallocate(fd, 0, 0, static_cast<off_t>(bytes)) == 0 ? 0 : errno;
  if (result == ENOSPC || result == EDQUOT || result == EFBIG || result == EIO) {
    problem = std::strerror(result);
  } else if (result != 0) {
    // No reservation on this file system: compare with the free space it reports.
    struct statvfs info{};
    if (::fstatvfs(fd, &info) == 0
        && static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize < bytes) {
      problem = std::strerror(ENOSPC);
    }
  }
  ::close(fd);
  return problem;
}

} // namespace tarnwick::xlsx
