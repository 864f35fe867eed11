// The drawing component on libharu, kept as the reference that the output
// of the streaming writer (pdf_writer.cpp) is compared with. Lengths arrive
// in millimetres with y growing downwards and are turned into PDF points
// (y upwards) here. Text is kept inside one open text object until a
// graphics operation or a new page needs it closed, and font, size and
// colours are only written when they change, so a listing line costs one
// position and one string in the stream.
#include "support/reference_writer/hpdf_document.h"

#include <hpdf.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <malloc.h>
#include <map>
#include <mutex>
#include <numbers>
#include <string_view>
#include <unistd.h>
#include <unordered_map>
#include <vector>

#include "platform/os/atomic_file.h"
#include "platform/pdf/pdf_font_names.h"
#include "platform/pdf/pdf_syntax.h"

namespace velarion {
namespace {

constexpr double kPointsPerMm = 72.0 / 25.4;
constexpr const char* kWinAnsi = "WinAnsiEncoding";

double pt(double mm) { return mm * kPointsPerMm; }

struct DocDeleter {
    void operator()(HPDF_Doc doc) const { HPDF_Free(doc); }
};
using DocHandle = std::unique_ptr<std::remove_pointer_t<HPDF_Doc>, DocDeleter>;

class HpdfDocument final : public PdfDocument {
public:
    HpdfDocument() { open(); }

    void NewPDF(const std::string& title) override {
        open();
        if (!title.empty()) set_info(HPDF_INFO_TITLE, title);
    }
    void SetViewMode(int mode) override { view_mode_ = mode; }
    void SetPageDimensions(double width_mm, double height_mm) override {
        if (width_mm <= 0 || height_mm <= 0) throw PdfError("invalid page size");
        width_pt_ = pt(width_mm);
        height_pt_ = pt(height_mm);
    }
    void addpage() override {
        end_text();
        HPDF_Page page = HPDF_AddPage(doc_.get());
        check("addpage");
        HPDF_Page_SetWidth(page, static_cast<HPDF_REAL>(width_pt_));
        HPDF_Page_SetHeight(page, static_cast<HPDF_REAL>(height_pt_));
        check("addpage");
        page_ = page;
        page_height_pt_ = height_pt_;
        ++pages_;
        // A new page starts with the default graphics state.
        applied_font_ = nullptr;
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
        return register_truetype(name, path, 0);
    }
    bool AddFontMONOSPACED(const std::string& name, const std::string& path,
                           int glyph_width) override {
        return register_truetype(name, path, glyph_width);
    }

    std::string ImportImageAsResource(const std::string& jpeg_path, int) override {
        auto known = image_names_.find(jpeg_path);
        if (known != image_names_.end()) return known->second;
        std::error_code ec;
        if (!std::filesystem::is_regular_file(jpeg_path, ec))
            throw PdfError("image file not found: " + jpeg_path);
        HPDF_Image image = HPDF_LoadJpegImageFromFile(doc_.get(), jpeg_path.c_str());
        if (!image || error_) {
            clear_error();
            throw PdfError("not a usable JPEG image: " + jpeg_path);
        }
        std::string resource = "/Im" + std::to_string(images_.size() + 1);
        images_.emplace(resource, image);
        image_names_.emplace(jpeg_path, resource);
        return resource;
    }
    void DrawImageResource(const std::string& resource, double x, double y, double width,
                           double height) override {
        auto it = images_.find(resource);
        if (it == images_.end()) throw PdfError("unknown image resource: " + resource);
        HPDF_Page page = graphics_page();
        HPDF_Page_DrawImage(page, it->second, fx(x), fy(y + height), static_cast<HPDF_REAL>(pt(width)),
                            static_cast<HPDF_REAL>(pt(height)));
        check("DrawImageResource");
    }

