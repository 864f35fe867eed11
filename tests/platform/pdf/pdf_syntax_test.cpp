// Numbers of the PDF syntax at the edges: what a layout file can ask for
// (found by fuzzing the overlays) stays a number a reader can parse.
#include "platform/pdf/pdf_syntax.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "platform/pdf/pdf_document.h"
#include "support/test_support.h"

namespace velarion {
namespace {

std::string number(double v, int decimals) {
    std::string out;
    pdfwriter::append_number(out, v, decimals);
    return out;
}

TEST(PdfSyntax, NumbersBeyondAnyPageAreHeldAtTheLimit) {
    EXPECT_EQ(number(12.5, 3), "12.5");
    EXPECT_EQ(number(-0.2834, 3), "-0.283");
    EXPECT_EQ(number(5e58, 3), "1000000000000");
    EXPECT_EQ(number(-1e300, 6), "-1000000000000");
    EXPECT_EQ(number(std::numeric_limits<double>::quiet_NaN(), 2), "0");
    std::string out;
    pdfwriter::append_thousandths(out, std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(out, "-9223372036854775.808");
}

TEST(PdfSyntax, ADocumentDrawnFarOffThePageStaysReadable) {
    testing::TempDir dir;
    auto doc = make_pdf_document();
    doc->NewPDF("Stampa");
    doc->addpage();
    doc->SetFontName("Courier");
    doc->SetFONTHEIGHT(10);
    doc->DrawRect(1, 1, 5e58, 20, true, true, 0.3);
    doc->TextOut("lontano", 1e300, -1e300);
    doc->TextOut("vicino", 10, 20);
    doc->SavePDF(dir / "far.pdf");
    const auto check = testing::run_program({"/usr/bin/qpdf", "--check", dir / "far.pdf"});
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    const auto text = testing::run_program({"/usr/bin/pdftotext", dir / "far.pdf", "-"});
    EXPECT_NE(text.out.find("vicino"), std::string::npos) << text.out;
}

}  // namespace
}  // namespace velarion
