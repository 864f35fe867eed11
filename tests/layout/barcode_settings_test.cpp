// barcode.ini settings and the drawing steps of a barcode piece, checked on
// the calls made to a recording drawing object.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "layout/barcode.h"
#include "layout/barcode_bars.h"
#include "layout/overlay.h"
#include "layout/overlay_fake_doc.h"
#include "support/layout_context.h"
#include "support/test_support.h"

namespace velarion {
namespace {

class BarcodeSettingsTest : public ::testing::Test {
protected:
    BarcodeSettingsTest() {
        t.cfg.op.Dir_Loghi = dir.path();
        t.cfg.derive();
        t.cfg.host.program_dir = dir.path();
        t.cfg.host.decimal_separator = ".";
    }
    BarcodeRecord& read(const std::string& section, const std::string& image_section = "") {
        t.layout.barcode.section = section;
        ReadBarcodeSettings(t.rt, t.layout.style, t.layout.barcode, image_section);
        return t.layout.barcode;
    }

    testing::TempDir dir;
    testing::TempDir outside;  // a folder no style file may be read from
    testing::LayoutContext t;
    testing::RecordingDoc doc;
};

TEST_F(BarcodeSettingsTest, DefaultsAndBuiltInFonts) {
    testing::write_file(dir / "barcode.ini",
                        "[plain]\nmargsx=12.5\nmargdown=40\n"
                        "[tag]\nnomefilefont=F4\ndescrizionefont=ignored\ntipo=code128\n"
                        "[oddtag]\nnomefilefont=F99\n"
                        "[font]\nnomefilefont=My.ttf\ndescrizionefont=Mine\ntipo=i2of5\n");
    auto& r = read("plain");
    EXPECT_EQ(r.values.font_file, "IDAutomationHC39L.ttf");
    EXPECT_EQ(r.values.font_name, "IDAutomationHC39L");
    EXPECT_DOUBLE_EQ(r.values.angle, 0);
    EXPECT_DOUBLE_EQ(r.values.size, 12);
    EXPECT_EQ(r.values.x, 12.5);  // margins as read
    EXPECT_EQ(r.values.y, 40);
    EXPECT_EQ(r.values.kind, "code39");
    EXPECT_FALSE(r.values.builtin_font());

    EXPECT_EQ(read("tag").values.font_name, "/F4");
    EXPECT_TRUE(read("tag").values.builtin_font());
    EXPECT_EQ(read("tag").values.kind, "code128");  // no defaults for a named font
    EXPECT_EQ(read("oddtag").values.font_name, "/F0");
    EXPECT_EQ(read("font").values.font_name, "Mine");
    EXPECT_FALSE(read("font").values.x);  // nothing kept from the section read before

    // A margin written with the installation's decimal comma.
    t.cfg.host.decimal_separator = ",";
    EXPECT_EQ(read("plain").values.x, 12.5);
}

TEST_F(BarcodeSettingsTest, TheStyleNamesTheBarcodeFile) {
    testing::write_file(dir / "barcode.ini", "[k]\nnomefilefont=F1\ntipo=code128\n");
    testing::write_file(dir / "Other.INI", "[k]\nnomefilefont=F1\ntipo=i2of5\n");
    EXPECT_EQ(read("k").values.kind, "code128");
    t.layout.style.filebarcode_ini = "other.ini";
    EXPECT_EQ(read("k").values.kind, "i2of5");
}

// The file is read once for the barcodes of the run, and again as soon as
// it is changed (a style designer editing it between two compositions).
TEST_F(BarcodeSettingsTest, AChangedFileIsReadAgain) {
    testing::write_file(dir / "barcode.ini", "[k]\nnomefilefont=F1\ntipo=code128\n");
    testing::settle(dir / "barcode.ini");
    EXPECT_EQ(read("k").values.kind, "code128");
    const int reads = t.rt.ini_files.reads();
    EXPECT_EQ(read("k").values.kind, "code128");
    EXPECT_EQ(t.rt.ini_files.reads(), reads);
    testing::write_file(dir / "barcode.ini", "[k]\nnomefilefont=F1\ntipo=i2of5\n");
    EXPECT_EQ(read("k").values.kind, "i2of5");
}

// barcode.ini swapped for a link to an outside file, over and over while
// the barcodes of a listing are read: the outside settings are never taken.
TEST_F(BarcodeSettingsTest, AFileSwappedForALinkIsNeverRead) {
    const std::string inside = "[k]\nnomefilefont=F1\ntipo=code128\n";
    testing::write_file(dir / "barcode.ini", inside);
    testing::write_file(outside.path() + "barcode.ini", "[k]\nnomefilefont=F1\ntipo=i2of5\n");
    const std::string next = dir / "next.ini";
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int n = 0; !stop; ++n) {
            std::error_code ec;
            std::filesystem::remove(next, ec);
            if (n % 2)
                testing::write_file(next, inside);
            else
                std::filesystem::create_symlink(outside.path() + "barcode.ini", next, ec);
            std::filesystem::rename(next, dir / "barcode.ini", ec);
        }
    });
    int taken = 0;
    for (int line = 0; line < 2000; ++line) taken += read("k").values.kind == "i2of5";
    stop = true;
    writer.join();
    EXPECT_EQ(taken, 0);
    std::filesystem::remove(dir / "barcode.ini");
    testing::write_file(dir / "barcode.ini", inside);
    EXPECT_EQ(read("k").values.kind, "code128");
}