    void TextOut(const std::string& text, double x, double y) override {
        // Trailing blanks draw nothing: listings padded to their width
        // shrink by a good part. A NUL byte would end the string early.
        size_t length = text.size();
        while (length > 0 && text[length - 1] == ' ') --length;
        HPDF_Page page = text_page();
        if (length == 0) return;
        scratch_.assign(text, 0, length);
        if (std::memchr(scratch_.data(), '\0', length))
            for (char& c : scratch_)
                if (c == '\0') c = ' ';
        const char* bytes = scratch_.c_str();
        apply_font(page);
        apply_fill(page);
        if (inclination_ != 0) {
            const double r = inclination_ * std::numbers::pi / 180.0;
            const auto c = static_cast<HPDF_REAL>(std::cos(r)), s = static_cast<HPDF_REAL>(std::sin(r));
            HPDF_Page_SetTextMatrix(page, c, s, -s, c, fx(x), fy(y));
            HPDF_Page_ShowText(page, bytes);
            rotated_matrix_ = true;
        } else if (rotated_matrix_) {
            HPDF_Page_SetTextMatrix(page, 1, 0, 0, 1, fx(x), fy(y));
            HPDF_Page_ShowText(page, bytes);
            rotated_matrix_ = false;
        } else {
            HPDF_Page_TextOut(page, fx(x), fy(y), bytes);
        }
        check("TextOut");
    }
    double GetTextBoxWidth(const std::string& text) override {
        const Font& f = current_font();
        if (text.empty()) return 0;
        double width_pt;
        if (f.glyph_width > 0 || f.fixed_width > 0) {
            const int w = f.glyph_width > 0 ? f.glyph_width : f.fixed_width;
            width_pt = static_cast<double>(text.size()) * w * font_size_ / 1000.0;
        } else {
            HPDF_TextWidth tw = HPDF_Font_TextWidth(
                f.handle, reinterpret_cast<const HPDF_BYTE*>(text.data()),
                static_cast<HPDF_UINT>(text.size()));
            check("GetTextBoxWidth");
            width_pt = tw.width * font_size_ / 1000.0;
        }
        return width_pt / kPointsPerMm;
    }
    void SetTextInclinationDegrees(double degrees) override { inclination_ = degrees; }

    void SetFillColor(int red, int green, int blue) override { fill_ = rgb(red, green, blue); }
    void SetLineColor(int red, int green, int blue) override { line_ = rgb(red, green, blue); }
    void SetLineWidthHiPrec(double width_mm) override { line_width_mm_ = width_mm; }
    void DrawLine(double width_mm, double xa, double xb, double ya, double yb) override {
        HPDF_Page page = graphics_page();
        apply_line(page, width_mm);
        HPDF_Page_MoveTo(page, fx(xa), fy(ya));
        HPDF_Page_LineTo(page, fx(xb), fy(yb));
        HPDF_Page_Stroke(page);
        check("DrawLine");
    }
    void DrawLineHiPrec(double xa, double xb, double ya, double yb) override {
        DrawLine(line_width_mm_, xa, xb, ya, yb);
    }
    void DrawRect(double x, double y, double width, double height, bool fill, bool outline,
                  double line_width) override {
        if (!fill && !outline) return;
        HPDF_Page page = graphics_page();
        if (fill) apply_fill(page);
        if (outline) apply_line(page, line_width);
        HPDF_Page_Rectangle(page, fx(x), fy(y + height), static_cast<HPDF_REAL>(pt(width)),
                            static_cast<HPDF_REAL>(pt(height)));
        if (fill && outline) HPDF_Page_FillStroke(page);
        else if (fill) HPDF_Page_Fill(page);
        else HPDF_Page_Stroke(page);
        check("DrawRect");
    }

    void SetAUTHOR(const std::string& author) override { set_info(HPDF_INFO_AUTHOR, author); }
    std::string Keywords() const override { return keywords_; }
    void SetKeywords(const std::string& keywords) override {
        keywords_ = keywords;
        set_info(HPDF_INFO_KEYWORDS, keywords);
    }

    void SavePDF(const std::string& path) override {
        end_text();
        // Written whole to a temporary beside the target and renamed when
        // complete, so no half-written file ever carries the output name.
        HPDF_SaveToStream(doc_.get());
        if (error_) {
            const std::string detail = describe_error("SavePDF");
            clear_error();
            throw PdfError(detail + ": " + path);
        }
        HPDF_ResetStream(doc_.get());
        atomic_file::Replacement out(path);
        std::vector<char> chunk(1 << 16);
        for (;;) {
            HPDF_UINT32 size = static_cast<HPDF_UINT32>(chunk.size());
            const HPDF_STATUS rc = HPDF_ReadFromStream(doc_.get(), reinterpret_cast<HPDF_BYTE*>(chunk.data()), &size);
            if (size > 0) out.write(std::string_view(chunk.data(), size));
            if (rc == HPDF_STREAM_EOF) break;
            if (rc != HPDF_OK) {
                clear_error();
                throw PdfError("SavePDF: cannot read the document stream: " + path);
            }
        }
        if (!out.commit()) throw PdfError("SavePDF: cannot write " + path);
    }

private:
    struct Rgb {
        double r, g, b;
        bool operator==(const Rgb&) const = default;
    };
    static constexpr Rgb kBlack{0, 0, 0};

