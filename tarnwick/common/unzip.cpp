#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include "tarnwick/common/common.hpp"
#include "tarnwick/files/no_follow.hpp"
#include "tarnwick/files/regular_file.hpp"
#include "tarnwick/text/error.hpp"

namespace tarnwick::common {

namespace {

namespace fs = std::filesystem;
using files::close_file;
using files::create_file;
using files::Fd;
using files::open_subdirectory;
using files::open_target_directory;
using files::write_all;

// Limits that keep a damaged or hostile archive from filling the disk.
constexpr std::uint64_t k_max_total_size = std::uint64_t{1} << 30; // all entries together
constexpr std::uint64_t k_max_entry_count = 100'000;
constexpr std::size_t k_chunk_size = 64 * 1024;

struct ZipCloser
{
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
using ZipPtr = std::unique_ptr<zip_t, ZipCloser>;

struct ZipFileCloser
{
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using ZipFilePtr = std::unique_ptr<zip_file_t, ZipFileCloser>;

// One entry to unpack: its index, its name as stored, the relative path parts and its size.
struct Entry
{
  zip_uint64_t index = 0;
  std::string name;
  std::vector<std::string> parts;
  bool is_directory = false;
  std::uint64_t size = 0;
};

[[noreturn]] void refuse(const std::string& archive_path, const std::string& name,
                         const std::string& reason)
{
  throw Error(archive_path + ": entry \"" + name + "\" refused: " + reason);
}

bool is_ascii_letter(char c)
{
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Checks one entry and turns its name into relative path parts.
Entry inspect_entry(zip_t* archive, zip_uint64_t index, const std::string& archive_path)
{
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat_index(archive, index, 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME)) {
    throw Error(archive_path + ": cannot read entry " + std::to_string(index) + ": "
                + zip_strerror(archive));
  }
  Entry entry;
  entry.index = index;
  entry.name = st.name;

  std::string name = entry.name;
  for (char& c : name) {
    if (c == '\\') {
      c = '/';
    }
  }
  if (name.empty()) {
    refuse(archive_path, entry.name, "empty name");
  }
  if (name.front() == '/') {
    refuse(archive_path, entry.name, "absolute path");
  }
  if (name.size() >= 2 && is_ascii_letter(name[0]) && name[1] == ':') {
    refuse(archive_path, entry.name, "drive prefix");
  }
  entry.is_directory = name.back() == '/';
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('/', start);
    if (end == std::string::npos) {
      end = name.size();
    }
    const std::string part = name.substr(start, end - start);
    if (part == "..") {
      refuse(archive_path, entry.name, "\"..\" in the path");
    }
    if (!part.empty() && part != ".") {
      entry.parts.push_back(part);
    }
    start = end + 1;
  }
  if (entry.parts.empty() && !entry.is_directory) {
    refuse(archive_path, entry.name, "no file name");
  }

