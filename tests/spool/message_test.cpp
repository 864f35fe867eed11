// Message processing end to end: spool groups taken by a scan and read into
// the delivery request, the prepare directory, and the messages kept when
// they cannot be delivered.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/os/paths.h"
#include "spool/message_rules.h"
#include "spool/spool_fixture.h"

namespace fs = std::filesystem;

namespace velarion::testing {
namespace {

using Message = SpoolFixture;

TEST_F(Message, HeaderLinesAndBodyDirectivesMakeTheRequest) {
    write_message("AB.1",
                  {"REF0000001", "", "ab@example.com", "a@x.it", "Fattura 12", ".", "SEND", "A.PDF",
                   "B.TXT"},
                  "Gentile cliente,\r\n\r\n.///###D x@x.it\r\n.///###D z@x.it\r\n.///###C c@x.it\r\n"
                  ".///###N n@x.it\r\n.///AC.CSV\r\nSaluti\r\n.///X resta\r\n",
                  {"pdf", "txt", "csv"});
    scan();
    ASSERT_EQ(delivered.size(), 1u) << dump();
    const DeliveryRequest& r = delivered[0];
    EXPECT_EQ(r.lsNumRef, "REF0000001");
    EXPECT_EQ(r.lsFrom, "ab@example.com");
    EXPECT_EQ(r.lsObj, "RIF:REF0000001 - Fattura 12");
    EXPECT_EQ(r.lsSend, "SEND");
    EXPECT_EQ(r.lsTo, "a@x.it; x@x.it; z@x.it");
    EXPECT_EQ(r.lscc, " c@x.it");
    EXPECT_EQ(r.plus_ccn, " n@x.it");
    EXPECT_EQ(r.lvBody, "Gentile cliente,\r\n \r\nSaluti\r\n.///X resta\r\n");
    // The ".///A" line became header line 10: the third attachment.
    ASSERT_EQ(r.attachments.size(), 3u);
    EXPECT_EQ(attachment_name(r, 1), "A.PDF");
    EXPECT_EQ(attachment_name(r, 2), "B.TXT");
    EXPECT_EQ(attachment_name(r, 3), "C.CSV");
    EXPECT_EQ(read_file(work + "B.TXT"), "txt");
    EXPECT_EQ(read_file(work + "C.CSV"), "csv");
    EXPECT_FALSE(fs::exists(work + "AB.1.0"));  // content copies live on under their names
    EXPECT_FALSE(has_text("AnalizzaTXT"));       // B.TXT is 5 characters: no print file
    EXPECT_FALSE(fax_marks[0]);
}

TEST_F(Message, CopyAddressLayoutCodeAndNoReference) {
    cfg.op.ParGenerali = "NORIF";
    cfg.derive();
    write_message("AB.2",
                  {"R2", "copia@x.it", "s", "a@x.it", "Oggetto", "STILE", "SAVE", "not-an-attachment",
                   "A.PDF"},
                  ".///###Cc@x.it\r\n", {"pdf"});
    scan();
    ASSERT_EQ(delivered.size(), 1u) << dump();
    const DeliveryRequest& r = delivered[0];
    EXPECT_EQ(r.lsObj, "Oggetto");
    EXPECT_EQ(r.lscc, "copia@x.it;c@x.it");
    EXPECT_EQ(attachment_name(r, 1), "A.PDF");
    EXPECT_EQ(attachment_name(r, 2), "");
    EXPECT_EQ(read_file(work + "A.PDF"), "pdf");
    EXPECT_EQ(r.lvBody, "");
}

TEST_F(Message, DeliveryOptionRules) {
    EXPECT_EQ(spool::delivery_option(rt, "SAVE", "a@x.it"), "SAVE");
    cfg.sw.smtp_component = true;
    cfg.derive();
    EXPECT_EQ(spool::delivery_option(rt, "SAVE", "a@x.it"), "SEND");
    cfg.op.tipoinvio = "sempre save";
    cfg.derive();
    EXPECT_EQ(spool::delivery_option(rt, "SEND", "a@x.it"), "SAVE");
    cfg.sw.smtp_component = false;
    cfg.op.tipoinvio = "SEMPRE SEND";
    cfg.derive();
    EXPECT_EQ(spool::delivery_option(rt, "SAVE", "a@x.it"), "SEND");
    EXPECT_EQ(spool::delivery_option(rt, "SEND", "C00123"), "SAVE");

    // Recipient directives added later do not change it.
    write_message("AB.3", header("R3", "C00123", {}, "SEND"), ".///###Dd@x.it\r\n");
    scan();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].lsSend, "SAVE");
    EXPECT_EQ(delivered[0].lsTo, "C00123;d@x.it");
}

