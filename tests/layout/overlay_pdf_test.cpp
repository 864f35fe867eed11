// Overlays drawn into real PDFs: rendered with pdftoppm and read back with
// pdftotext and pdfimages.
#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "layout/overlay.h"
#include "layout/overlay_render_support.h"
#include "platform/pdf/pdf_document.h"
#include "platform/os/process.h"
#include "support/layout_context.h"
#include "support/test_support.h"

namespace velarion {
namespace {

class OverlayPdfTest : public ::testing::Test {
protected:
    OverlayPdfTest() {
        t.cfg.op.Dir_Loghi = dir.path();
        t.cfg.derive();
        t.cfg.host.program_dir = dir.path();
        t.cfg.host.decimal_separator = ".";
    }
    // A one-page A4 document with the overlay drawn on it, saved as out.pdf.
    std::string make(const std::vector<std::string>& lines) {
        std::string text;
        for (const auto& l : lines) text += l + "\r\n";
        testing::write_file(dir / "form.txt", text);
        auto doc = make_pdf_document();
        doc->NewPDF("Stampa");
        doc->SetPageDimensions(210, 297);
        doc->addpage();
        std::string file = "form.txt";
        Creafincature(t.rt, t.layout.overlay, *doc, file, 0, 0);
        doc->SavePDF(dir / "out.pdf");
        return dir / "out.pdf";
    }

