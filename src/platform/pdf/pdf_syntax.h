// PDF syntax pieces the writer appends to content streams and objects:
// numbers, literal strings and document-information text. Used by the PDF
// writer (and the libharu reference for the information text).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velarion::pdfwriter {

// Numbers are held within +-kNumberLimit (points or plain numbers): far
// beyond any page, and within what the scaled whole numbers below can hold.
inline constexpr double kNumberLimit = 1e12;
// value * scale rounded to a whole number, value held within the limit; 0
// for a value that is not finite.
std::int64_t round_scaled(double value, double scale);

// Appends a whole number.
void append_integer(std::string& out, std::int64_t value);
// Appends value rounded to `decimals` places (0 to 6), without trailing
// zeros: 12.5, -0.283, 600.
void append_number(std::string& out, double value, int decimals);
// Appends thousandths as a number: 12500 gives 12.5. The writer keeps text
// positions in thousandths of a point, so moves add up without drift.
void append_thousandths(std::string& out, std::int64_t thousandths);
// Appends bytes as a literal string "(...)": parentheses and backslashes
// escaped, control bytes in octal, every other byte as it is.
void append_literal(std::string& out, std::string_view bytes);

// Document information text is PDFDocEncoding, which agrees with
// Windows-1252 except in 0x80-0x9F (and 0xA0, its euro sign).
std::string to_pdfdoc(std::string_view cp1252);

}  // namespace velarion::pdfwriter
