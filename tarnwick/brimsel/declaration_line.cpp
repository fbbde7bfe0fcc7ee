#include "tarnwick/brimsel/declaration_line.hpp"

#include <string>
#include <utility>

#include "tarnwick/brimsel/words.hpp"
#include "tarnwick/text/regex.hpp"

namespace tarnwick::brimsel {

namespace {

constexpr std::size_t k_none = std::string_view::npos;

// \s of the Unicode-aware patterns: categories Z, the horizontal and the vertical spaces.
bool is_pattern_space(char32_t cp)
{
  return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680
         || cp == 0x180E || (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029
         || cp == 0x202F || cp == 0x205F || cp == 0x3000;
}

// One reading of one line. Every character is looked at a bounded number of times: the outer
// walk passes each once, the tail after one "As" looks at the blanks and the word that follow
// it (which the walk passes once more), the search for a ")" never goes back, and the blanks
// after one ")" are looked at once.
class Reader
{
public:
  explicit Reader(std::string_view line) : m_line(line) {}

  std::size_t steps() const { return m_steps; }

  std::pair<char32_t, std::size_t> at(std::size_t pos)
  {
    ++m_steps;
    return decode_at(m_line, pos);
  }

  std::size_t skip_space(std::size_t pos)
  {
    while (pos < m_line.size()) {
      const auto [cp, length] = at(pos);
      if (!is_pattern_space(cp)) {
        break;
      }
      pos += length;
    }
    return pos;
  }

  std::size_t skip_word(std::size_t pos)
  {
    while (pos < m_line.size()) {
      const auto [cp, length] = at(pos);
      if (!is_word_char(cp)) {
        break;
      }
      pos += length;
    }
    return pos;
  }

  // The length in bytes of the letters `word` (lower case ASCII) at `pos`, matched caselessly as
  // the patterns do ("s" also matches U+017F), or 0.
  std::size_t caseless_word(std::size_t pos, std::string_view word)
  {
    const std::size_t start = pos;
    for (const char letter : word) {
      if (pos >= m_line.size()) {
        return 0;
      }
      const auto [cp, length] = at(pos);
      const bool same = cp == static_cast<char32_t>(letter)
                        || cp == static_cast<char32_t>(letter - 'a' + 'A')
                        || (letter == 's' && cp == 0x17F);
      if (!same) {
        return 0;
      }
      pos += length;
    }
    return pos - start;
  }

  // "(?:\s*\([^)]*\))?\s*(?:=\s*.+)?$" at `pos`.
  bool rest_matches(std::size_t pos)
  {
    const std::size_t next = skip_space(pos);
    if (next == m_line.size()) {
      return true;
    }
    if (m_line[next] == '=') {
      return next + 1 < m_line.size();
    }
    if (m_line[next] != '(') {
      return false;
    }
    const std::size_t close = first_close(next + 1);
    if (close == k_none) {
      return false;
    }
    if (close != m_checked_close) {
      const std::size_t after = skip_space(close + 1);
      m_checked_close = close;
      m_after_close_matches = after == m_line.size()
                              || (m_line[after] == '=' && after + 1 < m_line.size());
    }
    return m_after_close_matches;
  }

  // The first ")" at or after `from`, or k_none. Asked with growing `from`, it reads each
  // character once.
  std::size_t first_close(std::size_t from)
  {
    if (from < m_close_from || (m_close != k_none && m_close < from)) {
      m_close_from = from;
      m_close = k_none;
      for (std::size_t i = from; i < m_line.size(); ++i) {
        ++m_steps;
        if (m_line[i] == ')') {
          m_close = i;
          break;
        }
      }
    }
    return m_close;
  }

  // "As\s+(?:New\s+)?(\w+)" and the rest of the line at `pos`, the first character after a run
  // of blanks: the type word, or nothing.
  std::optional<std::string_view> tail_at(std::size_t pos)
  {
    const std::size_t as = caseless_word(pos, "as");
    if (as == 0) {
      return std::nullopt;
    }
    const std::size_t type_start = skip_space(pos + as);
    if (type_start == pos + as) {
      return std::nullopt;
    }
    if (const std::size_t word = caseless_word(type_start, "new")) {
      const std::size_t start = skip_space(type_start + word);
      if (start > type_start + word) {
        const std::size_t end = skip_word(start);
        if (end > start && rest_matches(end)) {
          return m_line.substr(start, end - start);
        }
      }
    }
    const std::size_t end = skip_word(type_start);
    if (end > type_start && rest_matches(end)) {
      return m_line.substr(type_start, end - type_start);
    }
    return std::nullopt;
  }

  // The first position at or after `from` where a run of blanks (or its rest) is followed by a
  // tail that matches: that position and the type word.
  std::optional<std::pair<std::size_t, std::string_view>> first_tail(std::size_t from)
  {
    std::size_t i = from;
    while (i < m_line.size()) {
      const auto [cp, length] = at(i);
      if (!is_pattern_space(cp)) {
        i += length;
        continue;
      }
      const std::size_t run_end = skip_space(i);
      if (run_end < m_line.size()) {
        if (const auto type = tail_at(run_end)) {
          return std::make_pair(i, *type);
        }
      }
      i = run_end;
    }
    return std::nullopt;
  }

  // The start of the second-to-last character of the run [begin, end) of blanks, when it has
  // three characters or more (so that one stays before it), else k_none.
  std::size_t second_to_last_of(std::size_t begin, std::size_t end)
  {
    std::size_t before_last = k_none;
    std::size_t last = k_none;
    std::size_t count = 0;
    for (std::size_t i = begin; i < end; ++count) {
      before_last = last;
      last = i;
      i += at(i).second;
    }
    return count >= 3 ? before_last : k_none;
  }

private:
  std::string_view m_line;
  std::size_t m_steps = 0;
  std::size_t m_close_from = k_none;
  std::size_t m_close = k_none;
  std::size_t m_checked_close = k_none;
  bool m_after_close_matches = false;
};

const text::Regex& keyword_pattern()
{
  static const text::Regex pattern{R"(^\s*+(Public|Private|Global|Dim|Const)(\s+)(?:(Const)(\s+))?)",
                                   {.caseless = true, .unicode = true}};
  return pattern;
}

} // namespace

std::optional<DeclarationParts> match_declaration(std::string_view line, std::size_t* steps)
{
  Reader reader(line);
  struct Report
  {
    std::size_t* steps;
    const Reader& reader;
    ~Report()
    {
      if (steps != nullptr) {
        *steps = reader.steps();
      }
    }
  } report{steps, reader};

  const auto keyword = keyword_pattern().match_at_start(line);
  if (!keyword) {
    return std::nullopt;
  }
  const auto view = [line](std::size_t begin, std::size_t end) {
    return line.substr(begin, end - begin);
  };
  DeclarationParts parts;
  parts.keyword = view(keyword->start(1), keyword->end(1));
  parts.const_word = keyword->matched(3);
  // The names start after the blanks that follow the keywords, as the lazy names of the pattern
  // do first; they end at the first blanks that the rest of the line matches after.
  const std::size_t names = parts.const_word ? keyword->end(4) : keyword->end(2);
  if (names == line.size()) {
    return std::nullopt;
  }
  if (const auto found = reader.first_tail(names + reader.at(names).second)) {
    parts.names = view(names, found->first);
    parts.type = found->second;
    return parts;
  }
  // The pattern then gives blanks back to the names: only an "As" right where the names would
  // start can follow them. It takes one blank as the names when one blank still stays before
  // and after it, else (after "Const") the word "Const" itself.
  const auto type = reader.tail_at(names);
  if (!type) {
    return std::nullopt;
  }
  parts.type = *type;
  const std::size_t blanks = parts.const_word ? keyword->start(4) : keyword->start(2);
  if (const std::size_t one = reader.second_to_last_of(blanks, names); one != k_none) {
    parts.names = view(one, one + reader.at(one).second);
    return parts;
  }
  if (parts.const_word) {
    parts.const_word = false;
    parts.names = view(keyword->start(3), keyword->end(3));
    return parts;
  }
  return std::nullopt;
}

} // namespace tarnwick::brimsel
