#include "pdf/markup.h"

#include <gtest/gtest.h>

#include "layout/style.h"

namespace velarion {
namespace {

TEST(LineRewrites, DashesBecomeLongDashesOnlyInRuns) {
    std::string line = "a-b --- c-| x-y";
    long_dashes(line);
    // A run of three prints as three long dashes; "-|" too; a lone hyphen stays.
    EXPECT_EQ(line, "a-b \x97\x97\x97 c\x97| x-y");
    std::string single = "a-b-c";
    long_dashes(single);
    EXPECT_EQ(single, "a-b-c");
    // Runs at both ends, a run of two, and a hyphen after a run's end.
    std::string ends = "--x--|-y-- -";
    long_dashes(ends);
    EXPECT_EQ(ends, "\x97\x97x\x97\x97|-y\x97\x97 -");
}

TEST(LineRewrites, EuroSignAndTags) {
    std::string line = "Totale 'e 100 'e";
    euro_sign(line);
    EXPECT_EQ(line, "Totale \x80 100 'e");
    std::string tagged = "<E>BIG</E>";
    expand_tags(tagged);
    EXPECT_EQ(tagged, "\x0e" "BIG\x12");
}

TEST(LineRewrites, SubstitutionsApplyInRowOrder) {
    const std::vector<Substitution> table = {{"A B", "\x0e\x0fX"}, {"X", "Y"}};
    std::string line = "1 A B 2 A B";
    apply_substitutions(line, table);
    EXPECT_EQ(line, "1 \x0e\x0fY 2 \x0e\x0fY");
}

TEST(LineRewrites, MarkerSequences) {
    MarkerSequences m;
    m.start[1] = "[[";
    m.start_repl[1] = "<";
    m.end[1] = "]]";
    m.end_repl[1] = "COMPRESSO";
    m.start[2] = "{{";
    m.end[2] = "}}";  // no replacement: removed
    std::string line = "a[[b]]c{{d}}";
    apply_markers(line, m);
    EXPECT_EQ(line, "a<b\x0f" "cd");
    m.end_repl[1] = "NORMALE";
    line = "x]]";
    apply_markers(line, m);
    EXPECT_EQ(line, "x\x12");
}

TEST(LineRewrites, LogoDirectives) {
    std::string a = "///lLAND";
    rewrite_logo_directive(a);
    EXPECT_EQ(a, "%logo:LAND%");
    std::string b = "\x0c///LLETT";
    rewrite_logo_directive(b);
    EXPECT_EQ(b, "\x0c%logo:LETT%");
    EXPECT_EQ(logo_directive("xx %LOGO:Fattura% yy"), "Fattura");
    EXPECT_EQ(logo_directive("%logo:Open"), "Open");
    EXPECT_FALSE(logo_directive("100% logo: none"));
}

TEST(FormattingTable, ParsesAndInsertsWithShift) {
    auto table = parse_format_table("2\tC\t5\n2\tN\t8\n3\tP\t1\t255,000,000\t03\t12\n"
                                    "x\tC\t1\n4\tZ\t1\n");
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[2].control, std::string("\x10") + "255,000,000" + "03" + "12   ");
    std::string line = "abcdefghij";
    apply_format_table(line, table, 2);
    // Column 8 is counted in the original line, after the first insertion.
    EXPECT_EQ(line, "abcd\x0f" "efg\x12hij");
    std::string other = "abc";
    apply_format_table(other, table, 1);
    EXPECT_EQ(other, "abc");
}

TEST(Pieces, ControlCharactersSplitAndStyle) {
    std::string stop;
    auto p = split_pieces("AB\x0f" "CD\x0e" "EF\x12GH\x13IJ", stop);
    ASSERT_EQ(p.size(), 5u);
    EXPECT_EQ(p[0].style, "n");
    EXPECT_EQ(p[1].style, "c");
    EXPECT_EQ(p[2].style, "ec");  // Chr(14) while condensed
    EXPECT_EQ(p[3].style, "n");
    EXPECT_EQ(p[4].style, "s");
    EXPECT_EQ(p[4].text, "IJ");
    EXPECT_TRUE(p[4].last);
    EXPECT_FALSE(p[0].last);

    auto q = split_pieces("\x0e\x0fXY", stop);  // Chr(14) then Chr(15)
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(q[0].style, "ec");
}

TEST(Pieces, FontRecordBarcodeAndStopLabel) {
    std::string stop;
    const std::string record = "255 000 128" "05" "14.5 ";
    // The section name runs to the end of the piece; its first three
    // characters are the overlay stop label.
    auto p = split_pieces("A\x10" + record + "red text\x12" "B~%12345~%FINE-C39 ORDINI\x12 after",
                          stop);
    ASSERT_EQ(p.size(), 5u);
    EXPECT_EQ(p[1].style, "p");
    EXPECT_EQ(p[1].record, record);
    EXPECT_EQ(p[1].text, "red text");
    EXPECT_EQ(p[3].style, "bc");
    EXPECT_EQ(p[3].text, "12345");
    EXPECT_EQ(p[3].section, "C39 ORDINI");
    EXPECT_EQ(p[4].text, " after");
    EXPECT_EQ(stop, "C39");

    // A marker alone only sets the label, and a short name is taken whole.
    split_pieces("~%FINE-GS", stop);
    EXPECT_EQ(stop, "GS");
}

TEST(Pieces, KeptPiecesAreMadeAfreshForEachLine) {
    // The line loop's pieces go from line to line: a plain line after one
    // with a font record and a barcode is one normal piece, nothing kept.
    std::string stop;
    std::vector<Piece> pieces;
    split_pieces("A\x10" "255 000 128" "05" "14.5 " "red\x12" "B~%12345~%FINE-C39 X", stop, pieces);
    ASSERT_EQ(pieces.size(), 4u);
    split_pieces("plain line", stop, pieces);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0].text, "plain line");
    EXPECT_EQ(pieces[0].style, "n");
    EXPECT_EQ(pieces[0].record, "");
    EXPECT_EQ(pieces[0].section, "");
    EXPECT_TRUE(pieces[0].last);
    // And a line with pieces after a plain one has only its own.
    split_pieces("AB\x0f" "CD", stop, pieces);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].text, "AB");
    EXPECT_FALSE(pieces[0].last);
    EXPECT_EQ(pieces[1].style, "c");
    EXPECT_EQ(pieces[1].text, "CD");
    EXPECT_EQ(stop, "C39");
}

TEST(Pieces, EmptyAndControlOnlyLines) {
    std::string stop;
    auto p = split_pieces("", stop);
    ASSERT_EQ(p.size(), 1u);
    EXPECT_TRUE(p[0].last);
    EXPECT_TRUE(only_control_characters("\x0c\x12"));
    EXPECT_FALSE(only_control_characters("\x0c a"));
    // A line of many control characters never overflows: each run is one piece.
    std::string many;
    for (int i = 0; i < 30; ++i) many += (i % 2 ? "\x0f" : "\x12") + std::string("x");
    EXPECT_EQ(split_pieces(many, stop).size(), 30u);
}

}  // namespace
}  // namespace velarion
