#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "tarnwick/brimsel/export.hpp"
#include "tarnwick/brimsel/words.hpp"

// The lexemes of one logical VBA line, as the rename scope rules read a module.
namespace tarnwick::brimsel {

inline bool is_ascii_letter(char c)
{
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

inline bool is_ascii_digit(char c)
{
  return c >= '0' && c <= '9';
}

inline char ascii_lower(char c)
{
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether `name` is an identifier: [A-Za-z][A-Za-z0-9_]*.
inline bool is_identifier(std::string_view name)
{
  if (name.empty() || !is_ascii_letter(name.front())) {
    return false;
  }
  return std::all_of(name.begin(), name.end(),
                     [](char c) { return is_ascii_letter(c) || is_ascii_digit(c) || c == '_'; });
}

// Whether `a` equals `lower` (lower-case ASCII) ignoring ASCII case.
inline bool iequals(std::string_view a, std::string_view lower)
{
  return a.size() == lower.size()
         && std::equal(a.begin(), a.end(), lower.begin(),
                       [](char x, char y) { return ascii_lower(x) == y; });
}

// `text` with its ASCII letters lower-cased.
inline std::string lowered(std::string_view text)
{
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), ascii_lower);
  return lower;
}

using NameSet = std::unordered_set<std::string, TextHash, std::equal_to<>>;
template <class Value>
using NameMap = std::unordered_map<std::string, Value, TextHash, std::equal_to<>>;

// Whether `word` (any case) is a word no variable can be named: a VBA keyword of the reference
// rules or another reserved word of statements and operators (New, Is, Mod, ReDim, ...).
TARNWICK_BRIMSEL_EXPORT bool is_reserved(std::string_view word);

enum class Lex : std::uint8_t
{
  identifier, // a run of word characters that begins with a letter
  number,     // a run that begins with a digit, "&H..." or a date literal "#...#"
  string,     // "..." with "" inside
  comment,    // after an apostrophe or Rem, to the end of the logical line (its text only)
  symbol,     // any other character, "_" runs included
  assign,     // ":="
  colon,      // ":" between statements
};

struct Lexeme
{
  Lex kind = Lex::symbol;
  char symbol = 0; // for Lex::symbol: the character, or 0 when it is not ASCII
  std::uint32_t begin = 0;
  std::uint32_t end = 0;
};

// The lexemes of `text` (one logical line: physical lines joined with their " _" continuations)
// into `out`, cleared first. White space, a byte-order mark and the " _" at the end of a
// physical line make no lexeme.
TARNWICK_BRIMSEL_EXPORT void lex_line(std::string_view text, std::vector<Lexeme>& out);

// Whether the physical line `line` continues on the next one: it ends with " _".
TARNWICK_BRIMSEL_EXPORT bool continues(std::string_view line);

} // namespace tarnwick::brimsel
