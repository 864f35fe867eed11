// The writer's archival form and the XML reader, on their own.
#include <gtest/gtest.h>

#include <string>

#include "platform/pdf/color_profile.h"
#include "platform/pdf/pdf_document.h"
#include "platform/os/process.h"
#include "platform/pdf/xml_document.h"
#include "support/pdfa_rules.h"
#include "support/test_support.h"

namespace velarion {
namespace {

using testing::TempDir;

const std::string kLiberation = "/usr/share/fonts/truetype/liberation/";

PdfArchival archival(int part) {
    PdfArchival a;
    a.part = part;
    a.icc_profile = color_profile::srgb();
    a.base_fonts = {{"Courier", kLiberation + "LiberationMono-Regular.ttf"},
                    {"Helvetica", kLiberation + "LiberationSans-Regular.ttf"}};
    return a;
}

TEST(PdfArchival, AskedForBeforeTheFirstPageWithAFileForEachBaseFont) {
    ASSERT_FALSE(color_profile::srgb().empty()) << "icc-profiles-free is not installed";
    TempDir dir;
    auto doc = make_pdf_document();
    doc->NewPDF("Archivio");
    doc->SetArchival(archival(2));
    EXPECT_EQ(doc->Archival().part, 2);
    doc->addpage();
    doc->SetFontName("Helvetica");
    doc->TextOut("Totale \x80 10", 20, 20);
    // A base font without a file that stands in for it cannot be drawn.
    EXPECT_THROW(doc->SetFontName("Times-Roman"), PdfError);
    // Too late once a page exists.
    EXPECT_THROW(doc->SetArchival(archival(3)), PdfError);
    doc->SavePDF(dir / "a.pdf");
    const std::string fonts = process::run_capture({"pdffonts", dir / "a.pdf"}).value_or("");
    EXPECT_NE(fonts.find("LiberationSans"), std::string::npos) << fonts;
    EXPECT_EQ(fonts.find("Type 1"), std::string::npos) << fonts;  // no base font left
    // Embedded, a subset; WinAnsi with the unassigned codes mapped to the space.
    EXPECT_NE(fonts.find("Custom           yes yes"), std::string::npos) << fonts;

    // PDF/A-1 or a missing profile are refused; a new document is ordinary again.
    doc->NewPDF("Altro");
    PdfArchival bad = archival(1);
    EXPECT_THROW(doc->SetArchival(bad), PdfError);
    bad = archival(2);
    bad.icc_profile = dir / "manca.icc";
    EXPECT_THROW(doc->SetArchival(bad), PdfError);
    EXPECT_EQ(doc->Archival().part, 0);
}

// Every code from the space on in each base font's Liberation stand-in:
// the codes Windows-1252 leaves without a character are drawn as a space,
// at the width they are measured with, never with the missing glyph.
TEST(PdfArchival, EveryCp1252CodeInEveryBaseFont) {
    TempDir dir;
    PdfArchival a = archival(2);
    const char* styles[4][2] = {{"", "Regular"}, {"-Bold", "Bold"}, {"-Oblique", "Italic"}, {"-BoldOblique", "BoldItalic"}};
    for (const auto& [family, file] : {std::pair<std::string, std::string>{"Courier", "Mono"}, {"Helvetica", "Sans"}, {"Times", "Serif"}})
        for (const auto& st : styles) {
            std::string name = family + st[0];
            if (family == "Times")
                name = std::string("Times-") + (st[1] == std::string("Regular") ? "Roman" : st[1] == std::string("Italic") ? "Italic"
                                                : st[1] == std::string("Bold") ? "Bold" : "BoldItalic");
            a.base_fonts[name] = kLiberation + "Liberation" + file + "-" + st[1] + ".ttf";
        }
    auto doc = make_pdf_document();
    doc->NewPDF("Codici");
    doc->SetArchival(a);
    doc->addpage();
    double y = 10;
    for (const auto& [name, path] : a.base_fonts) {
        doc->SetFontName(name);
        doc->SetFONTHEIGHT(8);
        for (const unsigned char code : {0x7F, 0x81, 0x8D, 0x8F, 0x90, 0x9D})
            EXPECT_DOUBLE_EQ(doc->GetTextBoxWidth(std::string(1, static_cast<char>(code))), doc->GetTextBoxWidth(" "))
                << name << " " << int(code);
        for (int row = 0x20; row < 0x100; row += 32, y += 3.5) {
            std::string text;
            for (int code = row; code < row + 32; ++code) text += static_cast<char>(code);
            doc->TextOut(text, 10, y);
        }
    }
    doc->SavePDF(dir / "codici.pdf");
    const testing::PdfaVerdict rules = testing::pdfa_rules(dir / "codici.pdf");
    EXPECT_EQ(rules.claim, "2B");
    EXPECT_EQ(rules.status, 0) << rules.broken;
}

TEST(PdfArchival, CmykPicturesAreRefused) {
    TempDir dir;
    std::string cmyk = "\xFF\xD8\xFF\xC0";
    cmyk += std::string("\x00\x14\x08\x00\x10\x00\x10\x04", 8) + std::string(12, '\x11') + "\xFF\xD9";
    testing::write_file(dir / "cmyk.jpg", cmyk);
    auto doc = make_pdf_document();
    doc->NewPDF("Archivio");
    doc->SetArchival(archival(2));
    EXPECT_THROW(doc->ImportImageAsResource(dir / "cmyk.jpg", 90), PdfError);
    auto plain = make_pdf_document();
    plain->NewPDF("Normale");
    EXPECT_NO_THROW(plain->ImportImageAsResource(dir / "cmyk.jpg", 90));
}

TEST(XmlDocument, NamesTextAndErrors) {
    const auto doc = xml::Document::parse("<a:r xmlns:a=\"urn:a\" xmlns:b=\"urn:b\"><b:x><b:y> 12 </b:y></b:x></a:r>");
    ASSERT_TRUE(doc.ok());
    EXPECT_EQ(doc.root(), (xml::Name{"urn:a", "r"}));
    EXPECT_EQ(doc.text({{"urn:b", "x"}, {"urn:b", "y"}}), " 12 ");
    EXPECT_EQ(doc.text({{"urn:a", "x"}}), "");  // same local name, another namespace
    const auto bad = xml::Document::parse("<a>\n<b></a>");
    EXPECT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().rfind("line 2: ", 0), 0u) << bad.error();
    EXPECT_FALSE(xml::Document::parse("").ok());
    EXPECT_EQ(bad.root(), xml::Name{});
}

}  // namespace
}  // namespace velarion
