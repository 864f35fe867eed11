// PDF/A documents and Factur-X invoices, checked on real files with
// poppler's and qpdf's tools, the XMP parsed by python3's XML parser and the
// project's own PDF/A rule check (pikepdf and fontTools).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <tuple>
#include <map>
#include <string>

#include "compose_fixture.h"
#include "pdf/factur_x.h"
#include "support/pdfa_rules.h"

namespace velarion::testing {
namespace {

namespace fs = std::filesystem;

// The XMP packet of a PDF (written uncompressed), its fields as python3's
// XML parser reads them: "part", "conformance", "title", "creator",
// "create", "modify", "producer", "fx:<name>"; "error" when it does not parse.
std::map<std::string, std::string> xmp_fields(const std::string& pdf, const std::string& work) {
    const std::string bytes = read_file(pdf);
    const auto from = bytes.find("<?xpacket begin");
    const auto to = bytes.find("<?xpacket end=\"w\"?>");
    if (from == std::string::npos || to == std::string::npos) return {{"error", "no XMP packet"}};
    write_file(work, bytes.substr(from, to + 19 - from));
    const char* script = R"(
import sys, xml.etree.ElementTree as ET
ns = {'rdf': 'http://www.w3.org/1999/02/22-rdf-syntax-ns#', 'pdfaid': 'http://www.aiim.org/pdfa/ns/id/',
      'dc': 'http://purl.org/dc/elements/1.1/', 'xmp': 'http://ns.adobe.com/xap/1.0/',
      'pdf': 'http://ns.adobe.com/pdf/1.3/', 'fx': 'urn:factur-x:pdfa:CrossIndustryDocument:invoice:1p0#'}
try:
    root = ET.parse(sys.argv[1]).getroot()
except ET.ParseError as e:
    print('error=' + str(e)); sys.exit(0)
def one(path, key):
    e = root.find('.//' + path, ns)
    if e is not None: print(key + '=' + (e.text or ''))
one('pdfaid:part', 'part'); one('pdfaid:conformance', 'conformance')
one('dc:title/rdf:Alt/rdf:li', 'title'); one('dc:creator/rdf:Seq/rdf:li', 'creator')
one('xmp:CreateDate', 'create'); one('xmp:ModifyDate', 'modify'); one('pdf:Producer', 'producer')
for name in ('DocumentType', 'DocumentFileName', 'Version', 'ConformanceLevel'): one('fx:' + name, 'fx:' + name)
)";
    const auto r = run_program({"/usr/bin/python3", "-c", script, work});
    std::map<std::string, std::string> out;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        if (const auto eq = line.find('='); eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
    if (r.status != 0) out["error"] = r.err;
    return out;
}

// Every font pdffonts lists is embedded; the number of fonts.
int embedded_fonts(const std::string& pdf, std::string& listing) {
    listing = run_program({"/usr/bin/pdffonts", pdf}).out;
    std::istringstream in(listing);
    int fonts = 0;
    std::string line;
    std::getline(in, line);
    std::getline(in, line);  // the header and its rule
    while (std::getline(in, line)) {
        ++fonts;
        if (line.find(" yes ") == std::string::npos) return -1;
    }
    return fonts;
}

std::string qpdf_check(const std::string& pdf) {
    const auto r = run_program({"/usr/bin/qpdf", "--check", pdf});
    return r.status == 0 && r.err.empty() ? "" : r.out + r.err;
}

const std::string kInvoiceHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<rsm:CrossIndustryInvoice xmlns:rsm=\"urn:un:unece:uncefact:data:standard:CrossIndustryInvoice:100\"\n"
    " xmlns:ram=\"urn:un:unece:uncefact:data:standard:ReusableAggregateBusinessInformationEntity:100\">\n"
    "<rsm:ExchangedDocumentContext><ram:GuidelineSpecifiedDocumentContextParameter>\n"
    "<ram:ID>";
std::string invoice(const std::string& guideline) {
    return kInvoiceHead + guideline +
           "</ram:ID>\n</ram:GuidelineSpecifiedDocumentContextParameter></rsm:ExchangedDocumentContext>\n"
           "<rsm:ExchangedDocument><ram:ID>FT-12</ram:ID></rsm:ExchangedDocument>\n"
           "</rsm:CrossIndustryInvoice>\n";
}

// The text placing operators of a PDF's pages, in order (qpdf's QDF form).
std::vector<std::string> text_moves(const std::string& pdf, const std::string& work) {
    run_program({"/usr/bin/qpdf", "--qdf", "--object-streams=disable", pdf, work});
    std::vector<std::string> out;
    std::istringstream in(read_file(work));
    for (std::string line; std::getline(in, line);)
        if (line.ends_with(" Td") || line.ends_with(" Tm")) out.push_back(line);
    return out;
}

// The numbers of a text operator line ("12.5 700 Td").
std::vector<double> numbers_of(const std::string& line) {
    std::vector<double> out;
    std::istringstream in(line);
    for (double v; in >> v;) out.push_back(v);
    return out;
}

// The same text operators as the ordinary PDF with their places within
// 0.5 pt (aligned text moves by its width in the other font), the same words,
// and each word's edges along its baseline within 1 pt: inside a line
// the words move by the small width differences of the two fonts, which add
// up along a justified line of 180 mm to about a point.
#define EXPECT_TEXT_IN_PLACE(plain_pdf, archival_pdf)                                                   \
    do {                                                                                                \
        const auto a = text_moves(plain_pdf, dir / "a.qdf"), b = text_moves(archival_pdf, dir / "b.qdf"); \
        ASSERT_EQ(a.size(), b.size());                                                                  \
        for (std::size_t i = 0; i < a.size(); ++i) {                                                    \
            const auto na = numbers_of(a[i]), nb = numbers_of(b[i]);                                    \
            ASSERT_EQ(na.size(), nb.size()) << a[i] << " / " << b[i];                                   \
            for (std::size_t k = 0; k < na.size(); ++k) EXPECT_NEAR(na[k], nb[k], 0.5) << a[i] << " / " << b[i]; \
        }                                                                                               \
        auto order = [](const Word& x, const Word& y) {                                                 \
            return std::tie(x.page, x.text, x.x_min, x.y_min) < std::tie(y.page, y.text, y.x_min, y.y_min); \
        };                                                                                              \
        auto plain = pdf_words(plain_pdf), archived = pdf_words(archival_pdf);                         \
        std::sort(plain.begin(), plain.end(), order);                                                   \
        std::sort(archived.begin(), archived.end(), order);                                             \
        ASSERT_EQ(plain.size(), archived.size());                                                       \
        for (std::size_t i = 0; i < plain.size(); ++i) {                                                \
            EXPECT_EQ(plain[i].text, archived[i].text);                                                 \
            /* The other font's ascent and descent change a box across its baseline: */              \
            /* the edges along the baseline are the text's place. */                                     \
            const Word &p = plain[i], &q = archived[i];                                                 \
            const bool rotated = std::abs((p.x_max - p.x_min) - (q.x_max - q.x_min)) >                   \
                                 std::abs((p.y_max - p.y_min) - (q.y_max - q.y_min));                    \
            EXPECT_NEAR(rotated ? p.y_min : p.x_min, rotated ? q.y_min : q.x_min, 1.0) << p.text;       \
            EXPECT_NEAR(rotated ? p.y_max : p.x_max, rotated ? q.y_max : q.x_max, 1.0) << p.text;       \
        }                                                                                               \
    } while (0)

struct ArchivalTest : ComposeTest {
    std::map<std::string, std::string> attachments;  // name -> file, as the message resolves them
    void SetUp() override {
        ComposeTest::SetUp();
        layout.compose.find_attachment = [this](const std::string& name) {
            auto it = attachments.find(name);
            return it == attachments.end() ? std::string() : it->second;
        };
    }
    void attach(const std::string& name, const std::string& bytes) {
        write_file(dir / ("tempozip/AB.1." + std::to_string(attachments.size() + 1)), bytes);
        attachments[name] = dir / ("tempozip/AB.1." + std::to_string(attachments.size() + 1));
    }
};

const char* const kLetter =
    "Spett.le <B>ROSSI SRL</B>\r\n"
    "<T>Oggetto</T>: fattura <S>numero 12</S>\r\n"
    "Totale 'e 1.250,00\r\n"
    "Saluti\x0e GRANDE\x12\r\n";

TEST_F(ArchivalTest, Pdfa2bEmbedsEveryFontWithMetadataAndKeepsTextInPlace) {
    const std::string path = print_file("LETTA.txt", kLetter);
    styles("[LETT]\nforzatura=v\n");
    layout.style.name = "LETT";
    ASSERT_EQ(compose(path), "12v");
    fs::rename(dir / "tempozip/LETTA.pdf", dir / "plain.pdf");
    EXPECT_EQ(layout.compose.conformance, "");

    styles("[LETT]\nforzatura=v\npdfa=2b\n");
    ASSERT_EQ(compose(path), "12v");
    const std::string pdf = dir / "tempozip/LETTA.pdf";
    EXPECT_EQ(layout.compose.conformance, "PDF/A-2b");
    EXPECT_TRUE(logged(" Creato PDF/A-2b " + pdf));
    std::string fonts;
    EXPECT_GE(embedded_fonts(pdf, fonts), 2) << fonts;
    EXPECT_NE(fonts.find("LiberationMono-Bold"), std::string::npos) << fonts;
    EXPECT_EQ(qpdf_check(pdf), "");
    const std::string info = pdfinfo(pdf);
    EXPECT_EQ(info_value(info, "PDF version"), "1.7");
    EXPECT_EQ(info_value(info, "Encrypted"), "no");
    EXPECT_NE(info_value(info, "CreationDate"), "<none>");

    const auto x = xmp_fields(pdf, dir / "xmp.xml");
    EXPECT_EQ(x.count("error"), 0u) << x.at("error");
    EXPECT_EQ(x.count("part") ? x.at("part") : "", "2");
    EXPECT_EQ(x.count("conformance") ? x.at("conformance") : "", "B");
    EXPECT_EQ(x.count("title") ? x.at("title") : "", info_value(info, "Title"));
    EXPECT_EQ(x.count("creator") ? x.at("creator") : "", info_value(info, "Author"));
    EXPECT_EQ(x.count("producer") ? x.at("producer") : "", info_value(info, "Producer"));
    EXPECT_EQ(x.count("create") ? x.at("create").size() : 0u, 20u);  // 2026-12-09T10:30:00Z
    EXPECT_EQ(x.count("fx:DocumentType"), 0u);
    // The output intent with its sRGB profile, and the file identifier.
    const auto catalog = run_program({"/usr/bin/qpdf", "--show-object=trailer", pdf}).out;
    EXPECT_NE(catalog.find("/ID"), std::string::npos);
    EXPECT_NE(run_program({"/usr/bin/qpdf", "--qdf", "--object-streams=disable", pdf, dir / "q.pdf"}).status, 2);
    const std::string q = read_file(dir / "q.pdf");
    EXPECT_NE(q.find("/S /GTS_PDFA1"), std::string::npos);
    EXPECT_NE(q.find("/DestOutputProfile"), std::string::npos);

    const PdfaVerdict rules = pdfa_rules(pdf);
    EXPECT_EQ(rules.claim, "2B");
    EXPECT_EQ(rules.status, 0) << rules.broken;

    EXPECT_TEXT_IN_PLACE(dir / "plain.pdf", pdf);
}

// The sample installation's documents in their styles, ordinary and as
// PDF/A-2b: the text where it was, every font embedded, qpdf content.
TEST_F(ArchivalTest, SampleInstallationDocumentsAsPdfa) {
    const fs::path demo = fs::path(VELARION_SOURCE_DIR) / "examples/demo";
    std::string ini;
    for (const auto& e : fs::directory_iterator(demo / "loghi")) {
        std::string text = read_file(e.path().string());
        for (std::size_t p; (p = text.find("@RUN@")) != std::string::npos;) text.replace(p, 5, dir.path() + "run");
        write_file(dir / ("loghi/" + e.path().filename().string()), text);
        if (e.path().filename() == "loghi.ini") ini = text;
    }
    fs::create_directories(dir / "run/copie");
    cfg.op.cartelle_copia = dir.path();
    cfg.derive();
    cfg.host.decimal_separator = ".";
    std::string archival;  // every style section asks for PDF/A-2b
    std::istringstream lines(ini);
    for (std::string line; std::getline(lines, line);) {
        archival += line + "\n";
        if (line.starts_with("[") && line.find("PDFCRIPT") == std::string::npos) archival += "pdfa=2b\n";
    }
    struct Doc {
        const char* spool;
        const char* name;
        const char* style;
    };
    for (const Doc& d : {Doc{"AB.901.0", "TABUL1.txt", "TABULATO"}, Doc{"AB.902.0", "LETT01.txt", "LETTERA"},
                         Doc{"AB.903.0", "FATT01.txt", "FATTURA"}}) {
        const std::string path = print_file(d.name, read_file((demo / "spool" / d.spool).string()));
        const std::string pdf = dir / ("tempozip/" + std::string(d.name).substr(0, 6) + ".pdf");
        styles(ini);
        layout.style.name = d.style;
        const std::string type = compose(path);
        ASSERT_NE(type, "") << d.name;
        fs::rename(pdf, dir / "plain.pdf");
        styles(archival);
        layout.style.name = d.style;
        EXPECT_EQ(compose(path), type) << d.name;
        EXPECT_EQ(layout.compose.conformance, "PDF/A-2b") << d.name;
        std::string fonts;
        EXPECT_GE(embedded_fonts(pdf, fonts), 1) << d.name << "\n" << fonts;
        EXPECT_EQ(qpdf_check(pdf), "") << d.name;
        EXPECT_EQ(xmp_fields(pdf, dir / "xmp.xml")["part"], "2") << d.name;
        const PdfaVerdict rules = pdfa_rules(pdf);
        EXPECT_EQ(rules.claim, "2B") << d.name;
        EXPECT_EQ(rules.status, 0) << d.name << "\n" << rules.broken;
        EXPECT_TEXT_IN_PLACE(dir / "plain.pdf", pdf);
    }
}

// Merged pages that draw a font they do not carry: the document is not
// called a PDF/A, and the style gets a problem at its "pdfa" line.
TEST_F(ArchivalTest, MergedPagesWithoutTheirFontsAreNoPdfa) {
    fs::create_directories(dir / "unione");
    fs::copy(fs::path(VELARION_SOURCE_DIR) / "examples/demo/unione/condizioni.pdf", dir / "unione/condizioni.pdf");
    cfg.op.unione_DIR = dir / "unione/";
    cfg.derive();
    cfg.pdf.merge = true;
    styles("[LETT]\nforzatura=v\npdfa=2b\n");
    layout.style.name = "LETT";
    const std::string path = print_file("UNITO.txt", "testo\r\n///Mcondizioni.pdf\r\n");
    ASSERT_EQ(compose(path), "12v");
    EXPECT_EQ(pdf_pages(dir / "tempozip/UNITO.pdf"), 2);
    EXPECT_EQ(layout.compose.conformance, "");
    EXPECT_TRUE(logged(" PDF/A-2b non ottenuto: font non incorporati nei PDF uniti: Helvetica"));
    EXPECT_FALSE(logged(" Creato PDF/A-2b"));
    ASSERT_EQ(layout.compose.problems.size(), 1u);
    EXPECT_EQ(layout.compose.problems[0].line, 3);
    // The document does not claim to be what it is not.
    const PdfaVerdict rules = pdfa_rules(dir / "tempozip/UNITO.pdf");
    EXPECT_EQ(rules.claim, "none");
    EXPECT_EQ(rules.status, 0) << rules.broken;
    EXPECT_NE(pdfa_rules(dir / "tempozip/UNITO.pdf", true).broken.find("6.2.11.4.1 font not embedded: Helvetica"),
              std::string::npos);
}

struct MergeArchivalTest : ArchivalTest {
    void SetUp() override {
        ArchivalTest::SetUp();
        fs::create_directories(dir / "unione");
        cfg.op.unione_DIR = dir / "unione/";
        cfg.derive();
        cfg.pdf.merge = true;
    }
};

// A merged page that is itself a PDF/A (made by the writer) keeps the
// document a PDF/A: every stream ends with a line end, whatever qpdf writes.
TEST_F(MergeArchivalTest, MergeOfAPdfaPageStaysPdfa) {
    styles("[LETT]\nforzatura=v\npdfa=2b\n");
    layout.style.name = "LETT";
    ASSERT_EQ(compose(print_file("ALLEG.txt", "<B>Allegato</B> tecnico\r\n")), "12v");
    fs::rename(dir / "tempozip/ALLEG.pdf", dir / "unione/allegato.pdf");
    ASSERT_EQ(compose(print_file("LETTM.txt", "Lettera\r\n///Mallegato.pdf\r\n")), "12v");
    const std::string pdf = dir / "tempozip/LETTM.pdf";
    EXPECT_EQ(pdf_pages(pdf), 2);
    EXPECT_EQ(layout.compose.conformance, "PDF/A-2b");
    EXPECT_FALSE(logged("non ottenuto"));
    const PdfaVerdict rules = pdfa_rules(pdf);
    EXPECT_EQ(rules.claim, "2B");
    EXPECT_EQ(rules.status, 0) << rules.broken;
    EXPECT_EQ(qpdf_check(pdf), "");
}

// Each kind of page a PDF/A may not hold, merged: what can be changed
// without changing what the page shows is changed (the document stays a
// PDF/A); the rest makes the document no PDF/A, which then claims nothing.
TEST_F(MergeArchivalTest, MergedPagesOfEachFaultyKind) {
    struct Kind {
        const char* kind;
        bool conforms;
        const char* line;  // the activity line's words
        const char* rule;  // the rule the page itself breaks
    };
    const Kind kinds[] = {
        {"annotation-font", false, "font non incorporati nei PDF uniti: Helvetica", "6.2.11.4.1"},
        {"pattern-font", false, "font non incorporati nei PDF uniti: Helvetica", "6.2.11.4.1"},
        {"nested-font", false, "font non incorporati nei PDF uniti: Helvetica", "6.2.11.4.1"},
        {"cmyk", false, "colori DeviceCMYK nei PDF uniti", "6.2.4.3"},
        {"widths", false, "larghezze diverse dal programma del font nei PDF uniti: LiberationSans", "6.2.11.5"},
        // Deeper than the agent walks: no rule broken, but nothing said of what lies below.
        {"deep-forms", false, "disegni annidati oltre 32 livelli nei PDF uniti", ""},
        {"javascript", true, "PDF uniti resi conformi: azioni tolte 1", "6.5.1"},
        {"launch", true, "PDF uniti resi conformi: azioni tolte 1", "6.5.1"},
        {"no-flags", true, "PDF uniti resi conformi: annotazioni rese stampabili 1", "6.3.2"},
        {"hidden", true, "PDF uniti resi conformi: annotazioni tolte 1", "6.3.2"},
    };
    styles("[LETT]\nforzatura=v\npdfa=2b\n");
    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.kind);
        const std::string page = dir / ("unione/" + std::string(k.kind) + ".pdf");
        ASSERT_TRUE(faulty_page(k.kind, page));
        if (*k.rule) {
            EXPECT_NE(pdfa_rules(page, true).broken.find(k.rule), std::string::npos);
        }
        list.clear();
        layout.compose.problems.clear();
        layout.style.name = "LETT";
        ASSERT_EQ(compose(print_file("UNITO.txt", "Lettera\r\n///M" + std::string(k.kind) + ".pdf\r\n")), "12v");
        const std::string pdf = dir / "tempozip/UNITO.pdf";
        EXPECT_EQ(pdf_pages(pdf), 2);
        EXPECT_TRUE(logged(std::string(k.conforms ? " PDF/A-2b: " : " PDF/A-2b non ottenuto: ") + k.line));
        EXPECT_EQ(layout.compose.conformance, k.conforms ? "PDF/A-2b" : "");
        EXPECT_EQ(layout.compose.problems.size(), k.conforms ? 0u : 1u);
        const PdfaVerdict rules = pdfa_rules(pdf);
        EXPECT_EQ(rules.claim, k.conforms ? "2B" : "none");
        EXPECT_EQ(rules.status, 0) << rules.broken;
        if (!k.conforms && *k.rule) {
            EXPECT_NE(pdfa_rules(pdf, true).broken.find(k.rule), std::string::npos);
        }
    }
}

