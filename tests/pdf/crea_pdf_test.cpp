// CreaPdf on real print files, checked with poppler's tools.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <thread>

#include "compose_fixture.h"
#include "platform/pdf/pdf_document.h"

namespace velarion::testing {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> with_prefix(const std::vector<std::string>& calls, const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& c : calls)
        if (c.rfind(prefix, 0) == 0) out.push_back(c);
    return out;
}
int count_prefix(const std::vector<std::string>& calls, const std::string& prefix) {
    return static_cast<int>(with_prefix(calls, prefix).size());
}

TEST_F(ComposeTest, ListingThatFitsOnly10oMinus) {
    const std::string path = print_file("LISTA1.txt", listing(3));
    EXPECT_EQ(compose(path), "10o-");
    const std::string pdf = dir / "tempozip/LISTA1.pdf";
    EXPECT_EQ(layout.compose.created_pdf, pdf);
    EXPECT_EQ(pdf_pages(pdf), 3);
    EXPECT_NEAR(page_size(pdf, 1).first, 841.89, 0.5);
    EXPECT_NEAR(page_size(pdf, 3).second, 595.28, 0.5);

    const auto words = pdf_words(pdf);
    const Word* first = find_word(words, "P1R1" + std::string(127, '.') + "|", 1);
    const Word* second = find_word(words, "P1R2" + std::string(127, '.') + "|", 1);
    ASSERT_TRUE(first && second);
    // First row at 5 mm, 4.2 mm (baseline; Courier's box reaches 0.157 em below it).
    EXPECT_NEAR(first->x_min, pt(5), 0.2);
    EXPECT_NEAR(first->y_max - 0.157 * 10, pt(4.2), 0.3);
    // Pitch 2.8 mm, 10-point Courier: 132 characters of 6 points.
    EXPECT_NEAR(second->y_max - first->y_max, pt(2.8), 0.02);
    EXPECT_NEAR(first->x_max - first->x_min, 132 * 6.0, 0.2);
    // The form feed starts page 2 at the first row again; the page mark "!" is at 1 mm, 2 mm.
    const Word* page2 = find_word(words, "P2R1" + std::string(127, '.') + "|", 2);
    ASSERT_TRUE(page2);
    EXPECT_NEAR(page2->y_max, first->y_max, 0.01);
    const Word* mark = find_word(words, "!", 2);
    ASSERT_TRUE(mark);
    EXPECT_NEAR(mark->x_min, pt(1), 0.2);

    // The refused and failed types made no file; the last line is logged.
    EXPECT_TRUE(logged(" Ultima riga  P3R60"));
}

TEST_F(ComposeTest, PortraitLetterFontsEuroDashesAndInformation) {
    const std::string path = print_file(
        "LETTERA.txt",
        "Spett.le <B>ROSSI SRL</B>\r\n"
        "<T>Oggetto</T>: fattura <S>numero 12</S>\r\n"
        "Totale 'e 1.250,00\r\n"
        "--------------------\r\n"
        "Saluti\x0e GRANDE\x12\r\n");
    EXPECT_EQ(compose(path), "12v");
    const std::string pdf = dir / "tempozip/LETTERA.pdf";
    EXPECT_EQ(pdf_pages(pdf), 1);
    const std::string info = pdfinfo(pdf);
    EXPECT_NEAR(page_size(pdf, 1).first, 595.28, 0.5);
    EXPECT_NEAR(page_size(pdf, 1).second, 841.89, 0.5);
    EXPECT_EQ(info_value(info, "Author"), "Velarion");
    EXPECT_EQ(info_value(info, "Title"), "Stampa");
    EXPECT_EQ(info_value(info, "Keywords"),
              "Velarion Ver. 9.0.2(09/03/16)  Tipostampa 12v Nome file origine: " + path);

    const std::string text = pdf_text(pdf);
    EXPECT_NE(text.find("Totale € 1.250,00"), std::string::npos) << text;
    EXPECT_NE(text.find("————————————————————"), std::string::npos) << text;
    EXPECT_NE(text.find("Spett.le ROSSI SRL"), std::string::npos) << text;  // tags not printed
    EXPECT_NE(text.find("Oggetto: fattura numero 12"), std::string::npos) << text;

    const auto fonts = run_program({"/usr/bin/pdffonts", pdf}).out;
    EXPECT_NE(fonts.find("Courier "), std::string::npos) << fonts;
    EXPECT_NE(fonts.find("Courier-Bold "), std::string::npos) << fonts;
    EXPECT_EQ(fonts.find(" yes "), std::string::npos) << fonts;  // nothing embedded

    // The tagged line is written character by character from the row start.
    const auto words = pdf_words(pdf);
    const Word* spett = find_word(words, "Spett.le");
    const Word* rossi = find_word(words, "ROSSI");
    ASSERT_TRUE(spett && rossi);
    EXPECT_NEAR(spett->x_min, pt(5), 0.2);
    EXPECT_NEAR(rossi->x_min - spett->x_min, 9 * 7.2, 0.3);  // 12 points: 7.2 per character
}

TEST_F(ComposeTest, EmptyFileIsRefusedWithItsLine) {
    const std::string path = print_file("VUOTO1.txt", "");
    EXPECT_EQ(compose(path), "");
    EXPECT_TRUE(logged(" Crea Pdf " + path + " File Senza Dati "));
    EXPECT_FALSE(fs::exists(dir / "tempozip/VUOTO1.pdf"));
    EXPECT_TRUE(layout.compose.created_pdf.empty());
}

// Each way a composition ends is named; the message's style name is back
// whichever way it ended, even after a directive changed it.
TEST_F(ComposeTest, ResultNamesFittedRefusedAndFailed) {
    styles("[LETT]\nforzatura=v\n[LAND]\nforzatura=10o-\n");
    layout.style.name = "LETT";
    const std::string empty = print_file("VUOTO2.txt", "");
    CreaPdfResult r = CreaPdf(rt, layout, pre, empty, "12v", "VUOTO2.txt");
    EXPECT_EQ(r.kind, CreaPdfResult::Kind::failed);
    EXPECT_EQ(r.reason, "the print file is empty");
    r = CreaPdf(rt, layout, pre, dir / "tempozip/MANCA1.txt", "12v", "MANCA1.txt");
    EXPECT_EQ(r.kind, CreaPdfResult::Kind::failed);
    EXPECT_EQ(r.reason, "the print file cannot be read");
    const std::string path = print_file("STILI2.txt", "prima\r\n///LLAND\r\n\x0cseconda\r\n");
    EXPECT_EQ(CreaPdf(rt, layout, pre, path, "10o-", "STILI2.txt").kind, CreaPdfResult::Kind::refused);
    EXPECT_EQ(layout.style.name, "LETT");
    r = CreaPdf(rt, layout, pre, path, "12v", "STILI2.txt");
    EXPECT_TRUE(r.fitted());
    EXPECT_EQ(r.pdf, dir / "tempozip/STILI2.pdf");
    EXPECT_EQ(layout.style.name, "LETT");
    // The file was read once for the four attempts.
    EXPECT_EQ(layout.styles.reads(), 1);
}

