// Barcodes and overlays in a composed print file: the PDF is rendered with
// pdftoppm and its barcodes are read back by zbarimg.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "layout/overlay_render_support.h"
#include "pdf/compose_fixture.h"
#include "platform/os/process.h"

namespace velarion::testing {
namespace {

// The "TYPE:data" lines zbarimg reads on a page, sorted.
std::vector<std::string> scan_page(const std::string& pdf, int page, const std::string& base) {
    const std::string p = std::to_string(page);
    if (process::run_and_wait({"pdftoppm", "-r", "300", "-gray", "-png", "-f", p, "-l", p,
                               "-singlefile", pdf, base}) != 0)
        return {"render failed"};
    std::istringstream in(process::run_capture({"zbarimg", "-q", base + ".png"}).value_or(""));
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) out.push_back(line);
    std::sort(out.begin(), out.end());
    return out;
}

TEST_F(ComposeTest, BarcodePiecesScanAndSetTheStopLabel) {
    cfg.host.decimal_separator = ".";
    styles("[FATT]\r\nfincaturadopo=dopo.txt\r\n");
    write_file(dir / "loghi/barcode.ini",
               "[128]\r\nnomefilefont=IDAutomationC128M.ttf\r\ndescrizionefont=C128\r\ntipo=code128\r\n"
               "[C39]\r\nnomefilefont=IDAutomationHC39L.ttf\r\ndescrizionefont=C39\r\ntipo=code39\r\n"
               "[I25]\r\nnomefilefont=IDAutomationI25M.ttf\r\ndescrizionefont=I25\r\ntipo=i2of5\r\n"
               "[GS1]\r\nnomefilefont=IDAutomationC128M.ttf\r\ndescrizionefont=C128\r\ntipo=ean128\r\n");
    // Drawn at the page break: the first line, then a STOP for the label "GS1".
    write_file(dir / "loghi/dopo.txt",
               "a\tLINOR\t1\t0\t5\t10\r\ns\tSTOP\tGS1\r\nb\tLINOR\t1\t100\t5\t10\r\n");
    const std::string blank = "\r\n\r\n\r\n\r\n";
    const std::string path = print_file(
        "BARCODE1.txt", "///LFATT\r\nFattura FT2026-0042\r\n" + blank +
                            "~%FT2026-0042~%FINE-128\r\n" + blank + "~%ORDINE 42~%FINE-C39\r\n" +
                            blank + "~%1234567~%FINE-I25\r\n" + blank +
                            "~%0112345678901231~%FINE-GS1\r\n" + blank + "\x0c" "Pagina 2\r\nfine\r\n");
    ASSERT_NE(compose(path), "");
    const std::string pdf = layout.compose.created_pdf;
    ASSERT_EQ(pdf_pages(pdf), 2);
    EXPECT_EQ(scan_page(pdf, 1, dir / "page1"),
              (std::vector<std::string>{"CODE-128:0112345678901231", "CODE-128:FT2026-0042",
                                        "CODE-39:ORDINE 42", "I2/5:01234567"}));
    const auto page = render_page(pdf, 1, 150, dir / "overlay");
    ASSERT_TRUE(page.ok());
    EXPECT_TRUE(page.dark(5, 5));
    EXPECT_TRUE(page.white(105, 5));
}

}  // namespace
}  // namespace velarion::testing
