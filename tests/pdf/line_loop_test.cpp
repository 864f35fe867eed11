// The line loop's rules on label sheets and on numeric fields of styles,
// formatting tables and font records that no page can use.
#include <gtest/gtest.h>

#include "compose_fixture.h"

namespace velarion::testing {
namespace {

std::vector<std::string> texts_and_pages(const std::vector<std::string>& calls) {
    std::vector<std::string> seen;
    for (const auto& c : calls)
        if (c == "addpage" || (c.rfind("TextOut", 0) == 0 && c.find("[!]") == std::string::npos))
            seen.push_back(c);
    return seen;
}

// A Chr(17) as the last line of a full sheet is skipped by the last-line
// rule: no new page with its form, no empty label.
TEST_F(ComposeTest, ClosingLabelMarkOpensNoLabelAndNoPage) {
    styles("[ETI]\nEtiOr=2\nEtiVt=2\nEtiDeltaOr=100\nEtiDeltaVt=50\nfincatura=riquadro.txt\n");
    write_file(dir / "loghi/riquadro.txt", "a\tMARGSX\t0\r\na\tLINVE\t0.5\t10\t20\t30\r\n");
    layout.style.name = "ETI";
    const std::string sheet = "A\r\n\x11\r\nB\r\n\x11\r\nC\r\n\x11\r\nD\r\n\x11\r\n";
    EXPECT_EQ(compose(print_file("ETI002.txt", sheet)), "12v");
    const std::string pdf = dir / "tempozip/ETI002.pdf";
    EXPECT_EQ(pdf_pages(pdf), 1) << pdfinfo(pdf);
    for (const char* label : {"A", "B", "C", "D"}) EXPECT_NE(find_word(pdf_words(pdf), label, 1), nullptr) << label;

    // Half a sheet: the closing mark draws no form for a third label.
    std::vector<std::string> calls;
    layout.compose.make_document = [&] { return std::make_unique<KeptDoc>(&calls); };
    EXPECT_TRUE(CreaPdf(rt, layout, pre, print_file("ETI003.txt", "A\r\n\x11\r\nB\r\n\x11\r\n"), "12v",
                         "ETI003.txt").fitted());
    std::vector<std::string> forms;
    for (const auto& c : calls)
        if (c.rfind("Line ", 0) == 0) forms.push_back(c);
    EXPECT_EQ(forms, (std::vector<std::string>{"Line 0.5 10 10 20 50", "Line 0.5 110 110 20 50"}));
}

// Numbers beyond what a field can hold read as the field's empty value; the
// conversion itself never leaves the range of int.
TEST_F(ComposeTest, OutOfRangeStyleNumbersReadAsEmpty) {
    styles("[LUNGA]\nlunghpagina=1e10\nscartariga1=1e10\nscartariga2=2\nlogodiverso=ALTRO\n"
           "logodiversofrompagina=4294967298\n[ALTRO]\nlunghpagina=1\n"
           "[ETI]\nEtiOr=1e10\nEtiVt=2\nEtiDeltaOr=100\nEtiDeltaVt=50\n[INF]\nlunghpagina=inf\nEtiOr=nan\n");
    layout.style.name = "LUNGA";
    const std::string five = "uno\r\ndue\r\ntre\r\nquattro\r\ncinque\r\n";
    EXPECT_EQ(compose(print_file("LUNGA1.txt", five)), "12v");
    const std::string pdf = dir / "tempozip/LUNGA1.pdf";
    EXPECT_EQ(pdf_pages(pdf), 1) << pdfinfo(pdf);
    const std::string text = pdf_text(pdf);
    EXPECT_EQ(text.find("due"), std::string::npos) << text;  // the second row is still dropped
    EXPECT_NE(text.find("cinque"), std::string::npos) << text;

    // "inf" and "nan" are no numbers: the page length of the pre-analysis.
    layout.style.name = "INF";
    EXPECT_EQ(compose(print_file("INF001.txt", five)), "12v");
    EXPECT_EQ(pdf_pages(dir / "tempozip/INF001.pdf"), 1);

    // A label count beyond int: no label grid, the marks take no row.
    layout.style.name = "ETI";
    std::vector<std::string> calls;
    layout.compose.make_document = [&] { return std::make_unique<KeptDoc>(&calls); };
    EXPECT_TRUE(CreaPdf(rt, layout, pre, print_file("ETI004.txt", "A\r\n\x11\r\nB\r\n"), "12v", "ETI004.txt").fitted());
    EXPECT_EQ(texts_and_pages(calls),
              (std::vector<std::string>{"addpage", "TextOut [A] 5 4.2", "TextOut [B] 5 12.4"}));
}

TEST_F(ComposeTest, OutOfRangeColoursSizesAndTableEntries) {
    styles("[COL]\ncoloretesto1=1e10\ncoloretesto2=-7\ncoloretesto3=nan\nformattatesto=tab.txt\n");
    write_file(dir / "loghi/tab.txt", "1e10\tC\t1\r\n2\tEC\t-5\r\n1\tC\t2147483647\r\n1\tC\t1e10\r\n");
    layout.style.name = "COL";
    std::vector<std::string> calls;
    layout.compose.make_document = [&] { return std::make_unique<KeptDoc>(&calls); };
    // A font record whose colour, font number and size are beyond their fields.
    const std::string path = print_file("COL001.txt", std::string("uno\r\ndue\x10") + "9e9 nan 1e3" + "-1" +
                                                          "1e300" + "rec\r\n");
    EXPECT_TRUE(CreaPdf(rt, layout, pre, path, "12v", "COL001.txt").fitted());
    std::vector<std::string> seen;
    for (const auto& c : calls)
        if (c.rfind("FillColor", 0) == 0 || c.rfind("FontName", 0) == 0 || c.rfind("FONTHEIGHT", 0) == 0 ||
            (c.rfind("TextOut", 0) == 0 && c.find("[!]") == std::string::npos))
            seen.push_back(c);
    const std::vector<std::string> expected = {
        "FontName Courier",  // set-up
        "FillColor 255,0,0", "FontName Courier-Bold", "FONTHEIGHT 5",
        // row 1: entries with a row or a column beyond int are left out; the
        // largest column puts its condensed mark after the line's text
        "FontName Courier", "FONTHEIGHT 12", "TextOut [uno] 5 4.2",
        // row 2: a column before the line is column 1
        "FontName Courier-Bold", "FONTHEIGHT 14", "TextOut [due] 5 8.3",
        "FillColor 255,0,255", "FontName Courier", "FONTHEIGHT 12", "TextOut [rec] 11 8.3"};
    EXPECT_EQ(seen, expected);
}

}  // namespace
}  // namespace velarion::testing
