#include "platform/pdf/truetype_font.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H
#include FT_TRUETYPE_TABLES_H
#include FT_TRUETYPE_TAGS_H
#include <hb-subset.h>
#include <hb.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <string_view>

namespace velarion::pdfwriter {

namespace {

struct LibraryDeleter {
    void operator()(FT_Library lib) const { FT_Done_FreeType(lib); }
};
struct FaceDeleter {
    void operator()(FT_Face face) const { FT_Done_Face(face); }
};

}  // namespace

char32_t winansi_to_unicode(unsigned code) {
    static const char32_t high[32] = {
        0x20AC, 0x20,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x20,   0x017D, 0x20,
        0x20,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x20,   0x017E, 0x0178};
    if (code < 0x20) return 0;
    if (code == 0x7F) return 0x20;
    if (code >= 0x80 && code <= 0x9F) return high[code - 0x80];
    return code;
}

namespace {

bool has_table(FT_Face face, FT_ULong tag) {
    FT_ULong length = 0;
    return FT_Load_Sfnt_Table(face, tag, 0, nullptr, &length) == 0 && length > 0;
}

// The tables an embedded font program consists of (cvt, fpgm and prep only
// where the font has them); the subset drops every other.
constexpr FT_ULong kProgramTables[] = {TTAG_OS2,  TTAG_cmap, TTAG_cvt,  TTAG_fpgm, TTAG_glyf,
                                       TTAG_head, TTAG_hhea, TTAG_hmtx, TTAG_loca, TTAG_maxp,
                                       TTAG_name, TTAG_post, TTAG_prep};

struct BlobDeleter {
    void operator()(hb_blob_t* b) const { hb_blob_destroy(b); }
};
struct HbFaceDeleter {
    void operator()(hb_face_t* f) const { hb_face_destroy(f); }
};
struct SubsetInputDeleter {
    void operator()(hb_subset_input_t* i) const { hb_subset_input_destroy(i); }
};
using Blob = std::unique_ptr<hb_blob_t, BlobDeleter>;
using HbFace = std::unique_ptr<hb_face_t, HbFaceDeleter>;

// The character map the widths are looked up in: Windows Unicode first,
// then Macintosh Roman (looked up by the low byte), then Unicode.
bool select_charmap(FT_Face face, bool& by_byte) {
    FT_CharMap windows = nullptr, roman = nullptr, unicode = nullptr;
    for (FT_Int i = 0; i < face->num_charmaps; ++i) {
        FT_CharMap m = face->charmaps[i];
        if (m->platform_id == 3 && m->encoding_id == 1) windows = m;
        else if (m->platform_id == 1 && m->encoding_id == 0) roman = m;
        else if (m->platform_id == 0 && m->encoding_id == 3) unicode = m;
    }
    FT_CharMap chosen = windows ? windows : roman ? roman : unicode;
    if (!chosen || FT_Set_Charmap(face, chosen) != 0) return false;
    by_byte = chosen == roman;
    return true;
}

}  // namespace

std::optional<TrueTypeFont> read_truetype_font(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) return std::nullopt;
    return truetype_font_of(std::move(file));
}

