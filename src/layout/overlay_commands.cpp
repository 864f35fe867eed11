// The drawing commands of the overlay language, except TESTO.
#include <cmath>

#include "common/runtime.h"
#include "layout/overlay_run.h"
#include "layout/overlay_support.h"
#include "platform/os/paths.h"
#include "platform/pdf/pdf_document.h"

namespace velarion::overlay {

std::optional<double> OverlayRun::try_num(const std::string& field) const {
    if (numbers_)
        for (std::size_t i = 1; i < fields_->field.size(); ++i)
            if (&field == &fields_->field[i]) return (*numbers_)[i];
    return TryNumber(rt_, field);
}

double OverlayRun::num(const std::string& field) const {
    const auto value = try_num(field);
    if (!value) throw_type_mismatch();
    return *value;
}

bool OverlayRun::is_command(const std::string& keyword) {
    for (const char* k : {"END", "FONT", "STOP", "FILCOL", "LINCOL", "MARGSUP", "MARGSX", "RETT", "RETN", "RETF",
                          "LINVE", "LINVET", "LINOR", "LINORT", "LINEA", "RETS", "TESTO", "IMAGE"})
        if (keyword == k) return true;
    return false;
}

void OverlayRun::execute(const TabFields& f, const FieldNumbers* numbers) {
    fields_ = &f;
    numbers_ = numbers;
    const std::string& keyword = f[2];
    if (keyword == "END") {
        ended_ = true;
    } else if (keyword == "FONT") {
        font(f);
    } else if (keyword == "STOP") {
        if (f[3] == state_.stop_label) ended_ = true;
    } else if (keyword == "FILCOL") {
        if (!f[3].empty()) {
            const Colour c = ParseColour(rt_, f[3]);
            doc_.SetFillColor(c.red, c.green, c.blue);
        }
    } else if (keyword == "LINCOL") {
        if (!f[3].empty()) {
            const Colour c = ParseColour(rt_, f[3]);
            doc_.SetLineColor(c.red, c.green, c.blue);
        }
    } else if (keyword == "MARGSUP") {
        top_ = try_num(f[3]).value_or(0);
        if (top_override_ != 0) top_ = top_override_;
    } else if (keyword == "MARGSX") {
        left_ = try_num(f[3]).value_or(0);
        if (left_override_ != 0) left_ = left_override_;
    } else if (keyword == "RETT") {
        rett(f);
    } else if (keyword == "RETN") {
        retn(f);
    } else if (keyword == "RETF") {
        retf(f);
    } else if (keyword == "LINVE") {
        begin_lines(f);
        const double x = num(f[4]), y = num(f[5]), length = num(f[6]);
        line(x, y, x, y + length);
    } else if (keyword == "LINVET") {
        linvet(f);
    } else if (keyword == "LINOR") {
        begin_lines(f);
        const double x = num(f[4]), y = num(f[5]), length = num(f[6]);
        line(x, y, x + length, y);
    } else if (keyword == "LINORT") {
        linort(f);
    } else if (keyword == "LINEA") {
        begin_lines(f);
        line(num(f[4]), num(f[6]), num(f[5]), num(f[7]));
    } else if (keyword == "RETS") {
        rets(f);
    } else if (keyword == "TESTO") {
        testo(f);
    } else if (keyword == "IMAGE") {
        image(f);
    }
    // Any other keyword: the line is ignored.
}

// The line width f3 and, when given, the line colour f8.
void OverlayRun::begin_lines(const TabFields& f) {
    line_width_ = num(f[3]);
    if (!f[8].empty()) {
        const Colour c = ParseColour(rt_, f[8]);
        doc_.SetLineColor(c.red, c.green, c.blue);
    }
}

void OverlayRun::line(double xa, double ya, double xb, double yb) {
    doc_.DrawLine(line_width_, xa + left_, xb + left_, ya + top_, yb + top_);
}

void OverlayRun::font(const TabFields& f) {
    // The font file is looked up in the program directory and the system
    // font folders; a file that is not there is not registered, and texts
    // naming its font stay in Courier.
    const std::string path = StyleFontPath(rt_, f[3]);
    // Opened once, confined, and read from that descriptor.
    const auto read = [&] { return safe_path::read_whole(OpenStyleFont(rt_, f[3], path)); };
    if (!f[5].empty()) {
        const double width = num(f[5]);
        if (!path.empty()) doc_.AddFontData(f[4], path, read, static_cast<int>(std::lround(width)));
    } else if (f[3] != state_.last_font_file) {
        if (!path.empty() && doc_.AddFontData(f[4], path, read, 0)) state_.last_font_file = f[3];
    }
}

void OverlayRun::rett(const TabFields& f) {
    begin_lines(f);
    const double x1 = num(f[4]), x2 = num(f[5]), y1 = num(f[6]), y2 = num(f[7]);
    line(x1, y1, x2, y1);
    line(x1, y2, x2, y2);
    line(x1, y1, x1, y2);
    line(x2, y1, x2, y2);
}

void OverlayRun::retn(const TabFields& f) {
    begin_lines(f);
    const double x = num(f[4]), y = num(f[5]), w = num(f[6]), h = num(f[7]);
    line(x, y, x + w, y);
    line(x, y + h, x + w, y + h);
    line(x, y, x, y + h);
    line(x + w, y, x + w, y + h);
}

// Filled rectangle. f3 is the outline width; f4 says whether it is filled with
// the fill colour (yes unless "0") and f5 whether it is outlined with the line
// colour (only when given and not "0").
void OverlayRun::retf(const TabFields& f) {
    const double width_of_line = num(f[3]);
    const auto flag = [](const std::string& s, bool when_empty) {
        const auto first = s.find_first_not_of(' ');
        if (first == std::string::npos) return when_empty;
        return s.substr(first, s.find_last_not_of(' ') - first + 1) != "0";
    };
    const double x = num(f[6]), y = num(f[7]), w = num(f[8]), h = num(f[9]);
    doc_.DrawRect(x + left_, y + top_, w, h, flag(f[4], true), flag(f[5], false), width_of_line);
}

// Dashed vertical line: the last dash is cut at the end (at least 0.01 long).
void OverlayRun::linvet(const TabFields& f) {
    begin_lines(f);
    const double x = num(f[4]), y = num(f[5]), length = num(f[6]);
    const double dash = num(f[9]), gap = num(f[10]);
    const double start = top_ + y, end = top_ + y + length;
    for (int i = 0; i <= 1000; ++i) {
        const double a = start + i * (dash + gap);
        double b = a + dash;
        if (b >= end) {
            b = end;
            if (b == a) b = a + 0.01;
            doc_.DrawLine(line_width_, x + left_, x + left_, a, b);
            break;
        }
        doc_.DrawLine(line_width_, x + left_, x + left_, a, b);
    }
}

// Dashed horizontal line: whole dashes while they start within the length.
void OverlayRun::linort(const TabFields& f) {
    begin_lines(f);
    const double x = num(f[4]), y = num(f[5]), length = num(f[6]);
    const double dash = num(f[9]), gap = num(f[10]);
    const double start = left_ + x, end = left_ + x + length;
    for (int i = 0; i <= 1000; ++i) {
        const double a = start + i * (dash + gap);
        if (a > end) break;
        doc_.DrawLine(line_width_, a, a + dash, y + top_, y + top_);
    }
}

// Rectangle with cut corners: five short strokes at the top left corner, then
// the four sides, 3 units short of each corner.
void OverlayRun::rets(const TabFields& f) {
    begin_lines(f);
    const double x = num(f[4]), y = num(f[5]), w = num(f[6]), h = num(f[7]);
    for (int k = 1; k <= 5; ++k) {
        const double x1 = x + 3 - 0.3 * k, x2 = x + 3 - 0.3 * k - 0.1;
        const double y1 = y - 0.3 * k, y2 = y + 0.3 * k + 0.1;
        line(x1, y1, x2, y2);
    }
    line(x + 3, y, x + w - 3, y);
    line(x + 3, y + h, x + w - 3, y + h);
    line(x, y + 3, x, y + h - 3);
    line(x + w, y + 3, x + w, y + h - 3);
}

void OverlayRun::image(const TabFields& f) {
    // The picture file, from the logo directory when it names no folder.
    const std::string file = InLogoDir(rt_, f[10]);
    // The slot, 0 to 20.
    const double slot_number = num(f[3]);
    const long slot = std::lround(slot_number);
    if (slot < 0 || slot > 20) throw_out_of_range();
    // Imported once per document; the slot keeps the resource name.
    std::string& resource = state_.image_slots[static_cast<std::size_t>(slot)];
    if (resource.empty()) {
        // Found and opened in one confined lookup, read from that descriptor.
        const FoundStyleFile found = FindAndOpenStyleFile(rt_, file);
        resource = doc_.ImportImage(found.path, [&] { return safe_path::read_whole(found.fd); }, 90);
    }
    // Drawn with its bottom left corner at (f4, f5).
    const double x = num(f[4]), y = num(f[5]), height = num(f[6]), width = num(f[7]);
    doc_.DrawImageResource(resource, x + left_, y + top_ - height, width, height);
}

}  // namespace velarion::overlay
