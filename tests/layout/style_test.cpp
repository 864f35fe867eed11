#include "layout/style.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/layout_context.h"
#include "support/test_support.h"

namespace velarion {
namespace {

using testing::TempDir;
using testing::LayoutContext;

struct StyleTest : ::testing::Test {
    LayoutContext t;
    TempDir dir;
    void SetUp() override {
        t.cfg.op.Dir_Loghi = dir.path();
        t.cfg.derive();
    }
    void load(const std::string& name) {
        t.layout.style.name = name;
        LoadStyle(t.rt, t.layout.styles, t.layout.style, t.layout.compose.size_override);
    }
    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const auto& p : t.layout.styles.problems()) out.push_back(p.message());
        return out;
    }
};

TEST_F(StyleTest, ReadsKeysAsTypedValues) {
    testing::write_file(dir / "loghi.ini",
                        "[FATT]\nforzatura=o\nCAR_NORMALE=9.5\n2logo=SECONDO\ndircopy=/tmp/x\n"
                        "scartariga3=2\nscartariga1=4.7\nrimpiazza7=A<SPAZIO>B\nrimpcon7=Chr(14) & Chr(15)X<SPAZIO>Chr(12)\n"
                        "rimpcon3=no search text\nrimpiazza2=AA\nretro=3.5\ntipologo=1\nbold=y\nsenzadati=s\n"
                        "nologointerno=si\nallegatxt=y\ncoloretesto1=300\ncoloretesto3=7\n"
                        "file=marchio\naltezza=15\nlarghezza=45\nmargsx=155\nmargbasso=22\n"
                        "EtiVt=4\nEtiOr=2\nEtiDeltaVt=30\nEtiDeltaOr=70,5\n"
                        "[SECONDO]\nfile=qualita\nmargsx=3\n");
    t.cfg.host.decimal_separator = ",";
    load("fatt");  // section names compare without case
    const auto& s = t.layout.style;
    EXPECT_TRUE(s.found);
    EXPECT_EQ(s.name, "fatt");
    EXPECT_EQ(s.forzatura, "o");
    EXPECT_EQ(s.car_normale, 9.5);  // "." whatever the system's notation
    EXPECT_EQ(s.retro, "3,5");       // a style name through NormalizeDecimal, as the key table says
    EXPECT_EQ(s.tipologo, TextOriginKind::above_margin);
    EXPECT_TRUE(s.bold && s.senzadati && s.nologointerno && s.allegatxt);
    EXPECT_FALSE(s.retroscritto);
    ASSERT_TRUE(s.text_colour);
    EXPECT_EQ(s.text_colour->red, 255);  // held within 0-255
    EXPECT_EQ(s.text_colour->green, 0);
    EXPECT_EQ(s.text_colour->blue, 7);
    EXPECT_EQ(s.dircopy, "/tmp/x");
    EXPECT_EQ(s.dropped_rows, (std::vector<int>{4, 2}));  // rows 1 to 6 in order, whole parts
    // Rows with a search text, in row order, decoded.
    ASSERT_EQ(s.substitutions.size(), 2u);
    EXPECT_EQ(s.substitutions[0].search, "AA");
    EXPECT_EQ(s.substitutions[0].replacement, "");
    EXPECT_EQ(s.substitutions[1].search, "A B");
    EXPECT_EQ(s.substitutions[1].replacement, "\x0e\x0fX \x0c");
    // The style's logo and the one of its "2logo" section, with their places.
    ASSERT_EQ(s.logos.size(), 2u);
    EXPECT_EQ(s.logos[0].picture, "marchio");
    EXPECT_TRUE(s.logos[0].placement.has_height);
    EXPECT_DOUBLE_EQ(s.logos[0].placement.bottom, 22);
    EXPECT_EQ(s.logos[1].section, "SECONDO");
    EXPECT_EQ(s.logos[1].picture, "qualita");
    EXPECT_FALSE(s.logos[1].placement.has_height);
    ASSERT_TRUE(s.labels);
    EXPECT_EQ(s.labels->per_row, 2);
    EXPECT_EQ(s.labels->rows, 4);
    EXPECT_DOUBLE_EQ(s.labels->step_across, 70.5);
    EXPECT_EQ(messages(), (std::vector<std::string>{
                              dir.path() + "loghi.ini:18 [fatt] coloretesto1: '300' is outside 0-255 (held within)"}));
}

