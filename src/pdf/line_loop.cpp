#include "pdf/line_loop.h"

#include <optional>

#include "common/bounded_line.h"
#include "common/runtime.h"
#include "layout/barcode.h"
#include "layout/logo.h"
#include "layout/overlay.h"
#include "layout/style.h"
#include "pdf/layout_state.h"
#include "pdf/mono_font.h"
#include "platform/pdf/pdf_document.h"

namespace velarion {

namespace {

constexpr char kFormFeed = '\x0c';


bool contains(const std::string& s, const char* what) { return s.find(what) != std::string::npos; }

// A colour component of a font record: held within 0-255, 0 when it is no number.
int colour_component(const std::string& s) { return to_whole_number_clamped(s, 0, 255, 0); }

// The leading number of a text ("8.5abc" gives "8.5"), as a "///C" line carries it.
std::string leading_number(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    std::size_t j = i;
    while (j < s.size() && ((s[j] >= '0' && s[j] <= '9') || s[j] == '.' || s[j] == ',')) ++j;
    return s.substr(i, j - i);
}

void remove_controls(std::string& s) {
    std::erase_if(s, [](char c) { return static_cast<unsigned char>(c) < 32; });
}

std::string without_tags(std::string s) {
    for (const char* t : {"<B>", "</B>", "<T>", "</T>", "<S>", "</S>"}) replace_all(s, t, "");
    return s;
}

class LineLoop {
public:
    LineLoop(Runtime& c, LayoutState& l, PdfDocument& d, JobState& j) : rt_(c), layout_(l), doc_(d), job_(j) {}

    void run(std::istream& in);

private:
    StyleSettings& style() { return layout_.style; }

    void forget_settings() {
        job_.font.clear();
        job_.size = -1;
        job_.colour[0] = job_.colour[1] = job_.colour[2] = -1;
    }
    void set_font(const std::string& font, double size) {
        if (font != job_.font) {
            doc_.SetFontName(font);
            job_.font = font;
        }
        if (size != job_.size) {
            doc_.SetFONTHEIGHT(size);
            job_.size = size;
        }
    }
    void set_colour(int r, int g, int b) {
        if (r == job_.colour[0] && g == job_.colour[1] && b == job_.colour[2]) return;
        doc_.SetFillColor(r, g, b);
        job_.colour[0] = r;
        job_.colour[1] = g;
        job_.colour[2] = b;
    }

    void draw_overlay(const std::string& name, double dx = 0, double dy = 0) {
        if (name.empty()) return;
        std::string file = name;  // completed with the logo folder by Creafincature
        Creafincature(rt_, layout_.overlay, doc_, file, dx, dy);
        forget_settings();
    }
    // The "fincaturadopo" overlay closes a page's text; it ends the stop label.
    void draw_after_text() {
        draw_overlay(style().fincaturadopo);
        layout_.overlay.stop_label.clear();
    }
    void add_page();
    void start_page(int row);
    bool may_add_page();
    void page_break(int row);
    void back_page();
    StyleSettings& retro_style();
    void change_style(const std::string& name);
    void logo_directive(const std::string& name);
    bool label_line(const std::string& line);
    void draw_line(std::vector<Piece>& pieces, const std::string& line, bool last);
    void draw_tagged(const std::string& text, double x, double y, const std::string& base_font,
                     double size);
    void count_left_out(std::istream& in, long pending);
    // The monospaced font of the job's print type, looked up once a
    // document and type rather than once a line.
    const MonoFont& mono_font() {
        if (!mono_ || mono_type_ != job_.print_type) {
            mono_ = mono_font_for(rt_, layout_.overlay, doc_, job_.print_type);
            mono_type_ = job_.print_type;
        }
        return *mono_;
    }

