#include "tarnwick/text/lines.hpp"

#include <fstream>
#include <iterator>
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
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out.push_back('\n');
      if (i + 1 < text.size() && text[i + 1] == '\n') {
        ++i;
      }
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
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
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
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