TEST_F(Message, FaxGatewayIsTheHostAfterTheAt) {
    EXPECT_TRUE(spool::names_fax_gateway("0612345@fax", "fax"));
    EXPECT_TRUE(spool::names_fax_gateway("x@FAX.example.it", "fax"));
    EXPECT_TRUE(spool::names_fax_gateway("a@x.it;061@Fax", "fax"));
    EXPECT_FALSE(spool::names_fax_gateway("x@faxonline.com", "fax"));
    EXPECT_FALSE(spool::names_fax_gateway("fax@example.it", "fax"));
    EXPECT_TRUE(spool::names_fax_gateway("06@gw.example.it", "GW.example.it"));
}

TEST_F(Message, AFaxWithoutAttachmentsSendsItsBodyAsThePdf) {
    write_file(root / "velarion.ini", "[GLOBAL]\nfax_gateway=telefax\n");
    load_ini_keys(cfg);
    scanner.run_state().work_dir_cleaned = true;
    write_file(work + "AB.4.pdf", "stale pdf of an earlier message");
    write_message("AB.4", header("R4", "0612345@TELEFAX"), "Testo del fax\r\n");
    write_message("AB.5", header("R5", "0612345@fax"), "Testo\r\n");
    scan();
    ASSERT_EQ(delivered.size(), 2u) << dump();
    EXPECT_TRUE(fax_marks[0]);
    EXPECT_FALSE(fax_marks[1]);
    EXPECT_EQ(delivered[0].lvBody, "");
    EXPECT_TRUE(has_line(stamp() + " Inizio AnalizzaTXT " + work + "AB.4.b"));
    // The body's PDF is the only attachment when the composition made one;
    // the stale PDF of an earlier message is never sent in its place.
    const std::string pdf = paths::resolve(work + "AB.4.pdf");
    if (!pdf.empty()) {
        EXPECT_EQ(read_file(pdf).substr(0, 4), "%PDF");
        EXPECT_EQ(attachment_name(delivered[0], 1), paths::file_name(pdf));
        EXPECT_TRUE(has_line(stamp() + " Creato il file PDF " + pdf)) << dump();
    } else {
        EXPECT_EQ(attachment_name(delivered[0], 1), "");
        EXPECT_FALSE(has_text("Creato il file PDF"));
    }
    EXPECT_EQ(delivered[1].lvBody, "Testo\r\n");
}

// The attachment list is resolved once, when the message is read: a print
// file for the fax gateway travels as the zip archive of its PDF, made here
// for every transport; in prepare mode no archive is made.
TEST_F(Message, AFaxPrintFileIsZippedOnceWhenTheMessageIsRead) {
    cfg.host.program_dir = std::string(VELARION_BIN_DIR) + "/";
    cfg.derive();
    if (!fs::exists(cfg.host.program_dir + "pkzip")) GTEST_SKIP() << "pkzip is not built";
    scanner.run_state().work_dir_cleaned = true;
    write_message("AB.9", header("R9", "0612345@fax", {"000123.txt", "listino.pdf"}), "b",
                  {"riga 1\r\nriga 2\r\n", "%PDF listino"});
    scan();
    ASSERT_EQ(delivered.size(), 1u) << dump();
    const DeliveryRequest& r = delivered[0];
    ASSERT_EQ(r.attachments.size(), 2u);
    const MessageAttachment& print = r.attachments[0];
    EXPECT_TRUE(print.print_file);
    EXPECT_EQ(print.path, work + "000123.txt");
    EXPECT_TRUE(print.fax_zip);
    EXPECT_EQ(print.travelling(), work + "000123.zip");
    const MessageAttachment& other = r.attachments[1];
    EXPECT_FALSE(other.print_file);
    EXPECT_FALSE(other.fax_zip);
    EXPECT_EQ(other.travelling(), work + "listino.pdf");
    ASSERT_FALSE(paths::resolve(work + "000123.pdf").empty()) << dump();
    EXPECT_TRUE(fs::exists(work + "000123.zip")) << dump();
    EXPECT_FALSE(has_text("Errore PKZIP")) << dump();

    // Prepare mode hands the message on as it is: no archive.
    cfg.op.ParGenerali = "PREPARA:" + (root / "prep/") + ";";
    cfg.derive();
    fs::create_directories(root / "prep");
    write_message("AB.10", header("R10", "0612345@fax", {"000124.txt"}), "b", {"riga\r\n"});
    scan();
    EXPECT_FALSE(fs::exists(work + "000124.zip"));
}

