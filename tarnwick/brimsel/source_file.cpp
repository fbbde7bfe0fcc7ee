#include "tarnwick/brimsel/source_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tarnwick/text/error.hpp"
#include "tarnwick/text/printed.hpp"

namespace tarnwick::brimsel {

std::string os_error_text(int error_number, const std::string& path)
{
  return "[Errno " + std::to_string(error_number) + "] " + std::strerror(error_number) + ": "
         + text::quoted(path);
}

SourceFile read_source_file(const std::string& path)
{
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    throw Error(os_error_text(errno, path));
  }
  struct Closer
  {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  SourceFile file;
  if (::fstat(fd, &file.status) != 0) {
    throw Error(os_error_text(errno, path));
  }
  if (!S_ISREG(file.status.st_mode)) {
    throw Error("Not a regular file: " + text::quoted(path));
  }
  const auto too_large = [&path](const std::string& holds) {
    return Error("File too large: " + text::quoted(path) + " holds " + holds);
  };
  const auto size = static_cast<std::uint64_t>(file.status.st_size);
  if (size > k_max_module_size) {
    throw too_large(std::to_string(size) + " bytes, more than "
                    + std::to_string(k_max_module_size));
  }
  file.bytes.reserve(static_cast<std::size_t>(size));
  char buffer[65536];
  for (;;) {
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count < 0) {
      if (errno == EINTR) {
        continue;
      }
      throw Error(os_error_text(errno, path));
    }
    if (count == 0) {
      break;
    }
    // A file that grows while it is read is cut off at the cap all the same.
    if (file.bytes.size() + static_cast<std::uint64_t>(count) > k_max_module_size) {
      throw too_large("more than " + std::to_string(k_max_module_size) + " bytes");
    }
    file.bytes.append(buffer, static_cast<std::size_t>(count));
  }
  return file;
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