// A writer swapping loghi.ini for a link to a style file outside the style
// folders, over and over while messages are composed: no message is ever
// styled by the outside file (its substitution would print "FUORI"), and
// the file in place once the writer stops styles the next one.
TEST_F(ComposeTest, AStyleFileSwappedForALinkNeverStylesAMessage) {
    const std::string inside = "[LETT]\nrimpiazza1=PRIVATO\nrimpcon1=INTERNO\n";
    styles(inside);
    write_file(dir / "fuori/loghi.ini", "[LETT]\nrimpiazza1=PRIVATO\nrimpcon1=FUORI\n");
    const std::string style = dir / "loghi/loghi.ini", next = dir / "loghi/next.ini";
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int n = 0; !stop; ++n) {
            std::error_code ec;
            fs::remove(next, ec);
            if (n % 2)
                write_file(next, inside);
            else
                fs::create_symlink(dir / "fuori/loghi.ini", next, ec);
            fs::rename(next, style, ec);
        }
    });
    const std::string path = print_file("RACE01.txt", "dato PRIVATO\r\n");
    // One message: its own layout state, the type sequence, the PDF's text.
    auto message = [&] {
        LayoutState one;
        one.style.name = "LETT";
        pre = AnalizzaTXT(rt, path);
        for (const char* type : kPrintTypes)
            if (CreaPdf(rt, one, pre, path, type, "RACE01.txt").fitted()) return pdf_text(one.compose.created_pdf);
        return std::string();
    };
    int outside = 0;
    for (int n = 0; n < 25; ++n) outside += message().find("FUORI") != std::string::npos;
    stop = true;
    writer.join();
    EXPECT_EQ(outside, 0);
    // A link in place: the message goes without the style, and says why.
    fs::remove(style);
    fs::create_symlink(dir / "fuori/loghi.ini", style);
    list.clear();
    EXPECT_NE(message().find("dato PRIVATO"), std::string::npos);
    EXPECT_TRUE(logged(" File di stile fuori dalle cartelle ammesse " + style));
    fs::remove(style);
    styles(inside);
    EXPECT_NE(message().find("dato INTERNO"), std::string::npos);
}

// The agent's messages take the style file and the barcode file once each
// (one version for all their documents): a writer swapping both for links
// to outside files never styles a message from outside, and files changed
// between two messages are taken by the next one.
TEST_F(ComposeTest, MessagesTakeOneVersionOfTheStyleFilesNeverAnOutsideOne) {
    const std::string markers = "[SEQBARCODE]\nSEQ1INIZIO=<<\nSEQ1INIZIOREPL=~%\nSEQ1FINE=>>\nSEQ1FINEREPL=~%FINE-\n";
    auto style_file = [&](const std::string& word) {
        return markers + "[LETT]\nrimpiazza1=PRIVATO\nrimpcon1=" + word + "\n";
    };
    auto barcode_file = [](const std::string& word) {
        return "[C39]\nnomefilefont=F0\ndescrizionefont=/F0\nstringafissa=" + word + "\n";
    };
    styles(style_file("INTERNO"));
    write_file(dir / "loghi/barcode.ini", barcode_file("CODICEA"));
    write_file(dir / "fuori/loghi.ini", style_file("FUORI"));
    write_file(dir / "fuori/barcode.ini", barcode_file("FUORI"));
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        const std::string next = dir / "loghi/next.ini";
        for (int n = 0; !stop; ++n) {
            for (const std::string name : {"loghi.ini", "barcode.ini"}) {
                std::error_code ec;
                fs::remove(next, ec);
                if (n % 2)
                    write_file(next, name == "loghi.ini" ? style_file("INTERNO") : barcode_file("CODICEA"));
                else
                    fs::create_symlink(dir / ("fuori/" + name), next, ec);
                fs::rename(next, dir / ("loghi/" + name), ec);
            }
        }
    });
    const std::string path = print_file("RACE02.txt", "dato PRIVATO <<1>>C39\x12 fine\r\n");
    auto message = [&] {
        MessageLayout one("LETT");
        pre = AnalizzaTXT(rt, path);
        for (const char* type : kPrintTypes)
            if (CreaPdf(rt, one.state(), pre, path, type, "RACE02.txt").fitted()) return pdf_text(one.created_pdf());
        return std::string();
    };
    int outside = 0;
    for (int n = 0; n < 25; ++n) outside += message().find("FUORI") != std::string::npos;
    stop = true;
    writer.join();
    EXPECT_EQ(outside, 0);
    for (const char* name : {"loghi/loghi.ini", "loghi/barcode.ini"}) fs::remove(dir / name);
    styles(style_file("NUOVO"));
    write_file(dir / "loghi/barcode.ini", barcode_file("CODICEB"));
    const std::string text = message();
    EXPECT_NE(text.find("dato NUOVO"), std::string::npos) << text;
    EXPECT_NE(text.find("CODICEB"), std::string::npos) << text;
}

// A print file swapped for a link or a FIFO in the work folder is not read
// through (no outside text, no wait for a writer): the file cannot be read.
TEST_F(ComposeTest, APrintFileThatIsALinkOrAFifoIsNotRead) {
    write_file(dir / "fuori/segreto.txt", "SEGRETO\r\n");
    const std::string link = dir / "tempozip/LINK02.txt", fifo = dir / "tempozip/FIFO02.txt";
    fs::create_symlink(dir / "fuori/segreto.txt", link);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {link, fifo}) {
        EXPECT_EQ(AnalizzaTXT(rt, path).line_count, 0);
        EXPECT_EQ(CreaPdf(rt, layout, pre, path, "12v", paths_name(path)).kind, CreaPdfResult::Kind::failed);
        EXPECT_TRUE(logged(" Crea Pdf " + path + " file non leggibile")) << path;
    }
}

// A burst of messages reads the style file and each formatting table once:
// the style file is kept for the run, the table for the message's print
// types; a file changed between two documents is read again.
TEST_F(ComposeTest, StyleFileReadOnceForABurstAndAgainWhenItChanges) {
    styles("[FATT]\nformattatesto=tab.txt\n");
    write_file(dir / "loghi/tab.txt", "1\tC\t1\n1\tZ\t2\n");
    settle(dir / "loghi/tab.txt");
    const std::string path = print_file("FATT1.txt", "riga uno\r\n");
    const int before = rt.ini_files.reads();
    for (int message = 0; message < 3; ++message) {
        LayoutState one;  // each message has its own layout state
        one.style.name = "FATT";
        pre = AnalizzaTXT(rt, path);
        int tried = 0;
        for (const char* type : kPrintTypes) {
            ++tried;
            if (CreaPdf(rt, one, pre, path, type, "FATT1.txt").fitted()) break;
        }
        EXPECT_GT(tried, 1);  // several types tried, one table read
        EXPECT_EQ(one.format_tables.reads(), 1);
        // The table's problem is the message's, each time.
        bool named = false;
        for (const auto& p : one.compose.problems) named = named || p.text.find("'Z'") != std::string::npos;
        EXPECT_TRUE(named);
    }
    EXPECT_EQ(rt.ini_files.reads() - before, 1);

    // Changed between two documents: the next one sees it.
    styles("[FATT]\nforzatura=o\n");
    LayoutState next;
    next.style.name = "FATT";
    EXPECT_EQ(CreaPdf(rt, next, pre, path, "12v", "FATT1.txt").kind, CreaPdfResult::Kind::refused);
    EXPECT_EQ(rt.ini_files.reads() - before, 2);
    EXPECT_EQ(next.style.forzatura, "o");
}

