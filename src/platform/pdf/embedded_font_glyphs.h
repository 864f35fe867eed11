// The glyphs and widths an embedded font program gives the codes of a simple
// PDF font (TrueType, Type 1, CFF), read with FreeType: what a PDF/A check
// compares the font dictionary's widths with.
#pragma once

#include <array>
#include <optional>
#include <string>

namespace velarion::embedded_font {

// How the font dictionary maps codes to glyphs.
struct Encoding {
    enum class Base { none, win_ansi, mac_roman, standard } base = Base::none;
    std::array<std::string, 256> differences;  // glyph names of /Differences, "" where none
    bool truetype = false;
    bool symbolic = false;  // flag 3 of the font descriptor
};

// What the program gives one code.
struct Glyph {
    bool known = false;  // false: the mapping could not be followed (nothing can be said)
    unsigned index = 0;  // 0: the missing glyph (.notdef)
    int width = 0;       // advance in thousandths of the font size
};

// The glyphs of the 256 codes; nullopt when FreeType cannot read the program.
std::optional<std::array<Glyph, 256>> glyphs(const std::string& program, const Encoding& encoding);

}  // namespace velarion::embedded_font
