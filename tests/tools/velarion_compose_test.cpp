// The style preview run as its users run it: build/bin/velarion-compose on
// copies of the demo installation, its PDFs checked with pdfinfo/pdftotext and
// against what the agent itself makes of the same print file.
#include <algorithm>
#include <csignal>
#include <chrono>
#include <filesystem>
#include <thread>
#include <fstream>
#include <regex>

#include <gtest/gtest.h>

#include "support/background_process.h"
#include "support/test_support.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::run_program;
using testing::TempDir;
using testing::write_file;

const std::string kCompose = std::string(VELARION_BIN_DIR) + "/velarion-compose";

testing::ProcessResult compose(std::vector<std::string> args) {
    args.insert(args.begin(), kCompose);
    return run_program(args);
}

std::string pdf_text(const std::string& pdf) {
    return run_program({"/usr/bin/pdftotext", "-layout", pdf, "-"}).out;
}

int pdf_pages(const std::string& pdf) {
    std::smatch m;
    const std::string info = run_program({"/usr/bin/pdfinfo", pdf}).out;
    return std::regex_search(info, m, std::regex("Pages:\\s+(\\d+)")) ? std::stoi(m[1]) : -1;
}

// Width and height of a PNG file, from its header.
std::pair<int, int> png_size(const std::string& path) {
    const std::string data = read_file(path);
    if (data.size() < 24 || data.compare(1, 3, "PNG") != 0) return {-1, -1};
    auto be32 = [&](std::size_t at) {
        return (static_cast<unsigned char>(data[at]) << 24) | (static_cast<unsigned char>(data[at + 1]) << 16) |
               (static_cast<unsigned char>(data[at + 2]) << 8) | static_cast<unsigned char>(data[at + 3]);
    };
    return {static_cast<int>(be32(16)), static_cast<int>(be32(20))};
}

// The demo installation (examples/demo/setup.sh) with only its invoice
// message AB.903 waiting in the spool, and a copy of the invoice's print file.
struct Demo {
    TempDir dir;
    Demo() {
        const std::string setup = std::string(VELARION_SOURCE_DIR) + "/examples/demo/setup.sh";
        EXPECT_EQ(run_program({"/bin/sh", setup, root()}).status, 0);
        for (const auto& e : fs::directory_iterator(root() + "spool"))
            if (e.path().filename().string().rfind("AB.903.", 0) != 0) fs::remove(e.path());
        fs::copy_file(root() + "spool/AB.903.0", dir / "FATT01.txt");
    }
    std::string root() const { return dir / "demo/"; }
    std::string ini() const { return "ini:" + root(); }
};

