// The PDF drawing component: one document, drawn in millimetres with the
// origin at the top left corner of the page and y growing downwards; text is
// placed at its baseline. Text is Windows-1252 bytes (WinAnsiEncoding).
// Fonts: the base-14 names ("Courier", "Courier-Bold", "Helvetica-Oblique",
// "Times-Roman", ...), the resource names "/F0" to "/F11" of the font table,
// and names registered with AddFont/AddFontMONOSPACED.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace velarion {

// A failure of the drawing component (bad image, unknown font, write error).
class PdfError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Something the archival form of the document cannot hold (a CMYK picture
// under an sRGB output intent); the same thing is fine in an ordinary PDF.
class PdfArchivalRefusal : public PdfError {
public:
    using PdfError::PdfError;
};

// The archival form of a document (PDF/A-2b or 3b): every font embedded,
// XMP metadata matching the document information, an sRGB output intent.
struct PdfArchival {
    int part = 0;             // 2 or 3; 0: an ordinary PDF
    std::string icc_profile;  // path of the sRGB ICC profile of the output intent
    // TrueType files drawn in place of the base-14 fonts ("Courier-Bold" -> path);
    // a base-14 font without one cannot be used.
    std::map<std::string, std::string> base_fonts;
};

// A file carried inside the document (PDF/A-3: an associated file of the document).
struct PdfEmbeddedFile {
    std::string name;          // "factur-x.xml"
    std::string data;          // its bytes
    std::string mime_type;     // "text/xml"
    std::string relationship;  // "Data", "Alternative", "Source"
    std::string description;
};

class PdfDocument {
public:
    virtual ~PdfDocument() = default;

    // Opens an empty document with the given title.
    virtual void NewPDF(const std::string& title) = 0;
    virtual void SetViewMode(int mode) = 0;
    // Size of the pages appended from now on (mm). Default 210 x 297.
    virtual void SetPageDimensions(double width_mm, double height_mm) = 0;
    // Appends a page, which becomes the current one.
    virtual void addpage() = 0;
    virtual int page_count() const = 0;

    virtual void SetFontName(const std::string& name) = 0;
    virtual std::string FontName() const = 0;
    virtual void SetFONTHEIGHT(double points) = 0;
    virtual double FONTHEIGHT() const = 0;
    virtual void SetParagraphAlignment(const std::string& alignment) = 0;
    virtual void SetParagraphLeading(double mm) = 0;
    virtual void SetParagraphWidth(double mm) = 0;

    // Registers a TrueType font file under a name; false when the file is refused.
    virtual bool AddFont(const std::string& name, const std::string& path) = 0;
    virtual bool AddFontMONOSPACED(const std::string& name, const std::string& path,
                                   int glyph_width) = 0;

    // Imports a JPEG once; the returned resource name is valid for the whole
    // document. Throws PdfError when the file is missing or not a JPEG,
    // PdfArchivalRefusal for a CMYK picture in an archival document.
    virtual std::string ImportImageAsResource(const std::string& jpeg_path, int quality) = 0;
    virtual void DrawImageResource(const std::string& resource, double x, double y, double width,
                                   double height) = 0;

    // The bytes of a file, given once a document asks for them: nullopt
    // when the file is missing or refused.
    using FileBytes = std::function<std::optional<std::string>()>;
    // The same two from bytes the caller reads (a style's file, opened once
    // through the confined open and read from that descriptor), known by
    // `name` (the path): a picture or font file imported under a name before
    // costs no read. The defaults read the file by its name (test doubles).
    virtual std::string ImportImage(const std::string& name, const FileBytes&, int quality) {
        return ImportImageAsResource(name, quality);
    }
    virtual bool AddFontData(const std::string& font, const std::string& name, const FileBytes&,
                             int glyph_width) {
        return glyph_width > 0 ? AddFontMONOSPACED(font, name, glyph_width) : AddFont(font, name);
    }

    // Writes text with its baseline at (x, y) in the current font, size,
    // fill colour and inclination.
    virtual void TextOut(const std::string& text, double x, double y) = 0;
    // Width of text in mm for the current font and size.
    virtual double GetTextBoxWidth(const std::string& text) = 0;
    virtual void SetTextInclinationDegrees(double degrees) = 0;

    virtual void SetFillColor(int red, int green, int blue) = 0;
    virtual void SetLineColor(int red, int green, int blue) = 0;
    virtual void SetLineWidthHiPrec(double width_mm) = 0;
    // A line of the given width from (xa, ya) to (xb, yb): both x before both y.
    virtual void DrawLine(double width_mm, double xa, double xb, double ya, double yb) = 0;
    // The same with the width last set by SetLineWidthHiPrec.
    virtual void DrawLineHiPrec(double xa, double xb, double ya, double yb) = 0;
    // Rectangle with its top left corner at (x, y): filled with the fill
    // colour and/or outlined with the line colour at line_width.
    virtual void DrawRect(double x, double y, double width, double height, bool fill,
                          bool outline, double line_width) = 0;

    virtual void SetAUTHOR(const std::string& author) = 0;
    virtual std::string Keywords() const = 0;
    virtual void SetKeywords(const std::string& keywords) = 0;

    // Makes the document archival; told after NewPDF, before the first page
    // or picture. Throws PdfError when it comes too late.
    virtual void SetArchival(const PdfArchival& /*archival*/) { throw PdfError("PDF/A is not supported"); }
    // The archival form asked for, part 0 when none.
    virtual PdfArchival Archival() const { return {}; }
    // A file embedded in the document, listed among its associated files.
    virtual void EmbedFile(const PdfEmbeddedFile& /*file*/) { throw PdfError("embedded files are not supported"); }
    // rdf:Description elements added to the XMP metadata of an archival
    // document (an extension schema and its properties).
    virtual void AddXmpDescriptions(const std::string& /*rdf*/) {}

    // Writes the document to path (complete when it returns). Throws PdfError.
    virtual void SavePDF(const std::string& path) = 0;
    // The folder the document will be saved in, told before its first page:
    // the document grows there, unnamed, and saving it needs no copy.
    // Without it (or where that fails) the system's temporary folder serves.
    virtual void SetOutputFolder(const std::string& /*folder*/) {}
};

// The font table of the print files and overlays: the base-14 name of "/F0"
// to "/F11" (Courier, Helvetica and Times, plain, bold, oblique, bold
// oblique); "Courier" for any other number.
const char* font_table_name(int number);

// A new drawing object: the streaming PDF writer.
std::unique_ptr<PdfDocument> make_pdf_document();

}  // namespace velarion
