#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tarnwick/text/export.hpp"

namespace tarnwick::text {

// Printed form of a text in log lines: 'abc', with backslash escapes for "\", the quote and
// control characters ("\n", "\t", "\r", "\xNN"); double quotes instead when the text holds a
// single quote and no double quote: "it's".
TARNWICK_TEXT_EXPORT std::string quoted(std::string_view text);
// The same for std::string and C texts. These exact overloads keep an unqualified call with a
// std::string argument from picking std::quoted through argument-dependent lookup.
inline std::string quoted(const std::string& text)
{
  return quoted(std::string_view(text));
}
inline std::string quoted(std::string& text)
{
  return quoted(std::string_view(text));
}
inline std::string quoted(const char* text)
{
  return quoted(std::string_view(text));
}

// The most characters of a source or sheet line that a message quotes.
inline constexpr std::size_t k_excerpt_characters = 200;

// `line` as a message quotes it: whole when it has at most k_excerpt_characters characters,
// else its first k_excerpt_characters characters and "...", so that no message grows with
// the line it names.
TARNWICK_TEXT_EXPORT std::string excerpt(std::string_view line);

// Printed form of a list of texts: ['a', 'b'].
TARNWICK_TEXT_EXPORT std::string quoted_list(const std::vector<std::string>& items);

// Printed form of a record: {'Key': value, ...} in the given order; each value is already in
// its printed form (quoted(...) for texts, format_int(...) for numbers).
TARNWICK_TEXT_EXPORT std::string
printed_record(const std::vector<std::pair<std::string, std::string>>& fields);

} // namespace tarnwick::text
