// Barcodes drawn into a real PDF by the built-in bar renderer, rendered with
// pdftoppm and decoded by zbarimg back to their data.
#include <gtest/gtest.h>

#include "layout/barcode.h"
#include "layout/overlay_render_support.h"
#include "platform/pdf/pdf_document.h"
#include "platform/os/process.h"
#include "support/layout_context.h"
#include "support/test_support.h"

namespace velarion {
namespace {

class BarcodeScanTest : public ::testing::Test {
protected:
    BarcodeScanTest() {
        t.cfg.op.Dir_Loghi = dir.path();
        t.cfg.derive();
        t.cfg.host.program_dir = dir.path();
        t.cfg.host.decimal_separator = ".";
        // The configured barcode font is not installed: the bars are drawn.
        std::string ini;
        for (const char* kind : {"code128", "code128a", "code128b", "code128c", "ean128",
                                 "code39", "i2of5"})
            ini += std::string("[") + kind + "]\r\nnomefilefont=NoSuchBarcodeFont.ttf\r\n"
                   "descrizionefont=NoSuchBarcodeFont\r\ndimfont=12\r\ntipo=" + kind + "\r\n";
        ini += "[turned]\r\nnomefilefont=NoSuchBarcodeFont.ttf\r\ndescrizionefont=X\r\n"
               "dimfont=10\r\norientamento=90\r\ntipo=code128\r\n";
        testing::write_file(dir / "barcode.ini", ini);
    }

    // Draws each (section, data) at (x, y) on a page of its own; returns the PDF path.
    std::string make(const std::vector<std::pair<std::string, std::string>>& pieces, double x = 5,
                     double y = 20, double width = 160, double height = 30) {
        auto doc = make_pdf_document();
        doc->NewPDF("Stampa");
        doc->SetPageDimensions(width, height);
        for (const auto& [section, data] : pieces) {
            doc->addpage();
            doc->SetFillColor(0, 0, 0);
            t.layout.barcode.section = section;
            ReadBarcodeSettings(t.rt, t.layout.style, t.layout.barcode, "");
            DrawBarcode(t.rt, t.layout.barcode, t.layout.overlay, *doc, data, x, y);
        }
        doc->SavePDF(dir / "codes.pdf");
        return dir / "codes.pdf";
    }

    // zbarimg's reading of a page rendered at 300 dpi: "TYPE:data" lines.
    std::string scan(const std::string& pdf, int page) {
        const std::string base = dir / ("scan" + std::to_string(page));
        const std::string p = std::to_string(page);
        if (process::run_and_wait({"pdftoppm", "-r", "300", "-gray", "-png", "-f", p, "-l", p,
                                   "-singlefile", pdf, base}) != 0)
            return "render failed";
        return process::run_capture({"zbarimg", "-q", base + ".png"}).value_or("nothing read");
    }

    testing::TempDir dir;
    testing::LayoutContext t;
};

TEST_F(BarcodeScanTest, EveryKindScansBackToItsData) {
    const std::vector<std::pair<std::string, std::string>> pieces = {
        {"code128", "INV-2026/00123"},   {"code128", "12345678"},
        {"code128", "AB12345x"},         {"code128a", "ORDER 42"},
        {"code128b", "Fattura n. 7"},    {"code128c", "c128c-99"},
        {"ean128", "0112345678901231"},  {"code39", "VEL 2026-A"},
        {"i2of5", "1234567"},
        // Every Code 39 character and every digit pair shape, 94 to 99 included.
        {"code39", "0123456789ABCDEFGHIJK"}, {"code39", "LMNOPQRSTUVWXYZ-. $/+%"},
        {"i2of5", "98765432100"},        {"i2of5", "949596979899"}};
    const std::string pdf = make(pieces);
    const std::vector<std::string> expected = {
        "CODE-128:INV-2026/00123\n", "CODE-128:12345678\n", "CODE-128:AB12345x\n",
        "CODE-128:ORDER 42\n",       "CODE-128:Fattura n. 7\n", "CODE-128:c128c-99\n",
        "CODE-128:0112345678901231\n", "CODE-39:VEL 2026-A\n", "I2/5:01234567\n",
        "CODE-39:0123456789ABCDEFGHIJK\n", "CODE-39:LMNOPQRSTUVWXYZ-. $/+%\n",
        "I2/5:098765432100\n", "I2/5:949596979899\n"};
    for (std::size_t i = 0; i < pieces.size(); ++i)
        EXPECT_EQ(scan(pdf, static_cast<int>(i) + 1), expected[i]) << pieces[i].first;
}

TEST_F(BarcodeScanTest, RotatedBarcodeScans) {
    // Turned a quarter counter-clockwise: the code reads upwards from y 70,
    // its bars standing left of x 20.
    const std::string pdf = make({{"turned", "ROTATED 90"}}, 20, 70, 30, 80);
    EXPECT_EQ(scan(pdf, 1), "CODE-128:ROTATED 90\n");
    const auto page = testing::render_page(pdf, 1, 150, dir / "turned");
    ASSERT_TRUE(page.ok());
    int dark_left = 0, dark_right = 0;
    for (double y = 10; y < 70; y += 0.1) {
        dark_left += page.dark(16, y);
        dark_right += page.dark(24, y);
    }
    EXPECT_GT(dark_left, 100);
    EXPECT_EQ(dark_right, 0);
}

}  // namespace
}  // namespace velarion
