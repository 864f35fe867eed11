// A TrueType font read for embedding in a PDF with WinAnsiEncoding: its
// name, the widths of the 256 codes and the descriptor figures (read with
// FreeType), and its font file, which is embedded as a subset (HarfBuzz)
// with the outlines of the glyphs a document uses. Used by the PDF writer
// only.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace velarion::pdfwriter {

// The Windows-1252 codes without a character; WinAnsiEncoding names no
// glyph for them, so the font dictionary maps them to "space".
inline constexpr unsigned char kUnassignedCodes[6] = {0x7F, 0x81, 0x8D, 0x8F, 0x90, 0x9D};

// The Unicode character WinAnsiEncoding gives a code; 0 below 0x20. The
// codes of kUnassignedCodes are drawn as a space, the width the writer
// measures them with for the base fonts too: a glyph every font has, never
// the missing glyph.
char32_t winansi_to_unicode(unsigned code);

struct TrueTypeFont {
    std::string name;  // PostScript name, for BaseFont and FontName
    // Advance of each WinAnsi code in thousandths of the font size; codes
    // without a glyph have the width of the missing glyph.
    std::array<std::uint16_t, 256> widths{};
    std::array<std::uint16_t, 256> glyphs{};  // glyph of each code, 0 = none
    int missing_width = 0;
    int ascent = 0, descent = 0, cap_height = 0, x_height = 0;  // thousandths
    std::array<int, 4> bbox{};                                   // thousandths
    double italic_angle = 0;
    bool roman_cmap = false;  // codes looked up by byte in a Macintosh Roman map
    std::string file;         // the font file as read
};

// nullopt when the file cannot be read or is no TrueType-outline font with
// a Unicode or Roman character map (as with symbol fonts, OpenType fonts
// with PostScript outlines or fonts that lack the tables an embedded font
// needs).
std::optional<TrueTypeFont> read_truetype_font(const std::string& path);
// The same on the file's bytes, read by the caller.
std::optional<TrueTypeFont> truetype_font_of(std::string file);

// The font program with the outlines of the glyphs of the codes in `used`
// (and of the parts of composite glyphs and the missing glyph); every other
// glyph is left empty, so glyph numbers stay as they are. The whole font
// file when the subsetter refuses it.
std::string font_program(const TrueTypeFont& font, const std::array<bool, 256>& used);

}  // namespace velarion::pdfwriter
