// Barcode settings (barcode.ini) and the drawing of a barcode piece.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/file_problem.h"
#include "layout/style.h"
#include "platform/os/ini_file.h"

namespace velarion {

struct Runtime;
struct StyleSettings;
struct OverlayState;
class PdfDocument;

// A barcode section as the drawing takes it, made once by ReadBarcodeSettings:
// a value that is no number reads as its default (0 degrees, 12 points, the
// piece's own position, no colour, no picture). A section without a font
// file is the Code 39 font at 0 degrees and 12 points.
struct BarcodeValues {
    std::string font_file;   // "nomefilefont": a TrueType file, or a built-in tag "F0" to "F11"
    std::string font_name;   // "descrizionefont"; "/F0" to "/F11" for a built-in tag
    std::string kind;        // "tipo" in lower case: "code39", "code128", ...; else the data is written as it is
    std::string fixed_text;  // "stringafissa": written instead of the data ("" for none)
    double angle = 0;  // "orientamento"
    double size = 12;  // "dimfont", above 0 and up to 600
    std::optional<double> x, y;  // "margsx", "margdown"
    std::optional<Rgb> colour;   // "colore"
    struct Picture {
        double height = 0, width = 0, x = 0, top = 0;
        std::string file;  // "immaginebarcodenomefile", in the logo folder
    };
    std::optional<Picture> picture;  // picture mode with all six keys and four numbers

    // The font is one of the built-in ones.
    bool builtin_font() const { return !font_file.empty() && font_file[0] == 'F' && font_file.size() < 4; }
};

// The barcode record of a message: the section a "///B" line names and what
// the last read made of it.
struct BarcodeRecord {
    std::string section;   // of the barcode file ("C39")
    BarcodeValues values;  // made by each read
    // Values of the barcode file that could not be used, each once (for the style checker).
    std::vector<FileProblem> problems;

    // The barcode file as the run last read it (rt.ini_files): read again
    // only when the file changed on disk.
    std::shared_ptr<const ini::IniContents> file;

    // The agent's messages look the file up once (a confined open) for all
    // their barcodes; a file refused is looked up, and its line given, each
    // time as without.
    bool keep_for_message = false;
    std::string looked_up;  // the file name looked up for `file`, "" for none kept
    std::string file_path;  // where it was found
};

// Fills the record from the section it names of the barcode
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