TEST_F(Message, APrintFileClearsAnEarlierPdfOfItsName) {
    scanner.run_state().work_dir_cleaned = true;
    write_file(work + "000123.pdf", "previous message");
    write_file(work + "000123.ZIP", "previous archive");
    write_message("AB.6", header("R6", "a@x.it", {"000123.txt", "MISSING.PDF"}), "b",
                  {"riga 1\r\nriga 2\r\n"});
    scan();
    ASSERT_EQ(delivered.size(), 1u) << dump();
    EXPECT_FALSE(fs::exists(work + "000123.ZIP"));
    EXPECT_TRUE(has_line(stamp() + " Fine  AnalizzaTXT " + work + "000123.txt ultima riga  2"));
    const std::string pdf = paths::resolve(work + "000123.pdf");
    if (!pdf.empty()) {
        EXPECT_EQ(read_file(pdf).substr(0, 4), "%PDF");
        EXPECT_TRUE(has_line(stamp() + " Creato il file PDF " + pdf)) << dump();
    } else {
        EXPECT_FALSE(has_text("Creato il file PDF"));
    }
    // The attachment without content is still listed.
    EXPECT_EQ(attachment_name(delivered[0], 2), "MISSING.PDF");
    EXPECT_FALSE(fs::exists(work + "MISSING.PDF"));
}

TEST_F(Message, AttachmentNamesNeverWriteOutsideTheWorkDirectory) {
    write_message("AB.7", header("R7", "a@x.it", {"sub/x.pdf", "a..b.pdf", "ok.pdf"}), "b", {"2", "3", "4"});
    scan();
    ASSERT_EQ(delivered.size(), 1u) << dump();
    EXPECT_FALSE(fs::exists(work + "sub"));
    EXPECT_FALSE(fs::exists(work + "a..b.pdf"));
    EXPECT_EQ(read_file(work + "ok.pdf"), "4");
    EXPECT_EQ(attachment_name(delivered[0], 1), "sub/x.pdf");
    EXPECT_TRUE(has_line(stamp() + " Nome allegato non ammesso, file non copiato: sub/x.pdf"));

    // A name that climbs out of the work directory is neither written nor
    // delivered: the message is kept.
    write_message("AB.8", header("R8", "a@x.it", {"../evil.pdf", "ok.pdf"}), "b", {"1", "4"});
    scan();
    EXPECT_EQ(delivered.size(), 1u) << dump();
    EXPECT_FALSE(fs::exists(root / "evil.pdf"));
    EXPECT_TRUE(has_line(stamp() + " Allegato fuori dalle cartelle ammesse, messaggio non inviato: ../evil.pdf"));
    ASSERT_EQ(unsent().size(), 1u);
    EXPECT_EQ(read_file(work + "non_inviati/" + unsent()[0] + "AB.8.0"), "1");
}

TEST_F(Message, AccountIsBlankedOnlyInTheRequest) {
    cfg.op.login_email = "utente";
    cfg.op.pwd_email = "segreto";
    cfg.derive();
    write_message("AB.8", header("R8", "a@x.it"), "b");
    write_message("AB.9", header("R9", "a@x.it"), "b");
    cfg.sw.own_credentials = true;
    cfg.derive();
    scan();
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[0].login_email, "");
    EXPECT_EQ(delivered[0].pwd_email, "");
    EXPECT_EQ(cfg.op.login_email, "utente");
    EXPECT_EQ(cfg.op.pwd_email, "segreto");
    cfg.sw.own_credentials = false;
    cfg.derive();
    write_message("AB.10", header("R10", "a@x.it"), "b");
    scan();
    EXPECT_EQ(delivered[2].login_email, "utente");
    EXPECT_EQ(delivered[2].pwd_email, "segreto");
}