TEST_F(ComposeTest, RefusedTypeOpensNothingAndFailedFitStopsAtFirstLine) {
    int documents = 0;
    std::vector<std::string> calls;
    layout.compose.make_document = [&] {
        ++documents;
        return std::make_unique<KeptDoc>(&calls);
    };
    const std::string path = print_file("LISTA2.txt", listing(2));
    pre = AnalizzaTXT(rt, path);
    EXPECT_EQ(CreaPdf(rt, layout, pre, path, "14o", "LISTA2.txt").kind, CreaPdfResult::Kind::refused);
    EXPECT_EQ(CreaPdf(rt, layout, pre, path, "10o", "LISTA2.txt").kind, CreaPdfResult::Kind::refused);
    EXPECT_EQ(documents, 0);
    EXPECT_EQ(CreaPdf(rt, layout, pre, path, "12v", "LISTA2.txt").kind, CreaPdfResult::Kind::refused);
    EXPECT_EQ(documents, 1);
    // The page mark and the first line; the fit test ends the attempt there.
    EXPECT_EQ(count_prefix(calls, "TextOut"), 2);
    EXPECT_FALSE(fs::exists(dir / "tempozip/LISTA2.pdf"));
    EXPECT_FALSE(logged(" Ultima riga"));
}

TEST_F(ComposeTest, UnderlineTagsDrawLinesUnderEachCharacter) {
    std::vector<std::string> calls;
    layout.compose.make_document = [&] { return std::make_unique<KeptDoc>(&calls); };
    const std::string path = print_file("TAGS12.txt", "ab<T>cd</T>e\r\n");
    EXPECT_TRUE(CreaPdf(rt, layout, pre, path, "12v", "TAGS12.txt").fitted());
    // RecordingDoc: 2 mm per character; row 1 at 4.2 mm, the rule 0.5 mm below.
    const std::vector<std::string> lines = with_prefix(calls, "Line ");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Line 0.3 9 11 4.7 4.7");
    EXPECT_EQ(lines[1], "Line 0.3 11 13 4.7 4.7");
    EXPECT_EQ(count_prefix(calls, "TextOut"), 1 + 5);  // the mark, then one call per character
}

TEST_F(ComposeTest, FormFeedsAtTheStartAndEndAddNoEmptyPage) {
    const std::string path = print_file("FF0001.txt", "\x0cuno\r\ndue\r\n\x0ctre\r\n\x0c\r\n");
    EXPECT_EQ(compose(path), "12v");
    const std::string pdf = dir / "tempozip/FF0001.pdf";
    EXPECT_EQ(pdf_pages(pdf), 2);
    const auto words = pdf_words(pdf);
    const Word* uno = find_word(words, "uno", 1);
    const Word* tre = find_word(words, "tre", 2);
    ASSERT_TRUE(uno && tre);
    EXPECT_NEAR(uno->y_max, tre->y_max, 0.01);
}

TEST_F(ComposeTest, HeightTestStartsAFullPage) {
    // 150 portrait rows, no form feeds: 12v holds 72 rows of 4.1 mm on 297 mm.
    std::string text;
    for (int i = 1; i <= 150; ++i) text += "riga" + std::to_string(i) + "\r\n";
    const std::string path = print_file("ALTO01.txt", text);
    EXPECT_EQ(compose(path), "12v");
    const std::string pdf = dir / "tempozip/ALTO01.pdf";
    EXPECT_EQ(pdf_pages(pdf), 3);
    const auto words = pdf_words(pdf);
    const Word* r1 = find_word(words, "riga1", 1);
    const Word* r73 = find_word(words, "riga73", 2);
    const Word* r145 = find_word(words, "riga145", 3);
    ASSERT_TRUE(r1 && r73 && r145);
    EXPECT_NEAR(r73->y_max, r1->y_max, 0.01);
    EXPECT_NEAR(r145->y_max, r1->y_max, 0.01);
    EXPECT_TRUE(find_word(words, "riga72", 1));
}

TEST_F(ComposeTest, LogoDirectiveStartsAPageInTheNewStyle) {
    styles("[LETT]\nforzatura=v\n[LAND]\nforzatura=10o-\nriga=20\n");
    layout.style.name = "LETT";
    const std::string path = print_file("STILI1.txt", "prima\r\n///LLAND\r\n\x0cseconda\r\nterza\r\n");
    EXPECT_EQ(compose(path), "12v");
    const std::string pdf = dir / "tempozip/STILI1.pdf";
    EXPECT_EQ(pdf_pages(pdf), 2);
    EXPECT_NEAR(page_size(pdf, 1).first, 595.28, 0.5);
    EXPECT_NEAR(page_size(pdf, 2).first, 841.89, 0.5);
    const auto words = pdf_words(pdf);
    const Word* seconda = find_word(words, "seconda", 2);
    const Word* terza = find_word(words, "terza", 2);
    ASSERT_TRUE(seconda && terza);
    EXPECT_NEAR(seconda->y_max - 0.157 * 10, pt(20), 0.3);  // row 1 of the new style
    EXPECT_NEAR(terza->y_max - seconda->y_max, pt(2.8), 0.02);
    EXPECT_EQ(layout.style.name, "LETT");  // the message's style for the next attempt
}

TEST_F(ComposeTest, MaxPagesCutsTheDocumentAndSaysSo) {
    styles("[CORTO]\nmaxpaginalogo=2\n");
    layout.style.name = "CORTO";
    const std::string path = print_file("CORTO1.txt", "a\r\n\x0c" "b\r\n\x0c" "c\r\nd\r\n\x0c" "e\r\n");
    EXPECT_EQ(compose(path), "12v");
    EXPECT_EQ(pdf_pages(dir / "tempozip/CORTO1.pdf"), 2);
    EXPECT_TRUE(logged(" Raggiunto maxpaginalogo 2: 3 righe non stampate"));
}