    struct Font {
        HPDF_Font handle = nullptr;
        int glyph_width = 0;     // monospaced width in 1/1000 em, 0 = the font's own
        double advance = 0;      // the font's own advance of a glyph (monospaced fonts)
        int fixed_width = 0;     // every glyph's width in 1/1000 em for a fixed-pitch base font
    };

    static void on_error(HPDF_STATUS error_no, HPDF_STATUS detail_no, void* user_data) {
        // Called from C: only record the error; the caller checks after the call.
        auto* self = static_cast<HpdfDocument*>(user_data);
        if (!self->error_) {
            self->error_ = error_no;
            self->error_detail_ = detail_no;
        }
    }

    void open() {
        doc_.reset();
        error_ = 0;
        HPDF_Doc doc = HPDF_New(&HpdfDocument::on_error, this);
        if (!doc) throw PdfError("cannot create a PDF document");
        doc_.reset(doc);
        HPDF_SetCompressionMode(doc, HPDF_COMP_ALL);
        check("NewPDF");
        page_ = nullptr;
        pages_ = 0;
        in_text_ = false;
        fonts_.clear();
        ttf_files_.clear();
        images_.clear();
        image_names_.clear();
        keywords_.clear();
        font_name_.clear();
        font_ = nullptr;
        SetFontName("Courier");
    }

    std::string describe_error(const char* what) const {
        char buf[96];
        std::snprintf(buf, sizeof buf, "%s: PDF library error 0x%04X (detail %u)", what,
                      static_cast<unsigned>(error_), static_cast<unsigned>(error_detail_));
        return buf;
    }
    void clear_error() {
        error_ = 0;
        error_detail_ = 0;
        HPDF_ResetError(doc_.get());
    }
    void check(const char* what) {
        if (!error_) return;
        const std::string message = describe_error(what);
        clear_error();
        throw PdfError(message);
    }

    void set_info(HPDF_InfoType type, const std::string& value) {
        HPDF_SetInfoAttr(doc_.get(), type, pdfwriter::to_pdfdoc(value).c_str());
        check("document information");
    }

    const Font* find_font(const std::string& name) {
        auto cached = fonts_.find(name);
        if (cached != fonts_.end()) return &cached->second;
        const char* base = pdfwriter::standard_font(name);
        if (!base) return nullptr;
        const bool symbolic = std::strcmp(base, "Symbol") == 0 || std::strcmp(base, "ZapfDingbats") == 0;
        HPDF_Font handle = HPDF_GetFont(doc_.get(), base, symbolic ? nullptr : kWinAnsi);
        check("FontName");
        // The Courier faces give every glyph 600/1000 em: their widths need no table
        // lookup, which matters for the fit test of long listings.
        const int fixed = std::strncmp(base, "Courier", 7) == 0 ? 600 : 0;
        return &fonts_.insert_or_assign(name, Font{handle, 0, 0, fixed}).first->second;
    }

    bool register_truetype(const std::string& name, const std::string& path, int glyph_width) {
        std::error_code ec;
        if (name.empty() || !std::filesystem::is_regular_file(path, ec)) return false;
        std::string font_def;
        auto known = ttf_files_.find(path);
        if (known != ttf_files_.end()) {
            font_def = known->second;
        } else {
            const char* loaded = HPDF_LoadTTFontFromFile(doc_.get(), path.c_str(), HPDF_TRUE);
            if (!loaded || error_) {
                clear_error();
                return false;
            }
            font_def = loaded;
            ttf_files_.emplace(path, font_def);
        }
        HPDF_Font handle = HPDF_GetFont(doc_.get(), font_def.c_str(), kWinAnsi);
        if (!handle || error_) {
            clear_error();
            return false;
        }
        Font f{handle, glyph_width > 0 ? glyph_width : 0, 0};
        if (f.glyph_width > 0) {
            f.advance = HPDF_Font_TextWidth(handle, reinterpret_cast<const HPDF_BYTE*>("M"), 1).width;
            clear_error();
        }
        fonts_.insert_or_assign(name, f);
        if (name == font_name_) font_ = &fonts_.at(name);
        return true;
    }

    const Font& current_font() const {
        if (!font_) throw PdfError("no font selected");
        return *font_;
    }