// The numbers are made once by the read; what the drawing cannot use reads
// as its default and is a problem with the barcode file's line.
TEST_F(BarcodeSettingsTest, ValuesAreReadOnceAndBadOnesAreProblems) {
    testing::write_file(dir / "barcode.ini",
                        "[ok]\nnomefilefont=F1\ndimfont=14\norientamento=90\nmargsx=3.5\ncolore=1,2,3\n"
                        "[bad]\nnomefilefont=F1\ndimfont=0\norientamento=x\nmargdown=y\ncolore=1,2\n"
                        "[pic]\nimmaginebarcode=si\n"
                        "[img]\nimmaginebarcodealtezza=h\nimmaginebarcodelarghezza=30\n"
                        "immaginebarcodemargsx=5\nimmaginebarcodemargtop=7\n"
                        "immaginebarcodenomefile=code.jpg\nimmaginebarcodenomefileid=c1\n");
    const BarcodeValues ok = read("ok").values;
    EXPECT_DOUBLE_EQ(ok.size, 14);
    EXPECT_DOUBLE_EQ(ok.angle, 90);
    EXPECT_EQ(ok.x, 3.5);
    EXPECT_FALSE(ok.y);
    ASSERT_TRUE(ok.colour);
    EXPECT_EQ(ok.colour->blue, 3);
    EXPECT_TRUE(t.layout.barcode.problems.empty());

    const BarcodeValues bad = read("bad").values;
    EXPECT_DOUBLE_EQ(bad.size, 12);
    EXPECT_DOUBLE_EQ(bad.angle, 0);
    EXPECT_FALSE(bad.y);
    EXPECT_FALSE(bad.colour);
    EXPECT_FALSE(read("pic", "img").values.picture);
    read("bad");  // read again: nothing is named twice
    std::vector<std::string> messages;
    for (const auto& p : t.layout.barcode.problems) messages.push_back(p.message());
    const std::string f = dir / "barcode.ini:";
    EXPECT_EQ(messages, (std::vector<std::string>{
                            f + "12 [bad] colore: '1,2' is not red,green,blue (no colour is set)",
                            f + "10 [bad] orientamento: 'x' is not a number (read as 0)",
                            f + "9 [bad] dimfont: '0' is not a size above 0 and up to 600 (read as 12)",
                            f + "11 [bad] margdown: 'y' is not a number (the row's position is used)",
                            f + "16 [img] immaginebarcodealtezza: 'h' is not a number (the barcode is drawn instead)",
                        }));
}

TEST_F(BarcodeSettingsTest, PictureModeNeedsAllSixKeys) {
    testing::write_file(dir / "barcode.ini",
                        "[pic]\nimmaginebarcode=si\n"
                        "[img]\nimmaginebarcodealtezza=10\nimmaginebarcodelarghezza=30\n"
                        "immaginebarcodemargsx=5\nimmaginebarcodemargtop=7\n"
                        "immaginebarcodenomefile=code.jpg\nimmaginebarcodenomefileid=c1\n"
                        "[half]\nimmaginebarcodealtezza=10\n");
    ASSERT_TRUE(read("pic", "img").values.picture);
    EXPECT_EQ(read("pic", "img").values.picture->file, "code.jpg");
    EXPECT_FALSE(read("pic", "half").values.picture);
    // Without an image section the record is in text mode.
    read("pic", "");
    DrawBarcode(t.rt, t.layout.barcode, t.layout.overlay, doc, "123", 1, 2);
    EXPECT_TRUE(doc.with("DrawImage").empty());
    EXPECT_FALSE(doc.with("Rect").empty());

    doc.calls.clear();
    read("pic", "img");
    DrawBarcode(t.rt, t.layout.barcode, t.layout.overlay, doc, "123", 1, 2);
    EXPECT_EQ(doc.with("DrawImage"), std::vector<std::string>{"DrawImage /Im1 5 7 30 10"});
    EXPECT_TRUE(doc.with("Rect").empty());
}

