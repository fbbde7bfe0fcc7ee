// Spec expression substitution and unit formatting.

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tarnwick/olvent/columns.hpp"
#include "tarnwick/olvent/olvent.hpp"
#include "tarnwick/text/error.hpp"
#include "tarnwick/text/number.hpp"
#include "tarnwick/text/sheet.hpp"

namespace tarnwick::olvent {

namespace {

// Longer chains of spec symbols than any sheet holds; a safety net beside the cycle check.
constexpr std::size_t k_max_spec_depth = 256;

bool is_operator(char c)
{
  return c == '+' || c == '-' || c == '*' || c == '/' || c == '(' || c == ')';
}

// The first occurrence of `from` in `text` replaced by `to`.
std::string replace_first(const std::string& text, const std::string& from, const std::string& to)
{
  std::size_t hit = text.find(from);
  if (hit == std::string::npos)
    return text;
  std::string result = text;
  result.replace(hit, from.size(), to);
  return result;
}

// The symbol an operand names: its first "_" and every blank removed.
std::string symbol_name(const std::string& operand)
{
  std::string name = operand;
  name.erase(name.find('_'), 1);
  std::erase(name, ' ');
  return name;
}

std::string join_chain(const std::vector<std::string>& chain, const std::string& last)
{
  std::string text;
  for (const auto& symbol : chain)
    text += symbol + " -> ";
  return text + last;
}

// One substitution: the tables, version, category and selector stay the same throughout, so
// each symbol's value is resolved once and reused wherever the symbol occurs again; values
// that name the next symbol twice, level after level, cost the length of the result, not a
// power of two. Results longer than any spec sheet writes are refused, and so is splicing
// that would scan more text than such results need.
class Substitution
{
public:
  // Past the longest text a workbook cell holds (32,767 characters).
  static constexpr std::size_t k_max_length = std::size_t{1} << 16;
  // Characters of working text the splices of one substitution may go through.
  static constexpr std::size_t k_max_work = std::size_t{1} << 27;

  Substitution(const tiskel::GlobSpecDict* glob_spec_dict, const sarnet::SpecDict& spec_dict,
               const sarnet::SelectorRows* selector_rows, const std::string& spec_version,
               const std::string& category_name, const std::string& selector_name,
               MarkedLogSink log)
      : m_glob_spec_dict(glob_spec_dict), m_spec_dict(spec_dict), m_selector_rows(selector_rows),
        m_spec_version(spec_version), m_category_name(category_name),
        m_selector_name(selector_name), m_log(std::move(log))
  {
  }

