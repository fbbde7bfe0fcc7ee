#include "tarnwick/text/sheet.hpp"

#include <filesystem>
#include <system_error>

#include "tarnwick/text/error.hpp"
#include "tarnwick/text/unicode.hpp"

namespace tarnwick::text {

bool is_ultraflex(std::string_view platform)
{
  return platform.find("UltraFLEX") != std::string_view::npos;
}

std::string replace_all(std::string_view text, std::string_view from, std::string_view to)
{
  if (from.empty()) {
    return std::string(text);
  }
  std::string out;
  std::size_t begin = 0;
  for (std::size_t at = text.find(from); at != std::string_view::npos;
       begin = at + from.size(), at = text.find(from, begin)) {
    out.append(text, begin, at - begin);
    out.append(to);
  }
  out.append(text.substr(begin));
  return out;
}

std::string row_location(std::string_view source, std::size_t row)
{
  std::string out;
  if (!source.empty()) {
    out.append(source);
    out += ", ";
  }
  return out + "row " + std::to_string(row);
}

std::string short_row_message(std::size_t need, std::size_t have)
{
  return "row has " + std::to_string(have) + " cells, needs at least " + std::to_string(need);
}

void need_cells(const std::vector<std::string>& row, std::size_t need)
{
  if (row.size() < need) {
    throw Error(short_row_message(need, row.size()));
  }
}

std::optional<std::size_t> header_column(const std::vector<std::string>& cells,
                                         std::string_view name, std::size_t from)
{
  for (std::size_t i = from; i < cells.size(); ++i) {
    if (strip(cells[i]) == name) {
      return i;
    }
  }
  return std::nullopt;
}

const std::string& cell_at(const std::vector<std::string>& cells, std::size_t index,
                           std::string_view source, std::size_t row)
{
  if (index >= cells.size()) {
    throw Error(row_location(source, row) + ": no cell " + std::to_string(index) + " (the row has "
                + std::to_string(cells.size()) + " cells)");
  }
  return cells[index];
}

std::string sheet_version(std::string_view row0, std::string_view platform, std::string_view source)
{
  const Regex& regex = sheet_version_regex(platform);
  const auto match = regex.search(row0);
  if (!match) {
    throw Error(row_location(source, 0) + ": no version mark \"" + regex.pattern()
                + "\" for the platform \"" + std::string(platform) + "\"");
  }
  return match->str(1);
}

std::string existing_or_unescaped(const std::string& path)
{
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) {
    return path;
  }
  return replace_all(path, "%20", " ");
}

const Regex& sheet_version_regex(std::string_view platform)
{
  static const Regex ultraflex(R"(version=(\S+?):)", {.unicode = true});
  static const Regex dff(R"(DFF (\d+(\.\d+)?))", {.unicode = true});
  return is_ultraflex(platform) ? ultraflex : dff;
}

} // namespace tarnwick::text