// A Factur-X invoice whose merged pages do not conform is no PDF/A-3 either:
// the invoice stays inside, the claim goes.
TEST_F(MergeArchivalTest, FacturXWithANonConformingMergeClaimsNothing) {
    ASSERT_TRUE(faulty_page("cmyk", dir / "unione/colori.pdf"));
    attach("FATT02.xml", invoice("urn:cen.eu:en16931:2017"));
    ASSERT_EQ(compose(print_file("FATT02.txt", "///XFATT02.xml\r\nFattura\r\n///Mcolori.pdf\r\n")), "12v");
    const std::string pdf = dir / "tempozip/FATT02.pdf";
    EXPECT_TRUE(logged(" PDF/A-3b non ottenuto: colori DeviceCMYK nei PDF uniti"));
    EXPECT_EQ(layout.compose.conformance, "");
    const PdfaVerdict rules = pdfa_rules(pdf);
    EXPECT_EQ(rules.claim, "none");
    EXPECT_EQ(rules.status, 0) << rules.broken;
    EXPECT_NE(run_program({"/usr/bin/pdfdetach", "-list", pdf}).out.find("factur-x.xml"), std::string::npos);
}

// Every code of Windows-1252 from the space on, plain and bold: drawn with
// a glyph the embedded subset holds, at its width (the writer's test does
// every font of the table).
TEST_F(ArchivalTest, EveryCp1252CodeIsDrawnWithAGlyphOfItsWidth) {
    std::string text;
    for (const char* markup : {"", "<B>"}) {
        for (int row = 0x20; row < 0x100; row += 16) {
            text += markup;
            for (int code = row; code < row + 16; ++code) text += static_cast<char>(code);
            text += std::string(*markup ? "</B>" : "") + "\r\n";
        }
    }
    styles("[LETT]\nforzatura=v\npdfa=2b\n");
    layout.style.name = "LETT";
    ASSERT_NE(compose(print_file("CODICI.txt", text)), "");
    const PdfaVerdict rules = pdfa_rules(dir / "tempozip/CODICI.pdf");
    EXPECT_EQ(rules.claim, "2B");
    EXPECT_EQ(rules.status, 0) << rules.broken;
}

