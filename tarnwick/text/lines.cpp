#include "tarnwick/text/lines.hpp"

#include <algorithm>
#include <utility>

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

std::string decode_text(std::string_view bytes)
{
  std::string_view view(bytes);
  if (view.substr(0, k_bom.size()) == k_bom) {
    view.remove_prefix(k_bom.size());
  }
  if (is_valid_utf8(view)) {
    return normalise_line_ends(view);
  }
  return normalise_line_ends(from_windows_1252(view));
}

std::string sheet_export_text(std::string_view bytes, const std::filesystem::path& path)
{
  // A "Unicode text" export: read as bytes, it gives cells of NUL characters.
  for (const auto& [mark, encoding] : {std::pair<std::string_view, std::string_view>{"\xFF\xFE", "UTF-16LE"},
                                       {"\xFE\xFF", "UTF-16BE"}}) {
    if (bytes.starts_with(mark)) {
      throw Error("UTF-16 sheet export: " + quoted_path(path) + " is " + std::string(encoding)
                  + " text; export the sheet as tab-separated text in UTF-8 or the ANSI code"
                    " page");
    }
  }
  std::string text = decode_text(bytes);
  if (text.empty()) {
    throw Error("Empty sheet export: " + quoted_path(path));
  }
  if (is_blank(text)) {
    throw Error("Empty sheet export: " + quoted_path(path) + " holds only blank lines");
  }
  return text;
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

} // namespace tarnwick::text
