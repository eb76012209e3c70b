// Rounding and number formatting that outputs users compare depend on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qlcore {

// Nearest integer, exact halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
int64_t round_half_even(double x);

// x rounded to n decimal places from its exact binary value (halves to
// even), returned as the double nearest to that decimal.
double round_places(double x, int n);

// The shortest decimal text that reads back to x, with at least one digit
// after the point for whole values (0.35, 2.0, 1e-05).
std::string shortest(double x);

// Strict parsers: the whole text must be the number (an optional sign,
// digits, a point, an exponent). Nothing for anything else.
std::optional<double> parse_double(const std::string& s);
std::optional<int64_t> parse_int(const std::string& s);

// Text with leading and trailing white space removed.
std::string trim(const std::string& s);

}  // namespace qlcore
