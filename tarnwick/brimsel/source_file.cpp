#include "tarnwick/brimsel/source_file.hpp"

#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>

#include "tarnwick/text/error.hpp"
#include "tarnwick/text/printed.hpp"

namespace tarnwick::brimsel {

std::string os_error_text(int error_number, const std::string& path)
{
  return "[Errno " + std::to_string(error_number) + "] " + std::strerror(error_number) + ": "
         + text::quoted(path);
}

namespace {

// The path of `name` inside `directory`, joined the way the platform joins paths: no
// separator is added after a folder text that ends with one.
std::string join_path(const std::string& directory, const std::string& name)
{
  if (directory.empty() || directory.back() == '/') {
    return directory + name;
  }
  return directory + "/" + name;
}

} // namespace

void find_source_files(const std::string& directory,
                       const std::function<bool(const std::string& name)>& wanted,
                       std::vector<std::string>& found)
{
  namespace fs = std::filesystem;
  std::error_code error;
  fs::directory_iterator it(fs::path(directory), error);
  if (error) {
    return;
  }
  std::vector<std::string> subfolders;
  for (const fs::directory_iterator end; it != end; it.increment(error)) {
    if (error) {
      break;
    }
    const std::string name = it->path().filename().string();
    std::error_code entry_error;
    if (it->is_directory(entry_error)) {
      if (!it->is_symlink(entry_error)) {
        subfolders.push_back(name);
      }
    } else if (wanted(name)) {
      found.push_back(join_path(directory, name));
    }
  }
  for (const std::string& subfolder : subfolders) {
    find_source_files(join_path(directory, subfolder), wanted, found);
  }
}

SourceFile read_source_file(const std::string& path)
{
  files::ReadProblem problem;
  std::optional<SourceFile> file = files::read_regular_file(path, k_max_module_size, problem);
  if (file) {
    return std::move(*file);
  }
  switch (problem.failure) {
  case files::ReadFailure::cannot_open:
    if (problem.file.error == 0) {
      throw Error("Not a regular file: " + text::quoted(path));
    }
    [[fallthrough]];
  case files::ReadFailure::cannot_read:
    throw Error(os_error_text(problem.file.error, path));
  case files::ReadFailure::too_large:
    break;
  }
  const std::string holds =
      problem.size ? std::to_string(*problem.size) + " bytes, more than "
                         + std::to_string(k_max_module_size)
                   : "more than " + std::to_string(k_max_module_size) + " bytes";
  throw Error("File too large: " + text::quoted(path) + " holds " + holds);
}

const char* utf16_byte_order_mark(std::string_view bytes)
{
  if (bytes.starts_with("\xFF\xFE")) {
    return "FF FE";
  }
  if (bytes.starts_with("\xFE\xFF")) {
    return "FE FF";
  }
  return nullptr;
}

SourceLines split_source_lines(std::string_view text, std::vector<std::string>* ends)
{
  SourceLines lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.emplace_back(text.substr(start));
      if (ends != nullptr) {
        ends->emplace_back();
      }
      break;
    }
    const std::size_t end_length =
        text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1;
    std::string& line = lines.emplace_back();
    line.reserve(end - start + 1);
    line.append(text, start, end - start);
    line += '\n';
    if (ends != nullptr) {
      ends->emplace_back(text.substr(end, end_length));
    }
    start = end + end_length;
  }
  return lines;
}

} // namespace tarnwick::brimsel