TEST_F(Message, AMessageThatIsNotDeliveredIsKept) {
    deliver_result = false;
    write_message("AB.11", header("R11", "a@x.it", {"A.PDF", "000777.txt"}), "corpo",
                  {"pdf", "print"});
    scan();
    ASSERT_EQ(delivered.size(), 1u);
    const std::string folder = work + "non_inviati/AB.11_261207103004/";
    EXPECT_EQ(unsent(), std::vector<std::string>{"AB.11_261207103004/"});
    auto kept = files_in(folder);
    // The print file's PDF is kept too when the composition made one.
    std::erase(kept, "000777.pdf");
    EXPECT_EQ(kept, (std::vector<std::string>{"000777.txt", "A.PDF", "AB.11.b", "AB.11.h", "motivo.txt",
                                              "originale/"}));
    EXPECT_EQ(read_file(folder + "A.PDF"), "pdf");
    // The spool files as the business software wrote them, to be handed back.
    EXPECT_EQ(files_in(folder + "originale"),
              (std::vector<std::string>{"AB.11.0", "AB.11.1", "AB.11.T", "AB.11.b", "AB.11.h"}));
    EXPECT_EQ(read_file(folder + "originale/AB.11.1"), "print");
    EXPECT_TRUE(has_line(stamp() + " Messaggio non inviato conservato in " + folder)) << dump();

    // The next run's cleanup leaves it.
    scanner.run_state().work_dir_cleaned = false;
    deliver_result = true;
    write_message("AB.12", header("R12", "a@x.it"), "b");
    scan();
    EXPECT_TRUE(fs::exists(folder + "AB.11.h"));
    EXPECT_EQ(unsent().size(), 1u);  // the delivered message left nothing there
}

TEST_F(Message, AFifthyFirstAttachmentEndsTheMessageAndKeepsIt) {
    std::vector<std::string> names;
    for (int i = 1; i <= 51; ++i) names.push_back("F" + std::to_string(i) + ".PDF");
    write_message("AB.13", header("R13", "a@x.it", names), "b", {"c0"});
    scan();
    EXPECT_TRUE(delivered.empty());
    EXPECT_TRUE(has_line(stamp() + " Subscript out of range leggi_file_messaggio_error 9 6")) << dump();
    EXPECT_TRUE(fs::exists(work + "non_inviati/AB.13_261207103004/AB.13.h"));
    EXPECT_TRUE(fs::exists(work + "non_inviati/AB.13_261207103004/F1.PDF"));
    EXPECT_EQ(switched_off, 0);
}

TEST_F(Message, BadInputIsReportedAndKept) {
    // A header of three lines.
    write_message("AB.20", {"R20", "", "ab@example.com"}, "b");
    // An empty body: delivered with an empty text.
    write_message("AB.21", header("R21", "a@x.it"), "");
    // A trigger without header.
    write_file(spool + "AB.22.b", "solo corpo");
    write_file(spool + "AB.22.T", "");
    // Binary garbage as header.
    std::string garbage;
    for (int i = 0; i < 600; ++i) garbage += static_cast<char>((i * 37) % 256);
    write_file(spool + "AB.23.h", garbage);
    write_file(spool + "AB.23.b", garbage);
    write_file(spool + "AB.23.0", garbage);
    write_file(spool + "AB.23.T", garbage);
    scan();

    EXPECT_TRUE(has_line("07/12/2026 10:30:00 Intestazione incompleta " + work + "AB.20.h righe 3"))
        << dump();
    EXPECT_TRUE(fs::exists(work + "non_inviati/AB.20_261207103000/AB.20.h"));

    bool empty_body_delivered = false;
    for (const auto& r : delivered)
        if (r.lsNumRef == "R21") empty_body_delivered = r.lvBody.empty();
    EXPECT_TRUE(empty_body_delivered);

    EXPECT_TRUE(has_text("leggi_file_messaggio_error 53 4")) << dump();
    EXPECT_TRUE(fs::exists(work + "non_inviati/AB.22_261207103000/AB.22.b"));

    // The garbage message is either delivered or kept, never lost.
    const bool garbage_kept = fs::exists(work + "non_inviati/AB.23_261207103004/AB.23.h");
    bool garbage_delivered = false;
    for (const auto& r : delivered) garbage_delivered |= r.lsNumRef == garbage.substr(0, 10);
    EXPECT_TRUE(garbage_kept || delivered.size() == 2u) << dump();
    (void)garbage_delivered;

    EXPECT_EQ(switched_off, 0);
    EXPECT_EQ(files_in(spool), std::vector<std::string>{"coda/"});
    // Nothing was written outside the work directory.
    EXPECT_EQ(files_in(root.path()),
              (std::vector<std::string>{"spool/", "tempozip/", "velarion.ini"}));
}