TEST(VelarionCompose, MakesThePdfTheAgentMakesOfThePrintFile) {
    Demo demo;
    const std::string out = demo.dir / "anteprima/fattura.pdf";
    const auto r = compose({demo.dir / "FATT01.txt", "--style", "FATTURA", demo.ini(), "ope:AB", "-o", out,
                            "--png", demo.dir / "png"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(" Inizio AnalizzaTXT "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" Controllo positivo per Accodare PDF " + demo.root() + "unione/condizioni.pdf"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(" Creato il file PDF "), std::string::npos);
    EXPECT_NE(r.out.find("\nprint type: 12v\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\npdf: " + out + "\n"), std::string::npos) << r.out;
    EXPECT_EQ(pdf_pages(out), 2);  // the invoice and the merged conditions
    // One picture per page, A4 at 100 dpi.
    EXPECT_EQ(png_size(demo.dir / "png/fattura-1.png"), std::make_pair(827, 1169));
    EXPECT_GT(png_size(demo.dir / "png/fattura-2.png").first, 0);
    EXPECT_FALSE(fs::exists(demo.dir / "png/fattura-3.png"));
    // The installation's own work folder is not touched.
    EXPECT_TRUE(fs::is_empty(demo.root() + "tempozip"));

    // The agent, on the same message, composes the same document.
    const auto agent = run_program({std::string(VELARION_BIN_DIR) + "/velarion", "--headless", "--once",
                                    demo.ini(), "ope:AB"},
                                   {"HOME=" + demo.dir / "home", "XDG_RUNTIME_DIR=" + demo.dir.path()});
    ASSERT_EQ(agent.status, 0) << agent.out << agent.err;
    const std::string agents = demo.root() + "tempozip/FATT01.pdf";
    ASSERT_TRUE(fs::exists(agents)) << agent.out;
    EXPECT_EQ(pdf_pages(agents), 2);
    EXPECT_EQ(pdf_text(out), pdf_text(agents));
    EXPECT_NE(pdf_text(out).find("FT2026-0042"), std::string::npos);
}

TEST(VelarionCompose, WithoutAnInstallationTheStylesAreThoseOfThePrintFilesFolder) {
    TempDir dir;
    write_file(dir / "loghi.ini", "[STRETTA]\nforzatura=10v\nfincatura=manca.fin\n");
    write_file(dir / "RIGHE1.txt", "prima riga\nseconda riga\n");
    const auto r = compose({dir / "RIGHE1.txt", "--style", "STRETTA"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("\nprint type: 10v\n"), std::string::npos) << r.out;
    // A missing overlay gives the agent's error line, and the PDF is made all the same.
    EXPECT_NE(r.out.find(" Creafincature 53 File not found " + dir / "manca.fin"), std::string::npos) << r.out;
    EXPECT_NE(pdf_text(dir / "RIGHE1.pdf").find("seconda riga"), std::string::npos);  // beside the print file
}

TEST(VelarionCompose, NoPdfGivesStatusOne) {
    TempDir dir;
    write_file(dir / "loghi.ini", "[VERTICALE]\nforzatura=v\n");
    write_file(dir / "LISTA1.txt", "riga\n");
    write_file(dir / "VUOTO1.txt", "");
    // The style allows portrait types only (the agent refuses the others without a line).
    auto r = compose({dir / "LISTA1.txt", "--style", "VERTICALE", "--type", "10o-", "-o", dir / "x.pdf"});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find(" Fine  AnalizzaTXT "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(" Creato il file PDF "), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("no PDF could be made"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "x.pdf"));
    // With the type it allows.
    r = compose({dir / "LISTA1.txt", "--style", "VERTICALE", "--type", "8v", "-o", dir / "x.pdf"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("\nprint type: 8v\n"), std::string::npos);
    // An empty print file.
    r = compose({dir / "VUOTO1.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(" File Senza Dati "), std::string::npos) << r.out;
    EXPECT_EQ(compose({dir / "MANCA1.txt"}).status, 1);
}

// --check lists what the agent would silently read as empty or default, with
// file and line, and exits 1; a clean style gives status 0 and says so.
TEST(VelarionCompose, CheckListsEveryProblemWithFileAndLine) {
    Demo demo;
    auto r = compose({demo.dir / "FATT01.txt", "--style", "FATTURA", demo.ini(), "ope:AB", "--check"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("\ncheck: 0 problems\n"), std::string::npos) << r.out;

    const std::string logos = demo.root() + "loghi/";
    const std::string before = read_file(logos + "loghi.ini");
    const long n = std::count(before.begin(), before.end(), '\n');  // lines of the demo's styles
    std::ofstream(logos + "loghi.ini", std::ios::app)
        << "\n[PROVA]\nforzatura=v\nfincatura=prova.fin\nriga=5x7\nfincaturadopo=manca.fin\n"
           "formattatesto=tab.txt\nretro=RETRO\n[RETRO]\nfile=nessuno\naltezza=3\n";
    write_file(logos + "prova.fin", "a\tRETT\t0.3\t1\tabc\t3\t4\nb\tBOGUS\t1\nc\tLINOR\t0.2\t1\t2\t3\nd\tFILCOL\t1,2\n");
    write_file(logos + "tab.txt", "1\tC\t3\n1\tQ\t4\n");
    r = compose({demo.dir / "FATT01.txt", "--style", "PROVA", demo.ini(), "ope:AB", "--check", "-o",
                 demo.dir / "prova.pdf"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(fs::exists(demo.dir / "prova.pdf"));  // composed all the same, as the agent would
    const std::string style = logos + "loghi.ini:";
    for (const std::string& line :
         {style + std::to_string(n + 5) + " [PROVA] riga: '5x7' is not a number",
          style + std::to_string(n + 10) + " [RETRO] file: logo picture " + logos + "nessuno.jpg not found",
          // Every bad line of an overlay, with the overlay's own path; the good lines are drawn.
          logos + "prova.fin:1 RETT: Type mismatch (a\tRETT\t0.3\t1\tabc\t3\t4)",
          logos + "prova.fin:2 BOGUS: unknown command (line ignored)",
          logos + "prova.fin:4 FILCOL: Subscript out of range (d\tFILCOL\t1,2)",
          logos + "manca.fin: File not found",
          logos + "tab.txt:2 'Q' is not N, C, EC or P (row ignored)",
          std::string("check: 7 problems")})
        EXPECT_NE(r.out.find("\n" + line + "\n"), std::string::npos) << line << "\n" << r.out;

    // An unknown style is a problem of its own.
    r = compose({demo.dir / "FATT01.txt", "--style", "NESSUNO", demo.ini(), "ope:AB", "--check", "-o",
                 demo.dir / "nessuno.pdf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("\n" + logos + "loghi.ini: [NESSUNO] no such style (its settings read as empty)\n"),
              std::string::npos)
        << r.out;
    // Without --check the same composition says nothing of it and succeeds, as before.
    r = compose({demo.dir / "FATT01.txt", "--style", "NESSUNO", demo.ini(), "ope:AB", "-o", demo.dir / "n.pdf"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("no such style"), std::string::npos);
}

// The conformance made is shown; a "///X" invoice beside the print file is
// embedded, a bad one named; --check names what stands in a PDF/A's way.
TEST(VelarionCompose, ShowsTheConformanceAndWhatPreventsIt) {
    TempDir dir;
    write_file(dir / "loghi.ini", "[ARCH]\npdfa=2b\n[CMYK]\npdfa=3b\nfile=quadri\naltezza=10\n");
    write_file(dir / "RIGHE1.txt", "prima riga\n");
    auto r = compose({dir / "RIGHE1.txt", "--style", "ARCH"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("\nconformance: PDF/A-2b\n"), std::string::npos) << r.out;
    r = compose({dir / "RIGHE1.txt", "-o", dir / "plain.pdf"});
    EXPECT_EQ(r.out.find("conformance:"), std::string::npos) << r.out;

    const std::string xml =
        "<?xml version=\"1.0\"?>\n<rsm:CrossIndustryInvoice "
        "xmlns:rsm=\"urn:un:unece:uncefact:data:standard:CrossIndustryInvoice:100\" "
        "xmlns:ram=\"urn:un:unece:uncefact:data:standard:ReusableAggregateBusinessInformationEntity:100\">"
        "<rsm:ExchangedDocumentContext><ram:GuidelineSpecifiedDocumentContextParameter>"
        "<ram:ID>urn:factur-x.eu:1p0:minimum</ram:ID></ram:GuidelineSpecifiedDocumentContextParameter>"
        "</rsm:ExchangedDocumentContext></rsm:CrossIndustryInvoice>\n";
    write_file(dir / "FATT01.xml", xml);
    write_file(dir / "FATT01.txt", "///XFATT01.xml\nFattura 1\n");
    r = compose({dir / "FATT01.txt"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("\nconformance: PDF/A-3b\n"), std::string::npos) << r.out;
    EXPECT_NE(run_program({"/usr/bin/pdfdetach", "-list", dir / "FATT01.pdf"}).out.find("factur-x.xml"),
              std::string::npos);
    write_file(dir / "FATT02.txt", "///XFATT02.xml\nFattura 2\n");
    write_file(dir / "FATT02.xml", "<rsm:CrossIndustryInvoice>");
    r = compose({dir / "FATT02.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Fattura elettronica rifiutata: ///X FATT02.xml: the XML is not well-formed"),
              std::string::npos) << r.err;

    // A CMYK logo cannot be in a PDF/A: --check says so at the logo's line.
    std::string cmyk = "\xFF\xD8\xFF\xC0";
    cmyk += std::string("\x00\x14\x08\x00\x10\x00\x10\x04", 8) + std::string(12, '\x11') + "\xFF\xD9";
    write_file(dir / "quadri.jpg", cmyk);
    r = compose({dir / "RIGHE1.txt", "--style", "CMYK", "--check", "-o", dir / "c.pdf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(dir / "loghi.ini:5 [CMYK] file: logo picture " + dir / "quadri.jpg" +
                         " is CMYK: a PDF/A-3b takes grey or RGB pictures only"),
              std::string::npos)
        << r.out;
}

// --watch composes again, with the pictures, when the print file or a file
// of the logo folder changes, and ends on SIGTERM.
TEST(VelarionCompose, WatchComposesAgainWhenAWatchedFileChanges) {
    TempDir dir;
    write_file(dir / "loghi.ini", "[A]\nforzatura=v\n");
    write_file(dir / "RIGHE2.txt", "prima\n");
    testing::BackgroundProcess p({kCompose, dir / "RIGHE2.txt", "--style", "A", "--watch", "--png", dir / "png"});
    ASSERT_TRUE(p.wait_for("png: " + dir / "png/RIGHE2-1.png", 20000)) << p.out() << p.err();
    // Its own PDF and pictures are no change: nothing is composed again while nothing changes.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_EQ(p.out().find("--- composed again"), std::string::npos) << p.out();
    write_file(dir / "RIGHE2.txt", "prima\nseconda versione\n");
    ASSERT_TRUE(p.wait_for("--- composed again", 20000)) << p.out();
    EXPECT_TRUE(testing::eventually([&] { return pdf_text(dir / "RIGHE2.pdf").find("seconda versione") != std::string::npos; }, 20000));
    const std::size_t first = p.out().find("--- composed again");
    write_file(dir / "loghi.ini", "[A]\nforzatura=o\n");  // the style changes: landscape now
    EXPECT_TRUE(testing::eventually([&] { return p.out().find("--- composed again", first + 1) != std::string::npos; }, 20000));
    EXPECT_TRUE(p.wait_for("print type: 10o-", 20000)) << p.out();
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait(), 0);
}

// A composition in the standard fonts loads no library it does not use: the
// page pictures' renderer (poppler) comes as a module for --png only, and the
// token fetching (libcurl) is not linked in.
TEST(VelarionCompose, LinksNoPictureOrHttpLibrary) {
    const auto dynamic = run_program({"/usr/bin/readelf", "-d", kCompose});
    ASSERT_EQ(dynamic.status, 0) << dynamic.err;
    EXPECT_NE(dynamic.out.find("libqpdf"), std::string::npos) << dynamic.out;  // what it does use is listed
    EXPECT_EQ(dynamic.out.find("poppler"), std::string::npos) << dynamic.out;
    EXPECT_EQ(dynamic.out.find("libcurl"), std::string::npos) << dynamic.out;
    EXPECT_TRUE(fs::exists(std::string(VELARION_BIN_DIR) + "/velarion-compose-pictures.so"));
}

// The condensed font ("Mnc57__a.ttf") is looked for, through fontconfig, only
// when a print type that uses it is composed; fontconfig says when it loads
// its configuration (FC_DEBUG=1024).
TEST(VelarionCompose, LooksForTheCondensedFontOnlyForTheTypesThatUseIt) {
    if (fs::exists(std::string(VELARION_BIN_DIR) + "/Mnc57__a.ttf"))
        GTEST_SKIP() << "the condensed font lies in the program's folder: fontconfig is never asked";
    TempDir dir;
    write_file(dir / "RIGHE1.txt", "prima riga\nseconda riga\n");
    auto r = run_program({kCompose, dir / "RIGHE1.txt", "--type", "10o-"}, {"FC_DEBUG=1024"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("config file"), std::string::npos) << r.out;
    r = run_program({kCompose, dir / "RIGHE1.txt", "--type", "12v"}, {"FC_DEBUG=1024"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("config file"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nprint type: 12v\n"), std::string::npos) << r.out;
}

// The print file is composed where it lies (through a second name in the
// work folder, or a copy): it is left as it was; an output already there is
// replaced, and an output that is a link is written through.
TEST(VelarionCompose, LeavesThePrintFileAndReplacesTheOutput) {
    TempDir dir;
    const std::string text = "prima riga\nseconda riga\n";
    write_file(dir / "RIGHE1.txt", text);
    write_file(dir / "out.pdf", "old");
    auto r = compose({dir / "RIGHE1.txt", "-o", dir / "out.pdf"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(read_file(dir / "RIGHE1.txt"), text);
    EXPECT_NE(pdf_text(dir / "out.pdf").find("seconda riga"), std::string::npos);
    fs::create_directories(dir / "elsewhere");
    write_file(dir / "elsewhere/target.pdf", "old");
    fs::create_symlink(dir / "elsewhere/target.pdf", dir / "link.pdf");
    r = compose({dir / "RIGHE1.txt", "-o", dir / "link.pdf"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(fs::is_symlink(dir / "link.pdf"));
    EXPECT_NE(pdf_text(dir / "elsewhere/target.pdf").find("seconda riga"), std::string::npos);
}

TEST(VelarionCompose, ArgumentsHelpAndVersion) {
    TempDir dir;
    write_file(dir / "A.txt", "a\n");
    EXPECT_EQ(compose({}).status, 2);
    EXPECT_EQ(compose({dir / "A.txt", "--type", "11v"}).status, 2);
    EXPECT_EQ(compose({dir / "A.txt", "--dpi", "5"}).status, 2);
    EXPECT_EQ(compose({dir / "A.txt", "--frobnicate"}).status, 2);
    EXPECT_EQ(compose({dir / "A.txt", dir / "B.txt"}).status, 2);
    EXPECT_EQ(compose({dir / "A.txt", "ope:AB"}).status, 2);               // ope: without ini:
    EXPECT_EQ(compose({dir / "A.txt", "ini:" + dir.path(), "ope:AB"}).status, 2);  // no velarion.ini there
    EXPECT_FALSE(fs::exists(dir / "A.pdf"));

    const auto help = compose({dir / "A.txt", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: velarion-compose FILE.txt", 0), 0u) << help.out;
    const auto version = compose({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("velarion-compose (Velarion) ") + VELARION_VERSION + "\n");
    EXPECT_FALSE(fs::exists(dir / "A.pdf"));
}

}  // namespace
}  // namespace velarion