    testing::TempDir dir;
    testing::LayoutContext t;
};

TEST_F(OverlayPdfTest, LinesBoxesAndDashesAtTheirPlaces) {
    const std::string pdf = make({
        "box\tRETT\t0.5\t10\t100\t20\t50",
        "dashv\tLINVET\t0.5\t150\t100\t10\t\t\t3\t2",
        "dashh\tLINORT\t0.5\t100\t150\t10\t\t\t3\t2",
        "red\tFILCOL\t255,0,0",
        "area\tRETF\t0.3\t1\t0\t20\t200\t40\t20",
    });
    const auto page = testing::render_page(pdf, 1, 254, dir / "page");
    ASSERT_TRUE(page.ok());
    EXPECT_TRUE(page.dark(55, 20));   // top side
    EXPECT_TRUE(page.dark(55, 50));   // bottom side
    EXPECT_TRUE(page.dark(10, 35));   // left side
    EXPECT_TRUE(page.dark(100, 35));  // right side
    EXPECT_TRUE(page.white(55, 35));  // inside
    EXPECT_TRUE(page.white(105, 35));

    // Vertical dashes 100-103 and 105-108, a last dot at 110.
    EXPECT_TRUE(page.dark(150, 101.5));
    EXPECT_TRUE(page.white(150, 104));
    EXPECT_TRUE(page.dark(150, 106.5));
    EXPECT_TRUE(page.white(150, 109));
    EXPECT_TRUE(page.white(150, 111.5));
    // Horizontal dashes 100-103, 105-108 and a whole last one, 110-113.
    EXPECT_TRUE(page.dark(101.5, 150));
    EXPECT_TRUE(page.white(104, 150));
    EXPECT_TRUE(page.dark(106.5, 150));
    EXPECT_TRUE(page.white(109, 150));
    EXPECT_TRUE(page.dark(111.5, 150));
    EXPECT_TRUE(page.white(114, 150));

    const unsigned char* red = page.at(40, 210);
    EXPECT_GT(red[0], 200);
    EXPECT_LT(red[1], 80);
    EXPECT_LT(red[2], 80);
    EXPECT_TRUE(page.white(40, 225));
    EXPECT_TRUE(t.list.lines().empty());
}

struct Word {
    double x_min, x_max;
};

// Words of page 1 by text, in millimetres.
std::map<std::string, Word> words_of(const std::string& pdf) {
    std::map<std::string, Word> out;
    const auto html = process::run_capture({"pdftotext", "-bbox", pdf, "-"});
    if (!html) return out;
    const std::regex word(R"re(<word xMin="([0-9.]+)" yMin="[0-9.]+" xMax="([0-9.]+)" yMax="[0-9.]+">([^<]*)</word>)re");
    for (std::sregex_iterator it(html->begin(), html->end(), word), end; it != end; ++it)
        out[(*it)[3]] = {std::stod((*it)[1]) * 25.4 / 72, std::stod((*it)[2]) * 25.4 / 72};
    return out;
}

TEST_F(OverlayPdfTest, TextLayouts) {
    const std::string pdf = make({
        "r\tTESTO\t10\t\t100\t60\t\tr\t\t\tRIGHT",
        "c\tTESTO\t10\t\t100\t80\t\tc\t\t\tCENTRE",
        "l\tTESTO\t10\t\t20\t120\t\t\t\t\tWORD",
        "p\tTESTO\t10\t\tprec\t120\t\t\t\t\tNEXT",
        "e\tTESTO\t10\t\t20\t100\t\te:80\t\t\tAA BB CC DD",
    });
    const auto w = words_of(pdf);
    ASSERT_TRUE(w.count("RIGHT") && w.count("CENTRE") && w.count("DD") && w.count("NEXT"));
    EXPECT_NEAR(w.at("RIGHT").x_max, 100, 0.3);
    EXPECT_NEAR((w.at("CENTRE").x_min + w.at("CENTRE").x_max) / 2, 100, 0.3);
    // "prec" goes on after "WORD" with one space.
    const double courier10 = 6 * 25.4 / 72;  // one Courier character at 10 points, mm
    EXPECT_NEAR(w.at("NEXT").x_min, w.at("WORD").x_max + courier10, 0.3);
    // Stretched to 80 mm from x 20, short of it by less than one space.
    EXPECT_NEAR(w.at("AA").x_min, 20, 0.3);
    EXPECT_LE(w.at("DD").x_max, 100.3);
    EXPECT_GT(w.at("DD").x_max, 100 - courier10);
    // The spaces went to the first three words, evenly.
    const double gap1 = w.at("BB").x_min - w.at("AA").x_max;
    const double gap3 = w.at("DD").x_min - w.at("CC").x_max;
    EXPECT_GT(gap1, 5 * courier10);
    EXPECT_NEAR(gap1, gap3, courier10 + 0.1);
}

TEST_F(OverlayPdfTest, ImageSlotReusedWithinTheDocument) {
    // A black JPEG, made from a rendered page.
    {
        auto doc = make_pdf_document();
        doc->NewPDF("pic");
        doc->SetPageDimensions(30, 20);
        doc->addpage();
        doc->SetFillColor(0, 0, 0);
        doc->DrawRect(0, 0, 30, 20, true, false, 0);
        doc->SavePDF(dir / "pic.pdf");
    }
    ASSERT_EQ(process::run_and_wait({"pdftoppm", "-jpeg", "-r", "30", "-singlefile", dir / "pic.pdf",
                                     dir / "pic"}),
              0);
    // The second line names a file that does not exist: slot 3 is already filled.
    const std::string pdf = make({
        "a\tIMAGE\t3\t20\t260\t20\t30\t\t\tpic.jpg",
        "b\tIMAGE\t3\t120\t260\t20\t30\t\t\tother.jpg",
    });
    EXPECT_TRUE(t.list.lines().empty());
    const auto list = process::run_capture({"pdfimages", "-list", pdf});
    ASSERT_TRUE(list);
    // Two placements of one image object.
    const std::regex row(R"(\n\s+1\s+\d+\s+image\s+\d+\s+\d+\s+\S+\s+\d+\s+\d+\s+\S+\s+\S+\s+(\d+)\s+0)");
    std::vector<std::string> objects;
    for (std::sregex_iterator it(list->begin(), list->end(), row), end; it != end; ++it)
        objects.push_back((*it)[1]);
    ASSERT_EQ(objects.size(), 2u) << *list;
    EXPECT_EQ(objects[0], objects[1]);

    const auto page = testing::render_page(pdf, 1, 100, dir / "page");
    ASSERT_TRUE(page.ok());
    EXPECT_TRUE(page.dark(35, 250));   // from y 240 to its bottom at 260
    EXPECT_TRUE(page.dark(135, 250));
    EXPECT_TRUE(page.white(35, 265));
}

}  // namespace
}  // namespace velarion