TEST_F(ComposeTest, CopiesGoToCreafileAndDircopy) {
    cfg.op.cartelle_copia = dir.path();  // the copy folders of this installation
    cfg.derive();
    styles("[COPIA]\ndircopy=" + dir / "copie" + "\n");
    fs::create_directories(dir / "copie");
    layout.style.name = "COPIA";
    const std::string target = dir / "archivio/2026/fattura.pdf";
    const std::string path =
        print_file("COPIA1.txt", "CREAFILE:" + target + "\r\n///M" + dir / "fondo.pdf" + "\r\ntesto\r\n");
    EXPECT_EQ(compose(path), "12v");
    const std::string pdf = dir / "tempozip/COPIA1.pdf";
    EXPECT_EQ(pdf_pages(pdf), 1);
    EXPECT_EQ(read_file(target), read_file(pdf));
    EXPECT_EQ(read_file(dir / "copie/COPIA1.pdf"), read_file(pdf));
    EXPECT_TRUE(logged(" Trovato lsfilecrea " + target));
    EXPECT_TRUE(logged(" CreaPdf sPLIT Copiato " + pdf + " in " + target));
    EXPECT_TRUE(logged(" CreaPdf Copiato " + pdf + " in " + dir / "copie/COPIA1.pdf"));
    EXPECT_EQ(layout.compose.merge_list, std::vector<std::string>{dir / "fondo.pdf"});
    EXPECT_TRUE(logged(" Trovata istruzione per merge file pdf " + dir / "fondo.pdf"));

    // The next print file does not inherit the copy target.
    const std::string other = print_file("COPIA2.txt", "altro\r\n");
    fs::remove_all(dir / "archivio");
    EXPECT_EQ(compose(other), "12v");
    EXPECT_TRUE(layout.compose.lsfilecrea.empty());
    EXPECT_TRUE(layout.compose.merge_list.empty());
    EXPECT_FALSE(fs::exists(dir / "archivio"));
}

TEST_F(ComposeTest, FailedCopyIsKeptInNonCopiati) {
    cfg.op.cartelle_copia = dir.path();  // allowed, but the copies fail
    cfg.derive();
    write_file(dir / "occupato", "a file where a folder should be");
    styles("[COPIA]\ndircopy=" + dir / "occupato/sotto/" + "\n");
    layout.style.name = "COPIA";
    const std::string path = print_file("NOCOP1.txt", "CREAFILE:" + dir / "occupato/x/y.pdf" + "\r\ntesto\r\n");
    EXPECT_EQ(compose(path), "12v");
    const std::string pdf = dir / "tempozip/NOCOP1.pdf";
    const std::string kept = dir / "tempozip/non_copiati/2026/1207/NOCOP1.pdf";
    EXPECT_EQ(read_file(kept), read_file(pdf));
    const std::string note = read_file(dir / "tempozip/non_copiati/2026/1207/NOCOP1.txt");
    EXPECT_NE(note.find("CreaPdf Non Copiato " + pdf + " in " + dir / "occupato/sotto/NOCOP1.pdf"),
              std::string::npos)
        << note;
    EXPECT_NE(note.find("mkdir " + dir / "occupato/sotto/"), std::string::npos);
    EXPECT_NE(note.find("move " + kept + " " + dir / "occupato/sotto/NOCOP1.pdf"), std::string::npos);
    EXPECT_TRUE(logged(" CreaPdf Non Copiato " + pdf + " in " + dir / "occupato/x/y.pdf"));
    EXPECT_TRUE(fs::exists(pdf));  // the message keeps its PDF
}

TEST_F(ComposeTest, CopyTargetsStayBelowTheCopyFolders) {
    // By default the copy folders are the configured ones: here the save folder.
    cfg.op.send_dir = dir / "salvati/";
    cfg.derive();
    fs::create_directories(dir / "salvati");
    write_file(dir / "fuori/secret.txt", "SEGRETO");
    fs::create_symlink(dir / "fuori/secret.txt", dir / "salvati/link.pdf");
    fs::create_symlink(dir / "fuori", dir / "salvati/uscita");
    const auto kept = [&](const std::string& name) {
        return fs::exists(dir / ("tempozip/non_copiati/2026/1207/" + name));
    };

    // Outside the folders, relative, or through a link out: refused and kept.
    const std::string cases[][2] = {{"FUORI1", dir / "altrove/x.pdf"},
                                    {"RELAT1", "archivio/x.pdf"},
                                    {"USCIT1", dir / "salvati/uscita/x.pdf"}};
    for (const auto& c : cases) {
        const std::string path = print_file(c[0] + ".txt", "CREAFILE:" + c[1] + "\r\ntesto\r\n");
        EXPECT_EQ(compose(path), "12v");
        EXPECT_TRUE(logged(" Destinazione di copia non ammessa " + c[1])) << c[0];
        EXPECT_TRUE(logged(" CreaPdf Non Copiato " + dir / ("tempozip/" + c[0] + ".pdf") + " in " + c[1])) << c[0];
        EXPECT_TRUE(kept(c[0] + ".pdf")) << c[0];
    }
    EXPECT_FALSE(fs::exists(dir / "altrove"));
    EXPECT_FALSE(fs::exists("archivio"));
    EXPECT_FALSE(fs::exists(dir / "fuori/x.pdf"));

    // A link at the target leads out: refused, never written through.
    const std::string link = print_file("LINK01.txt", "CREAFILE:" + dir / "salvati/link.pdf" + "\r\ntesto\r\n");
    EXPECT_EQ(compose(link), "12v");
    EXPECT_EQ(read_file(dir / "fuori/secret.txt"), "SEGRETO");
    EXPECT_TRUE(logged(" Destinazione di copia non ammessa " + dir / "salvati/link.pdf"));
    EXPECT_TRUE(kept("LINK01.pdf"));

    // Missing folders below the copy folders are still made.
    const std::string deep = print_file("DEEP01.txt", "CREAFILE:" + dir / "salvati/2026/12/x.pdf" + "\r\ntesto\r\n");
    EXPECT_EQ(compose(deep), "12v");
    EXPECT_EQ(read_file(dir / "salvati/2026/12/x.pdf"), read_file(dir / "tempozip/DEEP01.pdf"));

    // A style file in the spool is spool input: its copy folder is held to the same folders.
    cfg.op.Path = dir / "spool/";
    cfg.op.Dir_Loghi = "";
    cfg.derive();
    write_file(dir / "spool/loghi/loghi.ini", "[COPIA]\ndircopy=" + dir / "fuori" + "\n");
    layout.style.name = "COPIA";
    EXPECT_EQ(compose(print_file("DIRC01.txt", "testo\r\n")), "12v");
    EXPECT_FALSE(fs::exists(dir / "fuori/DIRC01.pdf"));
    EXPECT_TRUE(kept("DIRC01.pdf"));

    // The copy folders of velarion.ini are added to the save and prepare folders.
    cfg.op.cartelle_copia = dir / "fuori";
    cfg.derive();
    EXPECT_EQ(compose(print_file("DIRC02.txt", "testo\r\n")), "12v");
    EXPECT_TRUE(fs::exists(dir / "fuori/DIRC02.pdf"));

    // A style file outside the spool names a copy folder of the installation's own choice.
    cfg.op.Path = dir / "spool/";
    cfg.op.Dir_Loghi = dir / "loghi/";
    cfg.op.cartelle_copia = "";
    cfg.derive();
    fs::create_directories(dir / "archivio");
    styles("[COPIA]\ndircopy=" + dir / "archivio" + "\n");
    EXPECT_EQ(compose(print_file("DIRC03.txt", "testo\r\n")), "12v");
    EXPECT_TRUE(fs::exists(dir / "archivio/DIRC03.pdf"));
}

