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
#include "platform/os/ini_file.h"
#include "platform/os/paths.h"
#include "platform/pdf/pdf_document.h"
#include "platform/os/text_encoding.h"

namespace velarion {

namespace {

// The barcode file: "filebarcode_ini" of the current style, else "barcode.ini",
// in the logo directory; its path as StyleFilePath gives it, and its contents
// from the run's cache. The file is read once for all the barcodes of the
// run (a barcode on every line of a listing would otherwise read it once per
// line), and again when it changes; opened through the confined open, with
// no link followed, and read from that descriptor.
void look_up_barcode_file(const Runtime& rt, const StyleSettings& style, BarcodeRecord& record) {
    std::string name = style.filebarcode_ini;
    if (name.empty()) name = "barcode.ini";
    const std::string wanted = overlay::InLogoDir(rt, name);
    if (record.keep_for_message && record.file && record.looked_up == wanted) return;
    const std::vector<std::string> roots = overlay::StyleRoots(rt);
    std::string path = paths::resolve(wanted);
    if (path.empty()) path = wanted;
    record.file = rt.ini_files.get(path, roots);
    record.looked_up.clear();
    // Refused by the open: the line only where StyleFilePath would say it
    // (outside the folders, a hard link), not for a FIFO or a folder there.
    if (record.file->refused && !safe_path::readable_below(path, roots)) {
        rt.list.add(" File di stile fuori dalle cartelle ammesse " + wanted);
        path.clear();
    } else if (!record.file->refused) {
        record.looked_up = wanted;
    }
    record.file_path = path;
}

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

// Where the problems of one read go: each once, with its key's line.
class BarcodeProblems {
public:
    BarcodeProblems(BarcodeRecord& record, const std::string& file, const ini::IniSection* section,
                    const ini::IniSection* picture, const std::string& picture_name)
        : record_(record), file_(file), section_(section), picture_(picture), picture_name_(picture_name) {}

