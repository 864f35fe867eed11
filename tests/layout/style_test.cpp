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
        LoadStyle(t.rt, t.layout.style, t.layout.compose.size_override);
    }
};

TEST_F(StyleTest, ReadsKeysNumbersAndSubstitutions) {
    testing::write_file(dir / "loghi.ini",
                        "[FATT]\nforzatura=o\nCAR_NORMALE=9.5\n2logo=SECONDO\ndircopy=/tmp/x\n"
                        "scartariga3=2\nrimpiazza7=AA\nrimpcon7=BB\nretro=3.5\nEtiVt=4\n");
    t.cfg.host.decimal_separator = ",";
    load("fatt");  // section names compare without case
    const auto& s = t.layout.style;
    EXPECT_EQ(s.forzatura, "o");
    EXPECT_EQ(s.car_normale, "9,5");  // numbers go through NormalizeDecimal
    EXPECT_EQ(s.retro, "3,5");
    EXPECT_EQ(s.EtiVt, "4");          // a text key is stored as written
    EXPECT_EQ(s.secondo_logo, "SECONDO");
    EXPECT_EQ(s.dircopy, "/tmp/x");
    EXPECT_EQ(s.scartariga[3], "2");
    EXPECT_EQ(s.rimpiazza[6], "");
    EXPECT_EQ(s.rimpiazza[7], "AA");
    EXPECT_EQ(s.rimpcon[7], "BB");
}

TEST_F(StyleTest, MissingSectionOrFileGivesEmptySettings) {
    load("NESSUNO");
    EXPECT_EQ(t.layout.style.name, "NESSUNO");
    EXPECT_EQ(t.layout.style.forzatura, "");
    testing::write_file(dir / "loghi.ini", "[A]\nforzatura=v\n");
    load("A");
    load("B");  // every key is replaced at each load
    EXPECT_EQ(t.layout.style.forzatura, "");
}

TEST_F(StyleTest, SizeOverrideOfThePrintFileWins) {
    testing::write_file(dir / "loghi.ini", "[A]\ncar_normale=9\ncar_compresso=5\n");
    t.layout.compose.size_override.normal = "7.5";
    t.layout.compose.size_override.condensed = "7.5";
    load("A");
    EXPECT_EQ(t.layout.style.car_normale, "7.5");
    EXPECT_EQ(t.layout.style.car_compresso, "7.5");
}

TEST_F(StyleTest, TaftRuleWritesItsSettingsOnce) {
    testing::write_file(dir / "loghi.ini", "[TAFT]\nfile=x\n");
    load("TAFT");
    const auto& s = t.layout.style;
    EXPECT_EQ(s.forzatura, "10o-");
    EXPECT_EQ(s.tipologo, "2");
    EXPECT_EQ(s.car_compresso, "6.01");
    EXPECT_EQ(s.colonna, "5");
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