  std::string resolve(const std::string& target)
  {
    std::string working = target;
    std::erase(working, '=');
    if (working.find('_') == std::string::npos)
      return working; // no symbol operand

    // The operands between the operator characters (empty ones kept) and the operators, both
    // taken from the text as it stands now; the splicing below does not change them.
    std::vector<std::string> target_list;
    std::vector<std::string> sample_list;
    std::size_t begin = 0;
    for (std::size_t i = 0; i < working.size(); ++i) {
      if (is_operator(working[i])) {
        target_list.emplace_back(working, begin, i - begin);
        sample_list.emplace_back(1, working[i]);
        begin = i + 1;
      }
    }
    target_list.emplace_back(working, begin);
    const std::size_t sample_len = sample_list.size();

    for (std::size_t i = 0; i < target_list.size(); ++i) {
      const std::string& target_value = target_list[i];
      if (target_value.find('_') == std::string::npos)
        continue;
      std::string target_value_strip = symbol_name(target_value);
      std::string key = text::upper(target_value_strip);

      for (const auto& open : m_chain) {
        if (open == key)
          throw Error("Spec symbol refers back to itself: " + join_chain(m_chain, key));
      }
      if (m_chain.size() >= k_max_spec_depth)
        throw Error("Spec symbols nested too deeply: " + join_chain(m_chain, key));

      auto known = m_resolved.find(key);
      if (known == m_resolved.end()) {
        const std::string& value = value_of(key, target_value_strip);
        m_chain.push_back(key);
        std::string resolved = resolve(value);
        m_chain.pop_back();
        known = m_resolved.emplace(key, std::move(resolved)).first;
      }
      const std::string& resolved = known->second;

      m_work += working.size();
      if (m_work > k_max_work)
        throw Error("Spec expression too long to substitute: " + join_chain(m_chain, key));
      if (sample_len == 0) {
        working = text::replace_all(working, target_value, resolved);
      } else if (i == sample_len) {
        const std::string& before = sample_list[i - 1];
        working = text::replace_all(working, before + target_value, before + resolved);
      } else if (i == 0) {
        const std::string& after = sample_list[0];
        working = replace_first(working, target_value + after, resolved + after);
      } else {
        const std::string& before = sample_list[i - 1];
        const std::string& after = sample_list[i];
        working = text::replace_all(working, before + target_value + after,
                                    before + resolved + after);
      }
      if (working.size() > k_max_length)
        throw Error("Spec expression longer than " + std::to_string(k_max_length)
                    + " characters: " + join_chain(m_chain, key));
    }
    return working;
  }

private:
  // The value text of the symbol `key` (upper-cased `name`): from the global-spec table, else
  // from the DC or AC sheet's table in the column of the category and the symbol's spec type.
  const std::string& value_of(const std::string& key, const std::string& name)
  {
    if (m_glob_spec_dict) {
      if (auto hit = m_glob_spec_dict->find(key); hit != m_glob_spec_dict->end())
        return hit->second;
    }
    auto row = m_spec_dict.find(key);
    const sarnet::SpecInfo* info = row == m_spec_dict.end() ? nullptr : &row->second;
    const std::string* spec_type = nullptr;
    if (m_spec_version == "3.0") {
      std::string column = "SELECTORS " + text::upper(m_selector_name);
      if (row != m_spec_dict.end()) {
        if (auto cell = row->second.find(column); cell != row->second.end())
          spec_type = &cell->second;
      }
      if (spec_type == nullptr) {
        m_log("Error: Can not sarnet variable: " + name, LogMark::error());
        if (row == m_spec_dict.end())
          throw Error("Spec symbol not found: " + name);
        throw Error("Spec symbol " + name + " has no column " + column);
      }
    } else {
      if (row == m_spec_dict.end())
        throw Error("Spec symbol not found: " + name);
      // A sheet with one row per selector: the row whose selector name is the selector.
      if (m_selector_rows) {
        const std::string selector = text::upper(m_selector_name);
        info = nullptr;
        if (auto rows = m_selector_rows->find(key); rows != m_selector_rows->end()) {
          if (auto selected = rows->second.find(selector); selected != rows->second.end())
            info = &selected->second;
        }
        if (info == nullptr) {
          m_log("Error: Can not sarnet variable: " + name, LogMark::error());
          throw Error("Spec symbol " + name + " has no row for the selector " + selector);
        }
      }
      auto cell = info->find("SELECTOR VAL");
      if (cell == info->end())
        throw Error("Spec symbol " + name + " has no column SELECTOR VAL");
      spec_type = &cell->second;
    }
    std::string column = text::upper(m_category_name) + " " + *spec_type;
    auto cell = info->find(column);
    if (cell == info->end())
      throw Error("Spec symbol " + name + " has no column " + column);
    return cell->second;
  }

  const tiskel::GlobSpecDict* m_glob_spec_dict;
  const sarnet::SpecDict& m_spec_dict;
  const sarnet::SelectorRows* m_selector_rows; // null unless the sheet has a row per selector
  const std::string& m_spec_version;
  const std::string& m_category_name;
  const std::string& m_selector_name;
  MarkedLogSink m_log;
  std::unordered_map<std::string, std::string> m_resolved; // symbol to its resolved value
  std::vector<std::string> m_chain;                        // symbols being resolved
  std::size_t m_work = 0;                                  // characters spliced through
};

} // namespace

std::string Olvent::spec_calculation(const std::string& target, const sarnet::SpecDict& spec_dict,
                                     const std::string& spec_version,
                                     const std::string& category_name,
                                     const std::string& selector_name,
                                     const sarnet::SelectorRows* selector_rows)
{
  Substitution substitution(
      glob_spec_dict.get(), spec_dict, selector_rows, spec_version, category_name, selector_name,
      [this](const std::string& line, const LogMark& mark) { put_data_log(line, mark); });
  return substitution.resolve(target);
}

std::optional<std::string> Olvent::add_unit(double val)
{
  struct Unit
  {
    double threshold;
    std::string_view prefix;
  };
  // The thresholds are kept as the decimal texts they are and read as numbers once.
  static const std::array<Unit, 7> unit_dict = [] {
    const std::array<std::pair<std::string_view, std::string_view>, 7> texts = {{
      {"1000000000", "G"},
      {"1000000", "M"},
      {"1000", "K"},
      {"0.001", "m"},
      {"0.000001", "u"},
      {"0.000000001", "n"},
      {"0.000000000001", "p"},
    }};
    std::array<Unit, 7> units;
    for (std::size_t i = 0; i < texts.size(); ++i)
      units[i] = {*text::parse_float(texts[i].first), texts[i].second};
    return units;
  }();
  for (const auto& [threshold, prefix] : unit_dict) {
    if (threshold <= val)
      return text::fixed(val / threshold, 3) + std::string(prefix);
  }
  return std::nullopt;
}

} // namespace tarnwick::olvent
