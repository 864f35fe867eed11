#include "platform/truetype_font.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H
#include FT_TRUETYPE_TABLES_H
#include FT_TRUETYPE_TAGS_H

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

// WinAnsiEncoding is Latin-1 except in 0x80-0x9F; 0 where it has no character.
char32_t winansi_to_unicode(unsigned code) {
    static const char32_t high[32] = {
        0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
        0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    if (code < 0x20 || code == 0x7F) return 0;
    if (code >= 0x80 && code <= 0x9F) return high[code - 0x80];
    return code;
}

bool has_table(FT_Face face, FT_ULong tag) {
    FT_ULong length = 0;
    return FT_Load_Sfnt_Table(face, tag, 0, nullptr, &length) == 0 && length > 0;
}

std::string load_table(FT_Face face, FT_ULong tag) {
    FT_ULong length = 0;
    if (FT_Load_Sfnt_Table(face, tag, 0, nullptr, &length) != 0 || length == 0) return {};
    std::string bytes(length, '\0');
    if (FT_Load_Sfnt_Table(face, tag, 0, reinterpret_cast<FT_Byte*>(bytes.data()), &length) != 0) return {};
    return bytes;
}

unsigned u16(std::string_view s, std::size_t at) {
    if (at + 2 > s.size()) return 0;
    return static_cast<unsigned char>(s[at]) << 8 | static_cast<unsigned char>(s[at + 1]);
}
std::uint32_t u32(std::string_view s, std::size_t at) {
    return static_cast<std::uint32_t>(u16(s, at)) << 16 | u16(s, at + 2);
}
void put16(std::string& s, std::size_t at, unsigned v) {
    s[at] = static_cast<char>(v >> 8);
    s[at + 1] = static_cast<char>(v);
}
void put32(std::string& s, std::size_t at, std::uint32_t v) {
    put16(s, at, v >> 16);
    put16(s, at + 2, v & 0xFFFF);
}
void append32(std::string& s, std::uint32_t v) {
    s.resize(s.size() + 4);
    put32(s, s.size() - 4, v);
}
std::uint32_t checksum(std::string_view s) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < s.size(); i += 4) {
        std::uint32_t word = 0;
        for (std::size_t k = 0; k < 4; ++k)
            word = word << 8 | (i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : 0u);
        sum += word;
    }
    return sum;
}

// The tables an embedded font program consists of (the ones after glyf
// only where the font has them), in tag order.
constexpr FT_ULong kProgramTables[] = {TTAG_OS2,  TTAG_cmap, TTAG_cvt,  TTAG_fpgm, TTAG_glyf,
                                       TTAG_head, TTAG_hhea, TTAG_hmtx, TTAG_loca, TTAG_maxp,
                                       TTAG_name, TTAG_post, TTAG_prep};

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
    TrueTypeFont font;
    std::string file;
    {
        std::ifstream in(path, std::ios::binary);
        if (!in) return std::nullopt;
        file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad() || file.size() < 12) return std::nullopt;
    }
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

    font.glyph_count = static_cast<int>(face->num_glyphs);
    for (FT_ULong tag : kProgramTables) {
        std::string bytes = load_table(face.get(), tag);
        if (!bytes.empty()) font.tables.emplace_back(static_cast<std::uint32_t>(tag), std::move(bytes));
    }
    const std::string* head = nullptr;
    for (const auto& [tag, bytes] : font.tables)
        if (tag == TTAG_head) head = &bytes;
    if (!head || head->size() < 54) return std::nullopt;
    font.long_loca = u16(*head, 50) != 0;
    return font;
}

