// The streaming PDF writer held to the libharu writer it replaced (same
// widths, same rendered pages and text), and what streaming adds: the file
// only appears complete, write errors of the compressing thread reach the
// caller, long documents stay valid.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "platform/pdf/pdf_document.h"
#include "platform/os/process.h"
#include "support/pdf_compare.h"
#include "support/test_support.h"
#include "support/reference_writer/hpdf_document.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

const std::string kMono = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";
const std::string kSerif = "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf";

// Makes a JPEG (colour, or grey) by rendering a page drawn by the reference writer.
std::string make_jpeg(const TempDir& dir, const std::string& name, bool grey) {
    auto doc = make_hpdf_document();
    doc->NewPDF("img");
    doc->SetPageDimensions(40, 20);
    doc->addpage();
    doc->SetFillColor(200, 30, 60);
    doc->DrawRect(0, 0, 40, 10, true, false, 0);
    doc->SetFillColor(20, 90, 220);
    doc->DrawRect(0, 10, 40, 10, true, false, 0);
    doc->SavePDF(dir / (name + ".pdf"));
    std::vector<std::string> argv = {"pdftoppm", "-jpeg", "-r", "40", "-singlefile"};
    if (grey) argv.push_back("-gray");
    argv.push_back(dir / (name + ".pdf"));
    argv.push_back(dir / name);
    EXPECT_EQ(process::run_and_wait(argv), 0);
    return dir / (name + ".jpg");
}

// Every operation of the drawing interface, on pages of three sizes.
void draw_sample(PdfDocument& doc, const std::string& colour_jpeg, const std::string& grey_jpeg) {
    doc.NewPDF("Stampa");
    doc.SetViewMode(1);
    doc.SetPageDimensions(297, 210);
    doc.addpage();
    const std::string logo = doc.ImportImageAsResource(colour_jpeg, 90);
    const std::string grey = doc.ImportImageAsResource(grey_jpeg, 90);
    doc.DrawImageResource(logo, 240, 10, 40, 20);
    doc.DrawImageResource(grey, 240, 40, 20, 10);
    doc.SetFontName("Courier");
    doc.SetFONTHEIGHT(6.2);
    double y = 10;
    for (const char* font : {"/F0", "/F1", "/F2", "/F3", "/F4", "/F5", "/F6", "/F7", "/F8", "/F9", "/F10", "/F11"}) {
        doc.SetFontName(font);
        doc.TextOut(std::string(font) + " Totale \x80 1.234,50 \x97 citt\xE0 (saldo) \\ 100% \x8A\x9E", 10, y += 6);
    }
    doc.SetFontName("Symbol");
    doc.TextOut("abgd \xA5", 10, y += 8);
    doc.SetFontName("ZapfDingbats");
    doc.TextOut("3456", 60, y);
    doc.SetFontName("Arial");
    doc.SetFONTHEIGHT(9.75);
    doc.SetFillColor(200, 10, 30);
    doc.TextOut("Arial in red, trailing blanks   ", 10, y += 8);
    doc.SetFillColor(0, 128, 0);
    doc.DrawRect(150, 100, 30, 15, true, false, 0);
    doc.SetLineColor(0, 0, 255);
    doc.DrawRect(190, 100, 30, 15, false, true, 0.7);
    doc.DrawRect(230, 100, 30, 15, true, true, 1.3);
    doc.DrawRect(10, 10, 5, 5, false, false, 1);  // draws nothing
    doc.DrawLine(0.3, 10, 280, 150, 150);
    doc.SetLineColor(128, 64, 32);
    doc.SetLineWidthHiPrec(0.15);
    doc.DrawLineHiPrec(10, 100, 160, 190);
    doc.SetFillColor(0, 0, 0);
    doc.SetFontName("Times-BoldOblique");
    doc.SetFONTHEIGHT(12);
    doc.SetTextInclinationDegrees(90);
    doc.TextOut("UPWARDS", 140, 200);
    doc.SetTextInclinationDegrees(30);
    doc.TextOut("SLANTED", 160, 200);
    doc.SetTextInclinationDegrees(0);
    doc.TextOut("LEVEL AGAIN", 190, 200);
    doc.TextOut("AND ONE MORE", 190, 205);
    if (fs::exists(kMono) && fs::exists(kSerif)) {
        doc.AddFontMONOSPACED("MonoCondensed Bold", kMono, 418);
        doc.AddFont("Serif", kSerif);
        doc.SetFontName("MonoCondensed Bold");
        doc.SetFONTHEIGHT(10);
        doc.TextOut("condensed \x80 mono", 10, 170);
        doc.SetFontName("Serif");
        doc.TextOut("Serif \xE8\xE0\xF9 Wij", 10, 180);
    }

    doc.SetPageDimensions(210, 297);
    doc.addpage();
    doc.SetFontName("Courier");
    doc.SetFONTHEIGHT(10);
    doc.DrawImageResource(logo, 150, 15, 20, 10);
    for (int row = 0; row < 66; ++row)
        doc.TextOut("row " + std::to_string(row) + std::string(60, '.') + "|", 5, 4.2 + row * 4.1);
    doc.SetPageDimensions(100, 150);
    doc.addpage();
    doc.SetFontName("Helvetica-Bold");
    doc.TextOut("small page", 10, 20);
    doc.SetAUTHOR("Velarion");
    doc.SetKeywords("Velarion Ver. 9.0.2(09/03/16)  Tipostampa 10o-");
    doc.SetKeywords(doc.Keywords() + " Nome file origine: /work/citt\xE0 \x80.txt");
}

