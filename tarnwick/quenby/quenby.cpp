#include "tarnwick/quenby/quenby.hpp"

#include <string>
#include <unordered_map>
#include <vector>

#include "tarnwick/files/text_file.hpp"
#include "tarnwick/text/error.hpp"
#include "tarnwick/text/lines.hpp"
#include "tarnwick/text/regex.hpp"
#include "tarnwick/text/sheet.hpp"
#include "tarnwick/text/unicode.hpp"

namespace tarnwick::quenby {

namespace {

// Rows 0 to 2 are headers.
constexpr std::size_t k_first_data_row = 3;

} // namespace

ParsePinLevel::ParsePinLevel()
    : m_pin_level_dict(std::make_shared<PinLevelDict>()),
      m_pin_clamp_dict(std::make_shared<PinLevelDict>())
{}

void ParsePinLevel::read_pin_level(const std::string& pin_level_path)
{
  parse(files::read_sheet_export(pin_level_path), pin_level_path);
}

void ParsePinLevel::parse(std::string_view text, std::string_view source)
{
  // The value is the first blank-free run of the cell without one leading "=": an expression
  // written with blanks keeps only its first operand.
  static const text::Regex value_regex(R"(=?(\S+))", {.unicode = true});

  const std::vector<std::string> lines = text::split_lines(text);
  // A pin takes several rows (level, clamp, ...): its name is upper-cased once for them.
  std::string last_pin;
  std::string pin_key; // upper-cased last_pin
  // Parameter names come from a short list: each text is upper-cased and sorted once per read
  // into the table its rows go to (none for the other parameters).
  std::unordered_map<std::string, PinLevelDict*> table_of;
  for (std::size_t row = k_first_data_row; row < lines.size(); ++row) {
    const text::Row cells = text::split_cells(lines[row]);
    const std::string& pin = text::cell_at(cells, 1, source, row);
    if (pin.empty()) {
      return;
    }
    const auto [known, added] = table_of.try_emplace(text::cell_at(cells, 3, source, row), nullptr);
    if (added) {
      const std::string parameter = text::upper(known->first);
      if (parameter == "VMAIN" || parameter == "VPS") {
        known->second = m_pin_level_dict.get();
      } else if (parameter == "IFOLDLEVEL") {
        known->second = m_pin_clamp_dict.get();
      }
    }
    PinLevelDict* table = known->second;
    if (table == nullptr) {
      continue;
    }
    const auto match = value_regex.search(text::cell_at(cells, 4, source, row));
    if (!match) {
      throw Error(text::row_location(source, row) + ": no value in cell 4");
    }
    if (pin != last_pin) {
      pin_key = text::upper(pin);
      last_pin = pin;
    }
    (*table)[pin_key] = text::upper(match->str(1));
  }
}

std::shared_ptr<const PinLevelDict> ParsePinLevel::get_pin_level_info() const
{
  return m_pin_level_dict;
}

std::shared_ptr<const PinLevelDict> ParsePinLevel::get_pin_clamp_info() const
{
  return m_pin_clamp_dict;
}

} // namespace tarnwick::quenby