// Hand-written: HarfBuzz's subsetter could do it but is not among the
// program's libraries, and only a small part of it is needed here. The glyph
// table is rebuilt with the outlines of the used glyphs, the location table
// with it, and the table directory around the kept tables, as the TrueType
// format lays them out.
std::string font_program(const TrueTypeFont& font, const std::array<bool, 256>& used) {
    auto find = [&](std::uint32_t tag) -> std::string_view {
        for (const auto& [t, bytes] : font.tables)
            if (t == tag) return bytes;
        return {};
    };
    const std::string_view glyf = find(TTAG_glyf), loca = find(TTAG_loca);
    const auto count = static_cast<unsigned>(font.glyph_count);
    auto range = [&](unsigned glyph) -> std::pair<std::size_t, std::size_t> {
        std::size_t from = font.long_loca ? u32(loca, 4 * glyph) : 2u * u16(loca, 2 * glyph);
        std::size_t to = font.long_loca ? u32(loca, 4 * glyph + 4) : 2u * u16(loca, 2 * glyph + 2);
        if (to > glyf.size()) to = glyf.size();
        if (from > to) from = to;
        return {from, to};
    };

    // The used glyphs, the missing glyph, and the parts of composite glyphs.
    std::vector<bool> keep(count, false);
    std::vector<unsigned> pending = {0};
    for (unsigned code = 0; code < 256; ++code)
        if (used[code]) pending.push_back(font.glyphs[code]);
    while (!pending.empty()) {
        const unsigned glyph = pending.back();
        pending.pop_back();
        if (glyph >= count || keep[glyph]) continue;
        keep[glyph] = true;
        const auto [from, to] = range(glyph);
        if (to - from < 10 || static_cast<std::int16_t>(u16(glyf, from)) >= 0) continue;
        for (std::size_t at = from + 10; at + 4 <= to;) {
            const unsigned flags = u16(glyf, at);
            pending.push_back(u16(glyf, at + 2));
            at += 4 + ((flags & 0x0001) ? 4 : 2);          // two arguments, words or bytes
            at += (flags & 0x0008) ? 2 : (flags & 0x0040) ? 4 : (flags & 0x0080) ? 8 : 0;  // transform
            if (!(flags & 0x0020)) break;                  // no more components
        }
    }

    std::string new_glyf, new_loca;
    new_loca.reserve(4 * (count + 1));
    for (unsigned glyph = 0; glyph < count; ++glyph) {
        append32(new_loca, static_cast<std::uint32_t>(new_glyf.size()));
        if (!keep[glyph]) continue;
        const auto [from, to] = range(glyph);
        new_glyf.append(glyf.substr(from, to - from));
        new_glyf.resize((new_glyf.size() + 3) & ~std::size_t{3});
    }
    append32(new_loca, static_cast<std::uint32_t>(new_glyf.size()));

    std::vector<std::pair<std::uint32_t, std::string>> tables;
    std::size_t head_index = 0;
    for (const auto& [tag, bytes] : font.tables) {
        if (tag == TTAG_glyf) tables.emplace_back(tag, new_glyf);
        else if (tag == TTAG_loca) tables.emplace_back(tag, new_loca);
        else tables.emplace_back(tag, bytes);
        if (tag == TTAG_head) {
            head_index = tables.size() - 1;
            std::string& head = tables.back().second;
            put32(head, 8, 0);  // checkSumAdjustment, set below
            put16(head, 50, 1); // indexToLocFormat: 32-bit offsets
        }
    }

    const auto n = static_cast<unsigned>(tables.size());
    unsigned power = 1, log2 = 0;
    while (power * 2 <= n) power *= 2, ++log2;
    std::string out;
    append32(out, 0x00010000);
    out.resize(12);
    put16(out, 4, n);
    put16(out, 6, power * 16);
    put16(out, 8, log2);
    put16(out, 10, n * 16 - power * 16);
    std::size_t offset = 12 + 16 * n;
    std::size_t head_offset = 0;
    for (std::size_t i = 0; i < tables.size(); ++i) {
        const auto& [tag, bytes] = tables[i];
        append32(out, tag);
        append32(out, checksum(bytes));
        append32(out, static_cast<std::uint32_t>(offset));
        append32(out, static_cast<std::uint32_t>(bytes.size()));
        if (i == head_index) head_offset = offset;
        offset += (bytes.size() + 3) & ~std::size_t{3};
    }
    for (const auto& [tag, bytes] : tables) {
        out += bytes;
        out.resize((out.size() + 3) & ~std::size_t{3});
    }
    put32(out, head_offset + 8, 0xB1B0AFBAu - checksum(out));
    return out;
}

}  // namespace velarion::pdfwriter
