#include "tarnwick/text/unicode.hpp"

#include <pcre2.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>
#include <memory>

#include "tarnwick/text/error.hpp"

namespace tarnwick::text {

namespace {

constexpr char32_t k_replacement = 0xFFFD;
constexpr char32_t k_max_code_point = 0x10FFFF;

// One step of UTF-8 decoding (ICU's): a valid sequence with its code point, or the length of
// the maximal invalid subpart (a lead byte followed by as many fitting continuation bytes as
// there are before the sequence breaks off), which is at least 1.
struct Decoded
{
  char32_t cp;
  std::size_t length;
  bool valid;
};

Decoded decode(std::string_view s, std::size_t i)
{
  std::size_t next = i;
  UChar32 cp = 0;
  U8_NEXT(reinterpret_cast<const std::uint8_t*>(s.data()), next, s.size(), cp);
  if (cp < 0) {
    return {0, next - i, false};
  }
  return {static_cast<char32_t>(cp), next - i, true};
}

// Start of the last code point of `s` when it is valid UTF-8 and a white-space code point
// that strip removes; std::string_view::npos otherwise.
std::size_t trailing_space_start(std::string_view s)
{
  if (s.empty()) {
    return std::string_view::npos;
  }
  std::size_t k = s.size() - 1;
  while (k > 0 && s.size() - k < 4 && (static_cast<unsigned char>(s[k]) & 0xC0) == 0x80) {
    --k;
  }
  const Decoded d = decode(s, k);
  if (d.valid && k + d.length == s.size() && is_space(d.cp)) {
    return k;
  }
  return std::string_view::npos;
}

std::string_view lstrip_view(std::string_view text)
{
  std::size_t i = 0;
  while (i < text.size()) {
    const Decoded d = decode(text, i);
    if (!d.valid || !is_space(d.cp)) {
      break;
    }
    i += d.length;
  }
  return text.substr(i);
}

std::string_view rstrip_view(std::string_view text)
{
  for (;;) {
    const std::size_t k = trailing_space_start(text);
    if (k == std::string_view::npos) {
      return text;
    }
    text = text.substr(0, k);
  }
}

bool valid_code_point(char32_t cp)
{
  return cp <= k_max_code_point;
}

int32_t numeric_type(char32_t cp)
{
  return u_getIntPropertyValue(static_cast<UChar32>(cp), UCHAR_NUMERIC_TYPE);
}

bool is_letter(char32_t cp)
{
  return (U_GET_GC_MASK(static_cast<UChar32>(cp)) & U_GC_L_MASK) != 0;
}

template <class Map>
std::string map_case(std::string_view text, Map map)
{
  const std::string valid = is_valid_utf8(text) ? std::string(text) : repair_utf8(text);
  icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(valid.data(),
                                                                        static_cast<int32_t>(valid.size())));
  map(u);
  std::string out;
  u.toUTF8String(out);
  return out;
}

bool is_ascii(std::string_view text)
{
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// ASCII text maps letter by letter in the root locale: a short cut around ICU for the sheet
// cells and names that are nearly always ASCII.
std::string map_ascii(std::string_view text, char first, char last, int shift)
{
  std::string out(text);
  for (char& c : out) {
    if (c >= first && c <= last) {
      c = static_cast<char>(c + shift);
    }
  }
  return out;
}

} // namespace

std::string upper(std::string_view text)
{
  if (is_ascii(text)) {
    return map_ascii(text, 'a', 'z', 'A' - 'a');
  }
  return map_case(text, [](icu::UnicodeString& u) { u.toUpper(icu::Locale::getRoot()); });
}

std::string lower(std::string_view text)
{
  if (is_ascii(text)) {
    return map_ascii(text, 'A', 'Z', 'a' - 'A');
  }
  return map_case(text, [](icu::UnicodeString& u) { u.toLower(icu::Locale::getRoot()); });
}

std::string strip(std::string_view text)
{
  return std::string(rstrip_view(lstrip_view(text)));
}

std::string lstrip(std::string_view text)
{
  return std::string(lstrip_view(text));
}

std::string rstrip(std::string_view text)
{
  return std::string(rstrip_view(text));
}

bool is_blank(std::string_view text)
{
  return lstrip_view(text).empty();
}

bool is_space(char32_t cp)
{
  return (cp >= 0x09 && cp <= 0x0D) || (cp >= 0x1C && cp <= 0x20) || cp == 0x85 || cp == 0xA0
         || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029
         || cp == 0x202F || cp == 0x205F || cp == 0x3000;
}

bool is_upper(char32_t cp)
{
  return valid_code_point(cp) && u_hasBinaryProperty(static_cast<UChar32>(cp), UCHAR_UPPERCASE);
}

bool is_lower(char32_t cp)
{
  return valid_code_point(cp) && u_hasBinaryProperty(static_cast<UChar32>(cp), UCHAR_LOWERCASE);
}

bool is_digit(char32_t cp)
{
  if (!valid_code_point(cp)) {
    return false;
  }
  const int32_t type = numeric_type(cp);
  return type == U_NT_DECIMAL || type == U_NT_DIGIT;
}

bool is_alpha(char32_t cp)
{
  return valid_code_point(cp) && is_letter(cp);
}

bool is_alnum(char32_t cp)
{
  return valid_code_point(cp) && (is_letter(cp) || numeric_type(cp) != U_NT_NONE);
}

bool is_word(char32_t cp)
{
  if (!valid_code_point(cp)) {
    return false;
  }
  if (cp == U'_') {
    return true;
  }
  // The same set as \w of the Unicode-aware patterns of the PCRE2 we link: letters and
  // numbers, and from PCRE2 10.43 on also non-spacing marks and connector punctuation.
#if PCRE2_MAJOR > 10 || (PCRE2_MAJOR == 10 && PCRE2_MINOR >= 43)
  constexpr uint32_t k_word = U_GC_L_MASK | U_GC_N_MASK | U_GC_MN_MASK | U_GC_PC_MASK;
#else
  constexpr uint32_t k_word = U_GC_L_MASK | U_GC_N_MASK;
#endif
  return (U_GET_GC_MASK(static_cast<UChar32>(cp)) & k_word) != 0;
}

bool is_valid_utf8(std::string_view bytes)
{
  for (std::size_t i = 0; i < bytes.size();) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    const Decoded d = decode(bytes, i);
    if (!d.valid) {
      return false;
    }
    i += d.length;
  }
  return true;
}

