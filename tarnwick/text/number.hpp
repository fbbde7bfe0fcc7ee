#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tarnwick/text/export.hpp"

namespace tarnwick::text {

// printf "%.<digits>f", independent of the locale: fixed(2.5, 3) == "2.500".
TARNWICK_TEXT_EXPORT std::string fixed(double x, int digits);

// Shortest text that reads back as the same double, always with a fractional part or an
// exponent: "1.8", "12.0", "0.0", "-0.0"; exponent form ("5e-05", "1e+16", "1.5e-09") when the
// decimal exponent is below -4 or at least 16; "nan", "inf", "-inf". (Python's repr of a float.)
TARNWICK_TEXT_EXPORT std::string format_float(double x);

// Decimal text of an integer.
TARNWICK_TEXT_EXPORT std::string format_int(std::int64_t x);

// Rounds the exact binary value of `x` to `places` decimal places, an exact half going to the
// even neighbour: round_half_even(1.000005, 5) == 1.00001, round_half_even(-0.000004, 5) == -0.0.
TARNWICK_TEXT_EXPORT double round_half_even(double x, int places);

// Strict integer parse: optional surrounding ASCII white space, optional sign, decimal digits,
// nothing else; std::nullopt when the text is not such a number or does not fit.
TARNWICK_TEXT_EXPORT std::optional<std::int64_t> parse_int(std::string_view text);

// Strict decimal parse, independent of the locale: optional surrounding ASCII white space,
// optional sign, digits with optional fraction and exponent ("1.5E-9", ".5", "5."), or
// "inf"/"infinity"/"nan" in any case; nothing trailing. std::nullopt otherwise.
TARNWICK_TEXT_EXPORT std::optional<double> parse_float(std::string_view text);

} // namespace tarnwick::text