TEST(PdfWriter, PagesTextAndWordPlacesAgreeWithTheLibharuWriter) {
    TempDir dir;
    const std::string colour = make_jpeg(dir, "colour", false), grey = make_jpeg(dir, "grey", true);
    auto streaming = make_pdf_document();
    draw_sample(*streaming, colour, grey);
    streaming->SavePDF(dir / "new.pdf");
    auto reference = make_hpdf_document();
    draw_sample(*reference, colour, grey);
    reference->SavePDF(dir / "old.pdf");

    const auto c = testing::compare_pdfs(dir / "new.pdf", dir / "old.pdf", dir / "render");
    EXPECT_TRUE(c.equivalent()) << c.problem;
    EXPECT_EQ(c.pages, 3);
    EXPECT_EQ(testing::run_program({"/usr/bin/qpdf", "--check", dir / "new.pdf"}).status, 0);
    // The same document information.
    auto info = [](const std::string& pdf) {
        std::string out = process::run_capture({"pdfinfo", pdf}).value_or("");
        std::string kept;
        for (const char* key : {"Title:", "Author:", "Keywords:", "Pages:", "Page size:"}) {
            const auto p = out.find(key);
            if (p != std::string::npos) kept += out.substr(p, out.find('\n', p) - p) + "\n";
        }
        return kept;
    };
    EXPECT_EQ(info(dir / "new.pdf"), info(dir / "old.pdf"));
    // The TrueType fonts are embedded with the outlines the document uses.
    if (fs::exists(kMono)) {
        const std::string fonts = process::run_capture({"pdffonts", dir / "new.pdf"}).value_or("");
        EXPECT_TRUE(std::regex_search(fonts, std::regex("[A-Z]{6}\\+DejaVuSansMono +TrueType +Custom +yes +yes")))
            << fonts;
        EXPECT_LT(fs::file_size(dir / "new.pdf"), fs::file_size(kMono) / 2);
    }
}

TEST(PdfWriter, TheComparisonNoticesWhatAReaderWouldSee) {
    TempDir dir;
    const std::string colour = make_jpeg(dir, "colour", false);
    struct Change {
        double line_y = 100, image_x = 20, word_x = 20;
        int red = 200;
        bool word = true;
    };
    auto make = [&](const std::string& name, const Change& c) {
        auto doc = make_hpdf_document();
        doc->NewPDF("Stampa");
        doc->addpage();
        doc->SetFontName("Helvetica");
        doc->TextOut("Fattura numero 42", 20, 30);
        if (c.word) doc->TextOut("Totale", c.word_x, 40);
        doc->DrawLine(0.2, 20, 190, c.line_y, c.line_y);
        doc->SetFillColor(c.red, 0, 0);
        doc->DrawRect(20, 150, 8, 3, true, false, 0);
        doc->DrawImageResource(doc->ImportImageAsResource(colour, 90), c.image_x, 200, 20, 10);
        doc->SavePDF(dir / name);
        return dir / name;
    };
    const std::string base = make("base.pdf", {});
    EXPECT_TRUE(testing::compare_pdfs(base, make("same.pdf", {}), dir / "r").equivalent());
    Change line;
    line.line_y = 100.3;
    Change red;
    red.red = 160;
    Change image;
    image.image_x = 21;
    Change word;
    word.word_x = 20.1;
    Change missing;
    missing.word = false;
    for (const auto& [name, change] : std::vector<std::pair<std::string, Change>>{
             {"line.pdf", line}, {"red.pdf", red}, {"image.pdf", image}, {"word.pdf", word}, {"missing.pdf", missing}})
        EXPECT_FALSE(testing::compare_pdfs(base, make(name, change), dir / "r").equivalent()) << name;
}

