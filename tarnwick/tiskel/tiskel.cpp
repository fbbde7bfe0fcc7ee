#include "tarnwick/tiskel/tiskel.hpp"

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "tarnwick/text/error.hpp"
#include "tarnwick/text/lines.hpp"
#include "tarnwick/text/regex.hpp"
#include "tarnwick/text/unicode.hpp"

namespace tarnwick::tiskel {

namespace {

// "<source>, row <n>" for error messages.
std::string where(std::string_view source, std::size_t row)
{
  std::string out;
  if (!source.empty()) {
    out.append(source);
    out += ", ";
  }
  return out + "row " + std::to_string(row);
}

// The version mark of row 0: UltraFLEX exports (also UltraFLEXplus) write "version=x.y:",
// the older ones "DFF x.y".
const text::Regex& version_regex(std::string_view platform)
{
  static const text::Regex ultraflex(R"(version=(\S+?):)", {.unicode = true});
  static const text::Regex dff(R"(DFF (\d+(\.\d+)?))", {.unicode = true});
  return platform.find("UltraFLEX") != std::string_view::npos ? ultraflex : dff;
}

// The flow walk may hand over a sheet path with its blanks written as "%20"; such a path is
// turned back only when nothing exists under it as written.
std::string existing_or_unescaped(const std::string& path)
{
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) {
    return path;
  }
  std::string out;
  std::size_t from = 0;
  for (std::size_t at = path.find("%20"); at != std::string::npos;
       from = at + 3, at = path.find("%20", from)) {
    out.append(path, from, at - from);
    out += ' ';
  }
  out.append(path, from);
  return out;
}

// Version 2.0 exports put the first symbol in row 3, right under the header
// "Symbol, Job, Value, Comment"; older ones leave row 3 to a header of their own.
bool is_data_row_3(const text::Row& cells)
{
  if (cells.size() < 4) {
    return false;
  }
  const std::string symbol = text::lower(text::strip(cells[1]));
  return !symbol.empty() && symbol != "symbol";
}

} // namespace

void ParseGlobalSpec::read_spec(const std::string& spec_path, const std::string& platform)
{
  const std::string path = existing_or_unescaped(spec_path);
  parse(text::read_text_file(path), platform, path);
}

void ParseGlobalSpec::parse(std::string_view text, std::string_view platform,
                            std::string_view source)
{
  m_spec_dict = std::make_shared<GlobSpecDict>();
  GlobSpecDict& table = *m_spec_dict;
  const std::vector<std::string> lines = text::split_lines(text);
  for (std::size_t row = 0; row < lines.size(); ++row) {
    if (row == 0) {
      const text::Regex& regex = version_regex(platform);
      if (!regex.search(lines[row])) {
        throw Error(where(source, row) + ": no version mark \"" + regex.pattern()
                    + "\" for the platform \"" + std::string(platform) + "\"");
      }
    } else if (row == 3) {
      const text::Row cells = text::split_cells(lines[row]);
      if (is_data_row_3(cells)) {
        table[text::upper(cells[1])] = text::upper(cells[3]);
      }
    } else if (row >= 4) {
      const text::Row cells = text::split_cells(lines[row]);
      if (cells.size() < 4) {
        throw Error(where(source, row) + ": the row has " + std::to_string(cells.size())
                    + " cells, a global spec needs 4");
      }
      table[text::upper(cells[1])] = text::upper(cells[3]);
    }
  }
}

std::shared_ptr<const GlobSpecDict> ParseGlobalSpec::get_info() const
{
  if (!m_spec_dict) {
    throw Error("ParseGlobalSpec: no global-spec table before the first read");
  }
  return m_spec_dict;
}

} // namespace tarnwick::tiskel
