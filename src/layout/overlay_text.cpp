// TESTO: fixed texts of an overlay, with right, centre, justified and
// stretched layouts.
#include <cmath>

#include "common/runtime.h"
#include "layout/overlay_run.h"
#include "layout/overlay_support.h"
#include "platform/pdf/pdf_document.h"
#include "platform/os/text_encoding.h"

namespace velarion::overlay {

namespace {

// "F1" to "F11" as a number; 0 for "F0"; -1 for anything else.
int builtin_font_number(const std::string& tag) {
    if (tag.size() < 2 || tag.size() > 3 || tag[0] != 'F') return -1;
    if (tag.size() == 3 && tag[1] == '0') return -1;  // "F01" is a font name, not "F1"
    int n = 0;
    for (std::size_t i = 1; i < tag.size(); ++i) {
        if (tag[i] < '0' || tag[i] > '9') return -1;
        n = n * 10 + (tag[i] - '0');
    }
    return n <= 11 ? n : -1;
}

bool is_blank(const std::string& word) { return word.find_first_not_of(' ') == std::string::npos; }

}  // namespace

void OverlayRun::undo_paragraph() {
    if (!paragraph_full_) return;
    paragraph_full_ = false;
    doc_.SetParagraphAlignment("Left");
    doc_.SetParagraphWidth(0);
    doc_.SetParagraphLeading(0);
}

// Font table: F0 to F11 select their resource (Courier, Helvetica and Times
// with bold, oblique and both); another name is a font registered with FONT.
void OverlayRun::select_font(const std::string& f10) {
    if (builtin_font_number(f10) >= 0) {
        doc_.SetFontName("/" + f10);
    } else if (!f10.empty()) {
        // A font whose file was not found was not registered: the text keeps Courier.
        try {
            doc_.SetFontName(f10);
        } catch (const PdfError&) {
            doc_.SetFontName("Courier");
        }
    }
}

void OverlayRun::testo(const TabFields& f) {
    // Font size.
    doc_.SetFONTHEIGHT(num(f[3]));
    // Reset the font.
    font_tag_ = "F0";
    doc_.SetFontName("Courier");
    // Select the font from f10.
    select_font(f[10]);
    // The text without trailing spaces.
    std::string text = f[11];
    text.erase(text.find_last_not_of(' ') + 1);
    // "F1" to "F11" become the current font tag. The remainder of any
    // two- or three-character name must be a number.
    if (f[10].size() == 2 || f[10].size() == 3) {
        const auto remainder = TryPlainNumber(f[10].substr(1));
        if (!remainder) throw_type_mismatch();
        const long n = std::lround(*remainder);
        if (f[10][0] == 'F' && n >= 1 && n <= 11) font_tag_ = f[10];
    }
    // Continuation of the previous text, or a new position.
    double x = 0;
    if (text::lower(f[5]) == "prec") {
        // Nothing precedes the first text of a call.
        if (!have_previous_) throw_type_mismatch();
        continuation_ = true;
        x = previous_end_;
        text = " " + text;
    } else {
        continuation_ = false;
        accumulated_ = 0;
        // The x position in the system's notation.
        x = num(f[5]);
    }
    // Layout: right, centred, a justified paragraph, or stretched.
    const std::string layout = text::lower(f[8]);
    if (layout == "r") {
        x -= doc_.GetTextBoxWidth(text);
    } else if (layout == "c") {
        x -= doc_.GetTextBoxWidth(text) / 2;
    } else if (layout.rfind("g", 0) == 0) {
        const double width = num(f[8].size() > 2 ? f[8].substr(2, 6) : "");
        const double leading = num(f[8].size() > 9 ? f[8].substr(9) : "");
        doc_.SetParagraphAlignment("Full");
        paragraph_full_ = true;
        doc_.SetParagraphWidth(width);
        doc_.SetParagraphLeading(leading);
    } else if (layout.rfind("e", 0) == 0) {
        text = stretch(text, f[8]);
    }
    // The text's angle.
    const double angle = try_num(f[9]).value_or(0);
    // Text colour.
    if (!f[4].empty()) {
        const Colour c = ParseColour(rt_, f[4]);
        doc_.SetFillColor(c.red, c.green, c.blue);
    }
    // Write; the size is already the font height (f7 only chooses the call).
    const double y = num(f[6]);
    doc_.SetTextInclinationDegrees(angle);
    doc_.TextOut(text, x + left_, y + top_);
    // Where a "prec" text goes on.
    const double width = doc_.GetTextBoxWidth(text);
    previous_end_ = x + width;
    have_previous_ = true;
    // Paragraph back to left.
    undo_paragraph();
    // Upright again for the next command.
    doc_.SetTextInclinationDegrees(0);
    accumulated_ += width;
}

// Layout "e<width>": spaces are added after the words (all but the last) in
// passes until the text is as wide as asked.
std::string OverlayRun::stretch(const std::string& text, const std::string& layout) {
    // The width as written; a continuation counts what was written before.
    double target = 0;
    if (layout.size() > 2) {
        const auto w = TryPlainNumber(layout.substr(2));
        if (!w) throw_type_mismatch();
        target = *w;
    } else {
        throw_type_mismatch();
    }
    if (continuation_) target -= accumulated_;
    // Spaces needed.
    const double t = doc_.GetTextBoxWidth(text);
    const double s = doc_.GetTextBoxWidth(" ");
    if (!(s > 0)) return text;
    const double spaces = std::floor((target - t) / s);
    if (spaces < 1) return text;
    // One space per pass to every word that is not blank; a pass that adds
    // nothing (all those words blank) ends the stretching.
    long n = static_cast<long>(std::min(spaces, 100000.0));
    WordTable words;
    const int g = SplitWords(text, words);
    if (g <= 1) return text;
    long added = 0;
    while (added < n) {
        long in_pass = 0;
        for (int i = 0; i < g && added < n; ++i) {
            if (is_blank(words[static_cast<std::size_t>(i)])) continue;
            words[static_cast<std::size_t>(i)] += ' ';
            ++added;
            ++in_pass;
        }
        if (in_pass == 0) break;
    }
    std::string out;
    for (const auto& w : words) out += w;
    return out;
}

}  // namespace velarion::overlay