TEST_F(ComposeTest, CopiesNeverReachTheFoldersTheAgentReadsItsOwnFilesFrom) {
    // Even with copy folders that hold them all.
    cfg.op.Path = dir / "spool/";
    cfg.op.unione_DIR = dir / "unione/";
    cfg.op.cartelle_copia = dir.path();
    cfg.derive();
    write_file(dir / "unione/condizioni.pdf", "%PDF-1.4 condizioni");
    write_file(dir / "spool/coda/agenti/altro", "lock");
    write_file(dir / "loghi/fattura.txt", "overlay");
    write_file(dir / "archivio/note.txt", "testo");
    write_file(dir / "archivio/vecchia.pdf", "%PDF-1.4 vecchia");
    const std::string targets[][2] = {{"UNION1", dir / "unione/condizioni.pdf"},
                                      {"CODA01", dir / "spool/coda/agenti/altro"},
                                      {"LOGHI1", dir / "loghi/fattura.txt"},
                                      {"TEMPO1", dir / "tempozip/log/x.pdf"},
                                      {"NOPDF1", dir / "archivio/note.txt"}};
    for (const auto& c : targets) {
        const std::string before = read_file(c[1]);
        EXPECT_EQ(compose(print_file(c[0] + ".txt", "CREAFILE:" + c[1] + "\r\ntesto\r\n")), "12v");
        EXPECT_TRUE(logged(" Destinazione di copia non ammessa " + c[1])) << c[0];
        EXPECT_EQ(read_file(c[1]), before) << c[0];
    }
    // An earlier copy of a PDF may be replaced.
    EXPECT_EQ(compose(print_file("PDFOK1.txt", "CREAFILE:" + dir / "archivio/vecchia.pdf" + "\r\ntesto\r\n")), "12v");
    EXPECT_EQ(read_file(dir / "archivio/vecchia.pdf"), read_file(dir / "tempozip/PDFOK1.pdf"));
    // The spool is no copy folder by default.
    cfg.op.cartelle_copia = "";
    cfg.derive();
    EXPECT_EQ(compose(print_file("SPOOL1.txt", "CREAFILE:" + dir / "spool/x.pdf" + "\r\ntesto\r\n")), "12v");
    EXPECT_FALSE(fs::exists(dir / "spool/x.pdf"));
}

TEST_F(ComposeTest, PdfsToMergeStayBelowTheInstallationsFolders) {
    cfg.op.unione_DIR = dir / "unione/";
    cfg.derive();
    cfg.pdf.merge = true;
    fs::create_directories(dir / "unione");
    EXPECT_EQ(compose(print_file("ALTRO1.txt", "altro documento\r\n")), "12v");
    fs::copy_file(dir / "tempozip/ALTRO1.pdf", dir / "fuori.pdf");
    fs::copy_file(dir / "tempozip/ALTRO1.pdf", dir / "unione/dentro.pdf");
    const std::string path = print_file("MERGE1.txt", "///M../fuori.pdf\r\n///Mdentro.pdf\r\ntesto\r\n");
    EXPECT_EQ(compose(path), "12v");
    EXPECT_TRUE(logged(" File da accodare fuori dalle cartelle ammesse " + dir / "unione/../fuori.pdf"));
    EXPECT_EQ(pdf_pages(dir / "tempozip/MERGE1.pdf"), 2);  // its own page and dentro.pdf only
}

TEST_F(ComposeTest, WindowsDriveTargetIsNotCreatedHere) {
    const std::string path = print_file("DRIVE1.txt", "CREAFILE:C:\\archivio\\x.pdf\r\ntesto\r\n");
    EXPECT_EQ(compose(path), "12v");
    EXPECT_FALSE(fs::exists("C:"));
    EXPECT_TRUE(fs::exists(dir / "tempozip/non_copiati/2026/1207/DRIVE1.pdf"));

    // A network share is no folder below the root either.
    const std::string unc = print_file("UNC001.txt", "CREAFILE:\\\\velarion-srv\\share\\x.pdf\r\ntesto\r\n");
    EXPECT_EQ(compose(unc), "12v");
    EXPECT_FALSE(fs::exists("/velarion-srv"));
    EXPECT_TRUE(fs::exists(dir / "tempozip/non_copiati/2026/1207/UNC001.pdf"));
}

TEST_F(ComposeTest, ProgressInTheTrayTipAndTheList) {
    std::string text;
    for (int i = 1; i <= 4000; ++i) text += "riga " + std::to_string(i) + "\r\n";
    EXPECT_EQ(compose(print_file("LUNGO1.txt", text)), "12v");
    EXPECT_TRUE(logged(" 50 % - Sto elaborando la riga 2000"));
    EXPECT_TRUE(logged(" 100 % - Sto elaborando la riga 4000"));
    EXPECT_EQ(t.view.tray_tip, "ELABORATO ");
}

TEST_F(ComposeTest, FaxBodyBecomesBasePdf) {
    const std::string path = print_file("AB.123.b", "Testo del fax\r\n");
    EXPECT_EQ(compose(path), "12v");
    EXPECT_EQ(layout.compose.created_pdf, dir / "tempozip/AB.123.PDF");
    EXPECT_EQ(pdf_pages(dir / "tempozip/AB.123.PDF"), 1);
}

TEST_F(ComposeTest, BadInputGivesItsLinesAndAPdf) {
    styles("[ROTTO]\nfile=manca\naltezza=20\nformattatesto=manca.txt\n");
    layout.style.name = "ROTTO";
    const std::string path =
        print_file("ROTTO1.txt", std::string("nul\0byte\r\n\x01\x02\x1b\r\n\x0f\r\nfine\r\n", 23));
    EXPECT_EQ(compose(path), "12v");
    EXPECT_TRUE(logged(" Logo non trovato " + dir / "loghi/manca.jpg"));
    EXPECT_TRUE(logged(" Crea Pdf tabella di formattazione non trovata manca.txt"));
    const std::string text = pdf_text(dir / "tempozip/ROTTO1.pdf");
    EXPECT_NE(text.find("nulbyte"), std::string::npos) << text;
    EXPECT_NE(text.find("fine"), std::string::npos);
}

TEST_F(ComposeTest, StylePageSizeAndABadOne) {
    styles("[PICCOLO]\ndimpaginalarghezza=100\ndimpaginaaltezza=150\n[ZERO]\ndimpaginaaltezza=0\n");
    layout.style.name = "PICCOLO";
    EXPECT_EQ(compose(print_file("PICCO1.txt", "a\r\n")), "12v");
    EXPECT_NEAR(page_size(dir / "tempozip/PICCO1.pdf", 1).first, pt(100), 0.5);
    EXPECT_NEAR(page_size(dir / "tempozip/PICCO1.pdf", 1).second, pt(150), 0.5);
    layout.style.name = "ZERO";
    EXPECT_EQ(compose(print_file("ZERO01.txt", "a\r\n")), "12v");
    EXPECT_NEAR(page_size(dir / "tempozip/ZERO01.pdf", 1).second, pt(297), 0.5);
}