    void add(bool picture_key, const char* key, const std::string& what) const {
        const ini::IniSection* from = picture_key ? picture_ : section_;
        int line = 0;
        std::string value;
        if (from)
            for (const auto& e : from->entries)
                if (strcasecmp(e.key.c_str(), key) == 0) line = e.line, value = e.value;
        FileProblem p{file_, line, "[" + (picture_key ? picture_name_ : record_.section) + "] " + key + ": '" + value + "' " + what};
        if (std::find(record_.problems.begin(), record_.problems.end(), p) == record_.problems.end())
            record_.problems.push_back(std::move(p));
    }

private:
    BarcodeRecord& record_;
    const std::string& file_;
    const ini::IniSection* section_;
    const ini::IniSection* picture_;
    const std::string& picture_name_;
};

std::string value_of(const ini::IniSection* section, const char* key) {
    if (section)
        for (const auto& e : section->entries)
            if (strcasecmp(e.key.c_str(), key) == 0) return e.value;
    return "";
}

}  // namespace

void ReadBarcodeSettings(const Runtime& rt, const StyleSettings& style, BarcodeRecord& record,
                         const std::string& image_section) {
    look_up_barcode_file(rt, style, record);
    const std::string& file = record.file_path;
    const ini::IniSection* section = record.file->section(record.section);
    const ini::IniSection* picture_section = image_section.empty() ? nullptr : record.file->section(image_section);
    const BarcodeProblems problem(record, file, section, picture_section, image_section);
    // Every value but the font's is written with the installation's decimal separator.
    auto key = [&](const char* name) { return NormalizeDecimal(rt, value_of(section, name)); };
    auto number = [&](const std::string& text) { return overlay::TryNumber(rt, text); };

    BarcodeValues v;
    v.font_file = value_of(section, "nomefilefont");
    v.font_name = value_of(section, "descrizionefont");
    std::string angle = key("orientamento"), size = key("dimfont");
    v.kind = text::lower(key("tipo"));
    v.fixed_text = key("stringafissa");
    const std::string colour = key("colore");
    bool picture = !key("immaginebarcode").empty() && !image_section.empty();
    if (!picture) {
        // Text mode: a built-in tag, or the Code 39 font when none is named.
        if (v.builtin_font()) {
            v.font_name = "/F0";
            for (int n = 0; n <= 11; ++n)
                if (v.font_file == "F" + std::to_string(n)) v.font_name = "/F" + std::to_string(n);
        } else if (v.font_file.empty()) {
            v.font_file = "IDAutomationHC39L.ttf";
            v.font_name = "IDAutomationHC39L";
            angle = "0";
            size = "12";
            v.kind = "code39";
        }
    }

    if (!colour.empty()) {
        try {
            const overlay::Colour c = overlay::ParseColour(rt, colour);
            v.colour = Rgb{c.red, c.green, c.blue};
        } catch (const NumberedError&) {
            problem.add(false, "colore", "is not red,green,blue (no colour is set)");
        }
    }
    if (!angle.empty()) {
        if (auto a = number(angle)) v.angle = *a;
        else problem.add(false, "orientamento", "is not a number (read as 0)");
    }
    if (!size.empty()) {
        // The drawing component writes text of up to 600 points.
        const auto s = number(size);
        if (s && *s > 0 && *s <= 600) v.size = *s;
        else problem.add(false, "dimfont", "is not a size above 0 and up to 600 (read as 12)");
    }
    if (const std::string x = key("margsx"); !x.empty()) {
        v.x = number(x);
        if (!v.x) problem.add(false, "margsx", "is not a number (the piece's own position is used)");
    }
    if (const std::string y = key("margdown"); !y.empty()) {
        v.y = number(y);
        if (!v.y) problem.add(false, "margdown", "is not a number (the row's position is used)");
    }
    if (picture) {
        // Picture mode: all six picture keys, or back to text mode.
        const char* const keys[] = {"immaginebarcodealtezza", "immaginebarcodelarghezza", "immaginebarcodemargsx",
                                    "immaginebarcodemargtop", "immaginebarcodenomefile", "immaginebarcodenomefileid"};
        std::string values[6];
        for (int i = 0; i < 6; ++i) {
            values[i] = value_of(picture_section, keys[i]);
            if (i < 4) values[i] = NormalizeDecimal(rt, values[i]);
            picture = picture && !values[i].empty();
        }
        if (picture) {
            const auto h = number(values[0]), w = number(values[1]), px = number(values[2]), py = number(values[3]);
            if (h && w && px && py) {
                v.picture = BarcodeValues::Picture{*h, *w, *px, *py, values[4]};
            } else {
                for (int i = 0; i < 4; ++i)
                    if (!number(values[i])) problem.add(true, keys[i], "is not a number (the barcode is drawn instead)");
            }
        }
    }
    record.values = std::move(v);
}

// Settings that are not numbers fall back to the defaults of the record (0
// degrees, 12 points, the piece's own position) instead of ending the page.
void DrawBarcode(const Runtime& rt, BarcodeRecord& record, OverlayState& state, PdfDocument& doc,
                 std::string data, double x, double y) {
    const BarcodeValues& v = record.values;

    // Colour and fixed text.
    if (v.colour) doc.SetFillColor(v.colour->red, v.colour->green, v.colour->blue);
    if (!v.fixed_text.empty()) data = v.fixed_text;

    // Picture mode (read with all six picture keys): the picture stands in
    // for the barcode. A picture that cannot be drawn (malformed numbers, a
    // missing or unreadable file) leaves the barcode drawn as in text mode.
    if (const auto& p = v.picture) {
        // Read only below the logo folder or a read folder.
        const std::string file = overlay::InLogoDir(rt, p->file);
        try {
            const std::string path = overlay::StyleFilePath(rt, file);
            const std::string resource = doc.ImportImage(
                path, [&] { return safe_path::read_whole(overlay::OpenStyleFile(rt, path)); }, 90);
            doc.DrawImageResource(resource, p->x, p->top, p->width, p->height);
            return;
        } catch (const PdfError&) {
        }
    }

    // The font: a built-in tag, or the barcode font file when it is found
    // (registered once per document); without it the bars are drawn here.
    BarSymbology symbology{};
    const bool has_bars = SymbologyForKind(v.kind, symbology);
    bool use_font = v.builtin_font();
    if (!use_font && !v.font_file.empty() && !v.font_name.empty()) {
        use_font = state.fonts.ensure(v.font_name, v.font_file, [&] {
            const std::string path = overlay::StyleFontPath(rt, v.font_file);
            return !path.empty() &&
                   doc.AddFontData(v.font_name, path,
                                   [&] { return safe_path::read_whole(overlay::OpenStyleFont(rt, v.font_file, path)); }, 0);
        });
    }
    const std::string saved_font = doc.FontName();
    const double saved_height = doc.FONTHEIGHT();

    // The position the barcode section gives, when it gives one.
    if (v.x) x = *v.x;
    if (v.y) y = *v.y;

    // Encoding by kind; drawing unless it is an empty Code 39.
    const std::string result = encode(v.kind, data);
    if (result != "!!") {
        if (use_font || !has_bars) {
            if (use_font) doc.SetFontName(v.font_name);
            doc.SetTextInclinationDegrees(v.angle);
            doc.SetFONTHEIGHT(v.size);
            doc.TextOut(result, x, y);
        } else {
            DrawBars(doc, symbology, result, x, y, v.size, v.angle);
        }
    }

    // Font, height and inclination as they were.
    if (doc.FontName() != saved_font && !saved_font.empty()) doc.SetFontName(saved_font);
    if (saved_height > 0) doc.SetFONTHEIGHT(saved_height);
    doc.SetTextInclinationDegrees(0);
}

}  // namespace velarion
