// The documents of the sample installation and the print files of this test
// suite, composed with the streaming writer and with the libharu writer the
// program drew with before: the rendered pages (100 dpi), the text and the
// places of the words must agree (see support/pdf_compare.h for what
// anti-aliasing may change), and the new files must pass qpdf's check.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "compose_fixture.h"
#include "platform/pdf/pdf_document.h"
#include "support/pdf_compare.h"
#include "support/reference_writer/hpdf_document.h"

namespace velarion::testing {
namespace {

namespace fs = std::filesystem;

const std::string kMono = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";

struct WriterComparison : ComposeTest {
    // Composes the print file at `path` with both writers through the type
    // sequence; the two PDFs must be equivalent. Returns the chosen type.
    std::string compare(const std::string& path, const std::string& style = "") {
        const std::string name = path.substr(path.rfind('/') + 1);
        std::string pdfs[2];
        std::string types[2];
        for (int writer = 0; writer < 2; ++writer) {
            if (writer == 1) layout.compose.make_document = [] { return make_hpdf_document(); };
            else layout.compose.make_document = nullptr;
            layout.style.name = style;
            types[writer] = compose(path);
            if (types[writer].empty()) {
                ADD_FAILURE() << name << ": no type fits";
                return "";
            }
            pdfs[writer] = dir / (name + (writer == 0 ? ".new.pdf" : ".old.pdf"));
            fs::rename(layout.compose.created_pdf, pdfs[writer]);
        }
        layout.compose.make_document = nullptr;
        new_pdf = pdfs[0];
        EXPECT_EQ(types[0], types[1]) << name;
        const auto c = compare_pdfs(pdfs[0], pdfs[1], dir / "render");
        EXPECT_TRUE(c.equivalent()) << name << ": " << c.problem;
        EXPECT_GT(c.pages, 0) << name;
        EXPECT_EQ(run_program({"/usr/bin/qpdf", "--check", pdfs[0]}).status, 0) << name;
        return types[0];
    }
    std::string compare_text(const std::string& name, const std::string& text, const std::string& style = "") {
        return compare(print_file(name, text), style);
    }
    std::string fonts() const { return run_program({"/usr/bin/pdffonts", new_pdf}).out; }
    std::string images() const { return run_program({"/usr/bin/pdfimages", "-list", new_pdf}).out; }

