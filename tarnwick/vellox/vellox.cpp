#include "tarnwick/vellox/vellox.hpp"

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "tarnwick/files/text_file.hpp"
#include "tarnwick/text/error.hpp"
#include "tarnwick/text/lines.hpp"
#include "tarnwick/text/sheet.hpp"
#include "tarnwick/text/unicode.hpp"

namespace tarnwick::vellox {

namespace {

// UltraFLEX exports put the first time set in row 7, J750 exports in row 6.
constexpr std::size_t k_ultraflex_first_row = 7;
constexpr std::size_t k_j750_first_row = 6;

enum class Layout
{
  ultraflex,
  j750,
  none
};

Layout layout_of(std::string_view platform)
{
  if (text::is_ultraflex(platform)) {
    return Layout::ultraflex;
  }
  if (platform.find("J750") != std::string_view::npos) {
    return Layout::j750;
  }
  return Layout::none;
}

// A line of white space only (blanks, tabs, the line end, other Unicode spaces).
bool is_blank_line(std::string_view line)
{
  return !line.empty() && text::is_blank(line);
}

std::string without_equals(std::string_view cell)
{
  std::string out;
  std::copy_if(cell.begin(), cell.end(), std::back_inserter(out), [](char c) { return c != '='; });
  return out;
}

} // namespace

ParseTIM::ParseTIM()
    : m_timing_period(std::make_shared<TimingPeriod>()), m_clk_dic(std::make_shared<ClkDic>())
{}

void ParseTIM::read_timing(const std::string& timing_path, const std::string& platform)
{
  parse(files::read_sheet_export(timing_path), platform, timing_path);
}

void ParseTIM::parse(std::string_view text, std::string_view platform, std::string_view source)
{
  const Layout layout = layout_of(platform);
  const std::size_t first_row =
      layout == Layout::ultraflex ? k_ultraflex_first_row : k_j750_first_row;
  const std::vector<std::string> lines = text::split_lines(text);
  std::string last_name_cell;
  std::string name; // upper-cased last_name_cell
  for (std::size_t row = 0; row < lines.size(); ++row) {
    const std::string& line = lines[row];
    // A bare line end ends the sheet from the first data row on, a blank line from row 7 on.
    // Exports leave header rows empty (row 1 of every UltraFLEX export is), so an empty header
    // row must not end the read before the first time set.
    if ((row >= k_ultraflex_first_row && is_blank_line(line))
        || (line == "\n" && row >= first_row)) {
      return;
    }
    if (layout == Layout::none || row < first_row) {
      continue;
    }
    const text::Row cells = text::split_cells(line);
    // A time set takes many rows in a row: its name is upper-cased once for them.
    const std::string& name_cell = text::cell_at(cells, 1, source, row);
    if (name_cell != last_name_cell) {
      name = text::upper(name_cell);
      last_name_cell = name_cell;
    }
    ClockMap& clocks = m_clk_dic->try_emplace(name).first.value();
    const std::string& period_cell = text::cell_at(cells, 2, source, row);
    // The row's period, upper-cased only where a table takes it.
    std::optional<std::string> period;
    if (!m_timing_period->contains(name)) {
      period = text::upper(without_equals(period_cell));
      m_timing_period->emplace(name, *period);
    }
    const std::string& kind = text::cell_at(cells, 5, source, row);
    if (layout == Layout::ultraflex) {
      if (kind == "clock") {
        clocks[cells[3]] = text::upper(without_equals(cells[4]));
      }
    } else if (kind == "mcg") {
      // The clock runs at the row's own period divided by the divider in cell 4.
      if (!period) {
        period = text::upper(without_equals(period_cell));
      }
      clocks[cells[4]] = *period + "/" + cells[4];
    }
  }
}

std::shared_ptr<const TimingPeriod> ParseTIM::get_timing_info() const
{
  return m_timing_period;
}

std::shared_ptr<const ClkDic> ParseTIM::get_clk_info() const
{
  return m_clk_dic;
}

} // namespace tarnwick::vellox