  zip_uint8_t opsys = 0;
  zip_uint32_t attributes = 0;
  if (zip_file_get_external_attributes(archive, index, 0, &opsys, &attributes) != 0) {
    throw Error(archive_path + ": cannot read entry \"" + entry.name + "\": "
                + zip_strerror(archive));
  }
  if (opsys == ZIP_OPSYS_UNIX && ((attributes >> 16) & S_IFMT) == S_IFLNK) {
    refuse(archive_path, entry.name, "symbolic link");
  }
  if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE) {
    refuse(archive_path, entry.name, "encrypted");
  }
  if (!(st.valid & ZIP_STAT_SIZE)) {
    refuse(archive_path, entry.name, "unknown size");
  }
  entry.size = st.size;
  if (entry.is_directory && entry.size != 0) {
    refuse(archive_path, entry.name, "directory with data");
  }
  if (entry.size > k_max_total_size) {
    refuse(archive_path, entry.name,
           "larger than " + std::to_string(k_max_total_size) + " bytes");
  }
  return entry;
}

// Copies the data of `entry` into the open file `out`; returns the number of bytes written.
std::uint64_t copy_entry(zip_t* archive, const Entry& entry, const Fd& out,
                         const std::string& archive_path, const std::string& shown_path,
                         std::uint64_t budget)
{
  ZipFilePtr file(zip_fopen_index(archive, entry.index, 0));
  if (!file) {
    throw Error(archive_path + ": cannot read entry \"" + entry.name + "\": "
                + zip_strerror(archive));
  }
  std::vector<char> buffer(k_chunk_size);
  std::uint64_t total = 0;
  for (;;) {
    const zip_int64_t got = zip_fread(file.get(), buffer.data(), buffer.size());
    if (got < 0) {
      throw Error(archive_path + ": cannot read entry \"" + entry.name + "\": "
                  + zip_file_strerror(file.get()));
    }
    if (got == 0) {
      break;
    }
    total += static_cast<std::uint64_t>(got);
    if (total > entry.size) {
      refuse(archive_path, entry.name, "holds more data than its stated size");
    }
    if (total > budget) {
      refuse(archive_path, entry.name,
             "archive unpacks to more than " + std::to_string(k_max_total_size) + " bytes");
    }
    write_all(out, std::string_view(buffer.data(), static_cast<std::size_t>(got)), shown_path);
  }
  if (total != entry.size) {
    refuse(archive_path, entry.name, "holds less data than its stated size");
  }
  return total;
}

} // namespace

void unzip(const std::string& archive_path, const std::string& target_directory)
{
  files::FileProblem problem;
  Fd file = files::open_regular_file(archive_path, files::OpenFor::reading, problem);
  if (!file) {
    if (problem.missing()) {
      throw FileNotFoundError("No such file or directory: '" + archive_path + "'");
    }
    throw Error("Cannot open archive " + archive_path + ": " + problem.reason);
  }

  int error_code = 0;
  ZipPtr archive(zip_fdopen(file.get(), ZIP_RDONLY, &error_code));
  if (archive) {
    file.release(); // closed by the archive's own opening
  } else {
    zip_error_t error;
    zip_error_init_with_code(&error, error_code);
    const std::string message = zip_error_strerror(&error);
    zip_error_fini(&error);
    throw Error("Cannot open archive " + archive_path + ": " + message);
  }

  const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
  if (count < 0) {
    throw Error("Cannot read archive " + archive_path + ": " + zip_strerror(archive.get()));
  }
  if (static_cast<std::uint64_t>(count) > k_max_entry_count) {
    throw Error("Refusing archive " + archive_path + ": more than "
                + std::to_string(k_max_entry_count) + " entries");
  }

  // Every entry is checked before anything is written.
  std::vector<Entry> entries;
  entries.reserve(static_cast<std::size_t>(count));
  std::uint64_t declared_total = 0;
  for (zip_int64_t i = 0; i < count; ++i) {
    entries.push_back(inspect_entry(archive.get(), static_cast<zip_uint64_t>(i), archive_path));
    declared_total += entries.back().size;
    if (declared_total > k_max_total_size) {
      refuse(archive_path, entries.back().name,
             "archive unpacks to more than " + std::to_string(k_max_total_size) + " bytes");
    }
  }

  const fs::path target(target_directory);
  const Fd root = open_target_directory(target_directory);

  std::uint64_t written_total = 0;
  for (const Entry& entry : entries) {
    const std::size_t folder_parts = entry.is_directory ? entry.parts.size()
                                                        : entry.parts.size() - 1;
    fs::path shown = target;
    Fd current;
    const Fd* parent = &root;
    for (std::size_t i = 0; i < folder_parts; ++i) {
      shown /= entry.parts[i];
      current = open_subdirectory(*parent, entry.parts[i], shown.string());
      parent = &current;
    }
    if (entry.is_directory) {
      continue;
    }
    const std::string& file_name = entry.parts.back();
    shown /= file_name;
    Fd out = create_file(*parent, file_name, shown.string());
    try {
      written_total += copy_entry(archive.get(), entry, out, archive_path, shown.string(),
                                  k_max_total_size - written_total);
    } catch (...) {
      out.reset();
      ::unlinkat(parent->get(), file_name.c_str(), 0);
      throw;
    }
    close_file(out, shown.string());
  }
}

} // namespace tarnwick::common
