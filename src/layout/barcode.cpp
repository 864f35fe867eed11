#include "layout/barcode.h"

#include <strings.h>

#include <algorithm>
#include <cmath>

#include "common/runtime.h"
#include "layout/barcode_bars.h"
#include "layout/barcode_encoders.h"
#include "layout/code128.h"
#include "layout/overlay.h"
#include "layout/overlay_support.h"
#include "layout/style.h"
#include "platform/ini_file.h"
#include "platform/paths.h"
#include "platform/pdf_document.h"
#include "platform/text_encoding.h"

namespace velarion {

namespace {

const char* const kKeys[19] = {"",
                               "",
                               "nomefilefont",
                               "descrizionefont",
                               "orientamento",
                               "dimfont",
                               "margsx",
                               "margdown",
                               "tipo",
                               "monospazio",
                               "immaginebarcode",
                               "immaginebarcodealtezza",
                               "immaginebarcodelarghezza",
                               "immaginebarcodemargsx",
                               "immaginebarcodemargtop",
                               "immaginebarcodenomefile",
                               "immaginebarcodenomefileid",
                               "stringafissa",
                               "colore"};

// The barcode file: "filebarcode_ini" of the current style, else "barcode.ini",
// in the logo directory.
std::string barcode_file(const Runtime& rt, const StyleSettings& style) {
    std::string name = style.filebarcode_ini;
    if (name.empty()) name = "barcode.ini";
    return overlay::StyleFilePath(rt, overlay::InLogoDir(rt, name));
}

// A built-in font tag "F0" to "F11" (shorter than 4 characters, starting with "F").
bool is_font_tag(const std::string& name) { return !name.empty() && name[0] == 'F' && name.size() < 4; }

std::string encode(const std::string& kind, std::string data) {
    if (kind == "code39") return Code39(data);
    if (kind == "ean128") {
        std::string marked = std::string(1, kCode128Fnc1) + data;
        return Code128(marked, 0);
    }
    if (kind == "code128") return Code128(data, 0);
    if (kind == "code128a") return Code128a(data);
    if (kind == "code128b" || kind == "code128c") return Code128b(data);
    if (kind == "i2of5") return I2of5(data);
    return data;
}

// The typed values of the record's fields, and a problem for each value that
// is set but cannot be used (with its key's line in the barcode file).
void make_values(const Runtime& rt, BarcodeRecord& record, const std::string& file,
                 const std::vector<ini::IniEntry>& entries, const std::vector<ini::IniEntry>& picture_entries,
                 const std::string& image_section) {
    auto& field = record.field;
    BarcodeValues v;
    auto problem = [&](bool picture_key, const char* key, const std::string& what) {
        const auto& from = picture_key ? picture_entries : entries;
        int line = 0;
        std::string value;
        for (const auto& e : from)
            if (strcasecmp(e.key.c_str(), key) == 0) line = e.line, value = e.value;
        FileProblem p{file, line, "[" + (picture_key ? image_section : field[1]) + "] " + key + ": '" + value + "' " + what};
        if (std::find(record.problems.begin(), record.problems.end(), p) == record.problems.end())
            record.problems.push_back(std::move(p));
    };
    auto number = [&](const std::string& text) { return overlay::TryNumber(rt, text); };

    if (!field[18].empty()) {
        try {
            const overlay::Colour c = overlay::ParseColour(rt, field[18]);
            v.colour = Rgb{c.red, c.green, c.blue};
        } catch (const NumberedError&) {
            problem(false, "colore", "is not red,green,blue (no colour is set)");
        }
    }
    if (!field[4].empty()) {
        if (auto a = number(field[4])) v.angle = *a;
        else problem(false, "orientamento", "is not a number (read as 0)");
    }
    if (!field[5].empty()) {
        // The drawing component writes text of up to 600 points.
        const auto s = number(field[5]);
        if (s && *s > 0 && *s <= 600) v.size = *s;
        else problem(false, "dimfont", "is not a size above 0 and up to 600 (read as 12)");
    }
    if (!field[6].empty()) {
        v.x = number(field[6]);
        if (!v.x) problem(false, "margsx", "is not a number (the piece's own position is used)");
    }
    if (!field[7].empty()) {
        v.y = number(field[7]);
        if (!v.y) problem(false, "margdown", "is not a number (the row's position is used)");
    }
    bool picture = !field[10].empty();
    for (int i = 11; i <= 16; ++i) picture = picture && !field[i].empty();
    if (picture) {
        const auto h = number(field[11]), w = number(field[12]), px = number(field[13]), py = number(field[14]);
        if (h && w && px && py) {
            v.picture = BarcodeValues::Picture{*h, *w, *px, *py};
        } else {
            for (int i = 11; i <= 14; ++i)
                if (!number(field[i])) problem(true, kKeys[i], "is not a number (the barcode is drawn instead)");
        }
    }
    record.values = v;
}

}  // namespace

void ReadBarcodeSettings(const Runtime& rt, const StyleSettings& style, BarcodeRecord& record,
                         const std::string& image_section) {
    auto& field = record.field;
    // 1. Empty fields 2 to 16.
    for (int i = 2; i <= 16; ++i) field[i].clear();
    const std::string file = barcode_file(rt, style);
    // The file is read once for all the barcodes of a message (a barcode on
    // every line of a listing would otherwise read it once per line), and
    // again when it changes.
    const auto stamp = ini::stamp_of(file);
    if (file != record.file_path || !stamp || !record.file.read || !(*stamp == record.file.stamp)) {
        record.file = ini::read_all(file);
        record.file_path = file;
    }
    auto value_of = [](const std::vector<ini::IniEntry>& entries, const char* key) {
        for (const auto& e : entries)
            if (strcasecmp(e.key.c_str(), key) == 0) return e.value;
        return std::string();
    };
    auto section = [&](const std::string& name) {
        const ini::IniSection* s = record.file.section(name);
        return s ? s->entries : std::vector<ini::IniEntry>{};
    };
    // 2. Fields 2 to 10, 17 and 18 from the section of field 1.
    const auto entries = section(field[1]);
    for (int i : {2, 3, 4, 5, 6, 7, 8, 9, 10, 17, 18}) {
        const std::string value = value_of(entries, kKeys[i]);
        field[i] = i >= 4 ? NormalizeDecimal(rt, value) : value;
    }
    if (field[10].empty() || image_section.empty()) {
        // 3. Text mode.
        if (is_font_tag(field[2])) {
            std::string tag = "/F0";
            for (int n = 0; n <= 11; ++n)
                if (field[2] == "F" + std::to_string(n)) tag = "/F" + std::to_string(n);
            field[3] = tag;
        } else if (field[2].empty()) {
            field[2] = "IDAutomationHC39L.ttf";
            field[3] = "IDAutomationHC39L";
            field[4] = "0";
            field[5] = "12";
            field[8] = "code39";
            field[9] = "800";
        }
    } else {
        // 4. Picture mode: all six picture keys, or back to text mode.
        const auto picture = section(image_section);
        for (int i = 11; i <= 16; ++i) {
            const std::string value = value_of(picture, kKeys[i]);
            field[i] = i <= 14 ? NormalizeDecimal(rt, value) : value;
        }
        for (int i = 11; i <= 16; ++i)
            if (field[i].empty()) field[10].clear();
    }
    make_values(rt, record, file, entries, image_section.empty() ? std::vector<ini::IniEntry>{} : section(image_section),
                image_section);
}

// Settings that are not numbers fall back to the defaults of the record (0
// degrees, 12 points, the piece's own position) instead of ending the page.
void DrawBarcode(const Runtime& rt, BarcodeRecord& record, OverlayState& state, PdfDocument& doc,
                 std::string data, double x, double y) {
    auto& field = record.field;
    const BarcodeValues& v = record.values;

    // 1. Colour and fixed text.
    if (v.colour) doc.SetFillColor(v.colour->red, v.colour->green, v.colour->blue);
    if (!field[17].empty()) data = field[17];

    // Picture mode (read with all six picture keys): the picture stands in
    // for the barcode. A picture that cannot be drawn (malformed numbers, a
    // missing or unreadable file) leaves the barcode drawn as in text mode.
    if (const auto& p = v.picture) {
        // Read only below the logo folder or a read folder.
        const std::string file = overlay::InLogoDir(rt, field[15]);
        try {
            const std::string resource = doc.ImportImageAsResource(overlay::StyleFilePath(rt, file), 90);
            doc.DrawImageResource(resource, p->x, p->top, p->width, p->height);
            return;
        } catch (const PdfError&) {
        }
    }

    // 2. The font: a built-in tag, or the barcode font file when it is found
    // (registered once per document); without it the bars are drawn here.
    const std::string kind = text::lower(field[8]);
    BarSymbology symbology{};
    const bool has_bars = SymbologyForKind(kind, symbology);
    bool use_font = is_font_tag(field[2]);
    if (!use_font && !field[2].empty() && !field[3].empty()) {
        use_font = state.fonts.ensure(field[3], [&] {
            const std::string path = overlay::StyleFontPath(rt, field[2]);
            return !path.empty() && doc.AddFont(field[3], path);
        });
    }
    const std::string saved_font = doc.FontName();
    const double saved_height = doc.FONTHEIGHT();

    // 3. Rotation and size.
    if (field[4].empty()) field[4] = "0";
    const double angle = v.angle;
    const double size = v.size;

    // 4. Position.
    if (v.x) x = *v.x;
    if (v.y) y = *v.y;

    // 5. Encoding by kind; 6. drawing unless it is an empty Code 39.
    const std::string result = encode(kind, data);
    if (result != "!!") {
        if (use_font || !has_bars) {
            if (use_font) doc.SetFontName(field[3]);
            doc.SetTextInclinationDegrees(angle);
            doc.SetFONTHEIGHT(size);
            doc.TextOut(result, x, y);
        } else {
            DrawBars(doc, symbology, result, x, y, size, angle);
        }
    }

    // 7. Font, height and inclination as they were.
    if (doc.FontName() != saved_font && !saved_font.empty()) doc.SetFontName(saved_font);
    if (saved_height > 0) doc.SetFONTHEIGHT(saved_height);
    doc.SetTextInclinationDegrees(0);
}

}  // namespace velarion