// A CMYK logo cannot be in a PDF/A: the activity line says so (the picture is there).
TEST_F(ArchivalTest, CmykLogoLeftOutOfAPdfaSaysWhy) {
    std::string cmyk = "\xFF\xD8\xFF\xC0";
    cmyk += std::string("\x00\x14\x08\x00\x10\x00\x10\x04", 8) + std::string(12, '\x11') + "\xFF\xD9";
    write_file(dir / "loghi/quadri.jpg", cmyk);
    styles("[LETT]\nforzatura=v\npdfa=2b\nfile=quadri\naltezza=10\n");
    layout.style.name = "LETT";
    ASSERT_EQ(compose(print_file("LOGO.txt", "testo\r\n")), "12v");
    EXPECT_TRUE(logged(" Logo escluso dal PDF/A (immagine CMYK) " + dir / "loghi/quadri.jpg"));
    EXPECT_FALSE(logged(" Logo non trovato"));
    EXPECT_EQ(layout.compose.conformance, "PDF/A-2b");
}

TEST_F(ArchivalTest, StyleValueThatIsNoPartIsAProblemOfItsLine) {
    styles("[LETT]\nforzatura=v\npdfa=1a\n");
    layout.style.name = "LETT";
    const std::string path = print_file("LETTB.txt", "testo\r\n");
    ASSERT_EQ(compose(path), "12v");
    EXPECT_EQ(layout.compose.conformance, "");
    const auto problems = layout.styles.problems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].line, 3);
    EXPECT_EQ(problems[0].text, "[LETT] pdfa: '1a' is not 2b or 3b (an ordinary PDF is made)");
}