std::optional<TrueTypeFont> truetype_font_of(std::string file) {
    if (file.size() < 12) return std::nullopt;
    TrueTypeFont font;
    FT_Library raw_lib = nullptr;
    if (FT_Init_FreeType(&raw_lib) != 0) return std::nullopt;
    std::unique_ptr<FT_LibraryRec_, LibraryDeleter> lib(raw_lib);
    FT_Face raw_face = nullptr;
    if (FT_New_Memory_Face(lib.get(), reinterpret_cast<const FT_Byte*>(file.data()),
                           static_cast<FT_Long>(file.size()), 0, &raw_face) != 0)
        return std::nullopt;
    std::unique_ptr<FT_FaceRec_, FaceDeleter> face(raw_face);

    // TrueType outlines and the tables an embedded font program needs.
    if (!FT_IS_SFNT(face.get()) || face->units_per_EM == 0) return std::nullopt;
    for (FT_ULong tag : {TTAG_glyf, TTAG_loca, TTAG_head, TTAG_hhea, TTAG_hmtx, TTAG_maxp, TTAG_name,
                         TTAG_post, TTAG_OS2, TTAG_cmap})
        if (!has_table(face.get(), tag)) return std::nullopt;
    bool by_byte = false;
    if (!select_charmap(face.get(), by_byte)) return std::nullopt;

    const long em = face->units_per_EM;
    auto thousandths = [em](long units) { return static_cast<int>(units * 1000 / em); };
    auto advance = [&](FT_UInt glyph) {
        FT_Fixed units = 0;
        if (FT_Get_Advance(face.get(), glyph, FT_LOAD_NO_SCALE, &units) != 0) units = 0;
        return static_cast<std::uint16_t>(static_cast<unsigned long>(units) * 1000 / em);
    };
    font.missing_width = advance(0);
    for (unsigned code = 0; code < 256; ++code) {
        const char32_t u = winansi_to_unicode(code);
        FT_UInt glyph = 0;
        if (u != 0) glyph = FT_Get_Char_Index(face.get(), by_byte ? (u & 0xFF) : u);
        if (glyph >= static_cast<FT_UInt>(face->num_glyphs)) glyph = 0;
        font.glyphs[code] = static_cast<std::uint16_t>(glyph);
        font.widths[code] = glyph != 0 ? advance(glyph) : static_cast<std::uint16_t>(font.missing_width);
    }

    const char* ps = FT_Get_Postscript_Name(face.get());
    font.name = ps && *ps ? ps : "TrueTypeFont";
    for (char& c : font.name)  // a PDF name without delimiters or blanks
        if (c <= ' ' || c > '~' || std::string_view("()<>[]{}/%#").find(c) != std::string_view::npos) c = '-';

    const auto* hhea = static_cast<const TT_HoriHeader*>(FT_Get_Sfnt_Table(face.get(), FT_SFNT_HHEA));
    const auto* post = static_cast<const TT_Postscript*>(FT_Get_Sfnt_Table(face.get(), FT_SFNT_POST));
    if (hhea) {
        font.ascent = thousandths(hhea->Ascender);
        font.descent = thousandths(hhea->Descender);
        if (font.descent > 0) font.descent = -font.descent;
    }
    if (post) font.italic_angle = post->italicAngle / 65536.0;
    font.bbox = {thousandths(face->bbox.xMin), thousandths(face->bbox.yMin), thousandths(face->bbox.xMax),
                 thousandths(face->bbox.yMax)};
    // Cap and x height: the tops of "H" and "x".
    auto top = [&](char32_t c) {
        const FT_UInt glyph = FT_Get_Char_Index(face.get(), c);
        if (glyph == 0 || FT_Load_Glyph(face.get(), glyph, FT_LOAD_NO_SCALE) != 0) return 0;
        return thousandths(face->glyph->metrics.horiBearingY);
    };
    font.cap_height = top('H');
    font.x_height = top('x');

    font.roman_cmap = by_byte;
    font.file = std::move(file);
    return font;
}

// HarfBuzz's subsetter keeps the outlines of the used glyphs (with the parts
// of composite glyphs and the missing glyph) and keeps every glyph at its
// number, so the widths and character codes of the font dictionary stay
// true. The character map keeps the used characters; a Macintosh Roman map
// (looked up by byte) is kept whole, as HarfBuzz writes Unicode maps only.
std::string font_program(const TrueTypeFont& font, const std::array<bool, 256>& used) {
    Blob blob(hb_blob_create(font.file.data(), static_cast<unsigned>(font.file.size()), HB_MEMORY_MODE_READONLY,
                             nullptr, nullptr));
    HbFace face(hb_face_create(blob.get(), 0));
    std::unique_ptr<hb_subset_input_t, SubsetInputDeleter> input(hb_subset_input_create_or_fail());
    if (!input) return font.file;
    hb_set_t* glyphs = hb_subset_input_glyph_set(input.get());
    hb_set_t* unicodes = hb_subset_input_unicode_set(input.get());
    hb_set_add(glyphs, 0);
    for (unsigned code = 0; code < 256; ++code) {
        if (!used[code]) continue;
        hb_set_add(glyphs, font.glyphs[code]);
        if (const char32_t u = winansi_to_unicode(code)) hb_set_add(unicodes, u);
    }
    hb_set_t* drop = hb_subset_input_set(input.get(), HB_SUBSET_SETS_DROP_TABLE_TAG);
    hb_tag_t tags[64];
    unsigned start = 0, count = 64;
    while (hb_face_get_table_tags(face.get(), start, &count, tags), count > 0) {
        for (unsigned i = 0; i < count; ++i)
            if (std::find(std::begin(kProgramTables), std::end(kProgramTables), tags[i]) == std::end(kProgramTables))
                hb_set_add(drop, tags[i]);
        start += count;
        count = 64;
    }
    if (font.roman_cmap) hb_set_add(hb_subset_input_set(input.get(), HB_SUBSET_SETS_NO_SUBSET_TABLE_TAG), TTAG_cmap);
    hb_subset_input_set_flags(input.get(), HB_SUBSET_FLAGS_RETAIN_GIDS | HB_SUBSET_FLAGS_NOTDEF_OUTLINE |
                                               HB_SUBSET_FLAGS_GLYPH_NAMES);
    // A font the subsetter cannot take is embedded whole rather than not at all.
    HbFace subset(hb_subset_or_fail(face.get(), input.get()));
    if (!subset) return font.file;
    Blob out(hb_face_reference_blob(subset.get()));
    unsigned length = 0;
    const char* data = hb_blob_get_data(out.get(), &length);
    return data && length > 0 ? std::string(data, length) : font.file;
}

}  // namespace velarion::pdfwriter
