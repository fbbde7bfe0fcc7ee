#include "tarnwick/brimsel/vba_lexer.hpp"

#include <initializer_list>

#include "tarnwick/brimsel/parser.hpp"
#include "tarnwick/text/unicode.hpp"

namespace tarnwick::brimsel {

namespace {

bool word_after(std::string_view text, std::size_t pos)
{
  return pos < text.size() && is_word_char(decode_at(text, pos).first);
}

// End of the run of word characters that starts at `pos`.
std::size_t word_end(std::string_view text, std::size_t pos)
{
  while (pos < text.size()) {
    const auto [cp, length] = decode_at(text, pos);
    if (!is_word_char(cp)) {
      break;
    }
    pos += length;
  }
  return pos;
}

// The words no variable can be named, lower-cased: the VBA keywords of the reference rules and
// the other reserved words of statements and operators.
const NameSet& reserved_words()
{
  static const NameSet words = [] {
    NameSet set;
    for (const std::string& keyword : VBAParser::vba_keywords) {
      set.insert(lowered(keyword));
    }
    for (const char* word : {"new", "is", "not", "and", "or", "xor", "eqv", "imp", "mod", "like",
                             "each", "in", "call", "redim", "preserve", "static", "erase",
                             "gosub", "return", "stop", "typeof", "addressof", "lset", "rset",
                             "declare", "withevents", "implements", "event", "raiseevent",
                             "option", "attribute", "empty", "null"}) {
      set.insert(word);
    }
    return set;
  }();
  return words;
}

constexpr std::size_t k_longest_reserved = 10; // "paramarray", "implements", "raiseevent"

} // namespace

bool is_reserved(std::string_view word)
{
  if (word.size() > k_longest_reserved) {
    return false;
  }
  char buffer[k_longest_reserved];
  for (std::size_t i = 0; i < word.size(); ++i) {
    buffer[i] = ascii_lower(word[i]);
  }
  return reserved_words().contains(std::string_view(buffer, word.size()));
}

namespace {

bool is_ascii_space(char c)
{
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Whether `#` at `pos` opens a date literal such as #1/31/2024# or #12:30 PM#.
std::size_t date_literal_end(std::string_view text, std::size_t pos)
{
  if (pos + 1 >= text.size() || !is_ascii_digit(text[pos + 1])) {
    return 0;
  }
  for (std::size_t i = pos + 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '#') {
      return i + 1;
    }
    if (!is_ascii_digit(c) && std::string_view("/:-. AaPpMm").find(c) == std::string_view::npos) {
      return 0;
    }
  }
  return 0;
}

// Whether only white space follows `pos` up to the end of its physical line (or of `text`).
bool continues_here(std::string_view text, std::size_t pos)
{
  for (; pos < text.size() && text[pos] != '\n'; ++pos) {
    if (!is_ascii_space(text[pos])) {
      return false;
    }
  }
  return true;
}

} // namespace

void lex_line(std::string_view text, std::vector<Lexeme>& out)
{
  out.clear();
  const auto push = [&](Lex kind, std::size_t begin, std::size_t end, char symbol = 0) {
    out.push_back({kind, symbol, static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(end)});
  };
  bool statement_start = true;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const char c = text[pos];
    if (is_ascii_space(c)) {
      ++pos;
      continue;
    }
    if (c == '"') {
      std::size_t end = pos + 1;
      while (end < text.size() && text[end] != '\n') {
        if (text[end] == '"') {
          if (end + 1 < text.size() && text[end + 1] == '"') {
            end += 2;
            continue;
          }
          ++end;
          break;
        }
        ++end;
      }
      push(Lex::string, pos, end);
      pos = end;
      statement_start = false;
      continue;
    }
    if (c == '\'') {
      push(Lex::comment, pos + 1, text.size());
      return;
    }
    if (c == ':') {
      if (pos + 1 < text.size() && text[pos + 1] == '=') {
        push(Lex::assign, pos, pos + 2);
        pos += 2;
        statement_start = false;
      } else {
        push(Lex::colon, pos, pos + 1);
        ++pos;
        statement_start = true;
      }
      continue;
    }
    if (c == '&' && pos + 2 < text.size() && std::string_view("HhOo").find(text[pos + 1]) != std::string_view::npos
        && word_after(text, pos + 2)) {
      const std::size_t end = word_end(text, pos + 2);
      push(Lex::number, pos, end);
      pos = end;
      statement_start = false;
      continue;
    }
    if (c == '#') {
      if (const std::size_t end = date_literal_end(text, pos)) {
        push(Lex::number, pos, end);
        pos = end;
        statement_start = false;
        continue;
      }
    }
    const auto [cp, length] = decode_at(text, pos);
    if (cp == 0xFEFF) {
      pos += length; // a byte-order mark
      continue;
    }
    if (is_word_char(cp)) {
      const std::size_t end = word_end(text, pos);
      if (c == '_' && end == pos + 1 && (pos == 0 || is_ascii_space(text[pos - 1]))
          && continues_here(text, end)) {
        // The " _" that continues the line: the logical line reads on as if it were not there.
      } else if (c == '_') {
        push(Lex::symbol, pos, end, '_');
      } else if (is_ascii_digit(c) || (cp >= 0x80 && text::is_digit(cp))) {
        push(Lex::number, pos, end);
      } else if (statement_start && iequals(text.substr(pos, end - pos), "rem")
                 && (end == text.size() || is_ascii_space(text[end]))) {
        push(Lex::comment, end, text.size());
        return;
      } else {
        push(Lex::identifier, pos, end);
      }
      pos = end;
      statement_start = false;
      continue;
    }
    push(Lex::symbol, pos, pos + length, cp < 0x80 ? c : 0);
    pos += length;
    statement_start = false;
  }
}

bool continues(std::string_view line)
{
  std::size_t end = line.size();
  while (end > 0 && is_ascii_space(line[end - 1])) {
    --end;
  }
  return end > 0 && line[end - 1] == '_' && (end == 1 || is_ascii_space(line[end - 2]));
}

} // namespace tarnwick::brimsel