TEST_F(ArchivalTest, ProtectedPdfaStyleCopiesThePdfaAndProtectsTheDocumentSent) {
    fs::create_directories(dir / "bin");
    fs::copy_file(std::string(VELARION_BIN_DIR) + "/encryptpdf", dir / "bin/encryptpdf");
    fs::create_directories(dir / "copie");
    cfg.op.cartelle_copia = dir.path();
    cfg.derive();
    styles("[LETT]\nforzatura=v\npdfa=3b\ndircopy=" + dir / "copie/" + "\n[PDFCRIPT]\nPasswordFISSA=fisso123\n");
    layout.style.name = "LETT";
    const std::string path = print_file("LETTC.txt", "riservato\r\n");
    ASSERT_EQ(compose(path), "12v");
    // The copy is the PDF/A, plain; the document sent is protected.
    const std::string copy = dir / "copie/LETTC.pdf";
    ASSERT_TRUE(fs::exists(copy));
    EXPECT_EQ(xmp_fields(copy, dir / "xmp.xml")["part"], "3");
    EXPECT_EQ(info_value(pdfinfo(copy), "Encrypted"), "no");
    EXPECT_NE(run_program({"/usr/bin/qpdf", "--show-encryption", dir / "tempozip/LETTC.pdf"}).out.find("R = 2"),
              std::string::npos);
    EXPECT_EQ(layout.compose.conformance, "");
    // The copy passes the rule check; the protected document claims nothing.
    EXPECT_EQ(pdfa_rules(copy).status, 0) << pdfa_rules(copy).broken;
    EXPECT_EQ(pdfa_rules(dir / "tempozip/LETTC.pdf").claim, "none");
    // One problem, at the line of "pdfa", however often the document is made.
    ASSERT_EQ(compose(path), "12v");
    int both = 0;
    for (const auto& p : layout.compose.problems)
        if (p.text.find("pdfa: protected by [PDFCRIPT]") != std::string::npos) {
            ++both;
            EXPECT_EQ(p.line, 3);
        }
    EXPECT_EQ(both, 1);
}

