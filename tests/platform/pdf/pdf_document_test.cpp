// The drawing component checked on the PDFs it writes, with poppler's tools.
#include "platform/pdf/pdf_document.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "platform/os/process.h"
#include "support/test_support.h"

namespace velarion {
namespace {

using testing::TempDir;

constexpr double kPt = 72.0 / 25.4;

std::string tool(const std::vector<std::string>& argv) {
    auto out = process::run_capture(argv);
    EXPECT_TRUE(out.has_value()) << argv[0] << " failed";
    return out.value_or("");
}

struct Word {
    std::string text;
    double x_min, y_min, x_max, y_max;  // points, y from the top
};

std::vector<Word> words(const std::string& pdf) {
    const std::string html = tool({"pdftotext", "-bbox", pdf, "-"});
    static const std::regex re(
        R"re(<word xMin="([0-9.]+)" yMin="([0-9.]+)" xMax="([0-9.]+)" yMax="([0-9.]+)">([^<]*)</word>)re");
    std::vector<Word> out;
    for (auto it = std::sregex_iterator(html.begin(), html.end(), re); it != std::sregex_iterator(); ++it)
        out.push_back({(*it)[5], std::stod((*it)[1]), std::stod((*it)[2]), std::stod((*it)[3]),
                       std::stod((*it)[4])});
    return out;
}

const Word* find_word(const std::vector<Word>& ws, const std::string& text) {
    for (const Word& w : ws)
        if (w.text == text) return &w;
    return nullptr;
}

// The page rendered at 1 pixel per millimetre: RGB of pixel (x, y) in mm.
struct Raster {
    int width = 0, height = 0;
    std::string rgb;
    std::array<int, 3> at(int x, int y) const {
        const size_t i = (static_cast<size_t>(y) * width + x) * 3;
        return {static_cast<unsigned char>(rgb[i]), static_cast<unsigned char>(rgb[i + 1]),
                static_cast<unsigned char>(rgb[i + 2])};
    }
};

Raster render(const std::string& pdf) {
    const std::string ppm = tool({"pdftoppm", "-r", "25.4", "-singlefile", pdf});
    Raster r;
    size_t pos = 0;
    auto token = [&] {
        while (pos < ppm.size() && isspace(static_cast<unsigned char>(ppm[pos]))) ++pos;
        size_t start = pos;
        while (pos < ppm.size() && !isspace(static_cast<unsigned char>(ppm[pos]))) ++pos;
        return ppm.substr(start, pos - start);
    };
    EXPECT_EQ(token(), "P6");
    r.width = std::stoi(token());
    r.height = std::stoi(token());
    token();
    r.rgb = ppm.substr(pos + 1);
    return r;
}

// A small JPEG made by rendering a one-page PDF.
std::string make_jpeg(const TempDir& dir) {
    auto doc = make_pdf_document();
    doc->NewPDF("img");
    doc->SetPageDimensions(40, 20);
    doc->addpage();
    doc->SetFillColor(0, 0, 255);
    doc->DrawRect(0, 0, 40, 20, true, false, 0);
    doc->SavePDF(dir / "img.pdf");
    tool({"pdftoppm", "-jpeg", "-r", "30", "-singlefile", dir / "img.pdf", dir / "logo"});
    return dir / "logo.jpg";
}

TEST(PdfDocument, PagesCarryTheSizeSetBeforeThem) {
    TempDir dir;
    auto doc = make_pdf_document();
    doc->NewPDF("Stampa");
    doc->SetPageDimensions(297, 210);
    doc->addpage();
    doc->SetPageDimensions(210, 297);
    doc->addpage();
    doc->addpage();
    EXPECT_EQ(doc->page_count(), 3);
    doc->SavePDF(dir / "out.pdf");

    const std::string info = tool({"pdfinfo", "-f", "1", "-l", "3", dir / "out.pdf"});
    EXPECT_NE(info.find("Pages:           3"), std::string::npos) << info;
    EXPECT_NE(info.find("Page    1 size:  841.89 x 595.276 pts"), std::string::npos) << info;
    EXPECT_NE(info.find("Page    2 size:  595.276 x 841.89 pts"), std::string::npos) << info;
    EXPECT_NE(info.find("Page    3 size:  595.276 x 841.89 pts"), std::string::npos) << info;
    EXPECT_NE(info.find("Title:           Stampa"), std::string::npos) << info;
}

TEST(PdfDocument, TextStandsOnItsBaselineAtMillimetrePositions) {
    TempDir dir;
    auto doc = make_pdf_document();
    doc->NewPDF("Stampa");
    doc->SetPageDimensions(297, 210);
    doc->addpage();
    doc->SetFontName("Courier");
    doc->SetFONTHEIGHT(10);
    doc->TextOut("FIRST", 20, 30);
    doc->TextOut("SECOND", 20, 34.5);
    doc->SetFONTHEIGHT(8);
    doc->TextOut("SMALL", 101.6, 200);
    doc->SetFillColor(255, 0, 0);
    doc->DrawRect(150, 150, 10, 10, true, false, 0);  // closes the text object
    doc->SetFillColor(0, 0, 0);
    doc->TextOut("LATER", 20, 180);
    doc->SavePDF(dir / "out.pdf");

    const auto ws = words(dir / "out.pdf");
    // Courier: ascent 0.629 and descent 0.157 of the size in poppler's boxes.
    auto expect_at = [&](const std::string& text, double x_mm, double y_mm, double size) {
        const Word* w = find_word(ws, text);
        ASSERT_NE(w, nullptr) << text;
        EXPECT_NEAR(w->x_min, x_mm * kPt, 0.01) << text;
        EXPECT_NEAR(w->y_max - 0.157 * size, y_mm * kPt, 0.05) << text;
        EXPECT_NEAR(w->y_min + 0.629 * size, y_mm * kPt, 0.05) << text;
        // Courier advances 0.6 of the size per character.
        EXPECT_NEAR(w->x_max - w->x_min, 0.6 * size * text.size(), 0.01) << text;
    };
    expect_at("FIRST", 20, 30, 10);
    expect_at("SECOND", 20, 34.5, 10);
    expect_at("SMALL", 101.6, 200, 8);
    expect_at("LATER", 20, 180, 8);
}

TEST(PdfDocument, FontTableAndWindowsNamesMapToUnembeddedBaseFonts) {
    TempDir dir;
    auto doc = make_pdf_document();
    doc->NewPDF("Stampa");
    doc->addpage();
    const char* names[] = {"/F0", "/F1", "/F2", "/F3", "/F4", "/F5", "/F6", "/F7", "/F8", "/F9", "/F10", "/F11"};
    double y = 20;
    for (const char* name : names) {
        doc->SetFontName(name);
        EXPECT_EQ(doc->FontName(), name);
        doc->TextOut(std::string("font ") + name, 20, y += 10);
    }
    // The layout files set "Arial" and "Times" before the PDF name.
    doc->SetFontName("Arial");
    doc->SetFontName("Times");
    doc->SetFontName("Times-BoldOblique");
    EXPECT_THROW(doc->SetFontName("NoSuchFont"), PdfError);
    EXPECT_EQ(doc->FontName(), "Times-BoldOblique");
    doc->SavePDF(dir / "out.pdf");

    const std::string fonts = tool({"pdffonts", dir / "out.pdf"});
    for (const char* base : {"Courier ", "Helvetica ", "Times-Roman ", "Courier-Bold ", "Helvetica-Bold ",
                             "Times-Bold ", "Courier-Oblique ", "Helvetica-Oblique ", "Times-Italic ",
                             "Courier-BoldOblique ", "Helvetica-BoldOblique ", "Times-BoldItalic "}) {
        const std::regex line(std::string("\n") + base + " *Type 1 +WinAnsi +no ");
        EXPECT_TRUE(std::regex_search(fonts, line)) << base << "\n" << fonts;
    }
}

TEST(PdfDocument, WindowsBytesComeOutAsTheirCharacters) {
    TempDir dir;
    auto doc = make_pdf_document();
    doc->NewPDF("Stampa");
    doc->addpage();
    doc->SetFontName("Courier");
    doc->TextOut("Totale \x80 1.234,50 \x97 citt\xE0 (saldo) 100% \\ fine", 20, 20);
    doc->TextOut(std::string("NUL\0BYTE   ", 11), 20, 30);
    doc->TextOut("      ", 20, 40);
    doc->SetAUTHOR("Velarion");
    doc->SetKeywords("Velarion Ver. 9.0.2(09/03/16)  Tipostampa 10o-");
    doc->SetKeywords(doc->Keywords() + " Nome file origine: /work/citt\xE0 \x80.txt");
    doc->SavePDF(dir / "out.pdf");

    const std::string text = tool({"pdftotext", dir / "out.pdf", "-"});
    EXPECT_NE(text.find("Totale \u20AC 1.234,50 \u2014 citt\u00E0 (saldo) 100% \\ fine"), std::string::npos)
        << text;
    EXPECT_NE(text.find("NUL BYTE\n"), std::string::npos) << text;
    const std::string info = tool({"pdfinfo", dir / "out.pdf"});
    EXPECT_NE(info.find("Author:          Velarion"), std::string::npos) << info;
    EXPECT_NE(info.find("Keywords:        Velarion Ver. 9.0.2(09/03/16)  Tipostampa 10o- Nome file "
                        "origine: /work/citt\u00E0 \u20AC.txt"),
              std::string::npos)
        << info;
}

TEST(PdfDocument, TextWidthInMillimetresForTheCurrentFontAndSize) {
    auto doc = make_pdf_document();
    doc->NewPDF("Stampa");
    doc->SetFontName("Courier");
    doc->SetFONTHEIGHT(12);
    EXPECT_NEAR(doc->GetTextBoxWidth("ABCDEFGHIJ"), 25.4, 1e-6);  // 10 x 7.2 pt
    EXPECT_DOUBLE_EQ(doc->GetTextBoxWidth(""), 0.0);
    doc->SetFontName("Helvetica");
    doc->SetFONTHEIGHT(10);
    // Helvetica: "i" is 222, "W" 944 thousandths of the size.
    EXPECT_NEAR(doc->GetTextBoxWidth("iW"), (2.22 + 9.44) / kPt, 1e-6);
}

TEST(PdfDocument, TrueTypeFontsAreEmbeddedAndRefusedFilesReportFalse) {
    const std::string mono = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";
    if (!std::filesystem::exists(mono)) GTEST_SKIP() << "no DejaVu Sans Mono on this machine";
    TempDir dir;
    testing::write_file(dir / "fake.ttf", "this is not a font");
    auto doc = make_pdf_document();
    doc->NewPDF("Stampa");
    doc->addpage();
    EXPECT_FALSE(doc->AddFont("Missing", dir / "none.ttf"));
    EXPECT_FALSE(doc->AddFont("Fake", dir / "fake.ttf"));
    EXPECT_THROW(doc->SetFontName("Fake"), PdfError);

    ASSERT_TRUE(doc->AddFontMONOSPACED("MonoCondensed Bold", mono, 418));
    ASSERT_TRUE(doc->AddFont("Mono Again", mono));  // the same file a second time
    doc->SetFontName("MonoCondensed Bold");
    doc->SetFONTHEIGHT(10);
    EXPECT_NEAR(doc->GetTextBoxWidth("ABCD"), 4 * 4.18 / kPt, 1e-6);
    doc->TextOut("WIDE", 20, 20);
    doc->TextOut("NEXT", 20 + doc->GetTextBoxWidth("WIDE"), 20);
    doc->SetFontName("Mono Again");
    doc->TextOut("Again \x80", 20, 40);
    doc->SavePDF(dir / "out.pdf");

    const std::string fonts = tool({"pdffonts", dir / "out.pdf"});
    EXPECT_TRUE(std::regex_search(fonts, std::regex("DejaVuSansMono[^\n]* TrueType +Custom +yes")))
        << fonts;
    const auto ws = words(dir / "out.pdf");
    // NEXT starts where WIDE ends, so both are one word; every glyph advances
    // by the registered 4.18 pt (the box of the last one by its own 6.02 pt)
    // instead of the font's 6.02 pt.
    const Word* both = find_word(ws, "WIDENEXT");
    ASSERT_NE(both, nullptr);
    EXPECT_NEAR(both->x_max - both->x_min, 7 * 4.18 + 6.02, 0.05);
    EXPECT_NE(find_word(ws, "\u20AC"), nullptr);
}

TEST(PdfDocument, ImageImportedOnceServesEveryPage) {
    TempDir dir;
    const std::string jpeg = make_jpeg(dir);
    testing::write_file(dir / "bad.jpg", "not a jpeg at all");
    auto doc = make_pdf_document();
    doc->NewPDF("Stampa");
    EXPECT_THROW(doc->ImportImageAsResource(dir / "missing.jpg", 90), PdfError);
    EXPECT_THROW(doc->ImportImageAsResource(dir / "bad.jpg", 90), PdfError);
    const std::string res = doc->ImportImageAsResource(jpeg, 90);
    EXPECT_EQ(doc->ImportImageAsResource(jpeg, 90), res);
    EXPECT_THROW(doc->DrawImageResource("/Nope", 0, 0, 1, 1), PdfError);
    doc->addpage();
    doc->DrawImageResource(res, 10, 10, 40, 20);
    doc->addpage();
    doc->DrawImageResource(res, 100, 200, 40, 20);
    doc->SavePDF(dir / "out.pdf");

    // Both pages show the one image object.
    const std::string list = tool({"pdfimages", "-list", dir / "out.pdf"});
    std::regex row(R"(\n +([12]) +\d+ +image +\d+ +\d+ +\w+ +\d+ +\d+ +jpeg +\w+ +(\d+) +0 )");
    std::vector<std::string> objects;
    for (auto it = std::sregex_iterator(list.begin(), list.end(), row); it != std::sregex_iterator(); ++it)
        objects.push_back((*it)[2]);
    ASSERT_EQ(objects.size(), 2u) << list;
    EXPECT_EQ(objects[0], objects[1]);

    // Placed with its top left corner at (10 mm, 10 mm) on page 1.
    const Raster r = render(dir / "out.pdf");
    const auto inside = r.at(30, 20), outside = r.at(30, 35);
    EXPECT_LT(inside[0], 60);
    EXPECT_GT(inside[2], 180);
    EXPECT_GT(outside[0], 240);
}

TEST(PdfDocument, LinesAndRectanglesInTheirColours) {
    TempDir dir;
    auto doc = make_pdf_document();
    doc->NewPDF("Stampa");
    doc->addpage();
    doc->SetFillColor(255, 0, 0);
    doc->DrawRect(10, 10, 20, 20, true, false, 0);
    doc->SetLineColor(0, 0, 255);
    doc->DrawRect(50, 10, 30, 30, false, true, 2);
    doc->DrawLine(3, 100, 180, 100, 100);
    doc->SetLineColor(0, 128, 0);
    doc->SetLineWidthHiPrec(3);
    doc->DrawLineHiPrec(150, 150, 150, 250);
    doc->SavePDF(dir / "out.pdf");

    const Raster r = render(dir / "out.pdf");
    ASSERT_EQ(r.width, 210);
    auto is = [&](int x, int y, int red, int green, int blue) {
        const auto p = r.at(x, y);
        return std::abs(p[0] - red) < 40 && std::abs(p[1] - green) < 40 && std::abs(p[2] - blue) < 40;
    };
    EXPECT_TRUE(is(20, 20, 255, 0, 0));      // filled
    EXPECT_TRUE(is(20, 35, 255, 255, 255));  // below the filled one (y grows downwards)
    EXPECT_TRUE(is(50, 25, 0, 0, 255));      // outline, left side
    EXPECT_TRUE(is(65, 25, 255, 255, 255));  // not filled
    EXPECT_TRUE(is(140, 100, 0, 0, 255));    // horizontal line
    EXPECT_TRUE(is(150, 200, 0, 128, 0));    // vertical line
    EXPECT_TRUE(is(150, 90, 255, 255, 255));
}

TEST(PdfDocument, RotatedTextTurnsAnticlockwiseAboutItsStart) {
    TempDir dir;
    auto doc = make_pdf_document();
    doc->NewPDF("Stampa");
    doc->addpage();
    doc->SetFONTHEIGHT(10);
    doc->SetTextInclinationDegrees(90);
    doc->TextOut("UPWARDS", 100, 150);
    doc->SetTextInclinationDegrees(0);
    doc->TextOut("LEVEL", 20, 200);
    doc->TextOut("LEVEL2", 20, 210);
    doc->SavePDF(dir / "out.pdf");

    const auto ws = words(dir / "out.pdf");
    const Word* up = find_word(ws, "UPWARDS");
    ASSERT_NE(up, nullptr);
    EXPECT_NEAR(up->y_max, 150 * kPt, 0.05);            // starts at the point
    EXPECT_NEAR(up->y_max - up->y_min, 42.0, 0.05);     // 7 x 6 pt upwards
    EXPECT_NEAR(up->x_max - 0.157 * 10, 100 * kPt, 0.05);  // baseline on x = 100 mm
    const Word* level = find_word(ws, "LEVEL2");
    ASSERT_NE(level, nullptr);
    EXPECT_NEAR(level->x_min, 20 * kPt, 0.01);
    EXPECT_NEAR(level->y_max - 0.157 * 10, 210 * kPt, 0.05);
}

TEST(PdfDocument, SaveReplacesTheTargetOnlyWhenComplete) {
    TempDir dir;
    auto doc = make_pdf_document();
    doc->NewPDF("Stampa");
    doc->addpage();
    doc->TextOut("one", 10, 10);
    EXPECT_THROW(doc->SavePDF(dir / "missing/folder/out.pdf"), PdfError);
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));

    testing::write_file(dir / "out.pdf", "old contents");
    doc->SavePDF(dir / "out.pdf");
    EXPECT_EQ(testing::read_file(dir / "out.pdf").substr(0, 5), "%PDF-");
    // Nothing but the result (and the old file's folder mates) is left.
    int files = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST(PdfDocument, NoTextBeforeAPageAndNewPdfStartsAfresh) {
    auto doc = make_pdf_document();
    doc->NewPDF("Stampa");
    EXPECT_THROW(doc->TextOut("x", 0, 0), PdfError);
    EXPECT_THROW(doc->DrawLine(1, 0, 1, 0, 1), PdfError);
    doc->addpage();
    doc->SetKeywords("first");
    doc->NewPDF("Again");
    EXPECT_EQ(doc->page_count(), 0);
    EXPECT_EQ(doc->Keywords(), "");
}

}  // namespace
}  // namespace velarion
