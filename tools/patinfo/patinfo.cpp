// patinfo: lists the time sets that a pattern source file uses.
//
//   patinfo <pattern file> -tset
//
// The file is pattern source text, gzip-compressed when its name ends in ".gz". A vector line
// is a line that, with everything from "//" on removed, holds ">" and ends with ";"; the word
// right after the first ">" is the line's time set. Each time set is printed once, in order of
// first use, as a tab, the name, one blank, the digit 0 and a line feed. A file that cannot be
// read gives a message on standard error, exit status 1 and no output.

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct ReadError
{
  std::string message;
};

bool ends_with_gz(std::string_view name)
{
  if (name.size() < 3) {
    return false;
  }
  const auto tail = name.substr(name.size() - 3);
  return tail[0] == '.' && (tail[1] == 'g' || tail[1] == 'G') && (tail[2] == 'z' || tail[2] == 'Z');
}

std::string read_gzip(const std::string& path)
{
  gzFile file = gzopen(path.c_str(), "rb");
  if (file == nullptr) {
    throw ReadError{path + ": " + std::strerror(errno ? errno : ENOMEM)};
  }
  std::string contents;
  char buffer[1 << 16];
  for (;;) {
    const int got = gzread(file, buffer, sizeof buffer);
    if (got < 0) {
      int code = 0;
      std::string message = gzerror(file, &code);
      if (code == Z_ERRNO) {
        message = std::strerror(errno);
      }
      gzclose(file);
      throw ReadError{path + ": " + message};
    }
    if (got == 0) {
      break;
    }
    contents.append(buffer, static_cast<std::size_t>(got));
  }
  if (const int code = gzclose(file); code != Z_OK) {
    throw ReadError{path + ": cannot read the compressed data (zlib error " + std::to_string(code) + ")"};
  }
  return contents;
}

std::string read_plain(const std::string& path)
{
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw ReadError{path + ": " + std::strerror(errno)};
  }
  std::ostringstream contents;
  contents << in.rdbuf();
  if (in.bad()) {
    throw ReadError{path + ": read failed"};
  }
  return contents.str();
}

std::string read_pattern(const std::string& path)
{
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    throw ReadError{path + ": is a directory"};
  }
  return ends_with_gz(path) ? read_gzip(path) : read_plain(path);
}

bool is_blank(char c)
{
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// The time set of one source line, or "" when it is no vector line.
std::string_view time_set_of(std::string_view line)
{
  if (const auto comment = line.find("//"); comment != std::string_view::npos) {
    line = line.substr(0, comment);
  }
  while (!line.empty() && is_blank(line.back())) {
    line.remove_suffix(1);
  }
  const auto arrow = line.find('>');
  if (line.empty() || line.back() != ';' || arrow == std::string_view::npos) {
    return {};
  }
  std::size_t begin = arrow + 1;
  while (begin < line.size() && is_blank(line[begin])) {
    ++begin;
  }
  std::size_t end = begin;
  while (end < line.size() && !is_blank(line[end]) && line[end] != ';') {
    ++end;
  }
  return line.substr(begin, end - begin);
}

} // namespace

int main(int argc, char** argv)
{
  if (argc != 3 || std::string_view(argv[2]) != "-tset") {
    std::cerr << "usage: patinfo <pattern file> -tset\n";
    return 2;
  }
  std::string source;
  try {
    source = read_pattern(argv[1]);
  } catch (const ReadError& error) {
    std::cerr << "patinfo: " << error.message << '\n';
    return 1;
  }

  std::vector<std::string> names;
  std::set<std::string, std::less<>> seen;
  std::string_view rest = source;
  while (!rest.empty()) {
    const auto end = rest.find('\n');
    const auto line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    const auto name = time_set_of(line);
    if (!name.empty() && seen.insert(std::string(name)).second) {
      names.emplace_back(name);
    }
  }
  for (const auto& name : names) {
    std::cout << '\t' << name << " 0\n";
  }
  std::cout.flush();
  return std::cout ? 0 : 1;
}
