// The whole agent on spool input that would make it read or write without
// bound, or read what it did not check: invoice XMLs with a DOCTYPE, in
// another encoding or too large; print files whose pages or bytes run away;
// activity lines of the longest configured paths and of spool text far
// longer; a style's picture swapped for a link while messages are composed.
#include <cstdio>
#include <atomic>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/agent_site.h"
#include "support/test_support.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using testing::read_file;
using testing::write_file;

struct Site : testing::AgentSite {
    explicit Site(const std::string& global = "") {
        configure(global, "[MAPI]\nclient=Microsoft Outlook\nstore=maildir://localhost" + posta + "\n");
    }
    // A message to `to` with the attachments given (header name, content).
    void message(const std::string& base, const std::string& to,
                 const std::vector<std::pair<std::string, std::string>>& attachments,
                 const std::string& style = ".") const {
        std::string h = "RF" + base + "\r\n\r\nab@example.com\r\n" + to + "\r\nMessaggio " + base + "\r\n" + style +
                        "\r\nSAVE\r\n" + (style == "." ? "" : "-\r\n");
        for (std::size_t i = 0; i < attachments.size(); ++i) {
            h += attachments[i].first + "\r\n";
            write_file(spool + base + "." + std::to_string(i), attachments[i].second);
        }
        write_file(spool + base + ".h", h);
        write_file(spool + base + ".b", "Testo di " + base + "\r\n");
        write_file(spool + base + ".T", "");
    }
    // The reason kept with the parked message whose folder name holds `base`.
    std::string reason_of(const std::string& base) const {
        for (const auto& folder : parked())
            if (folder.find(base) != std::string::npos) return read_file(folder + "motivo.txt");
        return "(not parked)";
    }
};

std::string invoice(const std::string& prolog, const std::string& id) {
    return prolog +
           "<rsm:CrossIndustryInvoice xmlns:rsm=\"urn:un:unece:uncefact:data:standard:CrossIndustryInvoice:100\"\n"
           " xmlns:ram=\"urn:un:unece:uncefact:data:standard:ReusableAggregateBusinessInformationEntity:100\">\n"
           "<rsm:ExchangedDocumentContext><ram:GuidelineSpecifiedDocumentContextParameter>\n"
           "<ram:ID>" + id + "</ram:ID>\n"
           "</ram:GuidelineSpecifiedDocumentContextParameter></rsm:ExchangedDocumentContext>\n"
           "</rsm:CrossIndustryInvoice>\n";
}

const std::string kUtf8 = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
const std::string kGuideline = "urn:cen.eu:en16931:2017#compliant#urn:factur-x.eu:1p0:basic";

// "a" as UTF-16 little endian with its byte order mark.
std::string utf16(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii) out += std::string{c, '\0'};
    return out;
}