TEST(PdfWriter, TextWidthsAgreeWithTheLibharuWriterForEveryFont) {
    auto streaming = make_pdf_document(), reference = make_hpdf_document();
    std::vector<std::string> fonts = {"/F0",  "/F1",  "/F2",          "/F3",   "/F4",   "/F5",   "/F6",
                                      "/F7",  "/F8",  "/F9",          "/F10",  "/F11",  "Symbol", "ZapfDingbats",
                                      "Arial", "Times", "Courier New"};
    if (fs::exists(kMono) && fs::exists(kSerif)) {
        for (PdfDocument* d : {streaming.get(), reference.get()}) {
            ASSERT_TRUE(d->AddFont("Serif", kSerif));
            ASSERT_TRUE(d->AddFont("Mono", kMono));
            ASSERT_TRUE(d->AddFontMONOSPACED("Narrow", kMono, 400));
        }
        fonts.insert(fonts.end(), {"Serif", "Mono", "Narrow"});
    }
    std::string all;
    for (int c = 1; c < 256; ++c) all.push_back(static_cast<char>(c));
    for (const std::string& font : fonts) {
        for (PdfDocument* d : {streaming.get(), reference.get()}) {
            d->SetFontName(font);
            d->SetFONTHEIGHT(7.5);
        }
        // An embedded font draws the codes Windows-1252 leaves without a
        // character as a space, at the space's width; the reference draws
        // them with the missing glyph.
        const bool embedded = font == "Serif" || font == "Mono" || font == "Narrow";
        std::string as_reference = all;
        for (int c = 1; c < 256; ++c) {
            const std::string one(1, static_cast<char>(c));
            const bool unassigned = c == 0x7F || c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
            if (embedded && unassigned) {
                as_reference[c - 1] = ' ';
                ASSERT_DOUBLE_EQ(streaming->GetTextBoxWidth(one), reference->GetTextBoxWidth(" ")) << font << " " << c;
            } else {
                ASSERT_DOUBLE_EQ(streaming->GetTextBoxWidth(one), reference->GetTextBoxWidth(one)) << font << " " << c;
            }
        }
        EXPECT_DOUBLE_EQ(streaming->GetTextBoxWidth(all), reference->GetTextBoxWidth(as_reference)) << font;
    }
}

// TMPDIR names the folder of the unnamed file the document is written to.
struct TmpDirOverride {
    explicit TmpDirOverride(const std::string& dir) {
        const char* old = std::getenv("TMPDIR");
        had_ = old != nullptr;
        if (old) old_ = old;
        fs::create_directories(dir);
        setenv("TMPDIR", dir.c_str(), 1);
    }
    ~TmpDirOverride() {
        if (had_) setenv("TMPDIR", old_.c_str(), 1);
        else unsetenv("TMPDIR");
    }
    bool had_ = false;
    std::string old_;
};

int entries(const std::string& dir) {
    int n = 0;
    for (const auto& e : fs::directory_iterator(dir)) {
        (void)e;
        ++n;
    }
    return n;
}

void draw_listing(PdfDocument& doc, int pages) {
    doc.SetPageDimensions(297, 210);
    doc.SetFONTHEIGHT(10);
    for (int p = 0; p < pages; ++p) {
        doc.addpage();
        for (int row = 0; row < 66; ++row) {
            std::string line = "page " + std::to_string(p) + " row " + std::to_string(row) + " ";
            for (int i = 0; i < 12; ++i) line += std::to_string((p * 7919 + row * 104729 + i * 31) % 100000) + " ";
            doc.TextOut(line, 5, 4.2 + row * 2.9);
        }
    }
}

TEST(PdfWriter, TheDocumentIsOnlyEverSeenCompleteUnderItsName) {
    TempDir dir;
    TmpDirOverride tmp(dir / "tmp");
    {
        auto doc = make_pdf_document();
        doc->NewPDF("Stampa");
        draw_listing(*doc, 300);  // pages already written out
        EXPECT_EQ(entries(dir / "tmp"), 0);
        // Abandoned: nothing is left anywhere.
    }
    EXPECT_EQ(entries(dir / "tmp"), 0);

    auto doc = make_pdf_document();
    doc->NewPDF("Stampa");
    draw_listing(*doc, 30);
    doc->NewPDF("Again");  // the first document is dropped
    draw_listing(*doc, 2);
    doc->SavePDF(dir / "out.pdf");
    EXPECT_EQ(entries(dir / "tmp"), 0);
    const std::string info = process::run_capture({"pdfinfo", dir / "out.pdf"}).value_or("");
    EXPECT_NE(info.find("Pages:           2\n"), std::string::npos) << info;
    EXPECT_NE(info.find("Title:           Again\n"), std::string::npos) << info;

    // Saved a second time, it is a file of its own.
    doc->SavePDF(dir / "copy.pdf");
    EXPECT_EQ(testing::read_file(dir / "copy.pdf"), testing::read_file(dir / "out.pdf"));
    struct stat a {}, b {};
    ASSERT_EQ(stat((dir / "out.pdf").c_str(), &a), 0);
    ASSERT_EQ(stat((dir / "copy.pdf").c_str(), &b), 0);
    EXPECT_NE(a.st_ino, b.st_ino);
    EXPECT_EQ(a.st_nlink, 1u);
    // Pages cannot be added to a saved document.
    EXPECT_THROW(doc->addpage(), PdfError);

    // Told its folder, the document grows there, unseen, until it is saved.
    fs::create_directories(dir / "work");
    doc->NewPDF("Stampa");
    doc->SetOutputFolder(dir / "work");
    draw_listing(*doc, 20);
    EXPECT_EQ(entries(dir / "work"), 0);
    doc->SavePDF(dir / "work/LISTA1.pdf");
    EXPECT_EQ(entries(dir / "work"), 1);
    EXPECT_EQ(entries(dir / "tmp"), 0);
    EXPECT_NE(process::run_capture({"pdfinfo", dir / "work/LISTA1.pdf"}).value_or("").find("Pages:           20\n"),
              std::string::npos);
}

