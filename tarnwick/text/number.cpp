#include "tarnwick/text/number.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace tarnwick::text {

namespace {

bool is_ascii_space(char c)
{
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view trim_ascii(std::string_view text)
{
  while (!text.empty() && is_ascii_space(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && is_ascii_space(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

bool is_ascii_digit(char c)
{
  return c >= '0' && c <= '9';
}

bool equals_ignoring_ascii_case(std::string_view text, std::string_view lower)
{
  if (text.size() != lower.size()) {
    return false;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
    if (c != lower[i]) {
      return false;
    }
  }
  return true;
}

// Decimal number without sign: digits, optional "." and digits (at least one digit in all),
// optional exponent. Sets `magnitude` to a decimal exponent of the value, good enough to tell
// an overflowing text (> 0) from an underflowing one (<= 0).
bool is_decimal_body(std::string_view s, long& magnitude)
{
  std::size_t i = 0;
  std::size_t digits = 0;
  bool seen_nonzero = false;
  long point_magnitude = 0; // digits before the point, or minus the zeros after it
  while (i < s.size() && is_ascii_digit(s[i])) {
    seen_nonzero = seen_nonzero || s[i] != '0';
    if (seen_nonzero) {
      ++point_magnitude;
    }
    ++digits;
    ++i;
  }
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && is_ascii_digit(s[i])) {
      if (!seen_nonzero) {
        if (s[i] == '0') {
          --point_magnitude;
        } else {
          seen_nonzero = true;
        }
      }
      ++digits;
      ++i;
    }
  }
  if (digits == 0) {
    return false;
  }
  long exponent = 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
      negative = s[i] == '-';
      ++i;
    }
    if (i == s.size()) {
      return false;
    }
    while (i < s.size() && is_ascii_digit(s[i])) {
      if (exponent < 100000) { // large enough to overflow; stop before long does
        exponent = exponent * 10 + (s[i] - '0');
      }
      ++i;
    }
    if (negative) {
      exponent = -exponent;
    }
  }
  magnitude = point_magnitude + exponent;
  return i == s.size();
}

} // namespace

std::string fixed(double x, int digits)
{
  if (std::isnan(x)) {
    return "nan";
  }
  if (std::isinf(x)) {
    return x < 0 ? "-inf" : "inf";
  }
  if (digits < 0) {
    digits = 0;
  }
  std::string buffer(static_cast<std::size_t>(std::numeric_limits<double>::max_exponent10) + 8
                         + static_cast<std::size_t>(digits),
                     '\0');
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), x,
                                    std::chars_format::fixed, digits);
  buffer.resize(static_cast<std::size_t>(result.ptr - buffer.data()));
  return buffer;
}

std::string format_float(double x)
{
  if (std::isnan(x)) {
    return "nan";
  }
  if (std::isinf(x)) {
    return x < 0 ? "-inf" : "inf";
  }
  std::array<char, 64> buffer{};
  const auto result =
      std::to_chars(buffer.data(), buffer.data() + buffer.size(), x, std::chars_format::scientific);
  const std::string_view sci(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data()));

  // sci is "[-]d[.ddd]e(+|-)XX": the shortest digits that read back as x.
  std::string out;
  std::size_t i = 0;
  if (sci[0] == '-') {
    out.push_back('-');
    i = 1;
  }
  const std::size_t e_pos = sci.find('e');
  std::string digits;
  for (std::size_t k = i; k < e_pos; ++k) {
    if (sci[k] != '.') {
      digits.push_back(sci[k]);
    }
  }
  int exponent = 0;
  std::from_chars(sci.data() + e_pos + (sci[e_pos + 1] == '+' ? 2 : 1), sci.data() + sci.size(),
                  exponent);

  if (exponent >= -4 && exponent < 16) {
    const int point = exponent + 1; // digits before the decimal point
    const int count = static_cast<int>(digits.size());
    if (point <= 0) {
      out += "0.";
      out.append(static_cast<std::size_t>(-point), '0');
      out += digits;
    } else if (point >= count) {
      out += digits;
      out.append(static_cast<std::size_t>(point - count), '0');
      out += ".0";
    } else {
      out += digits.substr(0, static_cast<std::size_t>(point));
      out.push_back('.');
      out += digits.substr(static_cast<std::size_t>(point));
    }
    return out;
  }
  out.push_back(digits[0]);
  if (digits.size() > 1) {
    out.push_back('.');
    out += digits.substr(1);
  }
  out.push_back('e');
  out.push_back(exponent < 0 ? '-' : '+');
  const int magnitude = exponent < 0 ? -exponent : exponent;
  if (magnitude < 10) {
    out.push_back('0');
  }
  out += std::to_string(magnitude);
  return out;
}

std::string format_int(std::int64_t x)
{
  return std::to_string(x);
}

double round_half_even(double x, int places)
{
  if (!std::isfinite(x)) {
    return x;
  }
  const std::string text = fixed(x, places);
  double value = 0.0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

std::optional<std::int64_t> parse_int(std::string_view text)
{
  text = trim_ascii(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || !is_ascii_digit(text.front())) {
    return std::nullopt;
  }
  // Read the magnitude as unsigned so that the most negative value fits too.
  std::uint64_t magnitude = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), magnitude);
  if (result.ec != std::errc{} || result.ptr != text.data() + text.size()) {
    return std::nullopt;
  }
  constexpr auto k_max = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (negative) {
    if (magnitude > k_max + 1) {
      return std::nullopt;
    }
    return magnitude == k_max + 1 ? std::numeric_limits<std::int64_t>::min()
                                  : -static_cast<std::int64_t>(magnitude);
  }
  if (magnitude > k_max) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(magnitude);
}

std::optional<double> parse_float(std::string_view text)
{
  text = trim_ascii(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  double value = 0.0;
  if (equals_ignoring_ascii_case(text, "inf") || equals_ignoring_ascii_case(text, "infinity")) {
    value = std::numeric_limits<double>::infinity();
  } else if (equals_ignoring_ascii_case(text, "nan")) {
    value = std::numeric_limits<double>::quiet_NaN();
  } else {
    long magnitude = 0;
    if (!is_decimal_body(text, magnitude)) {
      return std::nullopt;
    }
    const auto result =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
      value = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (result.ec != std::errc{} || result.ptr != text.data() + text.size()) {
      return std::nullopt;
    }
  }
  return negative ? -value : value;
}

} // namespace tarnwick::text