TEST_F(Message, PrepareModeHandsTheMessageToTheSecondSpool) {
    const std::string prep = root / "prepara/";
    fs::create_directories(prep);
    cfg.op.ParGenerali = "XX PREPARA:" + root.path() + "prepara";
    cfg.derive();
    write_message("AB.30", header("R30", "a@x.it", {"LISTINO.CSV"}), "corpo", {"a;b"});
    scan();
    EXPECT_TRUE(delivered.empty());
    // The folder runs to the end of the text; the settings themselves are read only.
    EXPECT_EQ(cfg.prepare_dir, prep);
    EXPECT_EQ(cfg.op.ParGenerali, "XX PREPARA:" + root.path() + "prepara");
    EXPECT_EQ(files_in(prep),
              (std::vector<std::string>{"AB.30.0", "AB.30.B", "AB.30.H", "AB.30.T"}));
    EXPECT_EQ(read_file(prep + "AB.30.0"), "a;b");
    EXPECT_EQ(read_file(prep + "AB.30.T"), read_file(work + "AB.30.h"));
    const std::string t = stamp();
    const std::vector<std::string> expected = {
        t + " Valore dirprepara " + prep,
        t + " Inizio le copie",
        t + " Copia h",
        t + " Copia b",
        t + "  Copiato non pdf " + work + "LISTINO.CSVin " + prep + "AB.30.0",
        t + " Copiato messaggio AB.30 in " + prep,
    };
    for (const auto& l : expected) EXPECT_TRUE(has_line(l)) << l << "\n" << dump();
    EXPECT_TRUE(unsent().empty());
}

TEST_F(Message, PrepareModeRenamesThePdfOfTheAttachment) {
    const std::string prep = root / "prepara/";
    fs::create_directories(prep);
    cfg.op.ParGenerali = "PREPARA:" + prep + ";";
    cfg.derive();
    scanner.run_state().work_dir_cleaned = true;
    write_file(work + "REPORT.PDF", "%PDF em");
    write_message("AB.31", header("R31", "a@x.it", {"REPORT.XYZ"}), "corpo", {"spool"});
    write_file(work + "LETTER.PDF", "%PDF six");
    write_message("AB.32", header("R32", "a@x.it", {"LETTERA_1.DAT"}), "corpo", {"x"});
    scan();
    EXPECT_EQ(read_file(prep + "AB.31.PDF"), "%PDF em");
    EXPECT_EQ(read_file(work + "AB.31.PDF"), "%PDF em");
    EXPECT_FALSE(fs::exists(work + "REPORT.PDF"));
    const std::string t31 = "07/12/2026 10:30:04";
    EXPECT_TRUE(has_line(t31 + " Esiste il pdf da stampante EM")) << dump();
    EXPECT_TRUE(has_line(t31 + " Rename pdf  EM"));
    EXPECT_TRUE(has_line(t31 + "  Copiato pdf EM "));

    // First six characters of the name: "LETTER".
    EXPECT_EQ(read_file(prep + "AB.32.PDF"), "%PDF six");
    // The two messages waited together for their print files: two quiet
    // seconds, then two after the copies.
    const std::string t32 = "07/12/2026 10:30:04";
    EXPECT_TRUE(has_line(t32 + " Esiste il pdf"));
    EXPECT_TRUE(has_line(t32 + " Rename pdf "));
    EXPECT_TRUE(has_line(t32 + "  Copiato pdf "));
}

TEST_F(Message, APrepareDirectoryThatIsMissingKeepsTheMessage) {
    cfg.op.ParGenerali = "PREPARA:" + root.path() + "nowhere;";
    cfg.derive();
    write_message("AB.33", header("R33", "a@x.it"), "corpo");
    scan();
    EXPECT_TRUE(has_text("leggi_file_messaggio_error 53 23")) << dump();
    EXPECT_TRUE(fs::exists(work + "non_inviati/AB.33_261207103000/AB.33.h"));
    EXPECT_EQ(switched_off, 0);

    // An empty folder name is no folder: nothing is written to the root.
    cfg.op.ParGenerali = "PREPARA:;";
    cfg.derive();
    write_message("AB.34", header("R34", "a@x.it"), "corpo");
    scan();
    EXPECT_TRUE(has_text("Path not found / leggi_file_messaggio_error 76 21")) << dump();
    EXPECT_FALSE(fs::exists("/AB.34.H"));
    EXPECT_TRUE(fs::exists(work + "non_inviati/AB.34_261207103000/AB.34.h"));
}

}  // namespace
}  // namespace velarion::testing
