#pragma once

#include <cstddef>
#include <functional>
#include <string_view>
#include <tuple>
#include <utility>

#include "tarnwick/text/unicode.hpp"

// Characters of VBA source words, shared by the parser and the rename scope rules.
namespace tarnwick::brimsel {

// Word characters of the Unicode-aware patterns (\w, \b): letters and digits of any script,
// and "_".
inline bool is_word_char(char32_t cp)
{
  if (cp < 0x80) {
    return (cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z') || (cp >= '0' && cp <= '9')
           || cp == '_';
  }
  return text::is_word(cp);
}

// The code point at `pos` of `text` and its length in bytes; a byte that starts no valid
// sequence counts as U+FFFD of length 1.
inline std::pair<char32_t, std::size_t> decode_at(std::string_view text, std::size_t pos)
{
  const auto byte = static_cast<unsigned char>(text[pos]);
  if (byte < 0x80) {
    return {byte, 1};
  }
  std::size_t length = 0;
  char32_t cp = 0;
  if ((byte & 0xE0) == 0xC0) {
    length = 2;
    cp = byte & 0x1F;
  } else if ((byte & 0xF0) == 0xE0) {
    length = 3;
    cp = byte & 0x0F;
  } else if ((byte & 0xF8) == 0xF0) {
    length = 4;
    cp = byte & 0x07;
  } else {
    return {0xFFFD, 1};
  }
  if (pos + length > text.size()) {
    return {0xFFFD, 1};
  }
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[pos + i]);
    if ((next & 0xC0) != 0x80) {
      return {0xFFFD, 1};
    }
    cp = (cp << 6) | (next & 0x3F);
  }
  return {cp, length};
}

// Calls `visit(word, is_identifier)` for every maximal run of word characters of `line`, left
// to right. `is_identifier` tells whether the run is entirely [A-Za-z_][A-Za-z0-9_]*.
template <class Visit> void for_each_word(std::string_view line, Visit visit)
{
  std::size_t pos = 0;
  while (pos < line.size()) {
    auto [cp, length] = decode_at(line, pos);
    if (!is_word_char(cp)) {
      pos += length;
      continue;
    }
    const std::size_t start = pos;
    bool identifier = !(cp >= '0' && cp <= '9') && cp < 0x80;
    pos += length;
    while (pos < line.size()) {
      std::tie(cp, length) = decode_at(line, pos);
      if (!is_word_char(cp)) {
        break;
      }
      identifier = identifier && cp < 0x80;
      pos += length;
    }
    visit(line.substr(start, pos - start), identifier);
  }
}

// Hash of texts that looks up string_views without a copy.
struct TextHash
{
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const
  {
    return std::hash<std::string_view>{}(text);
  }
};

} // namespace tarnwick::brimsel