    Runtime& rt_;
    LayoutState& layout_;
    PdfDocument& doc_;
    JobState& job_;
    std::optional<StyleSettings> retro_;
    std::vector<LogoImage> retro_logos_;
    bool cut_ = false;  // "maxpaginalogo" ended the document
    std::vector<Piece> pieces_;  // the current line's, kept from line to line
    std::optional<MonoFont> mono_;
    std::string mono_type_;  // the print type mono_ is for
};

StyleSettings& LineLoop::retro_style() {
    if (!retro_) {
        retro_.emplace();
        ReadStyleSection(rt_, layout_.styles, style().retro, *retro_);
        retro_logos_ = ImportLogos(rt_, doc_, *retro_);
    }
    return *retro_;
}

// Every page of the document comes here: a few megabytes of form feeds
// would otherwise make millions of pages.
void LineLoop::add_page() {
    if (doc_.page_count() >= rt_.cfg.max_pages) {
        auto& refusal = layout_.compose.refusal;
        refusal = "Documento oltre " + std::to_string(rt_.cfg.max_pages) + " pagine (pagine_max)";
        rt_.list.add(" " + refusal + ", messaggio non inviato: " + job_.input_path);
        throw PageLimitReached(refusal);
    }
    doc_.addpage();
}

// A new page with the style's logos and overlays; with "senzadati" "s" the
// document is the first overlay alone.
void LineLoop::start_page(int row) {
    add_page();
    ++job_.page_count;
    job_.row = row;
    job_.fresh_page = true;
    job_.label_index = 0;
    job_.label_dx = job_.label_dy = 0;
    forget_settings();
    // Alternate pages of a written back ("retroscritto") carry the back style.
    const bool back = !style().retro.empty() && style().retroscritto && job_.page_count % 2 == 0;
    if (back) {
        StyleSettings& r = retro_style();
        DrawLogos(doc_, retro_logos_);
        draw_overlay(r.fincatura);
        draw_overlay(r.fincatura2);
        draw_overlay(r.fincatura3);
        return;
    }
    DrawLogos(doc_, layout_.compose.logos);
    draw_overlay(style().fincatura);
    if (style().senzadati) {
        job_.stop = true;
        return;
    }
    draw_overlay(style().fincatura2);
    draw_overlay(style().fincatura3);
}

bool LineLoop::may_add_page() {
    const auto& max = style().maxpaginalogo;
    if (max && job_.page_count + 1 > *max) {
        job_.stop = true;
        cut_ = true;
        return false;
    }
    return true;
}

// A printed back page with the "retro" style's forms (no text).
void LineLoop::back_page() {
    if (style().retro.empty() || style().retroscritto) return;
    StyleSettings& r = retro_style();
    add_page();
    forget_settings();
    DrawLogos(doc_, retro_logos_);
    draw_overlay(r.fincatura);
    draw_overlay(r.fincatura2);
    draw_overlay(r.fincatura3);
}

void LineLoop::change_style(const std::string& name) {
    style().name = name;
    LoadStyle(rt_, layout_.styles, style(), layout_.compose.size_override);
    configure_job(rt_, layout_, job_);
    layout_.compose.logos = ImportLogos(rt_, doc_, style());
    retro_.reset();
}

void LineLoop::page_break(int row) {
    // The page closed: its "fincaturadopo" overlay, then any back page.
    draw_after_text();
    back_page();
    // No page beyond "maxpaginalogo".
    if (!may_add_page()) return;
    // "logodiverso" takes over from its page on.
    const auto& from = style().logodiversofrompagina;
    if (!style().logodiverso.empty() && from && *from == job_.page_count + 1) change_style(style().logodiverso);
    start_page(row);
}

// A "%logo:" directive: the new style takes over from the next page on.
void LineLoop::logo_directive(const std::string& name) {
    const bool new_page = job_.text_written && job_.page_count > 0;
    // The current page closed first, unless the new page would be too many.
    if (new_page) {
        draw_after_text();
        if (!may_add_page()) return;
    }
    // The new style, with its forced type and geometry.
    style().name = name;
    LoadStyle(rt_, layout_.styles, style(), layout_.compose.size_override);
    if (!style().forzatura.empty()) job_.print_type = style().forzatura;
    configure_job(rt_, layout_, job_);
    retro_.reset();
    // Its page size and logos.
    set_page_size(style(), doc_, job_);
    layout_.compose.logos = ImportLogos(rt_, doc_, style());
    // The page of the new style starts at its first row with its logos and overlays.
    if (new_page) start_page(0);
}

// A line that is only Chr(17): the next label of a label sheet.
bool LineLoop::label_line(const std::string& line) {
    if (line != "\x11") return false;
    if (!style().labels) return false;
    const LabelGrid grid = *style().labels;
    if (job_.page_count == 0) start_page(0);
    ++job_.label_index;
    if (job_.label_index >= static_cast<long>(grid.per_row) * grid.rows) {
        page_break(0);
        if (job_.stop) return true;
    } else {
        job_.label_dx = static_cast<double>(job_.label_index % grid.per_row) * grid.step_across;
        job_.label_dy = static_cast<double>(job_.label_index / grid.per_row) * grid.step_down;
        draw_overlay(style().fincatura, job_.label_dx, job_.label_dy);
    }
    job_.row = 0;
    return true;
}

void LineLoop::draw_tagged(const std::string& text, double x, double y, const std::string& base_font,
                           double size) {
    std::string font = base_font;
    bool underline = false;
    for (std::size_t i = 0; i < text.size();) {
        auto tag = [&](const char* t) {
            const std::size_t n = std::char_traits<char>::length(t);
            if (text.compare(i, n, t) != 0) return false;
            i += n;
            return true;
        };
        if (tag("<B>")) font = "Courier-Bold";
        else if (tag("</B>")) font = base_font;
        else if (tag("<T>")) font = "Courier-Bold", underline = true;
        else if (tag("</T>")) font = base_font, underline = false;
        else if (tag("<S>")) font = "Courier", underline = true;
        else if (tag("</S>")) font = "Courier", underline = false;
        else {
            const std::string ch(1, text[i++]);
            set_font(font, size);
            doc_.TextOut(ch, x, y);
            const double w = doc_.GetTextBoxWidth(ch);
            if (underline) doc_.DrawLine(0.3, x, x + w, y + 0.5, y + 0.5);
            x += w;
        }
    }
}

void LineLoop::draw_line(std::vector<Piece>& pieces, const std::string& line, bool last) {
    const auto& s = style();
    const TypeMetrics& m = job_.metrics;
    // Row origin.
    double x = job_.origin.column_x + job_.label_dx;
    const double y = job_.origin.first_row_y + m.pitch * (job_.row - 1) + job_.label_dy;
    const Rgb base = s.text_colour.value_or(Rgb{});
    const int base_colour[3] = {base.red, base.green, base.blue};
    const MonoFont& mono = mono_font();
    bool marked = false;
    for (Piece& p : pieces) {
        // The text colour, the piece without control characters, its size;
        // a "/PAGE" piece prints blank, a line's last piece without trailing spaces.
        set_colour(base_colour[0], base_colour[1], base_colour[2]);
        std::string& text = p.text;
        remove_controls(text);
        double size = piece_size(m, p.style);
        if (text.find('/') != std::string::npos && contains(text, "/PAGE")) text = "          ";
        if (p.last) text.erase(text.find_last_not_of(' ') + 1);
        // The page mark on row 1.
        if (job_.row == 1 && !marked) {
            set_font("Courier-Bold", 5);
            doc_.TextOut("!", 1, 2);
            marked = true;
        }
        // Font of the piece.
        std::string font = (p.style == "e" || p.style == "ec" || s.bold) ? "Courier-Bold" : "Courier";
        if (p.style == "p" && p.record.size() >= 18) {
            set_colour(colour_component(p.record.substr(0, 3)), colour_component(p.record.substr(4, 3)),
                       colour_component(p.record.substr(8, 3)));
            // A font number outside the table is Courier, as an empty one.
            font = font_table_name(to_whole_number(p.record.substr(11, 2), 0, 11).value_or(0));
            if (auto v = to_number(p.record.substr(13, 5)); v && usable_font_size(*v)) size = *v;
        }
        // The monospaced condensed font for the types that use it.
        if (!mono.name.empty() && p.style != "p") {
            font = mono.name;
            size = 10;
            layout_.compose.mono_font = mono.number;
        }
        double width = 0;
        if (p.style == "bc") {
            // A barcode piece with the settings of its section.
            layout_.barcode.section = p.section;
            ReadBarcodeSettings(rt_, style(), layout_.barcode, p.section);
            DrawBarcode(rt_, layout_.barcode, layout_.overlay, doc_, text, x, y);
            forget_settings();
            set_font(font, size);
            width = doc_.GetTextBoxWidth(text);
        } else if (text.find('<') != std::string::npos &&
                   (contains(text, "<T>") || contains(text, "<B>") || contains(text, "<S>"))) {
            // Inline bold and underline tags.
            draw_tagged(text, x, y, font, size);
            set_font(font, size);
            width = doc_.GetTextBoxWidth(without_tags(text));
        } else {
            set_font(font, size);
            if (!text.empty()) doc_.TextOut(text, x, y);
            width = text.empty() ? 0 : doc_.GetTextBoxWidth(text);
        }
        // Double rules drawn again 0.1 to the right look solid.
        if (text.find('=') != std::string::npos && contains(text, "==")) {
            std::string again(text.size(), ' ');
            const std::size_t lastEq = text.rfind('=');
            for (std::size_t i = 0; i < text.size(); ++i)
                if (text[i] == '=' && i != lastEq) again[i] = '=';
            doc_.TextOut(again, x + 0.1, y);
        }
        // The piece is drawn; a line wider than the type's page does not fit
        // (unless the line holds a CR, the type is "altro" or a print type is forced).
        job_.text_written = true;
        x += width;
        const std::string& forced = s.forzatura;
        if (x > m.width + 1 && line.find('\r') == std::string::npos && job_.print_type != "altro" &&
            (forced.empty() || forced == "v" || forced == "o")) {
            job_.nonvabene = true;
            job_.stop = true;
            return;
        }
    }
    // Height test, once the whole line is drawn: the next row starts a
    // new page with its logos and overlays.
    const double next_y = job_.origin.first_row_y + m.pitch * job_.row + job_.label_dy;
    if (next_y > m.height && s.tipologo != TextOriginKind::page_corner && !last) page_break(0);
}

void LineLoop::count_left_out(std::istream& in, long pending) {
    long left = pending;
    std::string skip;
    while (read_bounded_line(in, skip)) ++left;
    rt_.list.add(" Raggiunto maxpaginalogo " + style().maxpaginalogo_text + ": " + std::to_string(left) +
                  " righe non stampate");
}

void LineLoop::run(std::istream& in) {
    std::string line, next;
    // Lines are cut when read: memory stays bounded by the line, not the file.
    bool have_next = read_bounded_line(in, next);
    std::string last_line;
    long undrawn = 0;  // the current line when a page break ended the loop
    while (have_next && !job_.stop) {
        line.swap(next);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        have_next = read_bounded_line(in, next);
        const bool last = !have_next;
        ++job_.line_no;
        last_line = line;

        // Tags and the style's substitutions.
        expand_tags(line);
        apply_substitutions(line, job_.substitutions);
        // Copy target of the PDF.
        if (line.rfind("CREAFILE:", 0) == 0) {
            layout_.compose.lsfilecrea = line.substr(9);
            rt_.list.add(" Trovato lsfilecrea " + layout_.compose.lsfilecrea);
            continue;
        }
        // A PDF to merge onto the document.
        if (line.rfind("///M", 0) == 0) {
            auto& merge = layout_.compose.merge_list;
            if (merge.size() < 10) merge.push_back(line.substr(4));
            rt_.list.add(" Trovata istruzione per merge file pdf " + line.substr(4));
            continue;
        }
        // The Factur-X invoice, read before the document began (pre-analysis).
        if (line.rfind("///X", 0) == 0) continue;
        // Size override of normal and condensed text, kept across style loads.
        if (line.rfind("///C", 0) == 0) {
            // A size no page can be drawn with is given but keeps the sizes in force.
            const std::string n = leading_number(line.substr(4));
            auto v = to_number(n);
            if (v && !usable_font_size(*v)) v.reset();
            layout_.compose.size_override = {!n.empty(), v};
            if (v) job_.metrics.normal = job_.metrics.condensed = *v;
            continue;
        }
        // Pending window events, every few lines so long files stay fast.
        if (job_.line_no % 64 == 0) rt_.view.process_events();
        // Long dashes, the euro sign and the marker sequences.
        long_dashes(line);
        euro_sign(line);
        apply_markers(line, job_.markers);
        // Style directives.
        rewrite_logo_directive(line);
        if (auto name = velarion::logo_directive(line)) {
            if (style().nologointerno) continue;
            logo_directive(*name);
            continue;
        }
        // Progress, in the tray icon's tip and the activity list.
        if (job_.line_no % 2000 == 0) {
            const long total = job_.pre.line_count > 0 ? job_.pre.line_count : job_.line_no;
            const std::string progress = std::to_string(100 * job_.line_no / total) +
                                         " % - Sto elaborando la riga " + std::to_string(job_.line_no);
            rt_.view.set_tray_tip(progress);
            rt_.list.add(" " + progress);
        }
        if (last) rt_.view.set_tray_tip("ELABORATO ");
        // The style's format table, for the row the line prints on.
        if (!job_.format_table.empty()) {
            // The row the line prints on: a line that breaks the page prints on row 1.
            int row = job_.row + 1;
            if (!last && (line.find(kFormFeed) != std::string::npos || row > job_.lines_per_page ||
                          contains(line, "/PAGE")))
                row = 1;
            apply_format_table(line, job_.format_table, row);
        }
        split_pieces(line, layout_.overlay.stop_label, pieces_);

        // The first page starts before the first line that takes a row.
        if (job_.page_count == 0) {
            start_page(0);
            if (job_.stop) break;
        }
        // The last line of the file is skipped when it holds only control
        // characters, before anything else: a closing Chr(17) opens no label.
        if (last && only_control_characters(line)) continue;
        if (label_line(line)) continue;
        // Rows to drop.
        ++job_.row;
        const bool form_feed = line.find(kFormFeed) != std::string::npos;
        bool drop = false;
        for (int r : job_.dropped_rows)
            if (r == job_.row && !form_feed) drop = true;
        if (drop) continue;
        // Page break before the line; none on a page that holds no row yet.
        const bool wants_break = form_feed || job_.row > job_.lines_per_page ||
                                 (line.find('/') != std::string::npos && contains(line, "/PAGE"));
        if (wants_break && !last) {
            if (job_.fresh_page) {
                job_.row = 1;
            } else {
                page_break(1);
                if (job_.stop) {
                    undrawn = 1;
                    break;
                }
            }
        }
        job_.fresh_page = false;
        // The line drawn, piece by piece.
        draw_line(pieces_, line, last);
    }
    // A document cut by "maxpaginalogo" says how much of the file it left out.
    if (cut_) count_left_out(in, undrawn + (have_next ? 1 : 0));
    // The last line read, in the activity list.
    if (!job_.nonvabene) rt_.list.add(" Ultima riga  " + last_line);
    rt_.trace("FINE LOOP RIGHE");
}

}  // namespace

void configure_job(const Runtime& rt, LayoutState& layout, JobState& job) {
    const StyleSettings& s = layout.style;
    job.metrics = type_metrics(job.print_type, s);
    if (const auto& n = layout.compose.size_override.size) job.metrics.normal = job.metrics.condensed = *n;
    job.origin = text_origin(s);
    job.lines_per_page = lines_per_page(s, job.pre);
    job.substitutions = s.substitutions;
    job.dropped_rows = s.dropped_rows;
    job.format_table = s.formattatesto.empty() ? std::vector<FormatEntry>{}
                                               : layout.format_tables.get(rt, s.formattatesto, job.problems);
}

void set_page_size(const StyleSettings& s, PdfDocument& doc, const JobState& job) {
    const bool landscape = is_landscape(job.print_type);
    double width = landscape ? 297 : 210, height = landscape ? 210 : 297;
    if (s.page_size) {
        width = s.page_size->width;
        height = s.page_size->height;
    }
    doc.SetPageDimensions(width, height);
}

void run_line_loop(Runtime& rt, LayoutState& layout, PdfDocument& doc, std::istream& in, JobState& job) {
    LineLoop(rt, layout, doc, job).run(in);
}

}  // namespace velarion