namespace {

enum class InvalidBytes { replace, drop };

// `bytes` with every invalid UTF-8 sequence replaced by U+FFFD or dropped.
std::string clean_utf8(std::string_view bytes, InvalidBytes invalid)
{
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const Decoded d = decode(bytes, i);
    if (d.valid) {
      out.append(bytes.substr(i, d.length));
    } else if (invalid == InvalidBytes::replace) {
      append_utf8(out, k_replacement);
    }
    i += d.length;
  }
  return out;
}

} // namespace

std::string repair_utf8(std::string_view bytes)
{
  return clean_utf8(bytes, InvalidBytes::replace);
}

std::string drop_invalid_utf8(std::string_view bytes)
{
  return clean_utf8(bytes, InvalidBytes::drop);
}

std::string from_windows_1252(std::string_view bytes)
{
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UConverter, decltype(&ucnv_close)> converter(ucnv_open("windows-1252", &status),
                                                               &ucnv_close);
  if (U_FAILURE(status) || !converter) {
    throw Error(std::string("Cannot open the Windows-1252 decoder: ") + u_errorName(status));
  }
  icu::UnicodeString u(bytes.data(), static_cast<int32_t>(bytes.size()), converter.get(), status);
  if (U_FAILURE(status)) {
    throw Error(std::string("Cannot decode Windows-1252 text: ") + u_errorName(status));
  }
  std::string out;
  u.toUTF8String(out);
  return out;
}

std::u32string to_u32(std::string_view text)
{
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const Decoded d = decode(text, i);
    out.push_back(d.valid ? d.cp : k_replacement);
    i += d.length;
  }
  return out;
}

std::string to_utf8(std::u32string_view text)
{
  std::string out;
  out.reserve(text.size());
  for (const char32_t cp : text) {
    append_utf8(out, cp);
  }
  return out;
}

void append_utf8(std::string& out, char32_t cp)
{
  if (cp > k_max_code_point || (cp >= 0xD800 && cp <= 0xDFFF)) {
    cp = k_replacement;
  }
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::size_t length(std::string_view text)
{
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); i += decode(text, i).length) {
    ++count;
  }
  return count;
}

std::string truncate(std::string_view text, std::size_t count)
{
  std::size_t i = 0;
  for (std::size_t n = 0; n < count && i < text.size(); ++n) {
    i += decode(text, i).length;
  }
  return std::string(text.substr(0, i));
}

} // namespace tarnwick::text