TEST(PdfWriter, AWriteErrorOfTheCompressingThreadReachesTheCaller) {
    TempDir dir;
    TmpDirOverride tmp(dir / "tmp");
    // Files of this process may not grow beyond 64 KB for the moment.
    struct sigaction ignore {}, old_action {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &old_action);
    rlimit old_limit{};
    getrlimit(RLIMIT_FSIZE, &old_limit);
    rlimit small = old_limit;
    small.rlim_cur = 64 * 1024;
    setrlimit(RLIMIT_FSIZE, &small);
    bool thrown = false;
    try {
        auto doc = make_pdf_document();
        doc->NewPDF("Stampa");
        draw_listing(*doc, 200);
        doc->SavePDF(dir / "out.pdf");
    } catch (const PdfError& e) {
        thrown = true;
        EXPECT_NE(std::string(e.what()).find("cannot write the PDF file"), std::string::npos) << e.what();
    }
    setrlimit(RLIMIT_FSIZE, &old_limit);
    sigaction(SIGXFSZ, &old_action, nullptr);
    EXPECT_TRUE(thrown);
    EXPECT_FALSE(fs::exists(dir / "out.pdf"));
    EXPECT_EQ(entries(dir / "tmp"), 0);
}

TEST(PdfWriter, LongDocumentsAreValidAndKeepEveryPage) {
    TempDir dir;
    auto doc = make_pdf_document();
    doc->NewPDF("Stampa");
    draw_listing(*doc, 2500);
    doc->SetPageDimensions(210, 297);
    doc->addpage();
    doc->TextOut("last", 10, 10);
    EXPECT_EQ(doc->page_count(), 2501);
    doc->SavePDF(dir / "long.pdf");
    EXPECT_EQ(testing::run_program({"/usr/bin/qpdf", "--check", dir / "long.pdf"}).status, 0);
    const std::string info =
        process::run_capture({"pdfinfo", "-f", "2500", "-l", "2501", dir / "long.pdf"}).value_or("");
    EXPECT_NE(info.find("Pages:           2501\n"), std::string::npos) << info;
    EXPECT_NE(info.find("Page 2500 size:  841.89 x 595.276 pts"), std::string::npos) << info;
    EXPECT_NE(info.find("Page 2501 size:  595.276 x 841.89 pts"), std::string::npos) << info;
    const std::string text =
        process::run_capture({"pdftotext", "-f", "2500", "-l", "2501", dir / "long.pdf", "-"}).value_or("");
    EXPECT_NE(text.find("page 2499 row 65 "), std::string::npos);
    EXPECT_NE(text.find("last"), std::string::npos);
}

// libharu refused a page tree of more than 32,767 pages, so the longest
// listings could not be composed at all.
TEST(PdfWriter, MorePagesThanTheLibharuWriterCouldHold) {
    TempDir dir;
    auto doc = make_pdf_document();
    doc->NewPDF("Stampa");
    for (int p = 1; p <= 33000; ++p) {
        doc->addpage();
        doc->TextOut("pagina " + std::to_string(p), 10, 10);
    }
    doc->SavePDF(dir / "long.pdf");
    const std::string info =
        process::run_capture({"pdfinfo", "-f", "33000", "-l", "33000", dir / "long.pdf"}).value_or("");
    EXPECT_NE(info.find("Pages:           33000\n"), std::string::npos) << info;
    const std::string text =
        process::run_capture({"pdftotext", "-f", "33000", "-l", "33000", dir / "long.pdf", "-"}).value_or("");
    EXPECT_NE(text.find("pagina 33000"), std::string::npos) << text;
}

}  // namespace
}  // namespace velarion
