// Numbers of the layout files (styles, formatting tables, logo positions) and
// of the print files' fields.
#pragma once

#include <optional>
#include <string>

namespace velarion {

// A number written with "." or "," (blanks ignored, an exponent allowed);
// nullopt when the text is not a number or not a finite one ("inf", "nan",
// "1e999").
std::optional<double> to_number(const std::string& text);

// The whole part of such a number when it lies in [lo, hi]; nullopt when the
// text is not a number or the number lies outside (a field that cannot be
// used then reads as if it were empty).
std::optional<int> to_whole_number(const std::string& text, int lo, int hi);

// The whole part of such a number held within [lo, hi] (colour components);
// `empty` when the text is not a number.
int to_whole_number_clamped(const std::string& text, int lo, int hi, int empty);

}  // namespace velarion