TEST_F(BarcodeSettingsTest, UnusablePictureOrSizeStillDrawsTheBarcode) {
    testing::write_file(dir / "barcode.ini",
                        "[pic]\nimmaginebarcode=si\ntipo=code128\n"
                        "[img]\nimmaginebarcodealtezza=10\nimmaginebarcodelarghezza=30\n"
                        "immaginebarcodemargsx=5\nimmaginebarcodemargtop=7\n"
                        "immaginebarcodenomefile=gone.jpg\nimmaginebarcodenomefileid=c1\n"
                        "[huge]\nnomefilefont=F4\ndimfont=700\ntipo=code39\n");
    doc.fail_images = true;
    read("pic", "img");
    EXPECT_NO_THROW(DrawBarcode(t.rt, t.layout.barcode, t.layout.overlay, doc, "123", 1, 2));
    EXPECT_FALSE(doc.with("Rect").empty());

    read("huge");
    DrawBarcode(t.rt, t.layout.barcode, t.layout.overlay, doc, "A", 1, 2);
    EXPECT_FALSE(doc.with("FONTHEIGHT 12").empty());
    EXPECT_TRUE(doc.with("FONTHEIGHT 700").empty());
}

TEST_F(BarcodeSettingsTest, BuiltInFontTagDrawsText) {
    testing::write_file(dir / "barcode.ini",
                        "[tag]\nnomefilefont=F4\ndimfont=14\norientamento=\ntipo=Code39\n"
                        "margsx=30\ncolore=0,0,255\n");
    doc.SetFontName("/F0");
    doc.SetFONTHEIGHT(9);
    doc.calls.clear();
    read("tag");
    DrawBarcode(t.rt, t.layout.barcode, t.layout.overlay, doc, " abc ", 10, 20);
    const std::vector<std::string> expected = {
        "FillColor 0,0,255", "FontName /F4",   "Inclination 0", "FONTHEIGHT 14",
        "TextOut [!abc!] 30 20", "FontName /F0", "FONTHEIGHT 9", "Inclination 0"};
    EXPECT_EQ(doc.calls, expected);
    EXPECT_DOUBLE_EQ(t.layout.barcode.values.angle, 0);
}

TEST_F(BarcodeSettingsTest, InstalledFontIsRegisteredOncePerDocument) {
    testing::write_file(dir / "barcode.ini",
                        "[c39]\nnomefilefont=bars39.TTF\ndescrizionefont=Bars39\ntipo=code39\n"
                        "stringafissa=FIXED\nmargdown=99\n");
    testing::write_file(dir / "Bars39.ttf", "x");
    read("c39");
    DrawBarcode(t.rt, t.layout.barcode, t.layout.overlay, doc, "ignored", 10, 20);
    DrawBarcode(t.rt, t.layout.barcode, t.layout.overlay, doc, "ignored", 10, 20);
    EXPECT_EQ(doc.with("AddFont"), std::vector<std::string>{"AddFont Bars39 " + dir / "Bars39.ttf"});
    EXPECT_EQ(doc.with("TextOut"), (std::vector<std::string>{"TextOut [!FIXED!] 10 99",
                                                             "TextOut [!FIXED!] 10 99"}));
    t.layout.overlay.reset_document();
    DrawBarcode(t.rt, t.layout.barcode, t.layout.overlay, doc, "x", 10, 20);
    EXPECT_EQ(doc.with("AddFont").size(), 2u);
}

