// Built-in bar renderer: draws the string that a barcode font would show
// (the encoders' output) as filled rectangles, with the same character
// mapping as the fonts, so barcodes scan without the barcode font installed.
#pragma once

#include <string>
#include <vector>

namespace velarion {

class PdfDocument;

enum class BarSymbology { Code128, Code39, I2of5 };

// The symbology whose font characters the encoder of a "tipo" writes
// ("code39", "ean128", "code128", "code128a/b/c", "i2of5", lower case);
// false for a kind that is printed unencoded.
bool SymbologyForKind(const std::string& kind, BarSymbology& out);

// Element widths in modules, bar first, alternating bar and space, for the
// font string (quiet zones not included). Unknown characters are skipped.
std::vector<int> BarModules(BarSymbology symbology, const std::string& encoded);

// Size of a rendered barcode for a font size in points (mm).
double BarModuleWidth(double size_points);
double BarHeight(double size_points);
inline constexpr int kQuietZoneModules = 10;

// Draws the bars with the fill colour in force: the run starts at x (with its
// left quiet zone) and stands on the baseline y, rotated counter-clockwise by
// angle (rounded to a quarter turn, as the bars are axis-aligned rectangles).
void DrawBars(PdfDocument& doc, BarSymbology symbology, const std::string& encoded, double x,
              double y, double size_points, double angle);

}  // namespace velarion
