#include <array>
#include <string>
#include <string_view>

#include "tarnwick/common/common.hpp"
#include "tarnwick/text/number.hpp"
#include "tarnwick/text/unicode.hpp"

namespace tarnwick::common {

namespace {

struct Unit
{
  std::string_view name;
  double value;
};

// Unit names as they appear in value expressions. The one-letter "M" prefix means milli
// except for MOHM (mega-ohm); "MHZ" is mega-hertz.
constexpr std::array<Unit, 30> k_units{{
  {"S", 1.0},     {"MS", 1e-3},  {"US", 1e-6},   {"NS", 1e-9},   {"PS", 1e-12},  {"FS", 1e-15},
  {"V", 1.0},     {"KV", 1e3},   {"MV", 1e-3},   {"UV", 1e-6},   {"NV", 1e-9},
  {"A", 1.0},     {"MA", 1e-3},  {"UA", 1e-6},   {"NA", 1e-9},   {"PA", 1e-12},
  {"HZ", 1.0},    {"KHZ", 1e3},  {"MHZ", 1e6},   {"GHZ", 1e9},
  {"OHM", 1.0},   {"KOHM", 1e3}, {"MOHM", 1e6},
  {"W", 1.0},     {"MW", 1e-3},  {"UW", 1e-6},
  {"F", 1.0},     {"UF", 1e-6},  {"NF", 1e-9},   {"PF", 1e-12},
}};

bool is_ascii_word(char c)
{
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

bool is_ascii_letter(char c)
{
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool is_continuation(char c)
{
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// True when the UTF-8 sequence `bytes` is one letter or digit. A sequence that is not valid
// UTF-8 counts as one, so that nothing next to it is taken for a whole word.
bool is_word_sequence(std::string_view bytes)
{
  if (!text::is_valid_utf8(bytes)) {
    return true;
  }
  const std::u32string cps = text::to_u32(bytes);
  return cps.size() != 1 || text::is_alnum(cps[0]);
}

// Whether the character that ends just before `pos` is a letter, digit or "_".
bool word_before(std::string_view s, std::size_t pos)
{
  if (pos == 0) {
    return false;
  }
  if (static_cast<unsigned char>(s[pos - 1]) < 0x80) {
    return is_ascii_word(s[pos - 1]);
  }
  std::size_t start = pos - 1;
  while (start > 0 && pos - start < 4 && is_continuation(s[start])) {
    --start;
  }
  return is_word_sequence(s.substr(start, pos - start));
}

// Whether the character that starts at `pos` is a letter, digit or "_".
bool word_at(std::string_view s, std::size_t pos)
{
  if (pos >= s.size()) {
    return false;
  }
  if (static_cast<unsigned char>(s[pos]) < 0x80) {
    return is_ascii_word(s[pos]);
  }
  std::size_t end = pos + 1;
  while (end < s.size() && end - pos < 4 && is_continuation(s[end])) {
    ++end;
  }
  return is_word_sequence(s.substr(pos, end - pos));
}

// The replacement text "(<value>)" of the unit named `word` (any case); null for no unit.
const std::string* unit_text(std::string_view word)
{
  static const std::array<std::string, k_units.size()> texts = [] {
    std::array<std::string, k_units.size()> result;
    for (std::size_t i = 0; i < k_units.size(); ++i) {
      result[i] = "(" + text::format_float(k_units[i].value) + ")";
    }
    return result;
  }();

  if (word.size() > 4) {
    return nullptr;
  }
  // Unit names are ASCII, and so is `word`: folding the ASCII letters is enough here.
  std::string folded(word);
  for (char& c : folded) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  for (std::size_t i = 0; i < k_units.size(); ++i) {
    if (k_units[i].name == folded) {
      return &texts[i];
    }
  }
  return nullptr;
}

} // namespace

std::string format_str(const std::string& expression_text)
{
  std::string compact;
  compact.reserve(expression_text.size());
  for (char c : expression_text) {
    if (c != '=' && c != ' ' && c != '\t' && c != '\n' && c != '\r') {
      compact += c;
    }
  }

  std::string result;
  result.reserve(compact.size() + 16);
  std::size_t i = 0;
  while (i < compact.size()) {
    if (!is_ascii_word(compact[i])) {
      result += compact[i];
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < compact.size() && is_ascii_word(compact[end])) {
      ++end;
    }
    const std::string_view word = std::string_view(compact).substr(i, end - i);
    const std::string* replacement = nullptr;
    if (is_ascii_letter(compact[i]) && !word_before(compact, i) && !word_at(compact, end)) {
      replacement = unit_text(word);
    }
    result += replacement ? std::string_view(*replacement) : word;
    i = end;
  }
  return result;
}

} // namespace tarnwick::common
