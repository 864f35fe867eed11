// Barcode settings (barcode.ini) and the drawing of a barcode piece.
#pragma once

#include <array>
#include <string>

namespace velarion {

struct Context;
class PdfDocument;

// The 18 text fields of the barcode record; index 1 to 18 as numbered.
struct BarcodeRecord {
    std::array<std::string, 19> field;
};

void ReadBarcodeSettings(Context& ctx, const std::string& image_section);
// Draws one barcode piece at (x, y) with the record last read.
void DrawBarcode(Context& ctx, PdfDocument& doc, std::string data, double x, double y);

}  // namespace velarion