// The AES-256 protected copy of a PDF/A claims nothing: no pdfaid, no output intent.
TEST_F(ArchivalTest, AesProtectedDocumentClaimsNoPdfa) {
    fs::create_directories(dir / "bin");
    fs::copy_file(std::string(VELARION_BIN_DIR) + "/encryptpdf", dir / "bin/encryptpdf");
    styles("[LETT]\nforzatura=v\npdfa=2b\n[PDFCRIPT]\nPasswordFISSA=fisso123\nCifratura=AES256\n");
    layout.style.name = "LETT";
    ASSERT_EQ(compose(print_file("LETTD.txt", "riservato\r\n")), "12v");
    const std::string pdf = dir / "tempozip/LETTD.pdf";
    EXPECT_NE(run_program({"/usr/bin/qpdf", "--show-encryption", pdf}).out.find("R = 6"), std::string::npos);
    const PdfaVerdict rules = pdfa_rules(pdf);
    EXPECT_EQ(rules.claim, "none");
    EXPECT_EQ(rules.status, 0) << rules.broken;
    EXPECT_EQ(run_program({"/usr/bin/qpdf", "--password=", "--qdf", "--object-streams=disable", pdf, dir / "q.pdf"}).status, 0);
    EXPECT_EQ(read_file(dir / "q.pdf").find("GTS_PDFA1"), std::string::npos);
}