TEST_F(BarcodeSettingsTest, MissingFontDrawsBars) {
    testing::write_file(dir / "barcode.ini",
                        "[c128]\nnomefilefont=NotInstalled.ttf\ndescrizionefont=NI\ntipo=code128\n"
                        "dimfont=abc\n"
                        "[empty39]\nnomefilefont=NotInstalled.ttf\ndescrizionefont=NI\ntipo=code39\n"
                        "[raw]\nnomefilefont=NotInstalled.ttf\ndescrizionefont=NI\ntipo=qr\n");
    read("c128");
    DrawBarcode(t.rt, t.layout.barcode, t.layout.overlay, doc, "AB", 10, 20);
    EXPECT_TRUE(doc.with("TextOut").empty());
    EXPECT_TRUE(doc.with("AddFont").empty());
    const auto rects = doc.with("Rect");
    // Start B, A, B, check, stop: 5 symbols of 3 bars and the stop's extra bar.
    ASSERT_EQ(rects.size(), 16u);
    // A malformed size counts as 12 points: 0.3 mm modules after a 3 mm quiet
    // zone; start B begins with a bar two modules wide, 6 mm high on the baseline.
    EXPECT_EQ(rects[0], "Rect 13 14 0.6 6 fill nooutline 0");

    doc.calls.clear();
    read("empty39");
    DrawBarcode(t.rt, t.layout.barcode, t.layout.overlay, doc, "   ", 10, 20);
    EXPECT_TRUE(doc.with("Rect").empty());

    read("raw");
    DrawBarcode(t.rt, t.layout.barcode, t.layout.overlay, doc, "DATA", 10, 20);
    EXPECT_EQ(doc.with("TextOut"), std::vector<std::string>{"TextOut [DATA] 10 20"});
}

// A barcode font that cannot be registered is not looked for again on the
// document's next barcodes, but another file under the same name is tried,
// and the next document looks again (a font installed meanwhile is used).
TEST_F(BarcodeSettingsTest, AMissingFontIsLookedForOnceADocument) {
    testing::write_file(dir / "barcode.ini",
                        "[a]\nnomefilefont=Later.ttf\ndescrizionefont=Bars\ntipo=code39\n"
                        "[b]\nnomefilefont=Bars39.ttf\ndescrizionefont=Bars\ntipo=code39\n");
    read("a");
    DrawBarcode(t.rt, t.layout.barcode, t.layout.overlay, doc, "AB", 10, 20);
    testing::write_file(dir / "Later.ttf", "x");
    DrawBarcode(t.rt, t.layout.barcode, t.layout.overlay, doc, "AB", 10, 20);
    EXPECT_TRUE(doc.with("AddFont").empty());
    EXPECT_EQ(doc.with("TextOut").size(), 0u);

    testing::write_file(dir / "Bars39.ttf", "x");
    read("b");
    DrawBarcode(t.rt, t.layout.barcode, t.layout.overlay, doc, "AB", 10, 20);
    EXPECT_EQ(doc.with("AddFont"), std::vector<std::string>{"AddFont Bars " + dir / "Bars39.ttf"});

    doc.calls.clear();
    t.layout.overlay.reset_document();
    read("a");
    DrawBarcode(t.rt, t.layout.barcode, t.layout.overlay, doc, "AB", 10, 20);
    EXPECT_EQ(doc.with("AddFont"), std::vector<std::string>{"AddFont Bars " + dir / "Later.ttf"});
}

TEST(BarModules, PatternsOfEachSymbology) {
    // Start B (211214), "A" (111323), check "B" (131123), stop (2331112).
    const std::vector<int> c128 = BarModules(BarSymbology::Code128, "\xCC" "AB\xCE ");
    EXPECT_EQ(c128, (std::vector<int>{2, 1, 1, 2, 1, 4, 1, 1, 1, 3, 2, 3, 1, 3, 1, 1, 2, 3,
                                      2, 3, 3, 1, 1, 1, 2}));
    // "*" is n w n n w n w n n, then a narrow gap.
    const std::vector<int> c39 = BarModules(BarSymbology::Code39, "!!");
    ASSERT_EQ(c39.size(), 19u);
    EXPECT_EQ(std::vector<int>(c39.begin(), c39.begin() + 10),
              (std::vector<int>{1, 3, 1, 1, 3, 1, 3, 1, 1, 1}));
    // Start 1111, the pair 12 (bars of 1: w n n n w, spaces of 2: n w n n w), stop 311.
    const std::vector<int> i25 = BarModules(BarSymbology::I2of5, "\xCB" "-\xCC ");
    EXPECT_EQ(i25, (std::vector<int>{1, 1, 1, 1, 3, 1, 1, 3, 1, 1, 1, 1, 3, 3, 3, 1, 1}));
}

}  // namespace
}  // namespace velarion
