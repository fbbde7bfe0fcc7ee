#include "tarnwick/text/lines.hpp"

#include <algorithm>
#include <fstream>
#include <system_error>

#include "tarnwick/text/error.hpp"
#include "tarnwick/text/unicode.hpp"

namespace tarnwick::text {

namespace {

constexpr std::string_view k_bom = "\xEF\xBB\xBF";

std::string quoted_path(const std::filesystem::path& path)
{
  return "'" + path.string() + "'";
}

// CR LF and lone CR become LF.
std::string normalise_line_ends(std::string_view text)
{
  std::string out;
  out.reserve(text.size());
  std::size_t begin = 0;
  for (;;) {
    const std::size_t cr = text.find('\r', begin);
    if (cr == std::string_view::npos) {
      out.append(text.substr(begin));
      return out;
    }
    out.append(text.substr(begin, cr - begin));
    out.push_back('\n');
    begin = cr + 1;
    if (begin < text.size() && text[begin] == '\n') {
      ++begin;
    }
  }
}

} // namespace

std::string read_text_file(const std::filesystem::path& path)
{
  if (path.empty()) {
    throw FileNotFoundError("No such file or directory: " + quoted_path(path));
  }
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (status.type() == std::filesystem::file_type::not_found) {
    throw FileNotFoundError("No such file or directory: " + quoted_path(path));
  }
  if (ec) {
    throw Error("Cannot open file: " + quoted_path(path) + ": " + ec.message());
  }
  if (std::filesystem::is_directory(status)) {
    throw Error("Is a directory: " + quoted_path(path));
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw Error("Cannot open file: " + quoted_path(path));
  }
  std::string bytes;
  char buffer[1 << 16];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) {
    throw Error("Cannot read file: " + quoted_path(path));
  }
  std::string_view view(bytes);
  if (view.substr(0, k_bom.size()) == k_bom) {
    view.remove_prefix(k_bom.size());
  }
  if (is_valid_utf8(view)) {
    return normalise_line_ends(view);
  }
  return normalise_line_ends(from_windows_1252(view));
}

std::vector<std::string> split_lines(std::string_view text)
{
  std::vector<std::string> lines;
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t lf = text.find('\n', begin);
    const std::size_t end = lf == std::string_view::npos ? text.size() : lf + 1;
    lines.emplace_back(text.substr(begin, end - begin));
    begin = end;
  }
  return lines;
}

Row split_cells(std::string_view line)
{
  Row cells;
  cells.reserve(static_cast<std::size_t>(std::count(line.begin(), line.end(), '\t')) + 1);
  std::size_t begin = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', begin);
    if (tab == std::string_view::npos) {
      cells.emplace_back(line.substr(begin));
      return cells;
    }
    cells.emplace_back(line.substr(begin, tab - begin));
    begin = tab + 1;
  }
}

std::vector<std::string> read_lines(const std::filesystem::path& path)
{
  return split_lines(read_text_file(path));
}

std::vector<Row> parse_rows(std::string_view text)
{
  std::vector<Row> rows;
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t lf = text.find('\n', begin);
    const std::size_t end = lf == std::string_view::npos ? text.size() : lf + 1;
    rows.push_back(split_cells(text.substr(begin, end - begin)));
    begin = end;
  }
  return rows;
}

std::vector<Row> read_rows(const std::filesystem::path& path)
{
  return parse_rows(read_text_file(path));
}

} // namespace tarnwick::text
