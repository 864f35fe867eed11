// The overlay commands, checked on the calls they make to the drawing object.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/ini_cache.h"
#include "layout/overlay.h"
#include "layout/overlay_fake_doc.h"
#include "layout/overlay_lines.h"
#include "support/layout_context.h"
#include "support/test_support.h"

namespace velarion {
namespace {

using testing::RecordingDoc;

class OverlayTest : public ::testing::Test {
protected:
    OverlayTest() {
        t.cfg.op.Dir_Loghi = dir.path();
        t.cfg.derive();
        t.cfg.host.program_dir = dir.path();
        t.cfg.host.decimal_separator = ".";
    }
    // Writes the overlay (lines joined with CR LF) and draws it.
    void draw(const std::vector<std::string>& lines, double left = 0, double top = 0) {
        std::string text;
        for (const auto& l : lines) text += l + "\r\n";
        testing::write_file(dir / "form.txt", text);
        file = "form.txt";
        Creafincature(t.rt, t.layout.overlay, doc, file, left, top);
    }
    std::vector<std::string> lines() const { return doc.with("Line "); }
    std::string last_list_line() const {
        return t.list.lines().empty() ? "" : t.list.lines().back();
    }

    testing::TempDir dir;
    testing::LayoutContext t;
    RecordingDoc doc;
    std::string file;
};

TEST_F(OverlayTest, CompletesTheFileNameAndReportsAMissingFile) {
    file = "nothere.txt";
    Creafincature(t.rt, t.layout.overlay, doc, file, 0, 0);
    EXPECT_EQ(file, dir / "nothere.txt");
    ASSERT_EQ(t.list.size(), 1u);
    EXPECT_EQ(last_list_line(), "07/12/2026 10:30:00 Creafincature 53 File not found " +
                                    dir / "nothere.txt" + "  ");
    EXPECT_EQ(doc.calls.back(), "Inclination 0");
}

TEST_F(OverlayTest, EndAndStopEndTheFile) {
    draw({"a\tEND", "b\tLINOR\t1\t0\t0\t10"});
    EXPECT_TRUE(lines().empty());

    t.layout.overlay.stop_label = "ABC";
    draw({"a\tSTOP\tXYZ", "b\tLINOR\t1\t0\t0\t10", "c\tSTOP\tABC", "d\tLINOR\t1\t0\t5\t10"});
    ASSERT_EQ(lines().size(), 1u);
    EXPECT_EQ(lines()[0], "Line 1 0 10 0 0");
    EXPECT_TRUE(t.list.lines().empty());
}

TEST_F(OverlayTest, MarginsAndTheirOverrides) {
    draw({"m\tMARGSX\tabc", "m\tMARGSUP\t7.5", "l\tLINVE\t0.2\t10\t20\t30"});
    EXPECT_EQ(lines(), std::vector<std::string>{"Line 0.2 10 10 27.5 57.5"});
    doc.calls.clear();
    draw({"m\tMARGSX\t100", "m\tMARGSUP\t100", "l\tLINVE\t0.2\t10\t20\t30"}, 5, 0);
    EXPECT_EQ(lines(), std::vector<std::string>{"Line 0.2 15 15 120 150"});
    doc.calls.clear();
    // Without MARGSX/MARGSUP lines the overrides do nothing.
    draw({"l\tLINVE\t0.2\t10\t20\t30"}, 5, 5);
    EXPECT_EQ(lines(), std::vector<std::string>{"Line 0.2 10 10 20 50"});
}

TEST_F(OverlayTest, RectanglesAndLines) {
    draw({"m\tMARGSX\t1", "m\tMARGSUP\t2", "box\tRETT\t0.5\t10\t100\t20\t50\t255,0,0",
          "n\tRETN\t0.3\t10\t20\t90\t30", "diag\tLINEA\t0.1\t1\t2\t3\t4",
          "h\tLINOR\t0.4\t5\t6\t7\t\t0,0,255"});
    const std::vector<std::string> expected = {
        "Line 0.5 11 101 22 22", "Line 0.5 11 101 52 52", "Line 0.5 11 11 22 52",
        "Line 0.5 101 101 22 52", "Line 0.3 11 101 22 22", "Line 0.3 11 101 52 52",
        "Line 0.3 11 11 22 52",   "Line 0.3 101 101 22 52", "Line 0.1 2 3 5 6",
        "Line 0.4 6 13 8 8"};
    EXPECT_EQ(lines(), expected);
    // The colour comes before the first line of its command.
    EXPECT_EQ(doc.calls[0], "LineColor 255,0,0");
    EXPECT_EQ(doc.calls[10], "LineColor 0,0,255");
}

TEST_F(OverlayTest, DashedLinesFollowTheirOwnEndRules) {
    draw({"v\tLINVET\t0.2\t5\t0\t10\t\t\t3\t2", "h\tLINORT\t0.2\t0\t5\t10\t\t\t3\t2"});
    const std::vector<std::string> expected = {
        "Line 0.2 5 5 0 3",  "Line 0.2 5 5 5 8",  "Line 0.2 5 5 10 10.01",
        "Line 0.2 0 3 5 5",  "Line 0.2 5 8 5 5",  "Line 0.2 10 13 5 5"};
    EXPECT_EQ(lines(), expected);
}

TEST_F(OverlayTest, FilledRectangleAndCutCorners) {
    draw({"m\tMARGSX\t1", "f\tRETF\t0.3\t1\t0\t10\t20\t30\t40", "f\tRETF\t0.3\t0\t1\t10\t20\t30\t40",
          "s\tRETS\t0.2\t10\t10\t50\t20"});
    EXPECT_EQ(doc.with("Rect"), (std::vector<std::string>{"Rect 11 20 30 40 fill nooutline 0.3",
                                                          "Rect 11 20 30 40 nofill outline 0.3"}));
    const auto l = lines();
    ASSERT_EQ(l.size(), 9u);
    EXPECT_EQ(l[0], "Line 0.2 13.7 13.6 9.7 10.4");  // first stroke, k = 1
    EXPECT_EQ(l[5], "Line 0.2 14 58 10 10");         // top side
    EXPECT_EQ(l[8], "Line 0.2 61 61 13 27");         // right side
}

TEST_F(OverlayTest, FontRegisteredOncePerDocument) {
    testing::write_file(dir / "myfont.ttf", "x");
    draw({"f\tFONT\tMyFont.TTF\tMine", "f\tFONT\tMyFont.TTF\tMine", "f\tFONT\tmyfont.ttf\tMono\t500"});
    draw({"f\tFONT\tMyFont.TTF\tMine"});
    EXPECT_EQ(doc.with("AddFont "), std::vector<std::string>{"AddFont Mine " + dir / "myfont.ttf"});
    EXPECT_EQ(doc.with("AddFontMONOSPACED").size(), 1u);
    t.layout.overlay.reset_document();
    draw({"f\tFONT\tmyfont.ttf\tMine"});
    EXPECT_EQ(doc.with("AddFont ").size(), 2u);
    // A font file that is nowhere is not registered, and the overlay goes on.
    draw({"f\tFONT\tnosuch.ttf\tGone", "l\tLINOR\t1\t0\t0\t1"});
    EXPECT_EQ(doc.with("AddFont ").size(), 2u);
    EXPECT_EQ(lines().size(), 1u);
}

TEST_F(OverlayTest, ImageSlotsImportOncePerDocument) {
    draw({"m\tMARGSX\t1", "i\tIMAGE\t3\t10\t50\t20\t30\t\t\tpic.jpg",
          "i\tIMAGE\t3\t40\t50\t20\t30\t\t\tother.jpg"});
    EXPECT_EQ(doc.imports, 1);
    EXPECT_EQ(doc.with("Import")[0], "Import " + dir / "pic.jpg" + " 90");
    EXPECT_EQ(doc.with("DrawImage"), (std::vector<std::string>{"DrawImage /Im1 11 30 30 20",
                                                               "DrawImage /Im1 41 30 30 20"}));
    draw({"i\tIMAGE\t3\t10\t50\t20\t30\t\t\tpic.jpg"});
    EXPECT_EQ(doc.imports, 1);
    t.layout.overlay.reset_document();
    draw({"i\tIMAGE\t3\t10\t50\t20\t30\t\t\tpic.jpg"});
    EXPECT_EQ(doc.imports, 2);

    draw({"bad\tIMAGE\t21\t10\t50\t20\t30\t\t\tpic.jpg"});
    EXPECT_NE(last_list_line().find(" Creafincature 9 Subscript out of range "), std::string::npos);
}

TEST_F(OverlayTest, TextAlignments) {
    // Every character is 2 mm wide in the recording object.
    draw({"t\tTESTO\t10\t\t50\t20\t\tr\t\tF1\tABCD  ", "t\tTESTO\t10\t\t50\t30\t\tc\t\t\tABCD",
          "t\tTESTO\t10\t255,0,0\t10\t40\t\t\t45\tF4\tAB", "t\tTESTO\t10\t\tprec\t40\t\t\t\t\ttext"});
    EXPECT_EQ(doc.with("TextOut"),
              (std::vector<std::string>{"TextOut [ABCD] 42 20", "TextOut [ABCD] 46 30",
                                        "TextOut [AB] 10 40", "TextOut [ text] 14 40"}));
    EXPECT_EQ(doc.with("FontName /F"), (std::vector<std::string>{"FontName /F1", "FontName /F4"}));
    // Colour and angle come before the text; the angle is put back after it.
    const auto& c = doc.calls;
    const auto at = std::find(c.begin(), c.end(), "TextOut [AB] 10 40");
    ASSERT_NE(at, c.end());
    EXPECT_EQ(*(at - 1), "Inclination 45");
    EXPECT_EQ(*(at - 2), "FillColor 255,0,0");
    EXPECT_EQ(*(at + 1), "Inclination 0");
    EXPECT_TRUE(t.list.lines().empty());
}

TEST_F(OverlayTest, JustifiedParagraph) {
    draw({"t\tTESTO\t10\t\t5\t20\t\tg:150.50:4.5\t\t\tSome text"});
    const auto& c = doc.calls;
    const auto text = std::find(c.begin(), c.end(), "TextOut [Some text] 5 20");
    ASSERT_NE(text, c.end());
    EXPECT_EQ(doc.with("Paragraph"),
              (std::vector<std::string>{"ParagraphAlignment Full", "ParagraphWidth 150.5",
                                        "ParagraphLeading 4.5", "ParagraphAlignment Left",
                                        "ParagraphWidth 0", "ParagraphLeading 0"}));
}

TEST_F(OverlayTest, StretchedText) {
    // "A B C" is 10 mm; e:20 asks for 20 mm: five spaces over words 1 and 2.
    draw({"t\tTESTO\t10\t\t0\t10\t\te:20\t\t\tA B C"});
    EXPECT_EQ(doc.with("TextOut")[0], "TextOut [A    B   C] 0 10");
    // A continuation counts the width already written: 20 - 4 ("AB") = 16 mm
    // for " X Y" (8 mm): four more spaces, all after "X".
    doc.calls.clear();
    draw({"t\tTESTO\t10\t\t0\t10\t\t\t\t\tAB", "t\tTESTO\t10\t\tprec\t10\t\te:20\t\t\tX Y"});
    EXPECT_EQ(doc.with("TextOut")[1], "TextOut [ X     Y] 4 10");
    // Words 1 to g all blank: nothing to widen, the text stays as it is.
    doc.calls.clear();
    draw({"t\tTESTO\t10\t\t0\t10\t\te:90\t\t\t  X"});
    EXPECT_EQ(doc.with("TextOut")[0], "TextOut [  X] 0 10");
}

TEST_F(OverlayTest, FontTagsAndNames) {
    doc.fail_fonts = true;
    draw({"t\tTESTO\t10\t\t0\t10\t\t\t\tKnown\tA", "t\tTESTO\t10\t\t0\t10\t\t\t\tMissing\tB",
          "t\tTESTO\t10\t\t0\t10\t\t\t\tF12\tC"});
    EXPECT_EQ(doc.with("TextOut").size(), 3u);
    EXPECT_EQ(doc.with("FontName Known").size(), 1u);
    EXPECT_TRUE(t.list.lines().empty());
    draw({"t\tTESTO\t10\t\t0\t10\t\t\t\tFx\tA"});
    EXPECT_NE(last_list_line().find(" Creafincature 13 Type mismatch "), std::string::npos);
    // Any name of two or three characters must end in a number.
    const auto errors = t.list.size();
    draw({"t\tTESTO\t10\t\t0\t10\t\t\t\tSym\tA"});
    EXPECT_EQ(t.list.size(), errors + 1);
    // "F01" is not in the font table: a name like any other, here unknown.
    doc.calls.clear();
    draw({"t\tTESTO\t10\t\t0\t10\t\t\t\tF01\tA"});
    EXPECT_TRUE(doc.with("FontName /F").empty());
    EXPECT_EQ(doc.with("TextOut").size(), 1u);
}

TEST_F(OverlayTest, ErrorsEndTheFileAndKeepWhatWasDrawn) {
    draw({"one\tLINOR\t1\t0\t0\t10", "col\tFILCOL\t255,0", "two\tLINOR\t1\t0\t5\t10"});
    EXPECT_EQ(lines().size(), 1u);
    ASSERT_EQ(t.list.size(), 1u);
    EXPECT_EQ(last_list_line(), "07/12/2026 10:30:00 Creafincature 9 Subscript out of range " +
                                    dir / "form.txt" + " col col\tFILCOL\t255,0");
    EXPECT_EQ(doc.calls.back(), "Inclination 0");

    draw({"num\tLINOR\t1\tx1\t0\t10"});
    EXPECT_EQ(last_list_line(), "07/12/2026 10:30:00 Creafincature 13 Type mismatch " +
                                    dir / "form.txt" + " num num\tLINOR\t1\tx1\t0\t10");
    draw({"p\tTESTO\t10\t\tprec\t10\t\t\t\t\tfirst"});
    EXPECT_NE(last_list_line().find(" Creafincature 13 "), std::string::npos);
    // Unknown and lower-case keywords are ignored.
    const auto before = t.list.size();
    draw({"x\trett\t1\t2\t3\t4\t5", "x\tNOTHING"});
    EXPECT_EQ(t.list.size(), before);
}

// The style checker's mode: every bad line and unknown command is named with
// its line, the good lines after it are drawn, and no activity line is added
// for a bad line; a file drawn on every page names each problem once.
TEST_F(OverlayTest, CheckingGoesOnAndNamesEachBadLine) {
    t.layout.overlay.checking = true;
    const std::vector<std::string> form = {"one\tLINOR\t1\t0\t0\t10", "col\tFILCOL\t255,0",
                                           "x\tNOTHING", "two\tLINOR\t1\t0\t5\t10"};
    draw(form);
    draw(form);  // the next page
    EXPECT_EQ(lines().size(), 4u);
    EXPECT_EQ(t.list.size(), 0u);
    std::vector<std::string> messages;
    for (const auto& p : t.layout.overlay.problems) messages.push_back(p.message());
    EXPECT_EQ(messages, (std::vector<std::string>{
                            dir / "form.txt:2 FILCOL: Subscript out of range (col\tFILCOL\t255,0)",
                            dir / "form.txt:3 NOTHING: unknown command (line ignored)"}));
}

// An overlay kept for the run is the version of the file opened for each
// drawing: a file replaced or edited is drawn as it is now from the next
// drawing on, and a link put in its place is refused, never served from
// what was kept of the file before.
TEST_F(OverlayTest, AKeptOverlayFollowsItsFileAndRefusesALinkPutInItsPlace) {
    const std::string path = dir / "form.txt";
    auto draw_kept = [&] {
        doc.calls.clear();
        file = "form.txt";
        Creafincature(t.rt, t.layout.overlay, doc, file, 0, 0);
        return lines();
    };
    testing::write_file(path, "l\tLINOR\t1\t0\t0\t10\r\nf\tEND\r\nl\tLINOR\t1\t0\t5\t10\r\n");
    testing::settle(path);
    const std::vector<std::string> first{"Line 1 0 10 0 0"};
    EXPECT_EQ(draw_kept(), first);
    EXPECT_EQ(t.rt.ini_files.files_kept(), 1u);
    EXPECT_EQ(draw_kept(), first);

    // Replaced by a rename (another inode), then edited in place (another size).
    testing::write_file(dir / "new.txt", "l\tLINOR\t2\t0\t0\t10\r\n");
    testing::settle(dir / "new.txt");
    std::filesystem::rename(dir / "new.txt", path);
    EXPECT_EQ(draw_kept(), std::vector<std::string>{"Line 2 0 10 0 0"});
    testing::write_file(path, "l\tLINOR\t3\t0\t0\t10\r\nl\tLINOR\t3\t0\t0\t20\r\n");
    testing::settle(path);
    EXPECT_EQ(draw_kept(), (std::vector<std::string>{"Line 3 0 10 0 0", "Line 3 0 20 0 0"}));
    EXPECT_EQ(draw_kept().size(), 2u);
    EXPECT_TRUE(t.list.lines().empty());

    // A link to a file outside the folders swapped in: refused.
    testing::TempDir outside;
    testing::write_file(outside / "form.txt", "l\tLINOR\t9\t0\t0\t10\r\n");
    testing::settle(outside / "form.txt");
    std::filesystem::create_symlink(outside / "form.txt", dir / "link");
    std::filesystem::rename(dir / "link", path);
    EXPECT_TRUE(draw_kept().empty());
    EXPECT_NE(last_list_line().find(" Creafincature 53 File not found " + path), std::string::npos);
}

// The numbers of a kept overlay are read in the notation of the run that
// reads them: kept lines are not taken for another notation.
TEST_F(OverlayTest, KeptNumbersFollowTheDecimalNotation) {
    testing::write_file(dir / "form.txt", "l\tLINOR\t1,5\t0\t0\t10\r\n");
    testing::settle(dir / "form.txt");
    t.cfg.host.decimal_separator = ",";
    for (int i = 0; i < 2; ++i) {
        file = "form.txt";
        Creafincature(t.rt, t.layout.overlay, doc, file, 0, 0);
    }
    EXPECT_EQ(lines(), (std::vector<std::string>{"Line 1.5 0 10 0 0", "Line 1.5 0 10 0 0"}));
    t.cfg.host.decimal_separator = ".";
    file = "form.txt";
    Creafincature(t.rt, t.layout.overlay, doc, file, 0, 0);
    EXPECT_EQ(lines().size(), 2u);
    EXPECT_NE(last_list_line().find(" Creafincature 13 Type mismatch "), std::string::npos);
}

// An overlay too large to keep is drawn all the same, read line by line,
// and the run's cache stays within its bound whatever the files drawn.
TEST_F(OverlayTest, OverlaysKeptStayWithinTheBound) {
    std::string big;
    while (big.size() <= overlay::kMaxKeptOverlay) big += "c\tLINCOL\t0,0,0\r\n";
    big += "l\tLINOR\t1\t0\t0\t10\r\n";
    testing::write_file(dir / "big.txt", big);
    testing::settle(dir / "big.txt");
    file = "big.txt";
    Creafincature(t.rt, t.layout.overlay, doc, file, 0, 0);
    EXPECT_EQ(lines(), std::vector<std::string>{"Line 1 0 10 0 0"});
    EXPECT_EQ(t.rt.ini_files.files_kept(), 0u);

    for (std::size_t i = 0; i < 2 * IniCache::kMaxFiles; ++i) {
        const std::string name = "form" + std::to_string(i) + ".txt";
        testing::write_file(dir / name, "l\tLINOR\t1\t0\t0\t" + std::to_string(i) + "\r\n");
        testing::settle(dir / name);
        file = name;
        Creafincature(t.rt, t.layout.overlay, doc, file, 0, 0);
    }
    EXPECT_EQ(t.rt.ini_files.files_kept(), IniCache::kMaxFiles);
    EXPECT_EQ(lines().size(), 1 + 2 * IniCache::kMaxFiles);
    EXPECT_TRUE(t.list.lines().empty());
}

}  // namespace
}  // namespace velarion
