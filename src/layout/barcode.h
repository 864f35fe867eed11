// Barcode settings (barcode.ini) and the drawing of a barcode piece.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "common/file_problem.h"
#include "layout/style.h"
#include "platform/ini_file.h"

namespace velarion {

struct Runtime;
struct StyleSettings;
struct OverlayState;
class PdfDocument;

// The numbers and the colour of a barcode record as the drawing takes them,
// made once by ReadBarcodeSettings: a value that is no number reads as its
// default (0 degrees, 12 points, the piece's own position, no colour, no
// picture).
struct BarcodeValues {
    double angle = 0;  // "orientamento"
    double size = 12;  // "dimfont", above 0 and up to 600
    std::optional<double> x, y;  // "margsx", "margdown"
    std::optional<Rgb> colour;   // "colore"
    struct Picture {
        double height = 0, width = 0, x = 0, top = 0;
    };
    std::optional<Picture> picture;  // picture mode with all six keys and four numbers
};

// The 18 text fields of the barcode record; index 1 to 18 as numbered.
struct BarcodeRecord {
    std::array<std::string, 19> field;
    BarcodeValues values;  // made from the fields by each read
    // Values of the barcode file that could not be used, each once (for the style checker).
    std::vector<FileProblem> problems;

    // The barcode file as last read, for the next barcode: read again only
    // when another file is named or the file changed on disk.
    std::string file_path;
    ini::IniContents file;
};

// Fills the record from the section named in its field[1] of the barcode
// file ("filebarcode_ini" of the current style, else "barcode.ini", in the logo
// directory); image_section names the section of the picture keys.
void ReadBarcodeSettings(const Runtime& rt, const StyleSettings& style, BarcodeRecord& record,
                         const std::string& image_section);
// Draws one barcode piece at (x, y) (baseline) with the record last read: the
// data is encoded by "tipo" and written in the barcode font when its file is
// found (registered once per document), else drawn as bars with the fill
// colour in force. Throws PdfError when the drawing component fails.
void DrawBarcode(const Runtime& rt, BarcodeRecord& record, OverlayState& state, PdfDocument& doc,
                 std::string data, double x, double y);

}  // namespace velarion
