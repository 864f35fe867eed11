#include "platform/pdf/embedded_font_glyphs.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H

#include <memory>

#include "platform/pdf/truetype_font.h"

namespace velarion::embedded_font {

namespace {

struct LibraryDeleter {
    void operator()(FT_Library lib) const { FT_Done_FreeType(lib); }
};
struct FaceDeleter {
    void operator()(FT_Face face) const { FT_Done_Face(face); }
};

FT_CharMap charmap(FT_Face face, int platform, int encoding) {
    for (FT_Int i = 0; i < face->num_charmaps; ++i)
        if (face->charmaps[i]->platform_id == platform && face->charmaps[i]->encoding_id == encoding)
            return face->charmaps[i];
    return nullptr;
}

FT_UInt index_in(FT_Face face, FT_CharMap map, FT_ULong code) {
    if (!map || FT_Set_Charmap(face, map) != 0) return 0;
    return FT_Get_Char_Index(face, code);
}

// The Unicode character of a code of the base encoding, 0 when it cannot be
// told here. StandardEncoding agrees with WinAnsiEncoding on the printable
// ASCII codes but the two quotes.
char32_t base_unicode(Encoding::Base base, unsigned code) {
    if (base == Encoding::Base::win_ansi) return pdfwriter::winansi_to_unicode(code);
    if ((base == Encoding::Base::standard || base == Encoding::Base::none) && code >= 0x20 && code < 0x7F &&
        code != 0x27 && code != 0x60)
        return code;
    return 0;
}

bool is_unassigned(unsigned code) {
    for (const unsigned char c : pdfwriter::kUnassignedCodes)
        if (c == code) return true;
    return false;
}

}  // namespace

std::optional<std::array<Glyph, 256>> glyphs(const std::string& program, const Encoding& encoding) {
    FT_Library raw_lib = nullptr;
    if (FT_Init_FreeType(&raw_lib) != 0) return std::nullopt;
    std::unique_ptr<FT_LibraryRec_, LibraryDeleter> lib(raw_lib);
    FT_Face raw_face = nullptr;
    if (FT_New_Memory_Face(lib.get(), reinterpret_cast<const FT_Byte*>(program.data()),
                           static_cast<FT_Long>(program.size()), 0, &raw_face) != 0)
        return std::nullopt;
    std::unique_ptr<FT_FaceRec_, FaceDeleter> face(raw_face);
    FT_Face f = face.get();
    if (f->units_per_EM == 0) return std::nullopt;

    const bool sfnt = FT_IS_SFNT(f);
    FT_CharMap unicode = charmap(f, 3, 1);
    if (!unicode) unicode = charmap(f, 0, 3);
    if (!unicode && !sfnt) {
        // Type 1 and CFF: FreeType's map from the glyph names.
        for (FT_Int i = 0; i < f->num_charmaps; ++i)
            if (f->charmaps[i]->encoding == FT_ENCODING_UNICODE) unicode = f->charmaps[i];
    }
    FT_CharMap symbol = charmap(f, 3, 0), roman = charmap(f, 1, 0);
    FT_CharMap builtin = nullptr;  // the built-in encoding of a Type 1 or CFF program
    for (FT_Int i = 0; i < f->num_charmaps; ++i)
        if (f->charmaps[i]->encoding == FT_ENCODING_ADOBE_CUSTOM || f->charmaps[i]->encoding == FT_ENCODING_ADOBE_STANDARD)
            builtin = f->charmaps[i];

    std::array<Glyph, 256> out{};
    for (unsigned code = 0; code < 256; ++code) {
        Glyph& g = out[code];
        FT_UInt index = 0;
        const std::string& name = encoding.differences[code];
        if (!name.empty() && FT_HAS_GLYPH_NAMES(f)) {
            index = FT_Get_Name_Index(f, name.c_str());
            g.known = true;
        } else if (encoding.truetype && (encoding.symbolic || encoding.base == Encoding::Base::none) && name.empty()) {
            // A symbolic TrueType font: the code itself in its (3,0) or (1,0) map.
            if (symbol) {
                index = index_in(f, symbol, code);
                if (!index) index = index_in(f, symbol, 0xF000 + code);
                g.known = true;
            } else if (roman) {
                index = index_in(f, roman, code);
                g.known = true;
            }
        } else if (name.empty() && !sfnt && encoding.base == Encoding::Base::none && builtin) {
            index = index_in(f, builtin, code);
            g.known = true;
        } else if (name.empty() && encoding.base == Encoding::Base::mac_roman && roman) {
            index = index_in(f, roman, code);
            g.known = true;
        } else if (name.empty() && encoding.base == Encoding::Base::win_ansi && is_unassigned(code)) {
            g.known = true;  // WinAnsiEncoding names no glyph: the missing glyph
        } else if (name.empty()) {
            const char32_t u = base_unicode(encoding.base, code);
            if (u && unicode) {
                index = index_in(f, unicode, u);
                g.known = true;
            }
        }
        if (index >= static_cast<FT_UInt>(f->num_glyphs)) index = 0;
        g.index = index;
        FT_Fixed units = 0;
        if (g.known && FT_Get_Advance(f, index, FT_LOAD_NO_SCALE, &units) == 0)
            g.width = static_cast<int>((units * 1000 + f->units_per_EM / 2) / f->units_per_EM);
    }
    return out;
}

}  // namespace velarion::embedded_font