TEST_F(ComposeTest, FormattingTableRowOneOnEveryPage) {
    styles("[TAB]\nformattatesto=tabella.txt\n");
    write_file(dir / "loghi/tabella.txt", "1\tEC\t1\r\n");
    layout.style.name = "TAB";
    std::vector<std::string> calls;
    layout.compose.make_document = [&] { return std::make_unique<KeptDoc>(&calls); };
    const std::string path = print_file("TAB001.txt", "uno\r\ndue\r\n\x0c" "tre\r\nquattro\r\n");
    EXPECT_TRUE(CreaPdf(rt, layout, pre, path, "12v", "TAB001.txt").fitted());
    std::string font;
    std::vector<std::string> seen;  // the font each text is written in
    for (const auto& c : calls) {
        if (c.rfind("FontName ", 0) == 0) font = c.substr(9);
        if (c.rfind("TextOut [", 0) == 0 && c.find("[!]") == std::string::npos)
            seen.push_back(c.substr(9, c.find(']') - 9) + " " + font);
    }
    const std::vector<std::string> expected = {"uno Courier-Bold", "due Courier", "tre Courier-Bold",
                                               "quattro Courier"};
    EXPECT_EQ(seen, expected);
}

TEST_F(ComposeTest, UnusableSizesKeepTheTableSizes) {
    styles("[NULLA]\ncar_normale=0\ncar_compresso=-3\n");
    layout.style.name = "NULLA";
    const std::string path = print_file(
        "SIZE01.txt", "///C0\r\nuno\x0f" "due\r\n\x10" "000 000 000" "00" "    0" "zero\x10" "000 000 000" "01"
                      "  999" "troppo\r\n");
    EXPECT_EQ(compose(path), "12v");
    const std::string text = pdf_text(dir / "tempozip/SIZE01.pdf");
    EXPECT_NE(text.find("zero"), std::string::npos) << text;
    EXPECT_NE(text.find("troppo"), std::string::npos) << text;
}

TEST_F(ComposeTest, FormWithoutDataIsSaved) {
    styles("[MODULO]\nsenzadati=s\n");
    layout.style.name = "MODULO";
    const std::string path = print_file("MODUL1.txt", "non stampato\r\n");
    EXPECT_EQ(compose(path), "12v");
    const std::string pdf = dir / "tempozip/MODUL1.pdf";
    EXPECT_EQ(pdf_pages(pdf), 1);
    EXPECT_EQ(pdf_text(pdf).find("non stampato"), std::string::npos);
}

TEST_F(ComposeTest, LogoIsDrawnOnEveryPage) {
    // A JPEG made from a composed page.
    EXPECT_EQ(compose(print_file("PAGINA.txt", "logo\r\n")), "12v");
    ASSERT_EQ(run_program({"/usr/bin/pdftoppm", "-jpeg", "-r", "5", "-singlefile", dir / "tempozip/PAGINA.pdf",
                           dir / "loghi/marchio"}).status,
              0);
    styles("[LOGO]\nfile=marchio\naltezza=10\nlarghezza=20\nmargsx=150\nmargbasso=25\n");
    layout.style.name = "LOGO";
    std::vector<std::string> calls;
    layout.compose.make_document = [&] { return std::make_unique<KeptDoc>(&calls); };
    const std::string path = print_file("LOGO01.txt", "a\r\n\x0c" "b\r\nc\r\n");
    EXPECT_TRUE(CreaPdf(rt, layout, pre, path, "12v", "LOGO01.txt").fitted());
    const auto draws = with_prefix(calls, "DrawImage");
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(draws[0], "DrawImage /Im1 150 15 20 10");
    EXPECT_EQ(count_prefix(calls, "Import"), 1);  // imported once per document
}

TEST_F(ComposeTest, EmptyDirLoghiTakesStylesAndTablesFromTheSpoolsLoghiFolder) {
    cfg.op.Dir_Loghi.clear();
    cfg.op.Path = dir / "spool";
    cfg.derive();
    write_file(dir / "spool/loghi/loghi.ini", "[FORZA]\nforzatura=10v\nformattatesto=tab.txt\n");
    write_file(dir / "spool/loghi/tab.txt", "1\tN\t1\n");
    layout.style.name = "FORZA";
    const std::string path = print_file("DIRLOG.txt", "riga\r\n");
    // The forced type comes from the style file of that folder, and so does its table.
    EXPECT_EQ(compose(path), "10v");
    EXPECT_FALSE(logged("tabella di formattazione non trovata"));
    EXPECT_EQ(pdf_pages(dir / "tempozip/DIRLOG.pdf"), 1);
}

TEST_F(ComposeTest, ProtectionWithTheTool) {
    // The tool of the build, beside the program.
    const std::string tool = std::string(VELARION_BIN_DIR) + "/encryptpdf";
    write_file(dir / "probe/in.txt", "x\r\n");
    fs::create_directories(dir / "bin");
    fs::copy_file(tool, dir / "bin/encryptpdf");
    styles("[PDFCRIPT]\nPassword=abc\n");
    const std::string path = print_file("CRIPT1.txt", "riservato\r\n");
    EXPECT_EQ(compose(path), "12v");
    const std::string pdf = dir / "tempozip/CRIPT1.pdf";
    // Three characters: no protection.
    EXPECT_FALSE(logged(" Imposto pwd modifica "));
    EXPECT_NE(run_program({"/usr/bin/qpdf", "--show-encryption", pdf}).out.find("File is not encrypted"),
              std::string::npos);

    styles("[PDFCRIPT]\nPassword=abcd\n");
    EXPECT_EQ(compose(path), "12v");
    EXPECT_TRUE(logged(" Imposto pwd modifica "));
    // The command shown reads the password from the tool's standard input.
    EXPECT_TRUE(logged(" -o " + dir / "tempozip/cripato.pdf" + " -w - -e 40 -p -c"));
    for (const auto& l : list.lines()) EXPECT_EQ(l.find("abcd"), std::string::npos) << l;
    const auto enc = run_program({"/usr/bin/qpdf", "--show-encryption", pdf});
    ASSERT_EQ(enc.out.find("File is not encrypted"), std::string::npos) << "the PDF was left unprotected";
    EXPECT_NE(enc.out.find("R = 2"), std::string::npos) << enc.out;
    EXPECT_NE(pdf_text(pdf).find("riservato"), std::string::npos);  // readable without a password
    EXPECT_FALSE(fs::exists(dir / "tempozip/cripato.pdf"));

    // A fixed password, handed to the tool on its input, is the owner password.
    styles("[PDFCRIPT]\nPasswordFISSA=fisso123\n");
    EXPECT_EQ(compose(path), "12v");
    EXPECT_NE(run_program({"/usr/bin/qpdf", "--show-encryption", "--password=fisso123", pdf})
                  .out.find("Supplied password is owner password"),
              std::string::npos);
}