    std::string new_pdf;  // the streaming writer's file of the last comparison
};

// The sample installation's messages with print files, in their page styles.
TEST_F(WriterComparison, SampleInstallationDocuments) {
    const fs::path demo = fs::path(VELARION_SOURCE_DIR) / "examples/demo";
    for (const auto& e : fs::directory_iterator(demo / "loghi")) {
        std::string text = read_file(e.path().string());
        for (std::size_t p; (p = text.find("@RUN@")) != std::string::npos;) text.replace(p, 5, dir.path() + "run");
        write_file(dir / ("loghi/" + e.path().filename().string()), text);
    }
    fs::create_directories(dir / "run/copie");
    fs::copy(demo / "unione", dir / "unione");
    cfg.op.unione_DIR = dir / "unione/";
    cfg.derive();
    cfg.pdf.merge = true;
    cfg.host.decimal_separator = ".";
    // Each header names its style and attachment: the line after the delivery option.
    struct Doc {
        const char* spool;
        const char* name;
        const char* style;
    };
    for (const Doc& d : {Doc{"AB.901.0", "TABUL1.txt", "TABULATO"}, Doc{"AB.902.0", "LETT01.txt", "LETTERA"},
                         Doc{"AB.903.0", "FATT01.txt", "FATTURA"}}) {
        const std::string path = print_file(d.name, read_file((demo / "spool" / d.spool).string()));
        EXPECT_NE(compare(path, d.style), "") << d.name;
        // The letter's logo, the invoice form's picture and appended conditions.
        if (std::string(d.style) != "TABULATO") {
            EXPECT_NE(images().find(" jpeg "), std::string::npos) << d.name;
        }
        if (std::string(d.style) == "FATTURA") {
            EXPECT_GT(pdf_pages(new_pdf), 1);
        }
    }
}

// The print files of the composition tests, each in its page style.
TEST_F(WriterComparison, TestSuitePrintFiles) {
    compare_text("LISTA1.txt", listing(3));
    compare_text("LETTERA.txt",
                 "Spett.le <B>ROSSI SRL</B>\r\n"
                 "<T>Oggetto</T>: fattura <S>numero 12</S>\r\n"
                 "Totale 'e 1.250,00\r\n"
                 "--------------------\r\n"
                 "Saluti\x0e GRANDE\x12\r\n");
    compare_text("TAGS12.txt", "ab<T>cd</T>e\r\n");
    compare_text("FF0001.txt", "\x0cuno\r\ndue\r\n\x0ctre\r\n\x0c\r\n");
    std::string tall;
    for (int i = 1; i <= 150; ++i) tall += "riga" + std::to_string(i) + "\r\n";
    compare_text("ALTO01.txt", tall);
    compare_text("ROTTO1.txt", std::string("nul\0byte\r\n\x01\x02\x1b\r\n\x0f\r\nfine\r\n", 23));
    compare_text("FONT01.txt", "a\x10" "200 010 030" "04" "14   " "Rosso\x12===\r\n");
    compare_text("SIZE01.txt", "///C0\r\nuno\x0f" "due\r\n\x10" "000 000 000" "00" "    0" "zero\x10" "000 000 000" "01"
                               "  999" "troppo\r\n");

    styles("[LETT]\nforzatura=v\n[LAND]\nforzatura=10o-\nriga=20\n"
           "[CORTO]\nmaxpaginalogo=2\n"
           "[PICCOLO]\ndimpaginalarghezza=100\ndimpaginaaltezza=150\n"
           "[TAB]\nformattatesto=tabella.txt\n"
           "[MODULO]\nsenzadati=s\nfincatura=f1.txt\n"
           "[FORM]\nfincatura=f1.txt\nfincaturadopo=f2.txt\nretro=RETRO\nscartariga1=2\n"
           "[RETRO]\nfincatura=f3.txt\n"
           "[ETI]\nEtiOr=2\nEtiVt=2\nEtiDeltaOr=100\nEtiDeltaVt=50\nfincatura=f1.txt\n"
           "[COLORE]\ncoloretesto1=200\ncoloretesto2=20\ncoloretesto3=40\nbold=y\n");
    write_file(dir / "loghi/tabella.txt", "1\tEC\t1\r\n");
    write_file(dir / "loghi/f1.txt", "a\tLINVE\t0.5\t10\t20\t30\r\nb\tRETT\t0.3\t15\t60\t80\t20\r\n");
    write_file(dir / "loghi/f2.txt", "a\tLINVE\t0.5\t99\t20\t30\r\n");
    write_file(dir / "loghi/f3.txt", "a\tLINVE\t0.5\t77\t20\t30\r\n");
    compare_text("STILI1.txt", "prima\r\n///LLAND\r\n\x0cseconda\r\nterza\r\n", "LETT");
    compare_text("CORTO1.txt", "a\r\n\x0c" "b\r\n\x0c" "c\r\nd\r\n\x0c" "e\r\n", "CORTO");
    compare_text("PICCO1.txt", "a\r\n", "PICCOLO");
    compare_text("TAB001.txt", "uno\r\ndue\r\n\x0c" "tre\r\nquattro\r\n", "TAB");
    compare_text("MODUL1.txt", "non stampato\r\n", "MODULO");
    compare_text("FORM01.txt", "uno\r\ndue\r\ntre\r\n\x0cquattro\r\ncinque\r\n", "FORM");
    compare_text("ETI001.txt", "A\r\n\x11\r\nB\r\n\x11\r\nC\r\n\x11\r\nD\r\n\x11\r\nE\r\n", "ETI");
    compare_text("COLOR1.txt", "testo colorato\r\n", "COLORE");
}

TEST_F(WriterComparison, LogosOverlaysAndBarcodes) {
    cfg.host.decimal_separator = ".";
    // A JPEG logo made from a composed page.
    ASSERT_EQ(compose(print_file("PAGINA.txt", "logo\r\n")), "12v");
    ASSERT_EQ(run_program({"/usr/bin/pdftoppm", "-jpeg", "-r", "5", "-singlefile", dir / "tempozip/PAGINA.pdf",
                           dir / "loghi/marchio"}).status,
              0);
    styles("[LOGO]\nfile=marchio\naltezza=10\nlarghezza=20\nmargsx=150\nmargbasso=25\n"
           "[FATT]\nfincatura=modulo.txt\nfincaturadopo=dopo.txt\n"
           "[SEQBARCODE]\nSEQ1INIZIO=<<\nSEQ1INIZIOREPL=~%\nSEQ1FINE=>>\nSEQ1FINEREPL=~%FINE-\n");
    write_file(dir / "loghi/modulo.txt",
               "t\tTESTO\t14\t20,70,140\t15\t22\t\t\t\tF4\tDITTA S.R.L.\r\n"
               "r\tTESTO\t8\t\t100\t60\t\tr\t\tF1\tRIGHT\r\n"
               "c\tTESTO\t8\t\t100\t70\t\tc\t\tF2\tCENTRE\r\n"
               "e\tTESTO\t8\t\t20\t80\t\te:80\t\tF0\tAA BB CC DD\r\n"
               "s\tTESTO\t6\t120,120,120\t11\t200\t\t\t90\tF7\tCopia per il cliente\r\n"
               "i\tIMAGE\t1\t150\t40\t20\t10\t\t\tmarchio.jpg\r\n"
               "f\tFILCOL\t225,235,248\r\n"
               "g\tRETF\t0.3\t1\t0\t15\t90\t180\t9\r\n"
               "l\tLINCOL\t20,70,140\r\n"
               "h\tLINOR\t0.5\t15\t100\t180\r\n"
               "d\tLINVET\t0.5\t150\t100\t10\t\t\t3\t2\r\n"
               "o\tLINORT\t0.5\t100\t150\t10\t\t\t3\t2\r\n");
    write_file(dir / "loghi/dopo.txt", "a\tLINOR\t1\t0\t5\t10\r\ns\tSTOP\tGS1\r\nb\tLINOR\t1\t100\t5\t10\r\n");
    write_file(dir / "loghi/barcode.ini",
               "[128]\r\nnomefilefont=IDAutomationC128M.ttf\r\ndescrizionefont=C128\r\ntipo=code128\r\n"
               "[C39]\r\nnomefilefont=IDAutomationHC39L.ttf\r\ndescrizionefont=C39\r\ntipo=code39\r\n"
               "[I25]\r\nnomefilefont=IDAutomationI25M.ttf\r\ndescrizionefont=I25\r\ntipo=i2of5\r\n"
               "[GS1]\r\nnomefilefont=IDAutomationC128M.ttf\r\ndescrizionefont=C128\r\ntipo=ean128\r\n");
    compare_text("LOGO01.txt", "a\r\n\x0c" "b\r\nc\r\n", "LOGO");
    EXPECT_NE(images().find(" jpeg "), std::string::npos) << images();
    const std::string blank = "\r\n\r\n\r\n\r\n";
    compare_text("BARCODE1.txt", "///LFATT\r\nFattura FT2026-0042\r\n" + blank + "~%FT2026-0042~%FINE-128\r\n" +
                                     blank + "~%ORDINE 42~%FINE-C39\r\n" + blank + "~%1234567~%FINE-I25\r\n" +
                                     blank + "~%0112345678901231~%FINE-GS1\r\n" + blank + "\x0c" "Pagina 2\r\nfine\r\n");
    compare_text("BARC01.txt", "Cod: <<12345>>C39\x12 fine\r\n");
}

TEST_F(WriterComparison, TrueTypeFontsOfOverlaysAndTheCondensedFont) {
    if (!fs::exists(kMono)) GTEST_SKIP() << "no DejaVu Sans Mono on this machine";
    cfg.host.decimal_separator = ".";
    // The condensed font is looked for in the program's folder.
    fs::create_directories(dir / "bin");
    fs::copy_file(kMono, dir / "bin/Mnc57__a.ttf");
    cfg.host.condensed_font = true;
    std::string wide;
    for (int i = 1; i <= 100; ++i) wide += "riga " + std::to_string(i) + std::string(120, '.') + "|\r\n";
    EXPECT_EQ(compare_text("COND01.txt", wide), "12v");
    EXPECT_NE(fonts().find("+DejaVuSansMono"), std::string::npos) << fonts();
    fs::copy_file(kMono, dir / "bin/mono.ttf");
    styles("[TTF]\nfincatura=font.txt\n");
    write_file(dir / "loghi/font.txt",
               "f\tFONT\tmono.ttf\tMonoForm\r\n"
               "t\tTESTO\t9\t\t20\t40\t\t\t\tMonoForm\tIntestazione \x80 \xE0\xE8\r\n"
               "g\tFONT\tmono.ttf\tMonoStretta\t400\r\n"
               "u\tTESTO\t9\t\t20\t50\t\t\t\tMonoStretta\tStretta stretta\r\n");
    compare_text("TTF001.txt", "corpo del documento\r\n", "TTF");
    EXPECT_NE(fonts().find("+DejaVuSansMono"), std::string::npos) << fonts();
}

}  // namespace
}  // namespace velarion::testing
