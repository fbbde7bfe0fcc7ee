#pragma once

#include <string>
#include <string_view>

#include "tarnwick/text/export.hpp"

namespace tarnwick::text {

// Full Unicode upper-casing in the root locale ("ß" -> "SS"). Invalid UTF-8 is repaired first.
TARNWICK_TEXT_EXPORT std::string upper(std::string_view text);

// Full Unicode lower-casing in the root locale (U+212A KELVIN SIGN -> "k").
TARNWICK_TEXT_EXPORT std::string lower(std::string_view text);

// Removes from both ends the white-space code points U+0009-000D, U+001C-001F, U+0020, U+0085,
// U+00A0, U+1680, U+2000-200A, U+2028, U+2029, U+202F, U+205F, U+3000 (not U+FEFF, U+200B).
TARNWICK_TEXT_EXPORT std::string strip(std::string_view text);
TARNWICK_TEXT_EXPORT std::string lstrip(std::string_view text);
TARNWICK_TEXT_EXPORT std::string rstrip(std::string_view text);

// True for the code points that strip removes.
TARNWICK_TEXT_EXPORT bool is_space(char32_t cp);

// True when `text` holds nothing but those code points (also for the empty text): a blank line,
// or a line of tabs.
TARNWICK_TEXT_EXPORT bool is_blank(std::string_view text);

// Character classes of the naming rules, by code point.
TARNWICK_TEXT_EXPORT bool is_upper(char32_t cp);  // property Uppercase
TARNWICK_TEXT_EXPORT bool is_lower(char32_t cp);  // property Lowercase
TARNWICK_TEXT_EXPORT bool is_digit(char32_t cp);  // Numeric_Type Decimal or Digit
TARNWICK_TEXT_EXPORT bool is_alpha(char32_t cp);  // general category L*
TARNWICK_TEXT_EXPORT bool is_alnum(char32_t cp);  // category L* or Numeric_Type not None
// A word character of the Unicode-aware patterns (PCRE2's UCP \w): a letter or number of any
// script (categories L, N) or "_"; PCRE2 10.43 and later add categories Mn and Pc.
TARNWICK_TEXT_EXPORT bool is_word(char32_t cp);

// True when `bytes` is valid UTF-8.
TARNWICK_TEXT_EXPORT bool is_valid_utf8(std::string_view bytes);

// Replaces every invalid UTF-8 sequence by U+FFFD (one per maximal invalid subpart).
TARNWICK_TEXT_EXPORT std::string repair_utf8(std::string_view bytes);

// Drops every invalid UTF-8 sequence without eating the next valid byte.
TARNWICK_TEXT_EXPORT std::string drop_invalid_utf8(std::string_view bytes);

// Decodes Windows-1252 bytes to UTF-8 (the five undefined bytes map to their C1 code points).
TARNWICK_TEXT_EXPORT std::string from_windows_1252(std::string_view bytes);

// Decodes valid UTF-8 into code points; invalid sequences give U+FFFD.
TARNWICK_TEXT_EXPORT std::u32string to_u32(std::string_view text);

// Encodes code points as UTF-8.
TARNWICK_TEXT_EXPORT std::string to_utf8(std::u32string_view text);
TARNWICK_TEXT_EXPORT void append_utf8(std::string& out, char32_t cp);

// Number of code points of valid UTF-8 text.
TARNWICK_TEXT_EXPORT std::size_t length(std::string_view text);

// The first `count` code points of `text` (all of it when shorter).
TARNWICK_TEXT_EXPORT std::string truncate(std::string_view text, std::size_t count);
// The same for C texts: with POSIX's truncate(path, length) in view, a call with a literal is
// ambiguous (a compile error) rather than a call that cuts a file.
inline std::string truncate(const char* text, std::size_t count)
{
  return truncate(std::string_view(text), count);
}

} // namespace tarnwick::text