TEST_F(ComposeTest, ProtectionWithAes256OpensWithoutTheOwnerPassword) {
    const std::string tool = std::string(VELARION_BIN_DIR) + "/encryptpdf";
    fs::create_directories(dir / "bin");
    fs::copy_file(tool, dir / "bin/encryptpdf");
    styles("[PDFCRIPT]\nPasswordFISSA=fisso123\nCifratura=AES256\n");
    const std::string path = print_file("AES1.txt", "riservato\r\n");
    EXPECT_EQ(compose(path), "12v");
    const std::string pdf = dir / "tempozip/AES1.pdf";
    EXPECT_TRUE(logged(" -o " + dir / "tempozip/cripato.pdf" + " -w - -e 256 -p -c"));
    const auto plain = run_program({"/usr/bin/qpdf", "--show-encryption", pdf}).out;
    EXPECT_NE(plain.find("R = 6"), std::string::npos) << plain;
    EXPECT_NE(plain.find("stream encryption method: AESv3"), std::string::npos) << plain;
    EXPECT_NE(plain.find("modify anything: not allowed"), std::string::npos) << plain;
    EXPECT_NE(plain.find("print high resolution: allowed"), std::string::npos) << plain;
    EXPECT_NE(run_program({"/usr/bin/qpdf", "--show-encryption", "--password=fisso123", pdf})
                  .out.find("Supplied password is owner password"),
              std::string::npos);
    EXPECT_NE(pdf_text(pdf).find("riservato"), std::string::npos);  // opens with the empty user password

    // "RC4" and an unknown value keep 40 bits; the unknown one is a problem of the file.
    styles("[PDFCRIPT]\nPasswordFISSA=fisso123\nCifratura=RC4\n");
    EXPECT_EQ(compose(path), "12v");
    EXPECT_NE(run_program({"/usr/bin/qpdf", "--show-encryption", pdf}).out.find("R = 2"), std::string::npos);
    EXPECT_TRUE(layout.compose.problems.empty());
    styles("[PDFCRIPT]\nPasswordFISSA=fisso123\nCifratura=DES\n");
    EXPECT_EQ(compose(path), "12v");
    EXPECT_NE(run_program({"/usr/bin/qpdf", "--show-encryption", pdf}).out.find("R = 2"), std::string::npos);
    ASSERT_EQ(layout.compose.problems.size(), 1u);
    EXPECT_EQ(layout.compose.problems[0].line, 3);
    EXPECT_NE(layout.compose.problems[0].text.find("[PDFCRIPT] Cifratura: 'DES' is not AES256 or RC4"),
              std::string::npos);
}

TEST_F(ComposeTest, ProtectionToolThatWritesNothingLeavesThePlainPdf) {
    write_file(dir / "bin/encryptpdf", "#!/bin/sh\nexit 0\n");
    fs::permissions(dir / "bin/encryptpdf", fs::perms::owner_all);
    styles("[PDFCRIPT]\nPasswordFISSA=segreto\n");
    const std::string path = print_file("CRIPT2.txt", "testo\r\n");
    EXPECT_EQ(compose(path), "12v");
    const std::string pdf = dir / "tempozip/CRIPT2.pdf";
    EXPECT_EQ(pdf_pages(pdf), 1);
    EXPECT_TRUE(logged(" Errore Cripto il file  " + pdf));
    EXPECT_TRUE(logged(" Errore Cripto il file  NON TROVATO " + dir / "tempozip/cripato.pdf"));
    EXPECT_GE(t.clock.slept_ms(), 10000);
    for (const auto& l : list.lines()) EXPECT_EQ(l.find("segreto"), std::string::npos) << l;
}

TEST_F(ComposeTest, ProtectionPasswordReachesTheToolOnItsInputOnly) {
    // A stand-in for the tool that keeps its arguments and its input, then
    // writes the work file as the real one does.
    write_file(dir / "bin/encryptpdf",
               "#!/bin/sh\nprintf '%s\\n' \"$@\" > " + dir / "args.txt" + "\ncat > " + dir / "input.txt" +
                   "\ncp \"$2\" \"$4\"\n");
    fs::permissions(dir / "bin/encryptpdf", fs::perms::owner_all);
    styles("[PDFCRIPT]\nPasswordFISSA=segreto\n");
    const std::string path = print_file("CRIPT3.txt", "testo\r\n");
    EXPECT_EQ(compose(path), "12v");
    const std::string pdf = dir / "tempozip/CRIPT3.pdf";
    EXPECT_EQ(read_file(dir / "args.txt"),
              "-i\n" + pdf + "\n-o\n" + dir / "tempozip/cripato.pdf" + "\n-w\n-\n-e\n40\n-p\n-c\n");
    EXPECT_EQ(read_file(dir / "input.txt"), "segreto\n");
    EXPECT_FALSE(logged(" Errore Cripto il file "));
    EXPECT_EQ(pdf_pages(pdf), 1);
}

TEST_F(ComposeTest, ProtectionPasswordIsNotInTheRunningToolsCommandLine) {
    // The real tool behind a stand-in that reads, while it runs, the command
    // line that /proc shows every user, then becomes the tool (same process).
    const std::string tool = std::string(VELARION_BIN_DIR) + "/encryptpdf";
    write_file(dir / "bin/encryptpdf", "#!/bin/sh\ntr '\\0' ' ' < /proc/$$/cmdline > " + dir / "cmdline.txt" +
                                           "\nexec " + tool + " \"$@\"\n");
    fs::permissions(dir / "bin/encryptpdf", fs::perms::owner_all);
    styles("[PDFCRIPT]\nPasswordFISSA=Segreta.42\n");
    const std::string path = print_file("CRIPT4.txt", "testo\r\n");
    EXPECT_EQ(compose(path), "12v");
    const std::string cmdline = read_file(dir / "cmdline.txt");
    EXPECT_NE(cmdline.find(" -w - "), std::string::npos) << cmdline;
    EXPECT_EQ(cmdline.find("Segreta.42"), std::string::npos) << cmdline;
    // The PDF is protected with that password all the same.
    EXPECT_NE(run_program({"/usr/bin/qpdf", "--show-encryption", "--password=Segreta.42", dir / "tempozip/CRIPT4.pdf"})
                  .out.find("Supplied password is owner password"),
              std::string::npos);
}