TEST_F(StyleTest, MissingSectionOrFileGivesEmptySettings) {
    load("NESSUNO");
    EXPECT_EQ(t.layout.style.name, "NESSUNO");
    EXPECT_FALSE(t.layout.style.found);
    EXPECT_EQ(t.layout.style.forzatura, "");
    testing::write_file(dir / "loghi.ini", "[A]\nforzatura=v\n");
    load("A");
    EXPECT_EQ(t.layout.style.forzatura, "v");
    load("B");  // every value is replaced at each load
    EXPECT_EQ(t.layout.style.forzatura, "");
    EXPECT_EQ(messages(), (std::vector<std::string>{dir.path() + "loghi.ini: [NESSUNO] no such style (its settings read as empty)",
                                                    dir.path() + "loghi.ini: [B] no such style (its settings read as empty)"}));
}

TEST_F(StyleTest, SizeOverrideOfThePrintFileWins) {
    testing::write_file(dir / "loghi.ini", "[A]\ncar_normale=9\ncar_compresso=5\n");
    t.layout.compose.size_override = {true, 7.5};
    load("A");
    EXPECT_EQ(t.layout.style.car_normale, 7.5);
    EXPECT_EQ(t.layout.style.car_compresso, 7.5);
    // A "///C" size no page can be drawn with leaves the type's sizes.
    t.layout.compose.size_override = {true, std::nullopt};
    load("A");
    EXPECT_FALSE(t.layout.style.car_normale);
}

// Values that cannot be used read as before (the key as if empty, or the
// stated fallback); each is named once with its file, line and key.
TEST_F(StyleTest, BadValuesAreProblemsWithFileLineAndKey) {
    testing::write_file(dir / "loghi.ini",
                        "; styles\r\n[ALTRO]\r\nmargbasso=abc\r\n\r\n[FATTURA]\r\nriga=40\r\n"
                        "margbasso=abc\r\ncar_normale=0\r\ntipologo=3\r\nbold=Y\r\nforzatura=13x\r\n"
                        "lunghpagina=-2\r\nmargbaso=5\r\nrimpiazza41=x\r\ndimpaginalarghezza=100\r\n"
                        "interlinea=0\r\n2logo=MANCA\r\n");
    load("FATTURA");
    load("FATTURA");  // loaded again: nothing is named twice
    const auto& s = t.layout.style;
    EXPECT_EQ(s.riga, 40);
    EXPECT_FALSE(s.margbasso);
    EXPECT_FALSE(s.car_normale);
    EXPECT_EQ(s.tipologo, TextOriginKind::standard);
    EXPECT_FALSE(s.bold);
    EXPECT_EQ(s.forzatura, "13x");  // refuses every type, as before
    EXPECT_FALSE(s.lunghpagina);
    EXPECT_FALSE(s.page_size);
    EXPECT_FALSE(s.interlinea);
    EXPECT_TRUE(s.logos.empty());
    const std::string f = dir.path() + "loghi.ini:";
    EXPECT_EQ(messages(),
              (std::vector<std::string>{
                  f + "7 [FATTURA] margbasso: 'abc' is not a number",
                  f + "8 [FATTURA] car_normale: '0' is not a size above 0 and up to 600 (the type's size is used)",
                  f + "9 [FATTURA] tipologo: '3' is not 0, 1 or 2 (read as 0)",
                  f + "10 [FATTURA] bold: 'Y' is not 'y' (read as off)",
                  f + "11 [FATTURA] forzatura: '13x' is not v, o or a print type (every type is refused)",
                  f + "12 [FATTURA] lunghpagina: '-2' is not a whole number from 1 up",
                  f + "13 [FATTURA] margbaso: unknown key (ignored)",
                  f + "14 [FATTURA] rimpiazza41: unknown key (ignored)",
                  f + "15 [FATTURA] dimpaginalarghezza: has no dimpaginaaltezza beside it (ignored)",
                  f + "16 [FATTURA] interlinea: '0' is not above 0 (the type's pitch is used)",
                  f + "17 [FATTURA] 2logo: 'MANCA' names no section of the file",
              }));
}

