#include "tarnwick/tiskel/tiskel.hpp"

#include <string>
#include <vector>

#include "tarnwick/files/text_file.hpp"
#include "tarnwick/text/error.hpp"
#include "tarnwick/text/lines.hpp"
#include "tarnwick/text/regex.hpp"
#include "tarnwick/text/sheet.hpp"
#include "tarnwick/text/unicode.hpp"

namespace tarnwick::tiskel {

namespace {

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
  const std::string path = text::existing_or_unescaped(spec_path);
  parse(files::read_sheet_export(path), platform, path);
}

void ParseGlobalSpec::parse(std::string_view text, std::string_view platform,
                            std::string_view source)
{
  m_spec_dict = std::make_shared<GlobSpecDict>();
  GlobSpecDict& table = *m_spec_dict;
  const std::vector<std::string> lines = text::split_lines(text);
  for (std::size_t row = 0; row < lines.size(); ++row) {
    if (row == 0) {
      text::sheet_version(lines[row], platform, source);
    } else if (row == 3) {
      const text::Row cells = text::split_cells(lines[row]);
      if (is_data_row_3(cells)) {
        table[text::upper(cells[1])] = text::upper(cells[3]);
      }
    } else if (row >= 4) {
      const text::Row cells = text::split_cells(lines[row]);
      if (cells.size() < 4) {
        throw Error(text::row_location(source, row) + ": the row has "
                    + std::to_string(cells.size()) + " cells, a global spec needs 4");
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