TEST(WholeProgramBounds, InvoiceXmlWithADoctypeAnotherEncodingOrTooLargeIsParkedWithItsReason) {
    Site s("fattura_max_mb=1\n");
    // An entity of 10 KB referenced 10,000 times in the guideline: 100 MB once expanded.
    std::string bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE rsm:CrossIndustryInvoice [<!ENTITY e \"" +
                       std::string(10'000, 'x') + "\">]>\n";
    std::string refs;
    for (int i = 0; i < 10'000; ++i) refs += "&e;";
    const auto print = [](const std::string& xml) { return "///X" + xml + "\r\nFattura\r\n"; };
    s.message("AB.1", "uno@example.it", {{"FATT01.txt", print("FATT01.xml")}, {"FATT01.xml", invoice(bomb, refs)}});
    s.message("AB.2", "due@example.it",
              {{"FATT02.txt", print("FATT02.xml")}, {"FATT02.xml", utf16(invoice("", kGuideline))}});
    s.message("AB.3", "tre@example.it",
              {{"FATT03.txt", print("FATT03.xml")},
               {"FATT03.xml", invoice("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n", kGuideline)}});
    s.message("AB.4", "quattro@example.it",
              {{"FATT04.txt", print("FATT04.xml")},
               {"FATT04.xml", invoice(kUtf8 + "<!--" + std::string(1'100'000, '-') + "-->\n", kGuideline)}});
    // A line of 120 characters fits none of the larger print types: several are tried.
    s.message("AB.5", "cinque@example.it",
              {{"FATT05.txt", "///XFATT05.xml\nFattura " + std::string(112, '9') + "\n"},
               {"FATT05.xml", invoice(kUtf8, kGuideline)}});

    const auto r = s.once();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string refused = " Fattura elettronica rifiutata: ///X ";
    EXPECT_THAT(r.out, HasSubstr(refused + "FATT01.xml: the XML has a DOCTYPE declaration"));
    EXPECT_THAT(r.out, HasSubstr(refused + "FATT02.xml: the XML is not UTF-8 (UTF-16)"));
    EXPECT_THAT(r.out, HasSubstr(refused + "FATT03.xml: the XML is not UTF-8 (ISO-8859-1)"));
    EXPECT_THAT(r.out, HasSubstr(refused + "FATT04.xml: the XML is larger than 1 MB (fattura_max_mb)"));
    EXPECT_THAT(s.reason_of("AB.1"), HasSubstr("DOCTYPE"));
    EXPECT_LT(s.reason_of("AB.1").size(), 1000u);
    EXPECT_THAT(s.reason_of("AB.4"), HasSubstr("fattura_max_mb"));
    EXPECT_EQ(s.parked().size(), 4u) << r.out;
    // The sound invoice goes, read once whatever the types tried.
    EXPECT_EQ(s.drafts(), (std::map<std::string, int>{{"cinque@example.it", 1}})) << r.out;
    std::size_t reads = 0;
    for (std::size_t at = 0; (at = r.out.find(" Fattura elettronica Factur-X BASIC da FATT05.xml", at)) != std::string::npos; ++at)
        ++reads;
    EXPECT_EQ(reads, 1u) << r.out;
}

// A print file of lines that are a form feed alone: a page each.
std::string form_feeds(int pages) {
    std::string out = "inizio\r\n";
    for (int i = 0; i < pages; ++i) out += "\x0c\r\n";
    return out + "fine\r\n";
}

TEST(WholeProgramBounds, PagesAndBytesBeyondTheirLimitsParkTheMessage) {
    Site s("pagine_max=1000\nmessaggio_max_mb=1\n");
    s.message("AB.1", "uno@example.it", {{"PAGINE.txt", form_feeds(5'000)}});
    // Hardly compressible text: the PDF of a listing of some 600 pages outgrows 1 MB.
    std::string noise;
    unsigned state = 12345;
    for (int i = 0; i < 30'000; ++i) {
        std::string line;
        for (int k = 0; k < 120; ++k) line += static_cast<char>('A' + ((state = state * 1103515245u + 12345u) >> 16) % 26);
        noise += line + "\r\n";
    }
    s.message("AB.2", "due@example.it", {{"GRANDE.txt", noise}});
    s.message("AB.3", "tre@example.it", {{"BREVE1.txt", form_feeds(400)}});

    const auto r = s.once();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr(" Documento oltre 1000 pagine (pagine_max), messaggio non inviato: "));
    EXPECT_THAT(r.out, HasSubstr(" Messaggio oltre 1 MB (messaggio_max_mb), messaggio non inviato: AB.2"));
    EXPECT_THAT(s.reason_of("AB.1"), HasSubstr("pagine_max"));
    EXPECT_THAT(s.reason_of("AB.2"), HasSubstr("messaggio_max_mb"));
    EXPECT_EQ(s.parked().size(), 2u) << r.out;
    // Below both limits the message goes.
    EXPECT_EQ(s.drafts(), (std::map<std::string, int>{{"tre@example.it", 1}})) << r.out;
}

TEST(WholeProgramBounds, ActivityLinesKeepTheLongestConfiguredPathsAndCutSpoolText) {
    Site s;
    // A spool folder and a logo folder whose paths have 1,023 characters,
    // the longest value velarion.ini holds.
    const auto long_folder = [&](const std::string& base) {
        std::string path = base;
        while (path.size() + 201 < 1023) path += std::string(200, 'c') + "/";
        path += std::string(1023 - 1 - path.size(), 'd') + "/";
        fs::create_directories(path);
        return path;
    };
    const std::string spool = long_folder(s.root / "s/"), logos = long_folder(s.root / "l/");
    ASSERT_EQ(spool.size(), 1023u);
    ASSERT_EQ(logos.size(), 1023u);
    write_file(logos + "loghi.ini", "");
    write_file(s.cfg + "velarion.ini", "[AB]\nEMailAddr=ab@example.com\nPath=" + spool + "\nDir_Loghi=" + logos +
                                           "\ntempozip_dir=" + s.work + "\n[GLOBAL]\nTiming=100\n[MAPI]\nclient=Microsoft Outlook\n"
                                           "store=maildir://localhost" + s.posta + "\n");
    // A print file whose last line (logged as " Ultima riga ") holds 60,000 characters.
    write_file(spool + "AB.1.h", "RF1\r\n\r\nab@example.com\r\nx@example.it\r\nLungo\r\n.\r\nSAVE\r\nLUNGO1.txt\r\n");
    write_file(spool + "AB.1.b", "b\r\n");
    write_file(spool + "AB.1.0", "testo\r\n" + std::string(60'000, 'r') + "\r\n");
    write_file(spool + "AB.1.T", "");

    const auto r = s.once();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr(" Operatore = AB " + spool + " " + logos + "\n"));
    std::istringstream lines(r.out + s.log());
    bool cut = false;
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), 8192u);
        if (line.find(" Ultima riga  rrrr") != std::string::npos && line.ends_with(" [...]")) cut = true;
    }
    EXPECT_TRUE(cut) << r.out.substr(0, 3000);
    EXPECT_EQ(s.drafts(), (std::map<std::string, int>{{"x@example.it", 1}})) << r.out.substr(0, 3000);
}

TEST(WholeProgramBounds, AStylePictureSwappedForALinkWhileComposingIsNeverReadThroughIt) {
    Site s;
    const std::string demo = std::string(VELARION_SOURCE_DIR) + "/examples/demo/loghi/";
    const std::string inside = read_file(demo + "marchio.jpg"), outside = read_file(demo + "qualita.jpg");
    write_file(s.root / "home/esterno.jpg", outside);  // outside every folder the styles may read
    write_file(s.root / "loghi/marchio.jpg", inside);
    write_file(s.root / "loghi/loghi.ini", "[LETTERA]\nfile=marchio\nlarghezza=45\naltezza=15\nmargsx=155\n"
                                           "margbasso=22\ndircopy=" + s.root / "copie/" + "\n");
    fs::create_directories(s.root / "copie");
    s.configure("", "[MAPI]\nclient=Microsoft Outlook\nstore=maildir://localhost" + s.posta + "\n[PERCORSI]\ncartelle_copia=" +
                        s.root / "copie/" + "\n");
    constexpr int kMessages = 30;
    for (int i = 0; i < kMessages; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "LETT%02d.txt", i);
        s.message("AB." + std::to_string(i + 1), "m" + std::to_string(i) + "@example.it", {{name, "Gentile cliente\r\n"}},
                  "LETTERA");
    }
    // The picture is the real one and a link to the outside one in turn, as
    // fast as renames go, while the agent checks and reads it.
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        const std::string target = s.root / "loghi/marchio.jpg";
        const std::string link = s.root / "loghi/.link", real = s.root / "loghi/.real";
        while (!stop) {
            std::error_code ec;
            fs::remove(link, ec);
            fs::create_symlink(s.root / "home/esterno.jpg", link, ec);
            fs::rename(link, target, ec);
            write_file(real, inside);
            fs::rename(real, target, ec);
        }
    });
    const auto r = s.once();
    stop = true;
    swapper.join();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    // A piece of either picture's compressed data, as a PDF carries it.
    const std::string outside_mark = outside.substr(outside.size() / 2, 64);
    const std::string inside_mark = inside.substr(inside.size() / 2, 64);
    int copies = 0;
    for (const auto& e : fs::directory_iterator(s.root / "copie")) {
        ++copies;
        EXPECT_EQ(read_file(e.path().string()).find(outside_mark), std::string::npos)
            << e.path() << " carries the picture outside the logo folder";
    }
    EXPECT_EQ(copies, kMessages) << r.out;
    // The style does draw its picture when nothing is swapped.
    write_file(s.root / "loghi/marchio.jpg", inside);
    s.message("AB.99", "fermo@example.it", {{"FERMO1.txt", "Gentile cliente\r\n"}}, "LETTERA");
    const auto still = s.once();
    ASSERT_EQ(still.status, 0) << still.out << still.err;
    EXPECT_NE(read_file(s.root / "copie/FERMO1.pdf").find(inside_mark), std::string::npos) << still.out;
}

}  // namespace
}  // namespace velarion
