// The drawing component: a PDF writer that streams. Each page's content is
// handed over as soon as the page is finished, compressed on a second
// thread while the next page is drawn, and written to the file at once.
// Standard fonts and pictures are written when first used; TrueType fonts,
// the page tree, the shared resources, the document information and the
// cross-reference table at the end. Memory does not grow with the page
// count, but for a dozen bytes a page (its object numbers and offsets).
//
// The program writes the PDF syntax itself because no library packaged for
// Debian does this: libharu and the other writers keep the whole document
// in memory until it is saved and compress it there with zlib's default
// level on one core, which made compressing most of the time of a long
// listing. What is written is small: the operators of text, lines,
// rectangles and pictures, base-14 fonts, TrueType fonts embedded with the
// outlines the document uses (FreeType reads their widths), JPEG files
// passed through, and the few objects around them.
//
// Lengths arrive in millimetres with y growing downwards and become PDF
// points with y upwards. Text stays inside one text object until a
// graphics operation or a new page closes it, and font, size and colours are
// only written when they change, so a listing line costs one move and one
// string. Text positions are kept in thousandths of a point: moves are
// written relative to the previous line and add up without drift.
#include <array>
#include <cmath>
#include <ctime>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <numbers>
#include <random>
#include <string_view>
#include <vector>

#include "platform/pdf/base14_widths.h"
#include "platform/pdf/jpeg_header.h"
#include "platform/pdf/pdf_document.h"
#include "platform/pdf/pdf_font_names.h"
#include "platform/pdf/pdf_output.h"
#include "platform/pdf/pdf_syntax.h"
#include "platform/os/text_encoding.h"
#include "platform/pdf/truetype_font.h"