TEST_F(ArchivalTest, FacturXEmbedsTheInvoiceByteForByteInAPdfa3) {
    const std::string xml = invoice("urn:cen.eu:en16931:2017");
    attach("FATT01.xml", xml);
    const std::string path = print_file("FATT01.txt", "///XFATT01.xml\r\nFattura FT-12\r\nTotale 'e 100,00\r\n");
    ASSERT_EQ(compose(path), "12v");
    const std::string pdf = dir / "tempozip/FATT01.pdf";
    EXPECT_EQ(layout.compose.conformance, "PDF/A-3b");
    EXPECT_EQ(pdf_text(pdf).find("///X"), std::string::npos);  // the directive is not printed
    std::string fonts;
    EXPECT_GE(embedded_fonts(pdf, fonts), 1) << fonts;
    EXPECT_EQ(qpdf_check(pdf), "");

    const auto list = run_program({"/usr/bin/pdfdetach", "-list", pdf}).out;
    EXPECT_NE(list.find("1 embedded files"), std::string::npos) << list;
    EXPECT_NE(list.find("factur-x.xml"), std::string::npos) << list;
    ASSERT_EQ(run_program({"/usr/bin/pdfdetach", "-save", "1", "-o", dir / "out.xml", pdf}).status, 0);
    EXPECT_EQ(read_file(dir / "out.xml"), xml);

    const auto x = xmp_fields(pdf, dir / "xmp.xml");
    EXPECT_EQ(x.count("error"), 0u);
    EXPECT_EQ(x.count("part") ? x.at("part") : "", "3");
    EXPECT_EQ(x.count("fx:DocumentType") ? x.at("fx:DocumentType") : "", "INVOICE");
    EXPECT_EQ(x.count("fx:DocumentFileName") ? x.at("fx:DocumentFileName") : "", "factur-x.xml");
    EXPECT_EQ(x.count("fx:Version") ? x.at("fx:Version") : "", "1.0");
    EXPECT_EQ(x.count("fx:ConformanceLevel") ? x.at("fx:ConformanceLevel") : "", "EN 16931");

    // Listed in /AF of the catalogue with its relationship and MIME type.
    run_program({"/usr/bin/qpdf", "--qdf", "--object-streams=disable", pdf, dir / "q.pdf"});
    const std::string q = read_file(dir / "q.pdf");
    EXPECT_NE(q.find("/AF ["), std::string::npos);
    EXPECT_NE(q.find("/AFRelationship /Alternative"), std::string::npos);
    EXPECT_NE(q.find("/Subtype /text#2fxml"), std::string::npos);
    EXPECT_NE(q.find("/EmbeddedFiles"), std::string::npos);
}