    HPDF_Page require_page() const {
        if (!page_) throw PdfError("no current page");
        return page_;
    }
    // The page, with an open text object.
    HPDF_Page text_page() {
        HPDF_Page page = require_page();
        if (!in_text_) {
            HPDF_Page_BeginText(page);
            check("TextOut");
            in_text_ = true;
            rotated_matrix_ = false;
        }
        return page;
    }
    // The page, outside any text object.
    HPDF_Page graphics_page() {
        HPDF_Page page = require_page();
        end_text();
        return page;
    }
    void end_text() {
        if (!in_text_) return;
        in_text_ = false;
        HPDF_Page_EndText(page_);
        check("EndText");
    }

    void apply_font(HPDF_Page page) {
        const Font& f = current_font();
        if (f.handle != applied_font_ || font_size_ != applied_size_) {
            HPDF_Page_SetFontAndSize(page, f.handle, static_cast<HPDF_REAL>(font_size_));
            applied_font_ = f.handle;
            applied_size_ = font_size_;
        }
        // Monospaced registrations advance every glyph by the given width.
        const double char_space =
            f.glyph_width > 0 ? (f.glyph_width - f.advance) * font_size_ / 1000.0 : 0.0;
        if (char_space != applied_char_space_) {
            HPDF_Page_SetCharSpace(page, static_cast<HPDF_REAL>(char_space));
            applied_char_space_ = char_space;
        }
    }
    void apply_fill(HPDF_Page page) {
        if (fill_ == applied_fill_) return;
        HPDF_Page_SetRGBFill(page, static_cast<HPDF_REAL>(fill_.r), static_cast<HPDF_REAL>(fill_.g),
                             static_cast<HPDF_REAL>(fill_.b));
        applied_fill_ = fill_;
    }
    void apply_line(HPDF_Page page, double width_mm) {
        if (!(line_ == applied_line_)) {
            HPDF_Page_SetRGBStroke(page, static_cast<HPDF_REAL>(line_.r),
                                   static_cast<HPDF_REAL>(line_.g), static_cast<HPDF_REAL>(line_.b));
            applied_line_ = line_;
        }
        const double w = pt(width_mm < 0 ? 0 : width_mm);
        if (w != applied_line_width_) {
            HPDF_Page_SetLineWidth(page, static_cast<HPDF_REAL>(w));
            applied_line_width_ = w;
        }
    }

    static Rgb rgb(int r, int g, int b) {
        auto c = [](int v) { return (v < 0 ? 0 : v > 255 ? 255 : v) / 255.0; };
        return {c(r), c(g), c(b)};
    }
    HPDF_REAL fx(double x_mm) const { return static_cast<HPDF_REAL>(pt(x_mm)); }
    HPDF_REAL fy(double y_mm) const { return static_cast<HPDF_REAL>(page_height_pt_ - pt(y_mm)); }

    DocHandle doc_;
    HPDF_STATUS error_ = 0;
    HPDF_STATUS error_detail_ = 0;

    HPDF_Page page_ = nullptr;
    int pages_ = 0;
    double width_pt_ = pt(210), height_pt_ = pt(297), page_height_pt_ = 0;
    bool in_text_ = false;
    bool rotated_matrix_ = false;
    std::string scratch_;  // the text of the current TextOut call

    std::map<std::string, Font> fonts_;  // by the name given to FontName
    std::map<std::string, std::string> ttf_files_;  // font file -> libharu font name
    const Font* font_ = nullptr;
    std::string font_name_;
    double font_size_ = 10;
    double inclination_ = 0;
    Rgb fill_ = kBlack, line_ = kBlack;
    double line_width_mm_ = 0.2;

    HPDF_Font applied_font_ = nullptr;
    double applied_size_ = -1, applied_char_space_ = 0, applied_line_width_ = 1.0;
    Rgb applied_fill_ = kBlack, applied_line_ = kBlack;

    std::map<std::string, HPDF_Image> images_;        // resource name -> image
    std::map<std::string, std::string> image_names_;  // file -> resource name

    std::string keywords_;
    // Paragraph settings and view mode are accepted and kept: text is only
    // ever placed by TextOut, which they do not affect.
    std::string alignment_ = "left";
    double leading_mm_ = 0, paragraph_width_mm_ = 0;
    int view_mode_ = 0;
};

}  // namespace

std::unique_ptr<PdfDocument> make_hpdf_document() {
    // libharu deflates every page stream with a fresh zlib state (about 260 KB)
    // that is freed again at once; with the default heap trimming each page
    // then costs a shrink and regrowth of the heap, which made saving several
    // times slower than drawing. Keeping some free memory at the heap top avoids it.
    static std::once_flag heap_tuned;
    std::call_once(heap_tuned, [] { mallopt(M_TOP_PAD, 16 << 20); });
    return std::make_unique<HpdfDocument>();
}

}  // namespace velarion
