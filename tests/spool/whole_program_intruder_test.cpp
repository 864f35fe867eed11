// The whole agent on spool input written by an intruder: files outside the
// installation's folders reach no draft of the real maildir, the messages
// are kept below "non_inviati", and a sound message beside them still goes.
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/hostile_pdf.h"
#include "support/mail_servers.h"
#include "support/test_support.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::run_program;
using testing::TempDir;
using testing::write_file;

std::string header(const std::string& ref, const std::string& subject, const std::string& attachment) {
    return ref + "\r\n.\r\nab@example.com\r\ncliente@example.com\r\n" + subject + "\r\n.\r\nSAVE\r\n" + attachment +
           "\r\n";
}

TEST(WholeProgram, IntruderInputReachesNoDraft) {
    TempDir root;
    const std::string spool = root / "spool/", work = root / "tempozip/", posta = root / "posta";
    fs::create_directories(spool);
    fs::create_directories(root / "loghi");
    fs::create_directories(root / "run");
    write_file(root / "cfg/velarion.ini",
               "[AB]\r\nEMailAddr=ab@example.com\r\nPath=" + spool + "\r\nDir_Loghi=" + root / "loghi/" +
                   "\r\ntempozip_dir=" + work + "\r\n[GLOBAL]\r\nTiming=1000\r\n[MAPI]\r\nclient=Posta di prova\r\n" +
                   "store=maildir://localhost" + posta + "\r\n");
    write_file(root / "loghi/loghi.ini", "");
    write_file(root / "home/secret.txt", "SEGRETO");

    // An absolute path, a ".///A" line, a linked content file, a climbing print file.
    write_file(spool + "AB.1.h", header("AB0000000001", "Uno", root / "home/secret.txt"));
    write_file(spool + "AB.1.b", "b\r\n");
    write_file(spool + "AB.1.T", "");
    write_file(spool + "AB.2.h", header("AB0000000002", "Due", "A.PDF"));
    write_file(spool + "AB.2.b", ".///A" + root / "home/secret.txt" + "\r\n");
    write_file(spool + "AB.2.0", "%PDF-1.4 a");
    write_file(spool + "AB.2.T", "");
    write_file(spool + "AB.3.h", header("AB0000000003", "Tre", "NOTA.PDF"));
    write_file(spool + "AB.3.b", "b\r\n");
    fs::create_symlink(root / "home/secret.txt", spool + "AB.3.0");
    write_file(spool + "AB.3.T", "");
    write_file(spool + "AB.4.h", header("AB0000000004", "Quattro", "../abc.txt"));
    write_file(spool + "AB.4.b", "b\r\n");
    write_file(spool + "AB.4.0", "riga\r\n");
    write_file(spool + "AB.4.T", "");
    write_file(root / "abc.pdf", "%PDF SEGRETO");  // what "../abc.txt" would attach
    // A sound message beside them.
    write_file(spool + "AB.5.h", header("AB0000000005", "Cinque", "LISTINO.PDF"));
    write_file(spool + "AB.5.b", "b\r\n");
    write_file(spool + "AB.5.0", "%PDF-1.4 listino");
    write_file(spool + "AB.5.T", "");

    const auto r = run_program({std::string(VELARION_BIN_DIR) + "/velarion", "--headless", "--once",
                                "ini:" + root / "cfg", "ope:AB"},
                               {"HOME=" + root / "home", "XDG_RUNTIME_DIR=" + root / "run"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(" Interfaccia messaggio  0000000005 - cliente@example.com"), std::string::npos) << r.out;

    int drafts = 0;
    for (const auto& e : fs::recursive_directory_iterator(posta)) {
        if (!e.is_regular_file()) continue;
        ++drafts;
        EXPECT_EQ(read_file(e.path().string()).find("SEGRETO"), std::string::npos) << e.path();
        // base64 of "SEGRETO" as it would stand in an attachment
        EXPECT_EQ(read_file(e.path().string()).find("U0VHUkVUTw"), std::string::npos) << e.path();
    }
    EXPECT_EQ(drafts, 1) << r.out;

    int kept = 0;
    for (const auto& e : fs::directory_iterator(work + "non_inviati")) kept += e.is_directory();
    EXPECT_EQ(kept, 4) << r.out;
    EXPECT_NE(r.out.find(" File di spool non ammesso, collegamento simbolico: " + spool + "AB.3.0"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(" Allegato fuori dalle cartelle ammesse, messaggio non inviato: ../abc.txt"),
              std::string::npos)
        << r.out;
    // The log written at the close holds the same lines, each on one line.
    bool logged = false;
    for (const auto& e : fs::directory_iterator(work + "log"))
        logged = logged || read_file(e.path().string()).find(" Allegato fuori dalle cartelle ammesse") != std::string::npos;
    EXPECT_TRUE(logged);
}

// An installation of operator AB in a temporary folder, run once by the real agent.
struct Installation {
    TempDir root;
    std::string spool = root / "spool/", work = root / "tempozip/", posta = root / "posta";

    explicit Installation(const std::string& global_keys = "") {
        fs::create_directories(spool);
        fs::create_directories(root / "loghi");
        fs::create_directories(root / "run");
        write_file(root / "cfg/velarion.ini",
                   "[AB]\r\nEMailAddr=ab@example.com\r\nPath=" + spool + "\r\nDir_Loghi=" + root / "loghi/" +
                       "\r\ntempozip_dir=" + work + "\r\n[GLOBAL]\r\nTiming=1000\r\n" + global_keys +
                       "[MAPI]\r\nclient=Posta di prova\r\nstore=maildir://localhost" + posta + "\r\n");
        write_file(root / "loghi/loghi.ini", "");
    }
    void message(const std::string& n, const std::string& attachment, const std::string& content) const {
        write_file(spool + "AB." + n + ".h", header("AB000000000" + n, "Oggetto " + n, attachment));
        write_file(spool + "AB." + n + ".b", "b\r\n");
        if (!content.empty()) write_file(spool + "AB." + n + ".0", content);
        write_file(spool + "AB." + n + ".T", "");
    }
    testing::ProcessResult run(const std::vector<std::string>& more_env = {}) const {
        std::vector<std::string> env{"HOME=" + root / "home", "XDG_RUNTIME_DIR=" + root / "run"};
        env.insert(env.end(), more_env.begin(), more_env.end());
        return run_program({std::string(VELARION_BIN_DIR) + "/velarion", "--headless", "--once", "ini:" + root / "cfg",
                            "ope:AB"},
                           env);
    }
    int drafts() const {
        int n = 0;
        if (fs::exists(posta))
            for (const auto& e : fs::recursive_directory_iterator(posta)) n += e.is_regular_file();
        return n;
    }
};

TEST(WholeProgram, AGrowingContentFileDoesNotStopTheNextMessage) {
    Installation in("controllo_dimensione=4s\r\n");
    in.message("1", "CRESCE.PDF", "%PDF-1.4 a");
    in.message("2", "LISTINO.PDF", "%PDF-1.4 listino");
    std::atomic<bool> done{false};
    std::thread writer([&] {
        while (!done) {
            std::ofstream(in.spool + "AB.1.0", std::ios::app) << "x";
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
    });
    const auto r = in.run();
    done = true;
    writer.join();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(" File ancora in scrittura dopo 4 secondi, messaggio lasciato nello spool per un giro "
                         "successivo: " + in.spool + "AB.1.0"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(" Interfaccia messaggio  0000000002"), std::string::npos) << r.out;
    EXPECT_EQ(in.drafts(), 1);
    EXPECT_TRUE(fs::exists(in.spool + "AB.1.T"));
    EXPECT_FALSE(fs::exists(in.work + "non_inviati"));
}

TEST(WholeProgram, SpecialSpoolFilesAndHardLinksAreParkedWithTheirKind) {
    Installation in;
    write_file(in.root / "home/secret.txt", "SEGRETO");
    in.message("1", "A.PDF", "");
    ASSERT_EQ(::mkfifo((in.spool + "AB.1.0").c_str(), 0600), 0);
    in.message("2", "B.PDF", "");
    fs::create_hard_link(in.root / "home/secret.txt", in.spool + "AB.2.0");
    in.message("3", "C.PDF", "");
    fs::create_directories(in.spool + "AB.3.0");
    in.message("4", "D.PDF", "%PDF-1.4 d");
    fs::remove(in.spool + "AB.4.T");
    ASSERT_EQ(::mkfifo((in.spool + "AB.4.T").c_str(), 0600), 0);
    in.message("5", "LISTINO.PDF", "%PDF-1.4 listino");
    // A name with a backslash is parked too, not tried for ever.
    in.message("6\\7", "E.PDF", "%PDF-1.4 e");

    const auto r = in.run();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    for (const auto& [file, kind] : std::vector<std::pair<std::string, std::string>>{
             {"AB.1.0", "FIFO"}, {"AB.2.0", "collegamento fisico"}, {"AB.3.0", "cartella"}, {"AB.4.T", "FIFO"}}) {
        EXPECT_NE(r.out.find(" File di spool non ammesso, " + kind + ": " + in.spool + file), std::string::npos)
            << file << r.out;
        EXPECT_FALSE(fs::exists(fs::symlink_status(in.spool + file))) << file;
    }
    EXPECT_EQ(in.drafts(), 1) << r.out;
    int kept = 0;
    for (const auto& e : fs::directory_iterator(in.work + "non_inviati")) {
        kept += e.is_directory();
        EXPECT_EQ(read_file(e.path() / "motivo.txt").find("SEGRETO"), std::string::npos);
    }
    EXPECT_EQ(kept, 5) << r.out;
    EXPECT_NE(r.out.find(" Nome di messaggio non ammesso (barra rovesciata), messaggio non inviato: AB.6\\7"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(in.spool + "AB.6\\7.T"));
    EXPECT_EQ(read_file(in.root / "home/secret.txt"), "SEGRETO");
    for (const auto& e : fs::recursive_directory_iterator(in.work))
        if (e.is_regular_file()) {
            EXPECT_EQ(read_file(e.path().string()).find("SEGRETO"), std::string::npos) << e.path();
        }
}

// Modes of what the agent made below dir (the folders the test made excluded).
void expect_private(const std::string& dir, unsigned file_mode, unsigned folder_mode, int& seen) {
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        const auto st = fs::symlink_status(e.path());
        const auto mode = static_cast<unsigned>(st.permissions()) & 0777;
        ++seen;
        if (fs::is_directory(st)) {
            EXPECT_EQ(mode, folder_mode) << e.path();
        } else if (fs::is_regular_file(st)) {
            EXPECT_EQ(mode, file_mode) << e.path();
        }
    }
}

TEST(WholeProgram, WhatTheAgentWritesIsPrivateWhateverTheUmaskItStartsWith) {
    for (const mode_t start : {mode_t{022}, mode_t{0}}) {
        Installation in;
        in.message("1", "FATT01.txt", "Riga della fattura\r\n");
        in.message("2", "/etc/hostname", "");  // parked: outside the read folders
        for (const auto& e : fs::directory_iterator(in.spool)) fs::permissions(e.path(), fs::perms(0644));
        const mode_t before = ::umask(start);
        const auto r = in.run();
        ::umask(before);
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        ASSERT_EQ(in.drafts(), 1) << r.out;
        ASSERT_TRUE(fs::exists(in.work + "FATT01.pdf")) << r.out;
        ASSERT_TRUE(fs::exists(in.work + "non_inviati")) << r.out;
        int seen = 0;
        expect_private(in.work, 0600, 0700, seen);
        expect_private(in.spool + "coda", 0600, 0700, seen);
        for (const auto& e : fs::recursive_directory_iterator(in.posta))
            EXPECT_EQ(static_cast<unsigned>(fs::status(e.path()).permissions()) & 077, 0u) << e.path();
        EXPECT_GT(seen, 10);
    }
    // An installation that shares with a group says so.
    Installation in("umask=0027\r\n");
    in.message("1", "FATT01.txt", "Riga della fattura\r\n");
    const mode_t before = ::umask(0);
    const auto r = in.run();
    ::umask(before);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    int seen = 0;
    expect_private(in.work, 0640, 0750, seen);
}

TEST(WholeProgram, APrintFileOfOneHugeLineCostsNoMoreMemoryThanAShortOne) {
    Installation in;
    in.message("1", "FATT01.txt", "");
    {
        // 200 MB of text in one line, written in large blocks.
        std::ofstream out(in.spool + "AB.1.0", std::ios::binary);
        const std::string block(4 * 1024 * 1024, 'A');
        for (int i = 0; i < 50; ++i) out << block;
        out << "\r\n";
    }
    const std::string rss = in.root / "rss.txt";
    std::vector<std::string> argv{"/usr/bin/time", "-o", rss, "-f", "%M", std::string(VELARION_BIN_DIR) + "/velarion",
                                  "--headless", "--once", "ini:" + in.root / "cfg", "ope:AB"};
    const auto r = run_program(argv, {"HOME=" + in.root / "home", "XDG_RUNTIME_DIR=" + in.root / "run"});
    ASSERT_EQ(r.status, 0) << r.out.substr(0, 4000) << r.err;
    EXPECT_EQ(in.drafts(), 1) << r.out.substr(0, 4000);
    const long peak_kb = std::stol(read_file(rss));
    EXPECT_LT(peak_kb, 64 * 1024) << "peak " << peak_kb << " KB";
    std::printf("peak memory for a 200 MB single-line print file: %ld KB\n", peak_kb);
    // The activity lines (and so the log) hold a cut last line, not the 200 MB.
    EXPECT_LT(r.out.size(), 100u * 1024);
    for (const auto& e : fs::directory_iterator(in.work + "log")) EXPECT_LT(fs::file_size(e.path()), 100u * 1024);
}

TEST(WholeProgram, AMergeEntryOutsideTheFoldersIsNamedAndTheOthersAreAppended) {
    Installation in;
    {
        std::string ini = read_file(in.root / "cfg/velarion.ini");
        ini.insert(ini.find("[GLOBAL]"), "unione_DIR=" + in.root / "unione/" + "\r\n");
        write_file(in.root / "cfg/velarion.ini", ini);
    }
    const std::string pdf = read_file(std::string(VELARION_SOURCE_DIR) + "/examples/demo/unione/condizioni.pdf");
    ASSERT_FALSE(pdf.empty());
    write_file(in.root / "unione/condizioni.pdf", pdf);
    write_file(in.root / "fuori/segreto.pdf", pdf);
    in.message("1", "FATT01.txt", "riga\r\n///M../fuori/segreto.pdf\r\n///Mcondizioni.pdf\r\n");
    const auto r = in.run();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string given = in.root / "unione/../fuori/segreto.pdf";
    const auto refusal = r.out.find(" File da accodare fuori dalle cartelle ammesse " + given);
    ASSERT_NE(refusal, std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" Controllo negativo per Accodare PDF " + given, refusal), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" Controllo positivo per Accodare PDF " + in.root / "unione/condizioni.pdf"), std::string::npos);
    EXPECT_NE(r.out.find(" Invio comando PDF " + in.work + "FATT01.pdf|" + in.root / "unione/condizioni.pdf"),
              std::string::npos)
        << r.out;
}

// A merged PDF whose page tree is 50,000 levels deep, reached from the spool:
// the agent refuses it, appends the good one and sends the message.
TEST(WholeProgram, AMergedPdfMadeToCrashTheReaderIsRefused) {
    Installation in;
    {
        std::string ini = read_file(in.root / "cfg/velarion.ini");
        ini.insert(ini.find("[GLOBAL]"), "unione_DIR=" + in.root / "unione/" + "\r\n");
        write_file(in.root / "cfg/velarion.ini", ini);
    }
    write_file(in.root / "unione/condizioni.pdf",
               read_file(std::string(VELARION_SOURCE_DIR) + "/examples/demo/unione/condizioni.pdf"));
    write_file(in.spool + "x.pdf", testing::deep_pdf(50000, false));
    in.message("1", "FATT01.txt", "riga\r\n///M../spool/x.pdf\r\n///Mcondizioni.pdf\r\n");
    const auto r = in.run();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(" Controllo negativo per Accodare PDF " + in.root / "unione/../spool/x.pdf"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(" Controllo positivo per Accodare PDF " + in.root / "unione/condizioni.pdf"), std::string::npos);
    EXPECT_EQ(in.drafts(), 1) << r.out;
}

TEST(WholeProgram, CopyTargetsLeaveTheConditionsPdfAndTheQueueAlone) {
    Installation in;
    {
        std::string ini = read_file(in.root / "cfg/velarion.ini");
        ini.insert(ini.find("[GLOBAL]"), "unione_DIR=" + in.root / "unione/" + "\r\nsend_dir=" + in.root / "send/" +
                                             "\r\n");
        write_file(in.root / "cfg/velarion.ini", ini);
    }
    fs::create_directories(in.root / "send");
    const std::string conditions = read_file(std::string(VELARION_SOURCE_DIR) + "/examples/demo/unione/condizioni.pdf");
    write_file(in.root / "unione/condizioni.pdf", conditions);
    in.message("1", "FATT01.txt", "CREAFILE:" + in.root / "unione/condizioni.pdf" + "\r\nfalso\r\n");
    in.message("2", "FATT02.txt", "CREAFILE:" + in.spool + "coda/agenti/intruso" + "\r\nfalso\r\n");
    in.message("3", "FATT03.txt", "CREAFILE:" + in.root / "send/fattura3.pdf" + "\r\nvera\r\n");
    const auto r = in.run();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(read_file(in.root / "unione/condizioni.pdf"), conditions);
    EXPECT_FALSE(fs::exists(in.spool + "coda/agenti/intruso"));
    EXPECT_NE(r.out.find(" Destinazione di copia non ammessa " + in.root / "unione/condizioni.pdf"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(" Destinazione di copia non ammessa " + in.spool + "coda/agenti/intruso"), std::string::npos);
    // The save folder is a copy folder.
    EXPECT_TRUE(fs::exists(in.root / "send/fattura3.pdf")) << r.out;
}

TEST(WholeProgram, StylesPlantedInTheSpoolReadNothingOutsideTheFolders) {
    // No logo folder configured: the styles are read from the spool's "loghi/".
    Installation in;
    {
        std::string ini = read_file(in.root / "cfg/velarion.ini");
        const auto at = ini.find("Dir_Loghi=");
        ini.erase(at, ini.find("\r\n", at) + 2 - at);
        write_file(in.root / "cfg/velarion.ini", ini);
    }
    const std::string jpeg = read_file(std::string(VELARION_SOURCE_DIR) + "/examples/demo/loghi/marchio.jpg");
    ASSERT_FALSE(jpeg.empty());
    // Outside every read folder: an overlay with its own text, and a picture with a secret after its end.
    write_file(in.root / "fuori/overlay.txt", "t\tTESTO\t12\t0,0,0\t20\t20\t\t\t\tF1\tTESTOESTRANEO\r\n");
    write_file(in.root / "fuori/foto.jpg", jpeg + "SEGRETO");
    write_file(in.spool + "loghi/loghi.ini", "[PIANTATO]\r\nfincatura=" + in.root / "fuori/overlay.txt" +
                                                 "\r\n[IMMAGINE]\r\nfincatura=interno.txt\r\n"
                                                 "[COLLEGATO]\r\nfincatura=collegato.txt\r\n");
    // In the logo folder, but another name of a file outside every folder.
    write_file(in.root / "fuori/collegato.txt", "t\tTESTO\t12\t0,0,0\t20\t20\t\t\t\tF1\tTESTOCOLLEGATO\r\n");
    fs::create_hard_link(in.root / "fuori/collegato.txt", in.spool + "loghi/collegato.txt");
    write_file(in.spool + "loghi/interno.txt",
               "t\tTESTO\t12\t0,0,0\t20\t80\t\t\t\tF1\tTESTOINTERNO\r\n"
               "i\tIMAGE\t0\t20\t40\t20\t30\t\t\t" + in.root / "fuori/foto.jpg" + "\r\n");
    const auto style_message = [&](const std::string& n, const std::string& style) {
        write_file(in.spool + "AB." + n + ".h", "AB000000000" + n + "\r\n.\r\nab@example.com\r\ncliente@example.com\r\n"
                                                "Oggetto\r\n" + style + "\r\nSAVE\r\n-\r\nFATT0" + n + ".txt\r\n");
        write_file(in.spool + "AB." + n + ".b", "b\r\n");
        write_file(in.spool + "AB." + n + ".0", "riga della fattura\r\n");
        write_file(in.spool + "AB." + n + ".T", "");
    };
    style_message("1", "PIANTATO");
    style_message("2", "IMMAGINE");
    style_message("3", "COLLEGATO");
    const auto r = in.run();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(" Attenzione: gli stili (" + in.spool + "loghi/loghi.ini) sono nella cartella dello spool: "
                         "chi scrive lo spool puo' cambiarli"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(" File di stile fuori dalle cartelle ammesse " + in.root / "fuori/overlay.txt"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(" File di stile fuori dalle cartelle ammesse " + in.root / "fuori/foto.jpg"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(" File di stile fuori dalle cartelle ammesse " + in.spool + "loghi/collegato.txt"),
              std::string::npos)
        << r.out;
    for (const char* pdf : {"FATT01.pdf", "FATT02.pdf", "FATT03.pdf"}) {
        const std::string path = in.work + pdf;
        ASSERT_TRUE(fs::exists(path)) << pdf << r.out;
        EXPECT_EQ(read_file(path).find("SEGRETO"), std::string::npos) << pdf;
        const auto text = testing::run_program({"/usr/bin/pdftotext", path, "-"}).out;
        EXPECT_EQ(text.find("TESTOESTRANEO"), std::string::npos) << pdf;
        EXPECT_EQ(text.find("TESTOCOLLEGATO"), std::string::npos) << pdf;
        EXPECT_NE(text.find("riga della fattura"), std::string::npos) << pdf << text;
    }
    // What the style in the spool names inside the folders is still drawn.
    EXPECT_NE(testing::run_program({"/usr/bin/pdftotext", in.work + "FATT02.pdf", "-"}).out.find("TESTOINTERNO"),
              std::string::npos);
    for (const auto& e : fs::recursive_directory_iterator(in.posta))
        if (e.is_regular_file()) {
            EXPECT_EQ(read_file(e.path().string()).find("U0VHUkVUTw"), std::string::npos);
        }
}

TEST(WholeProgram, TheSampleInstallationRunsWithNoRefusal) {
    testing::SmtpServer smtp;
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    TempDir root;
    const std::string run = root / "demo";
    ASSERT_EQ(run_program({"/bin/sh", std::string(VELARION_SOURCE_DIR) + "/examples/demo/setup.sh", run, smtp.url()})
                  .status,
              0);
    fs::create_directories(root / "run");
    const auto r = run_program({std::string(VELARION_BIN_DIR) + "/velarion", "--headless", "--once", "ini:" + run,
                                "ope:AB"},
                               {"HOME=" + root / "home", "XDG_RUNTIME_DIR=" + root / "run"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    for (const char* refusal : {"non ammess", "fuori dalle cartelle", "Non Copiato", "Attenzione: gli stili"})
        EXPECT_EQ(r.out.find(refusal), std::string::npos) << refusal << "\n" << r.out;
    EXPECT_NE(r.out.find(" CreaPdf Copiato "), std::string::npos) << r.out;  // the style's dircopy
}

}  // namespace
}  // namespace velarion