TEST_F(ArchivalTest, InvoiceThatCannotGoOutStopsTheMessage) {
    struct Case {
        const char* name;
        std::string xml;
        const char* reason;
    };
    const Case cases[] = {
        {"BAD1.xml", invoice("urn:cen.eu:en16931:2017").substr(0, 200), "the XML is not well-formed"},
        {"BAD2.xml", "<?xml version=\"1.0\"?><Invoice xmlns=\"urn:example:ubl:Invoice-2\"/>",
         "the XML is not a Cross Industry Invoice"},
        {"BAD3.xml", invoice("urn:example:other"), "is not a Factur-X profile"},
        {"MISSING.xml", "", "no attachment of that name in the message"},
    };
    for (const Case& c : cases) {
        layout.compose.refusal.clear();
        if (!c.xml.empty()) attach(c.name, c.xml);
        const std::string path = print_file("FATTX.txt", "///X" + std::string(c.name) + "\r\nFattura\r\n");
        EXPECT_EQ(compose(path), "") << c.name;
        EXPECT_FALSE(fs::exists(dir / "tempozip/FATTX.pdf")) << c.name;
        EXPECT_NE(layout.compose.refusal.find(std::string("///X ") + c.name + ": "), std::string::npos)
            << layout.compose.refusal;
        EXPECT_NE(layout.compose.refusal.find(c.reason), std::string::npos) << layout.compose.refusal;
        EXPECT_TRUE(logged(" Fattura elettronica rifiutata: ///X " + std::string(c.name)));
    }
    // Once refused, the message's other print files are refused too.
    const std::string other = print_file("ALTRO.txt", "testo\r\n");
    EXPECT_EQ(compose(other), "");
}