// The file is read once per message, however many loads and print types,
// and again only when it changes on disk.
TEST_F(StyleTest, FileIsReadOnceUntilItChanges) {
    testing::write_file(dir / "loghi.ini", "[A]\nforzatura=v\n[B]\nforzatura=o\n");
    testing::settle(dir / "loghi.ini");
    for (int i = 0; i < 13; ++i) load(i % 2 ? "A" : "B");
    EXPECT_EQ(t.layout.styles.reads(), 1);
    EXPECT_EQ(t.layout.style.forzatura, "o");
    testing::write_file(dir / "loghi.ini", "[A]\nforzatura=12v\n[B]\nforzatura=o\n");
    load("A");
    EXPECT_EQ(t.layout.styles.reads(), 2);
    EXPECT_EQ(t.layout.style.forzatura, "12v");
    // Just written, so read again until it has settled: an edit within the
    // same tick of the file system's clock would keep its stamp.
    load("B");
    EXPECT_EQ(t.layout.styles.reads(), 3);
    testing::settle(dir / "loghi.ini");
    load("A");
    load("B");
    EXPECT_EQ(t.layout.styles.reads(), 4);
}

TEST_F(StyleTest, TaftRuleWritesItsSettingsOnce) {
    testing::write_file(dir / "loghi.ini", "[TAFT]\nfile=x\n");
    load("TAFT");
    const auto& s = t.layout.style;
    EXPECT_EQ(s.forzatura, "10o-");
    EXPECT_EQ(s.tipologo, TextOriginKind::page_corner);
    EXPECT_EQ(s.car_compresso, 6.01);
    EXPECT_EQ(s.colonna, 5);
    const std::string written = testing::read_file(dir / "loghi.ini");
    std::string compact;  // "key = value" and "key=value" alike
    for (std::size_t i = 0; i < written.size(); ++i)
        if (!(written[i] == ' ' && ((i + 1 < written.size() && written[i + 1] == '=') ||
                                    (i > 0 && written[i - 1] == '='))))
            compact.push_back(written[i]);
    const auto at = [&](const char* k) { return compact.find(k); };
    EXPECT_NE(at("commento=non cancellare usato per tabulato FATT con ZEMOR1 .. LOGO DA CODICE"),
              std::string::npos);
    EXPECT_LT(at("commento="), at("forzatura=10o-"));
    EXPECT_LT(at("forzatura=10o-"), at("tipologo=2"));
    EXPECT_LT(at("tipologo=2"), at("car_compresso=6.01"));
    EXPECT_LT(at("car_compresso=6.01"), at("colonna=5"));

    load("TAFT");  // read back: nothing more is written
    EXPECT_EQ(testing::read_file(dir / "loghi.ini"), written);
    EXPECT_EQ(t.layout.style.forzatura, "10o-");

    load("taft");  // only the exact name
    EXPECT_EQ(testing::read_file(dir / "loghi.ini"), written);
}

TEST_F(StyleTest, TaftRuleKeepsTheFileAsItWas) {
    // A loghi.ini from a Windows installation: CR LF, Windows-1252 and blank lines.
    const std::string before =
        "[FATT]\r\nfile=logo \xE8\r\n\r\n[TAFT]\r\nfile=taft\r\n\r\n[PDFCRIPT]\r\nPassword=abcd\r\n";
    testing::write_file(dir / "loghi.ini", before);
    load("TAFT");
    EXPECT_EQ(testing::read_file(dir / "loghi.ini"),
              "[FATT]\r\nfile=logo \xE8\r\n\r\n[TAFT]\r\nfile=taft\r\n"
              "commento=non cancellare usato per tabulato FATT con ZEMOR1 .. LOGO DA CODICE\r\n"
              "forzatura=10o-\r\ntipologo=2\r\ncar_compresso=6.01\r\ncolonna=5\r\n\r\n"
              "[PDFCRIPT]\r\nPassword=abcd\r\n");
    // Replaced in one step: no temporary is left beside it.
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file();
    EXPECT_EQ(files, 1);
}

}  // namespace
}  // namespace velarion
