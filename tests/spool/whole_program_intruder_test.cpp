// The whole agent on spool input written by an intruder: files outside the
// installation's folders reach no draft of the real maildir, the messages
// are kept below "non_inviati", and a sound message beside them still goes.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace velarion