TEST(FacturX, ConformanceLevelsOfTheGuidelines) {
    EXPECT_EQ(factur_x_level("urn:factur-x.eu:1p0:minimum"), "MINIMUM");
    EXPECT_EQ(factur_x_level("urn:factur-x.eu:1p0:basicwl"), "BASIC WL");
    EXPECT_EQ(factur_x_level("urn:cen.eu:en16931:2017#compliant#urn:factur-x.eu:1p0:basic"), "BASIC");
    EXPECT_EQ(factur_x_level(" urn:cen.eu:en16931:2017 "), "EN 16931");
    EXPECT_EQ(factur_x_level("urn:cen.eu:en16931:2017#conformant#urn:factur-x.eu:1p0:extended"), "EXTENDED");
    EXPECT_EQ(factur_x_level("urn:cen.eu:en16931:2017#compliant#urn:xeinkauf.de:kosit:xrechnung_3.0"), "XRECHNUNG");
    EXPECT_EQ(factur_x_level("urn:cen.eu:en16931:2017#compliant#urn:other"), "");
    EXPECT_EQ(factur_x_level(""), "");
    FacturXInvoice inv;
    std::string refusal;
    ASSERT_TRUE(read_factur_x(invoice("urn:factur-x.eu:1p0:minimum"), inv, refusal)) << refusal;
    EXPECT_EQ(inv.relationship, "Data");
    ASSERT_TRUE(read_factur_x(invoice("urn:cen.eu:en16931:2017#compliant#urn:factur-x.eu:1p0:basic"), inv, refusal));
    EXPECT_EQ(inv.relationship, "Alternative");
    // A DOCTYPE is refused before its declarations are read: no entity
    // reads a file of the machine, none expands to gigabytes.
    const std::string xxe = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>" +
                            invoice("urn:cen.eu:en16931:2017").substr(39);
    EXPECT_FALSE(read_factur_x(xxe, inv, refusal));
    EXPECT_EQ(refusal, "the XML has a DOCTYPE declaration (no DTD or entity is accepted in an e-invoice)");
    EXPECT_FALSE(read_factur_x("<!DOCTYPE r>" + invoice("urn:cen.eu:en16931:2017").substr(39), inv, refusal));
    // UTF-8 only, with or without its byte order mark.
    EXPECT_TRUE(read_factur_x("\xEF\xBB\xBF" + invoice("urn:cen.eu:en16931:2017"), inv, refusal)) << refusal;
    EXPECT_FALSE(read_factur_x(std::string("\x00\x00\xFE\xFF", 4) + "<", inv, refusal));
    EXPECT_EQ(refusal, "the XML is not UTF-8 (UTF-32)");
    EXPECT_FALSE(read_factur_x("<?xml version=\"1.0\" encoding=\"windows-1252\"?>" +
                                   invoice("urn:cen.eu:en16931:2017").substr(39),
                               inv, refusal));
    EXPECT_EQ(refusal, "the XML is not UTF-8 (windows-1252)");
    // Bytes the declared encoding cannot convert: refused with the parser's
    // reason, and nothing written to standard error (the agent's journal).
    for (const char* encoding : {"UCS-4", "UTF-32", "ISO-10646-UCS-4"}) {
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(read_factur_x(std::string("<?xml version=\"1.0\" encoding=\"") + encoding + "\"?>\n<a>" +
                                       std::string("\x00\x00\xFE\xFF", 4) + "</a>",
                                   inv, refusal));
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << encoding;
        EXPECT_FALSE(refusal.empty());
    }
    // A value quoted in a reason is cut: the reason goes into every log.
    EXPECT_FALSE(read_factur_x(invoice("urn:" + std::string(100'000, 'z')), inv, refusal));
    EXPECT_LT(refusal.size(), 300u);
}

}  // namespace
}  // namespace velarion::testing