TEST_F(ComposeTest, OverlaysBackPagesAndDroppedRows) {
    styles("[FORM]\nfincatura=f1.txt\nfincaturadopo=f2.txt\nretro=RETRO\nscartariga1=2\n"
           "[RETRO]\nfincatura=f3.txt\n");
    write_file(dir / "loghi/f1.txt", "a\tLINVE\t0.5\t10\t20\t30\r\n");
    write_file(dir / "loghi/f2.txt", "a\tLINVE\t0.5\t99\t20\t30\r\n");
    write_file(dir / "loghi/f3.txt", "a\tLINVE\t0.5\t77\t20\t30\r\n");
    layout.style.name = "FORM";
    std::vector<std::string> calls;
    layout.compose.make_document = [&] { return std::make_unique<KeptDoc>(&calls); };
    const std::string path = print_file("FORM01.txt", "uno\r\ndue\r\ntre\r\n\x0cquattro\r\ncinque\r\n");
    EXPECT_TRUE(CreaPdf(rt, layout, pre, path, "12v", "FORM01.txt").fitted());
    std::vector<std::string> seen;
    for (const auto& c : calls)
        if (c == "addpage" || c.rfind("Line ", 0) == 0 || c.rfind("TextOut", 0) == 0) seen.push_back(c);
    const std::vector<std::string> expected = {
        "addpage", "Line 0.5 10 10 20 50", "TextOut [!] 1 2", "TextOut [uno] 5 4.2",
        "TextOut [tre] 5 12.4",     // row 2 dropped
        "Line 0.5 99 99 20 50",     // after the page's text
        "addpage", "Line 0.5 77 77 20 50",  // the back page
        "addpage", "Line 0.5 10 10 20 50", "TextOut [!] 1 2", "TextOut [quattro] 5 4.2"};
    EXPECT_EQ(seen, expected);
}

TEST_F(ComposeTest, WrittenBackPagesAlternateStyles) {
    styles("[FORM]\nfincatura=f1.txt\nretro=RETRO\nretroscritto=si\n[RETRO]\nfincatura=f3.txt\n");
    write_file(dir / "loghi/f1.txt", "a\tLINVE\t0.5\t10\t20\t30\r\n");
    write_file(dir / "loghi/f3.txt", "a\tLINVE\t0.5\t77\t20\t30\r\n");
    layout.style.name = "FORM";
    std::vector<std::string> calls;
    layout.compose.make_document = [&] { return std::make_unique<KeptDoc>(&calls); };
    const std::string path = print_file("FORM02.txt", "uno\r\n\x0c" "due\r\n\x0c" "tre\r\nfine\r\n");
    EXPECT_TRUE(CreaPdf(rt, layout, pre, path, "12v", "FORM02.txt").fitted());
    std::vector<std::string> seen;
    for (const auto& c : calls)
        if (c == "addpage" || c.rfind("Line ", 0) == 0) seen.push_back(c);
    const std::vector<std::string> expected = {"addpage", "Line 0.5 10 10 20 50", "addpage",
                                               "Line 0.5 77 77 20 50", "addpage", "Line 0.5 10 10 20 50"};
    EXPECT_EQ(seen, expected);
}

TEST_F(ComposeTest, FontRecordsAndDoubleRules) {
    std::vector<std::string> calls;
    layout.compose.make_document = [&] { return std::make_unique<KeptDoc>(&calls); };
    const std::string path =
        print_file("FONT01.txt", "a\x10" "200 010 030" "04" "14   " "Rosso\x12===\r\n");
    EXPECT_TRUE(CreaPdf(rt, layout, pre, path, "12v", "FONT01.txt").fitted());
    std::vector<std::string> seen;
    for (const auto& c : calls)
        if (c.rfind("FillColor", 0) == 0 || c.rfind("FontName", 0) == 0 || c.rfind("FONTHEIGHT", 0) == 0 ||
            c.rfind("TextOut", 0) == 0)
            seen.push_back(c);
    const std::vector<std::string> expected = {
        "FontName Courier",  // set-up
        "FillColor 0,0,0", "FontName Courier-Bold", "FONTHEIGHT 5", "TextOut [!] 1 2",
        "FontName Courier", "FONTHEIGHT 12", "TextOut [a] 5 4.2",
        "FillColor 200,10,30", "FontName Helvetica-Bold", "FONTHEIGHT 14", "TextOut [Rosso] 7 4.2",
        "FillColor 0,0,0", "FontName Courier", "FONTHEIGHT 12", "TextOut [===] 17 4.2",
        "TextOut [== ] 17.1 4.2"};  // the double rule drawn again, without its last "="
    EXPECT_EQ(seen, expected);
}

TEST_F(ComposeTest, LabelSheetMovesAlongTheGrid) {
    styles("[ETI]\nEtiOr=2\nEtiVt=2\nEtiDeltaOr=100\nEtiDeltaVt=50\n");
    layout.style.name = "ETI";
    std::vector<std::string> calls;
    layout.compose.make_document = [&] { return std::make_unique<KeptDoc>(&calls); };
    const std::string path =
        print_file("ETI001.txt", "A\r\n\x11\r\nB\r\n\x11\r\nC\r\n\x11\r\nD\r\n\x11\r\nE\r\n");
    EXPECT_TRUE(CreaPdf(rt, layout, pre, path, "12v", "ETI001.txt").fitted());
    std::vector<std::string> seen;
    for (const auto& c : calls)
        if (c == "addpage" || (c.rfind("TextOut", 0) == 0 && c.find("[!]") == std::string::npos))
            seen.push_back(c);
    const std::vector<std::string> expected = {
        "addpage", "TextOut [A] 5 4.2", "TextOut [B] 105 4.2", "TextOut [C] 5 54.2",
        "TextOut [D] 105 54.2", "addpage", "TextOut [E] 5 4.2"};
    EXPECT_EQ(seen, expected);
}

TEST_F(ComposeTest, StyleThatRefusesEveryTypeSaysSo) {
    styles("[STRANO]\nforzatura=9x\n");
    layout.style.name = "STRANO";
    const std::string path = print_file("STRAN1.txt", "testo\r\n");
    EXPECT_EQ(compose(path), "");
    EXPECT_TRUE(logged(" Crea Pdf " + path + " nessun tipo stampa ammesso: forzatura 9x"));
    EXPECT_FALSE(fs::exists(dir / "tempozip/STRAN1.pdf"));
}

TEST_F(ComposeTest, MarkerSequencesMakeBarcodePieces) {
    styles("[SEQBARCODE]\nSEQ1INIZIO=<<\nSEQ1INIZIOREPL=~%\nSEQ1FINE=>>\nSEQ1FINEREPL=~%FINE-\n");
    write_file(dir / "loghi/barcode.ini", "[C39]\ntipo=code39\nnomefilefont=F0\ndescrizionefont=/F0\n");
    std::vector<std::string> calls;
    layout.compose.make_document = [&] { return std::make_unique<KeptDoc>(&calls); };
    // The section name runs to the end of the piece: Chr(18) ends it here.
    const std::string path = print_file("BARC01.txt", "Cod: <<12345>>C39\x12 fine\r\n");
    EXPECT_TRUE(CreaPdf(rt, layout, pre, path, "12v", "BARC01.txt").fitted());
    EXPECT_EQ(layout.barcode.section, "C39");
    EXPECT_EQ(layout.overlay.stop_label, "C39");
    std::vector<std::string> texts = with_prefix(calls, "TextOut");
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(texts[1], "TextOut [Cod: ] 5 4.2");
    EXPECT_NE(texts[2].find("12345"), std::string::npos) << texts[2];  // the encoded data
    EXPECT_EQ(texts.back().substr(0, 14), "TextOut [ fine");
}

}  // namespace
}  // namespace velarion::testing