namespace velarion {
namespace {

using namespace pdfwriter;

constexpr double kPointsPerMm = 72.0 / 25.4;
double pt(double mm) { return mm * kPointsPerMm; }
std::int64_t thousandths(double points) { return round_scaled(points, 1000.0); }

std::string read_whole_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class StreamingDocument final : public PdfDocument {
public:
    StreamingDocument() { open(); }

    void NewPDF(const std::string& title) override {
        open();
        title_ = title;
    }
    void SetViewMode(int mode) override { view_mode_ = mode; }
    void SetPageDimensions(double width_mm, double height_mm) override {
        if (width_mm <= 0 || height_mm <= 0) throw PdfError("invalid page size");
        width_pt_ = pt(width_mm);
        height_pt_ = pt(height_mm);
    }
    void addpage() override {
        finish_page();
        PdfOutput& out = output();  // a document saved before takes no more pages
        if (out.finished()) throw PdfError("addpage: the document is already saved");
        page_open_ = true;
        page_width_pt_ = width_pt_;
        page_height_pt_ = height_pt_;
        ++pages_;
        content_.clear();
        content_.reserve(16384);
        in_text_ = false;
        // A new page starts with the default graphics state.
        applied_face_ = -1;
        applied_size_ = -1;
        applied_char_space_ = 0;
        applied_fill_ = kBlack;
        applied_line_ = kBlack;
        applied_line_width_ = 1.0;
        rotated_matrix_ = false;
    }
    int page_count() const override { return pages_; }

    void SetFontName(const std::string& name) override {
        if (name == font_name_ && font_) return;
        const Font* f = find_font(name);
        if (!f) throw PdfError("unknown font: " + name);
        font_name_ = name;
        font_ = f;
    }
    std::string FontName() const override { return font_name_; }
    void SetFONTHEIGHT(double points) override {
        if (!(points > 0)) throw PdfError("invalid font height");
        font_size_ = points;
    }
    double FONTHEIGHT() const override { return font_size_; }
    void SetParagraphAlignment(const std::string& alignment) override { alignment_ = alignment; }
    void SetParagraphLeading(double mm) override { leading_mm_ = mm; }
    void SetParagraphWidth(double mm) override { paragraph_width_mm_ = mm; }

    bool AddFont(const std::string& name, const std::string& path) override {
        return register_truetype(name, path, by_path(path), 0);
    }
    bool AddFontMONOSPACED(const std::string& name, const std::string& path,
                           int glyph_width) override {
        return register_truetype(name, path, by_path(path), glyph_width);
    }
    bool AddFontData(const std::string& font, const std::string& name, const FileBytes& read,
                     int glyph_width) override {
        return register_truetype(font, name, read, glyph_width);
    }

    std::string ImportImageAsResource(const std::string& jpeg_path, int quality) override {
        return ImportImage(jpeg_path, [&]() -> std::optional<std::string> {
            std::error_code ec;
            if (!std::filesystem::is_regular_file(jpeg_path, ec)) return std::nullopt;
            return read_whole_file(jpeg_path);
        }, quality);
    }
    std::string ImportImage(const std::string& jpeg_path, const FileBytes& read, int) override {
        auto known = image_names_.find(jpeg_path);
        if (known != image_names_.end()) return known->second;
        std::optional<std::string> bytes = read();
        if (!bytes) throw PdfError("image file not found: " + jpeg_path);
        std::string file = std::move(*bytes);
        const auto header = read_jpeg_header(file);
        if (!header) throw PdfError("not a usable JPEG image: " + jpeg_path);
        // Under an sRGB output intent only grey and RGB pictures keep their colours.
        if (archival_.part && header->components == 4)
            throw PdfArchivalRefusal("a CMYK picture cannot be in a PDF/A: " + jpeg_path);
        // The picture goes to the file now; pages name it in the shared resources.
        const int number = output().new_object();
        std::string entries = " /Type /XObject /Subtype /Image /Width ";
        append_integer(entries, header->width);
        entries += " /Height ";
        append_integer(entries, header->height);
        entries += header->components == 1   ? " /ColorSpace /DeviceGray"
                   : header->components == 3 ? " /ColorSpace /DeviceRGB"
                                             : " /ColorSpace /DeviceCMYK /Decode [1 0 1 0 1 0 1 0]";
        entries += " /BitsPerComponent ";
        append_integer(entries, header->bits);
        entries += " /Filter /DCTDecode";
        output().add_stream(number, std::move(entries), std::move(file), Packing::stored);
        const std::string resource = "/Im" + std::to_string(images_.size() + 1);
        images_.emplace(resource, number);
        image_names_.emplace(jpeg_path, resource);
        return resource;
    }
    void DrawImageResource(const std::string& resource, double x, double y, double width,
                           double height) override {
        if (images_.find(resource) == images_.end())
            throw PdfError("unknown image resource: " + resource);
        graphics_page();
        std::string& c = content_;
        c += "q\n";
        append_number(c, pt(width), 3);
        c += " 0 0 ";
        append_number(c, pt(height), 3);
        c += ' ';
        append_number(c, pt(x), 3);
        c += ' ';
        append_number(c, page_height_pt_ - pt(y + height), 3);
        c += " cm\n";
        c += resource;
        c += " Do\nQ\n";
    }

    void TextOut(const std::string& text, double x, double y) override {
        // Trailing blanks draw nothing: listings padded to their width
        // shrink by a good part.
        std::size_t length = text.size();
        while (length > 0 && text[length - 1] == ' ') --length;
        text_page();
        if (length == 0) return;
        apply_font();
        apply_fill();
        std::string& c = content_;
        const std::int64_t tx = thousandths(pt(x)), ty = thousandths(page_height_pt_ - pt(y));
        if (inclination_ != 0) {
            const double r = inclination_ * std::numbers::pi / 180.0;
            const double cs = std::cos(r), sn = std::sin(r);
            append_number(c, cs, 5);
            c += ' ';
            append_number(c, sn, 5);
            c += ' ';
            append_number(c, -sn, 5);
            c += ' ';
            append_number(c, cs, 5);
            c += ' ';
            append_thousandths(c, tx);
            c += ' ';
            append_thousandths(c, ty);
            c += " Tm\n";
            rotated_matrix_ = true;
        } else if (rotated_matrix_) {
            c += "1 0 0 1 ";
            append_thousandths(c, tx);
            c += ' ';
            append_thousandths(c, ty);
            c += " Tm\n";
            rotated_matrix_ = false;
        } else {
            append_thousandths(c, tx - line_x_);
            c += ' ';
            append_thousandths(c, ty - line_y_);
            c += " Td\n";
        }
        line_x_ = tx;
        line_y_ = ty;
        // A NUL byte is drawn as a blank.
        const std::string_view shown(text.data(), length);
        Face& face = faces_[font_->face];
        if (face.truetype) {
            for (const char ch : shown) face.used[static_cast<unsigned char>(ch)] = true;
            if (shown.find('\0') != std::string_view::npos) face.used[' '] = true;
        }
        if (shown.find('\0') == std::string_view::npos) {
            append_literal(c, shown);
        } else {
            std::string copy(shown);
            for (char& ch : copy)
                if (ch == '\0') ch = ' ';
            append_literal(c, copy);
        }
        c += " Tj\n";
    }
    double GetTextBoxWidth(const std::string& text) override {
        const Font& f = current_font();
        if (text.empty()) return 0;
        double width_pt;
        if (f.glyph_width > 0 || f.fixed_width > 0) {
            const int w = f.glyph_width > 0 ? f.glyph_width : f.fixed_width;
            width_pt = static_cast<double>(text.size()) * w * font_size_ / 1000.0;
        } else {
            const Widths& widths = *faces_[f.face].widths;
            std::uint64_t units = 0;
            for (const char ch : text) units += widths[static_cast<unsigned char>(ch)];
            width_pt = static_cast<double>(units) * font_size_ / 1000.0;
        }
        return width_pt / kPointsPerMm;
    }
    void SetTextInclinationDegrees(double degrees) override { inclination_ = degrees; }

    void SetFillColor(int red, int green, int blue) override { fill_ = rgb(red, green, blue); }
    void SetLineColor(int red, int green, int blue) override { line_ = rgb(red, green, blue); }
    void SetLineWidthHiPrec(double width_mm) override { line_width_mm_ = width_mm; }
    void DrawLine(double width_mm, double xa, double xb, double ya, double yb) override {
        graphics_page();
        apply_line(width_mm);
        std::string& c = content_;
        append_point(xa, ya);
        c += " m\n";
        append_point(xb, yb);
        c += " l\nS\n";
    }
    void DrawLineHiPrec(double xa, double xb, double ya, double yb) override {
        DrawLine(line_width_mm_, xa, xb, ya, yb);
    }
    void DrawRect(double x, double y, double width, double height, bool fill, bool outline,
                  double line_width) override {
        if (!fill && !outline) return;
        graphics_page();
        if (fill) apply_fill();
        if (outline) apply_line(line_width);
        std::string& c = content_;
        append_point(x, y + height);
        c += ' ';
        append_number(c, pt(width), 3);
        c += ' ';
        append_number(c, pt(height), 3);
        c += " re\n";
        c += fill && outline ? "B\n" : fill ? "f\n" : "S\n";
    }

    void SetOutputFolder(const std::string& folder) override { output_folder_ = folder; }

    void SetArchival(const PdfArchival& archival) override {
        if (output_) throw PdfError("PDF/A must be asked for before the first page");
        if (archival.part != 0 && archival.part != 2 && archival.part != 3)
            throw PdfError("PDF/A part must be 2 or 3");
        std::error_code ec;
        if (archival.part && !std::filesystem::is_regular_file(archival.icc_profile, ec))
            throw PdfError("no sRGB colour profile for a PDF/A: " + archival.icc_profile);
        icc_profile_ = archival.part ? read_whole_file(archival.icc_profile) : std::string();
        archival_ = archival;
        // The fonts chosen so far become the files that stand in for them.
        faces_.clear();
        base_faces_.clear();
        ttf_faces_.clear();
        fonts_.clear();
        font_ = nullptr;
        const std::string name = font_name_.empty() ? "Courier" : font_name_;
        font_name_.clear();
        SetFontName(name);
    }
    PdfArchival Archival() const override { return archival_; }
    void EmbedFile(const PdfEmbeddedFile& file) override {
        if (file.name.empty()) throw PdfError("an embedded file needs a name");
        embedded_.push_back(file);
    }
    void AddXmpDescriptions(const std::string& rdf) override { xmp_extra_ += rdf; }

    void SetAUTHOR(const std::string& author) override { author_ = author; }
    std::string Keywords() const override { return keywords_; }
    void SetKeywords(const std::string& keywords) override { keywords_ = keywords; }

    void SavePDF(const std::string& path) override {
        PdfOutput& out = output();
        if (!out.finished()) {
            finish_page();
            write_document_objects(out);
        }
        out.place(path);
    }

private:
    struct Rgb {
        double r, g, b;
        bool operator==(const Rgb&) const = default;
    };
    static constexpr Rgb kBlack{0, 0, 0};

    // A font resource of the document: a base-14 font or an embedded file.
    struct Face {
        std::string resource;                        // "/F1"
        std::string base;                            // base-14 name, empty for TrueType
        std::shared_ptr<const TrueTypeFont> truetype;
        const Widths* widths = nullptr;              // nullptr: every glyph fixed_width
        int object = 0;                              // numbered when first used
        std::array<bool, 256> used{};                // TrueType: the codes drawn
    };
    // A name given to FontName.
    struct Font {
        int face = 0;
        int glyph_width = 0;  // monospaced width in 1/1000 em, 0 = the font's own
        double advance = 0;   // the font's own advance of a glyph (monospaced fonts)
        int fixed_width = 0;  // every glyph's width in 1/1000 em for a fixed-pitch base font
    };

    void open() {
        output_.reset();
        page_open_ = false;
        pages_ = 0;
        page_objects_.clear();
        in_text_ = false;
        faces_.clear();
        base_faces_.clear();
        ttf_faces_.clear();
        fonts_.clear();
        images_.clear();
        image_names_.clear();
        keywords_.clear();
        author_.clear();
        title_.clear();
        output_folder_.clear();
        archival_ = PdfArchival{};
        icc_profile_.clear();
        embedded_.clear();
        xmp_extra_.clear();
        font_name_.clear();
        font_ = nullptr;
        SetFontName("Courier");
    }

    // The file is opened with the first page or picture, so a drawing
    // object that is only created and checked costs no file.
    PdfOutput& output() {
        if (!output_) {
            output_ = std::make_unique<PdfOutput>(output_folder_, archival_.part ? "1.7" : "1.4");
            catalog_ = output_->new_object();
            page_tree_ = output_->new_object();
            resources_ = output_->new_object();
        }
        return *output_;
    }

    const Font* find_font(const std::string& name) {
        auto cached = fonts_.find(name);
        if (cached != fonts_.end()) return &cached->second;
        const char* base = pdfwriter::standard_font(name);
        if (!base) return nullptr;
        // The Courier faces give every glyph 600/1000 em: their widths need no table
        // lookup, which matters for the fit test of long listings.
        const int fixed = std::strncmp(base, "Courier", 7) == 0 ? 600 : 0;
        if (archival_.part) {
            // Every font of a PDF/A is embedded: a metric-compatible file stands in.
            auto file = archival_.base_fonts.find(base);
            if (file == archival_.base_fonts.end() || file->second.empty())
                throw PdfError(std::string("the font ") + base + " cannot be embedded in a PDF/A: no font file stands in for it");
            const int face = truetype_face(file->second, by_path(file->second));
            if (face < 0) throw PdfError(std::string("the font ") + base + " cannot be embedded in a PDF/A: " + file->second + " is not a usable TrueType font");
            return &fonts_.insert_or_assign(name, Font{face, 0, 0, fixed}).first->second;
        }
        auto known = base_faces_.find(base);
        int face = 0;
        if (known != base_faces_.end()) {
            face = known->second;
        } else {
            face = static_cast<int>(faces_.size());
            Face f;
            f.resource = "/F" + std::to_string(faces_.size() + 1);
            f.base = base;
            f.widths = base14_widths(base);
            faces_.push_back(std::move(f));
            base_faces_.emplace(base, face);
        }
        return &fonts_.insert_or_assign(name, Font{face, 0, 0, fixed}).first->second;
    }

    // The face of a TrueType file, read once; -1 when the file is refused.
    // The bytes of a file read by its path, for the calls that name one.
    static FileBytes by_path(const std::string& path) {
        return [path]() -> std::optional<std::string> {
            std::error_code ec;
            if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
            return read_whole_file(path);
        };
    }

    int truetype_face(const std::string& path, const FileBytes& read) {
        auto known = ttf_faces_.find(path);
        if (known != ttf_faces_.end()) return known->second;
        std::optional<std::string> bytes = read();
        if (!bytes) return -1;
        auto font = truetype_font_of(std::move(*bytes));
        if (!font) return -1;
        const int face = static_cast<int>(faces_.size());
        Face f;
        f.resource = "/F" + std::to_string(faces_.size() + 1);
        f.truetype = std::make_shared<const TrueTypeFont>(std::move(*font));
        f.widths = &f.truetype->widths;
        faces_.push_back(std::move(f));
        ttf_faces_.emplace(path, face);
        return face;
    }

    bool register_truetype(const std::string& name, const std::string& path, const FileBytes& read,
                           int glyph_width) {
        if (name.empty()) return false;
        const int face = truetype_face(path, read);
        if (face < 0) return false;
        Font f{face, glyph_width > 0 ? glyph_width : 0, 0, 0};
        if (f.glyph_width > 0) f.advance = (*faces_[face].widths)['M'];
        fonts_.insert_or_assign(name, f);
        if (name == font_name_) font_ = &fonts_.at(name);
        return true;
    }

    const Font& current_font() const {
        if (!font_) throw PdfError("no font selected");
        return *font_;
    }

    void require_page() const {
        if (!page_open_) throw PdfError("no current page");
    }
    // The page, with an open text object.
    void text_page() {
        require_page();
        if (!in_text_) {
            content_ += "BT\n";
            in_text_ = true;
            rotated_matrix_ = false;
            line_x_ = line_y_ = 0;
        }
    }
    // The page, outside any text object.
    void graphics_page() {
        require_page();
        end_text();
    }
    void end_text() {
        if (!in_text_) return;
        in_text_ = false;
        content_ += "ET\n";
    }

    void apply_font() {
        const Font& f = current_font();
        if (f.face != applied_face_ || font_size_ != applied_size_) {
            Face& face = faces_[f.face];
            if (face.object == 0) {
                // A standard font is written at once; an embedded one at the
                // end, with the outlines of the glyphs the document used.
                face.object = output().new_object();
                if (!face.truetype) write_base_font(face);
            }
            content_ += face.resource;
            content_ += ' ';
            append_number(content_, font_size_, 5);
            content_ += " Tf\n";
            applied_face_ = f.face;
            applied_size_ = font_size_;
        }
        // Monospaced registrations advance every glyph by the given width.
        const double char_space =
            f.glyph_width > 0 ? (f.glyph_width - f.advance) * font_size_ / 1000.0 : 0.0;
        if (char_space != applied_char_space_) {
            append_number(content_, char_space, 5);
            content_ += " Tc\n";
            applied_char_space_ = char_space;
        }
    }
    void apply_fill() {
        if (fill_ == applied_fill_) return;
        append_colour(fill_);
        content_ += " rg\n";
        applied_fill_ = fill_;
    }
    void apply_line(double width_mm) {
        if (!(line_ == applied_line_)) {
            append_colour(line_);
            content_ += " RG\n";
            applied_line_ = line_;
        }
        const double w = pt(width_mm < 0 ? 0 : width_mm);
        if (w != applied_line_width_) {
            append_number(content_, w, 3);
            content_ += " w\n";
            applied_line_width_ = w;
        }
    }
    void append_colour(const Rgb& c) {
        append_number(content_, c.r, 3);
        content_ += ' ';
        append_number(content_, c.g, 3);
        content_ += ' ';
        append_number(content_, c.b, 3);
    }
    void append_point(double x_mm, double y_mm) {
        append_number(content_, pt(x_mm), 3);
        content_ += ' ';
        append_number(content_, page_height_pt_ - pt(y_mm), 3);
    }

    // The finished page goes to the output: its content is compressed on
    // the output's thread while the next page is drawn.
    void finish_page() {
        if (!page_open_) return;
        end_text();
        page_open_ = false;
        PdfOutput& out = output();
        const int contents = out.new_object();
        const int page = out.new_object();
        out.add_stream(contents, {}, std::move(content_), Packing::page_content);
        content_ = std::string();
        std::string body = "<< /Type /Page /Parent ";
        append_integer(body, page_tree_);
        // The size is cut (not rounded) at five places, so a page is never
        // larger than its size in millimetres: rendered at whole millimetres
        // an A4 page is 210 pixels wide, not 211.
        body += " 0 R /MediaBox [0 0 ";
        append_number(body, std::floor(page_width_pt_ * 1e5) / 1e5, 5);
        body += ' ';
        append_number(body, std::floor(page_height_pt_ * 1e5) / 1e5, 5);
        body += "] /Resources ";
        append_integer(body, resources_);
        body += " 0 R /Contents ";
        append_integer(body, contents);
        body += " 0 R >>";
        out.add_object(page, std::move(body));
        page_objects_.push_back(page);
    }

    void write_base_font(const Face& face) {
        std::string body = "<< /Type /Font /Subtype /Type1 /BaseFont /" + face.base;
        // Symbol and ZapfDingbats keep their own encodings.
        if (face.base != "Symbol" && face.base != "ZapfDingbats") body += " /Encoding /WinAnsiEncoding";
        body += " >>";
        output().add_object(face.object, std::move(body));
    }

    void write_truetype_font(const Face& face) {
        PdfOutput& out = output();
        const TrueTypeFont& t = *face.truetype;
        const int descriptor = out.new_object();
        const int file = out.new_object();
        // A font program with part of the outlines is named with a tag of
        // six capitals, made from the codes it holds.
        std::uint32_t hash = 2166136261u;
        for (int code = 0; code < 256; ++code) hash = (hash ^ (face.used[code] ? code + 1u : 0u)) * 16777619u;
        std::string name;
        for (int i = 0; i < 6; ++i, hash /= 26) name += static_cast<char>('A' + hash % 26);
        name += '+';
        name += t.name;
        std::string body = "<< /Type /Font /Subtype /TrueType /BaseFont /" + name +
                           " /Encoding << /Type /Encoding /BaseEncoding /WinAnsiEncoding /Differences [";
        for (const unsigned char code : kUnassignedCodes) {
            append_integer(body, code);
            body += " /space ";
        }
        body += "] >> /FirstChar 32 /LastChar 255 /Widths [";
        for (int code = 32; code < 256; ++code) {
            if (code > 32) body += ' ';
            append_integer(body, t.widths[code]);
        }
        body += "] /MissingWidth ";
        append_integer(body, t.missing_width);
        body += " /FontDescriptor ";
        append_integer(body, descriptor);
        body += " 0 R >>";
        out.add_object(face.object, std::move(body));

        std::string d = "<< /Type /FontDescriptor /FontName /" + name + " /Flags 32 /FontBBox [";
        for (int i = 0; i < 4; ++i) {
            if (i) d += ' ';
            append_integer(d, t.bbox[i]);
        }
        d += "] /ItalicAngle ";
        append_number(d, t.italic_angle, 2);
        d += " /Ascent ";
        append_integer(d, t.ascent);
        d += " /Descent ";
        append_integer(d, t.descent);
        d += " /CapHeight ";
        append_integer(d, t.cap_height);
        d += " /XHeight ";
        append_integer(d, t.x_height);
        d += " /StemV 0 /FontFile2 ";
        append_integer(d, file);
        d += " 0 R >>";
        out.add_object(descriptor, std::move(d));

        std::string program = font_program(t, face.used);
        std::string entries = " /Length1 ";
        append_integer(entries, static_cast<std::int64_t>(program.size()));
        out.add_stream(file, std::move(entries), std::move(program), Packing::deflated);
    }

    // The objects that name all the others: resources, page tree,
    // information, catalogue, and the trailer.
    void write_document_objects(PdfOutput& out) {
        for (const Face& f : faces_)
            if (f.truetype && f.object != 0) write_truetype_font(f);
        std::string r = "<< /ProcSet [/PDF /Text /ImageB /ImageC /ImageI]";
        bool any_font = false;
        for (const Face& f : faces_) {
            if (f.object == 0) continue;
            r += any_font ? " " : " /Font << ";
            any_font = true;
            r += f.resource;
            r += ' ';
            append_integer(r, f.object);
            r += " 0 R";
        }
        if (any_font) r += " >>";
        if (!images_.empty()) {
            r += " /XObject <<";
            for (const auto& [name, object] : images_) {
                r += ' ';
                r += name;
                r += ' ';
                append_integer(r, object);
                r += " 0 R";
            }
            r += " >>";
        }
        r += " >>";
        out.add_object(resources_, std::move(r));

        std::string tree;
        tree.reserve(64 + 12 * page_objects_.size());  // at once: no copies while it grows
        tree = "<< /Type /Pages /Count ";
        append_integer(tree, static_cast<std::int64_t>(page_objects_.size()));
        tree += " /Kids [";
        for (std::size_t i = 0; i < page_objects_.size(); ++i) {
            tree += i % 10 == 0 ? "\n" : " ";
            append_integer(tree, page_objects_[i]);
            tree += " 0 R";
        }
        tree += "] >>";
        out.add_object(page_tree_, std::move(tree));
        std::deque<int>().swap(page_objects_);

        const int info = out.new_object();
        const Dates dates = archival_.part ? now() : Dates{};
        std::string i = "<< /Producer (" + std::string(kProducer) + ")";
        auto entry = [&i](const char* key, const std::string& value) {
            if (value.empty()) return;
            i += ' ';
            i += key;
            i += ' ';
            append_literal(i, to_pdfdoc(value));
        };
        entry("/Title", title_);
        entry("/Author", author_);
        entry("/Keywords", keywords_);
        if (archival_.part) {
            i += " /CreationDate (" + dates.pdf + ") /ModDate (" + dates.pdf + ")";
        }
        i += " >>";
        out.add_object(info, std::move(i));

        std::string catalog = "<< /Type /Catalog /Pages ";
        append_integer(catalog, page_tree_);
        catalog += " 0 R";
        if (archival_.part) catalog += archival_objects(out, dates);
        catalog += " >>";
        out.add_object(catalog_, std::move(catalog));

        // A file identifier, as encryption and some readers expect one.
        std::random_device rd;
        std::string id;
        static const char hex[] = "0123456789abcdef";
        for (int n = 0; n < 16; ++n) {
            const unsigned v = rd() & 0xFF;
            id += hex[v >> 4];
            id += hex[v & 15];
        }
        std::string trailer = " /Root ";
        append_integer(trailer, catalog_);
        trailer += " 0 R /Info ";
        append_integer(trailer, info);
        trailer += " 0 R /ID [<" + id + "> <" + id + ">]";
        out.finish(trailer);
    }

    static constexpr const char* kProducer = "Velarion";

    // The time the document is saved, as the information dictionary and
    // XMP write it (the same instant, in UTC).
    struct Dates {
        std::string pdf, xmp;  // "D:20261209103000Z", "2026-12-09T10:30:00Z"
    };
    static Dates now() {
        const std::time_t t = std::time(nullptr);
        std::tm u{};
        gmtime_r(&t, &u);
        char pdf[32], xmp[32];
        std::strftime(pdf, sizeof pdf, "D:%Y%m%d%H%M%SZ", &u);
        std::strftime(xmp, sizeof xmp, "%Y-%m-%dT%H:%M:%SZ", &u);
        return {pdf, xmp};
    }

    static std::string xml_text(const std::string& cp1252) {
        std::string out;
        for (const char c : text::cp1252_to_utf8(cp1252)) {
            switch (c) {
                case '&': out += "&amp;"; break;
                case '<': out += "&lt;"; break;
                case '>': out += "&gt;"; break;
                case '"': out += "&quot;"; break;
                default:
                    // Control characters cannot be in XML 1.0.
                    out += static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r' ? ' ' : c;
            }
        }
        return out;
    }

    // A name object's text: characters outside the regular ones as #xx.
    static std::string pdf_name(const std::string& text) {
        static const char hex[] = "0123456789ABCDEF";
        std::string out;
        for (const unsigned char c : text) {
            if (c > 0x20 && c < 0x7F && !std::strchr("#/()<>[]{}%", c)) {
                out += static_cast<char>(c);
            } else {
                out += '#';
                out += hex[c >> 4];
                out += hex[c & 15];
            }
        }
        return out;
    }

    // The XMP packet: the information dictionary's entries, the PDF/A
    // identification and the descriptions added by the caller.
    std::string xmp_packet(const Dates& dates) const {
        std::string x = "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
                        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
                        "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n";
        x += "<rdf:Description rdf:about=\"\" xmlns:pdfaid=\"http://www.aiim.org/pdfa/ns/id/\">\n"
             "<pdfaid:part>" + std::to_string(archival_.part) + "</pdfaid:part>\n"
             "<pdfaid:conformance>B</pdfaid:conformance>\n</rdf:Description>\n";
        x += "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
             "<dc:format>application/pdf</dc:format>\n";
        if (!title_.empty())
            x += "<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">" + xml_text(title_) + "</rdf:li></rdf:Alt></dc:title>\n";
        if (!author_.empty())
            x += "<dc:creator><rdf:Seq><rdf:li>" + xml_text(author_) + "</rdf:li></rdf:Seq></dc:creator>\n";
        x += "</rdf:Description>\n";
        x += "<rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\">\n"
             "<xmp:CreateDate>" + dates.xmp + "</xmp:CreateDate>\n<xmp:ModifyDate>" + dates.xmp +
             "</xmp:ModifyDate>\n</rdf:Description>\n";
        x += "<rdf:Description rdf:about=\"\" xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\">\n"
             "<pdf:Producer>" + std::string(kProducer) + "</pdf:Producer>\n";
        if (!keywords_.empty()) x += "<pdf:Keywords>" + xml_text(keywords_) + "</pdf:Keywords>\n";
        x += "</rdf:Description>\n";
        x += xmp_extra_;
        x += "</rdf:RDF>\n</x:xmpmeta>\n";
        // Room for an editor to change the packet in place.
        x += std::string(20, ' ') + "\n<?xpacket end=\"w\"?>";
        return x;
    }

    // The objects of a PDF/A that the catalogue names: metadata, output
    // intent, embedded files. Returns the catalogue's entries for them.
    std::string archival_objects(PdfOutput& out, const Dates& dates) {
        std::string c;
        const int metadata = out.new_object();
        out.add_stream(metadata, " /Type /Metadata /Subtype /XML", xmp_packet(dates), Packing::stored);
        c += " /Metadata ";
        append_integer(c, metadata);
        c += " 0 R";

        const int profile = out.new_object();
        out.add_stream(profile, " /N 3", std::move(icc_profile_), Packing::deflated);
        icc_profile_ = std::string();
        c += " /OutputIntents [<< /Type /OutputIntent /S /GTS_PDFA1 /OutputConditionIdentifier (sRGB IEC61966-2.1)"
             " /RegistryName (http://www.color.org) /Info (sRGB IEC61966-2.1) /DestOutputProfile ";
        append_integer(c, profile);
        c += " 0 R >>]";

        if (embedded_.empty()) return c;
        std::string af = " /AF [", names = " /Names << /EmbeddedFiles << /Names [";
        for (PdfEmbeddedFile& f : embedded_) {
            const int stream = out.new_object();
            const int filespec = out.new_object();
            std::string entries = " /Type /EmbeddedFile";
            if (!f.mime_type.empty()) entries += " /Subtype /" + pdf_name(f.mime_type);
            entries += " /Params << /Size ";
            append_integer(entries, static_cast<std::int64_t>(f.data.size()));
            entries += " /ModDate (" + dates.pdf + ") >>";
            out.add_stream(stream, std::move(entries), std::move(f.data), Packing::deflated);
            std::string name;
            append_literal(name, to_pdfdoc(f.name));
            std::string sb = "<< /Type /Filespec /F " + name + " /UF " + name + " /EF << /F ";
            append_integer(sb, stream);
            sb += " 0 R /UF ";
            append_integer(sb, stream);
            sb += " 0 R >>";
            if (!f.description.empty()) {
                sb += " /Desc ";
                append_literal(sb, to_pdfdoc(f.description));
            }
            if (!f.relationship.empty()) sb += " /AFRelationship /" + pdf_name(f.relationship);
            sb += " >>";
            out.add_object(filespec, std::move(sb));
            af += ' ';
            append_integer(af, filespec);
            af += " 0 R";
            names += name + ' ';
            append_integer(names, filespec);
            names += " 0 R";
        }
        embedded_.clear();
        return c + af + "]" + names + "] >> >>";
    }

    static Rgb rgb(int r, int g, int b) {
        auto c = [](int v) { return (v < 0 ? 0 : v > 255 ? 255 : v) / 255.0; };
        return {c(r), c(g), c(b)};
    }

    std::unique_ptr<PdfOutput> output_;
    std::string output_folder_;  // where the document will be saved, when told
    int catalog_ = 0, page_tree_ = 0, resources_ = 0;
    std::deque<int> page_objects_;  // in blocks, as they grow with the pages

    bool page_open_ = false;
    int pages_ = 0;
    std::string content_;  // the current page's content stream
    double width_pt_ = pt(210), height_pt_ = pt(297);
    double page_width_pt_ = 0, page_height_pt_ = 0;
    bool in_text_ = false;
    bool rotated_matrix_ = false;
    std::int64_t line_x_ = 0, line_y_ = 0;  // start of the text line, thousandths of a point

    std::vector<Face> faces_;
    std::map<std::string, int> base_faces_;  // base-14 name -> face
    std::map<std::string, int> ttf_faces_;   // font file -> face
    std::map<std::string, Font> fonts_;      // by the name given to FontName
    const Font* font_ = nullptr;
    std::string font_name_;
    double font_size_ = 10;
    double inclination_ = 0;
    Rgb fill_ = kBlack, line_ = kBlack;
    double line_width_mm_ = 0.2;

    int applied_face_ = -1;
    double applied_size_ = -1, applied_char_space_ = 0, applied_line_width_ = 1.0;
    Rgb applied_fill_ = kBlack, applied_line_ = kBlack;

    std::map<std::string, int> images_;               // resource name -> object
    std::map<std::string, std::string> image_names_;  // file -> resource name

    std::string title_, author_, keywords_;

    PdfArchival archival_;                  // part 0: an ordinary PDF
    std::string icc_profile_;               // the output intent's profile, read when asked for
    std::vector<PdfEmbeddedFile> embedded_;
    std::string xmp_extra_;
    // Paragraph settings and view mode are accepted and kept: text is only
    // ever placed by TextOut, which they do not affect, and the document
    // opens in the reader's default view.
    std::string alignment_ = "left";
    double leading_mm_ = 0, paragraph_width_mm_ = 0;
    int view_mode_ = 0;
};

}  // namespace

std::unique_ptr<PdfDocument> make_pdf_document() { return std::make_unique<StreamingDocument>(); }

}  // namespace velarion
