#include "tarnwick/sarnet/sarnet.hpp"

#include <algorithm>
#include <string>

#include "tarnwick/files/text_file.hpp"
#include "tarnwick/text/error.hpp"
#include "tarnwick/text/regex.hpp"
#include "tarnwick/text/sheet.hpp"
#include "tarnwick/text/unicode.hpp"

namespace tarnwick::sarnet {

namespace {

// Columns 0 to 2 (the leading column, the symbol and its value) are not kept in a row.
constexpr std::size_t k_first_spec_column = 3;

// The column key of a sheet with one row per selector of a symbol.
constexpr std::string_view k_selector_name_key = "SELECTOR NAME";

// The SpecInfo of `line_list` under header keys that are upper-cased already.
SpecInfo spec_info_of(const text::Row& line_list, const std::vector<std::string>& upper_keys)
{
  if (line_list.size() < upper_keys.size()) {
    throw Error("spec row of " + std::to_string(line_list.size()) + " cells for "
                + std::to_string(upper_keys.size()) + " header keys");
  }
  SpecInfo info;
  for (std::size_t i = k_first_spec_column; i < upper_keys.size(); ++i) {
    info[upper_keys[i]] = text::upper(line_list[i]);
  }
  return info;
}

} // namespace

Sarnet::Sarnet() : m_spec_dict(std::make_shared<SpecDict>())
{}

void Sarnet::read_spec(const std::string& spec_path, const std::string& platform)
{
  const std::string path = text::existing_or_unescaped(spec_path);
  parse(files::read_sheet_export(path), platform, path);
}

void Sarnet::parse(std::string_view text, std::string_view platform, std::string_view source)
{
  const std::vector<std::string> lines = text::split_lines(text);
  std::vector<std::string> key_list;
  // key_list upper-cased, once for all data rows.
  std::vector<std::string> upper_keys;
  // The sheet gives each symbol one row per selector.
  bool by_selector = false;
  for (std::size_t row = 0; row < lines.size(); ++row) {
    const std::string& line = lines[row];
    if (row == 0) {
      m_spec_version = text::sheet_version(line, platform, source);
    } else if (row == 2) {
      // An empty header cell belongs to the heading on its left (merged cells in the sheet).
      text::Row cells = text::split_cells(line);
      for (std::size_t i = 0; i < cells.size(); ++i) {
        if (i > 0 && cells[i].empty()) {
          cells[i] = cells[i - 1];
        }
        key_list.push_back(cells[i]);
      }
    } else if (row == 3) {
      const text::Row cells = text::split_cells(line);
      if (cells.size() > key_list.size()) {
        throw Error(text::row_location(source, row) + ": the header row has "
                    + std::to_string(cells.size()) + " cells, the row above only "
                    + std::to_string(key_list.size()));
      }
      for (std::size_t i = 0; i < cells.size(); ++i) {
        key_list[i] += " " + cells[i];
      }
      for (const std::string& key : key_list) {
        upper_keys.push_back(text::upper(key));
      }
      const auto kept =
          upper_keys.begin()
          + static_cast<std::ptrdiff_t>(std::min(k_first_spec_column, upper_keys.size()));
      by_selector = std::find(kept, upper_keys.end(), k_selector_name_key) != upper_keys.end();
      if (by_selector && !m_selector_rows) {
        m_selector_rows = std::make_shared<SelectorRows>();
      }
    } else if (row >= 4) {
      const text::Row cells = text::split_cells(line);
      if (cells.size() < 2 || cells.size() < key_list.size()) {
        throw Error(text::row_location(source, row) + ": the row has "
                    + std::to_string(cells.size()) + " cells, the header "
                    + std::to_string(key_list.size()));
      }
      const std::string symbol = text::upper(cells[1]);
      SpecInfo info = spec_info_of(cells, upper_keys);
      if (by_selector) {
        const std::string selector = info.at(std::string(k_selector_name_key));
        (*m_selector_rows)[symbol].insert_or_assign(selector, info);
      }
      (*m_spec_dict)[symbol] = std::move(info);
    }
  }
}

std::shared_ptr<const SpecDict> Sarnet::get_info() const
{
  return m_spec_dict;
}

const std::string& Sarnet::get_spec_version() const
{
  return m_spec_version;
}

std::shared_ptr<const SelectorRows> Sarnet::get_selector_rows() const
{
  return m_selector_rows;
}

SpecInfo get_spec_info(const text::Row& line_list, const std::vector<std::string>& key_list)
{
  std::vector<std::string> upper_keys;
  upper_keys.reserve(key_list.size());
  for (const std::string& key : key_list) {
    upper_keys.push_back(text::upper(key));
  }
  return spec_info_of(line_list, upper_keys);
}

} // namespace tarnwick::sarnet
