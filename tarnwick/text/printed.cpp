#include "tarnwick/text/printed.hpp"

#include <unicode/uchar.h>

#include "tarnwick/text/unicode.hpp"

namespace tarnwick::text {

namespace {

// Code points written as an escape: the control, format, private-use, unassigned and
// separator categories, except the plain blank.
bool is_printable(char32_t cp)
{
  if (cp == U' ') {
    return true;
  }
  const uint32_t mask = U_GET_GC_MASK(static_cast<UChar32>(cp));
  constexpr uint32_t k_hidden = U_GC_CC_MASK | U_GC_CF_MASK | U_GC_CS_MASK | U_GC_CO_MASK
                                | U_GC_CN_MASK | U_GC_ZL_MASK | U_GC_ZP_MASK | U_GC_ZS_MASK;
  return (mask & k_hidden) == 0;
}

void append_hex(std::string& out, char32_t cp, int width)
{
  constexpr char k_digits[] = "0123456789abcdef";
  for (int shift = (width - 1) * 4; shift >= 0; shift -= 4) {
    out.push_back(k_digits[(cp >> shift) & 0xF]);
  }
}

} // namespace

std::string quoted(std::string_view text)
{
  const bool has_single = text.find('\'') != std::string_view::npos;
  const bool has_double = text.find('"') != std::string_view::npos;
  const char quote = has_single && !has_double ? '"' : '\'';

  std::string out;
  out.reserve(text.size() + 2);
  out.push_back(quote);
  for (const char32_t cp : to_u32(text)) {
    if (cp == static_cast<char32_t>(quote) || cp == U'\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(cp));
    } else if (cp == U'\n') {
      out += "\\n";
    } else if (cp == U'\t') {
      out += "\\t";
    } else if (cp == U'\r') {
      out += "\\r";
    } else if (cp < 0x20 || cp == 0x7F) {
      out += "\\x";
      append_hex(out, cp, 2);
    } else if (cp < 0x80 || is_printable(cp)) {
      append_utf8(out, cp);
    } else if (cp < 0x100) {
      out += "\\x";
      append_hex(out, cp, 2);
    } else if (cp < 0x10000) {
      out += "\\u";
      append_hex(out, cp, 4);
    } else {
      out += "\\U";
      append_hex(out, cp, 8);
    }
  }
  out.push_back(quote);
  return out;
}

std::string quoted_list(const std::vector<std::string>& items)
{
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) {
      out += ", ";
    }
    out += quoted(items[i]);
  }
  out.push_back(']');
  return out;
}

std::string printed_record(const std::vector<std::pair<std::string, std::string>>& fields)
{
  std::string out = "{";
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) {
      out += ", ";
    }
    out += quoted(fields[i].first);
    out += ": ";
    out += fields[i].second;
  }
  out.push_back('}');
  return out;
}

std::string excerpt(std::string_view line)
{
  std::string cut = truncate(line, k_excerpt_characters);
  if (cut.size() < line.size()) {
    cut += "...";
  }
  return cut;
}

} // namespace tarnwick::text
