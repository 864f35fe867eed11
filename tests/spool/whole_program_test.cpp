// The whole agent on a temporary installation: a spool message with a print
// file becomes a draft in a real maildir with the composed PDF attached.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::run_program;
using testing::TempDir;
using testing::write_file;

// A 132-column listing of two pages, 66 lines each, with a form feed between them.
std::string listing() {
    std::string out;
    for (int page = 1; page <= 2; ++page)
        for (int row = 1; row <= 66; ++row) {
            std::string line = (page == 2 && row == 1 ? "\x0c" : "") + std::string("RIGA ") +
                               std::to_string(page) + "." + std::to_string(row);
            line.resize(131, ' ');
            out += line + "|\r\n";
        }
    return out;
}

// Operator AB of an installation below root: spool/, tempozip/, a style
// "TABULATO" in loghi/, drafts saved into the maildir posta/.
void write_installation(const TempDir& root) {
    const std::string spool = root / "spool/";
    fs::create_directories(spool);
    fs::create_directories(root / "loghi");
    fs::create_directories(root / "run");
    write_file(root / "cfg/velarion.ini",
               "[AB]\nEMailAddr=ab@example.com\nPath=" + spool + "\nDir_Loghi=" + root / "loghi/" +
                   "\ntempozip_dir=" + root / "tempozip/" +
                   "\n[GLOBAL]\nTiming=1000\n[MAPI]\nclient=Posta di prova\nstore=maildir://localhost" + root / "posta" +
                   "\n");
    write_file(root / "loghi/loghi.ini", "[TABULATO]\nforzatura=o\n");
}

TEST(WholeProgram, APrintFileBecomesADraftWithItsPdf) {
    TempDir root;
    const std::string spool = root / "spool/", work = root / "tempozip/", posta = root / "posta";
    write_installation(root);
    write_file(spool + "AB.5.h",
               "5\r\n.\r\nab@example.com\r\ncliente@example.com\r\nTabulato del mese\r\nTABULATO\r\nSAVE\r\n-\r\nLISTA1.txt\r\n");
    write_file(spool + "AB.5.b", "In allegato il tabulato.\r\n");
    write_file(spool + "AB.5.0", listing());
    write_file(spool + "AB.5.T", "");

    const auto r = run_program({std::string(VELARION_BIN_DIR) + "/velarion", "--headless", "--once",
                                "ini:" + root / "cfg", "ope:AB"},
                               {"HOME=" + root / "home", "XDG_RUNTIME_DIR=" + root / "run"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(" Creato il file PDF " + work + "LISTA1.pdf"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(spool + "AB.5.T"));
    EXPECT_FALSE(fs::exists(work + "non_inviati")) << r.out;

    // Exactly one draft, flagged as such, with the PDF attached.
    std::string draft;
    int drafts = 0;
    for (const auto& e : fs::recursive_directory_iterator(posta))
        if (e.is_regular_file()) {
            draft = e.path().string();
            ++drafts;
        }
    ASSERT_EQ(drafts, 1) << r.out;
    // The attachment decodes to the two-page landscape PDF the composition made.
    const std::string pdf = root / "attached.pdf";
    const auto py = run_program(
        {"/usr/bin/python3", "-c",
         "import email,email.header,sys\n"
         "m=email.message_from_binary_file(open(sys.argv[1],'rb'))\n"
         "parts=[p for p in m.walk() if p.get_content_type()=='application/pdf']\n"
         "print(m['To'])\n"
         "print(str(email.header.make_header(email.header.decode_header(m['Subject']))))\n"
         "print(len(parts), parts[0].get_filename() if parts else '')\n"
         "open(sys.argv[2],'wb').write(parts[0].get_payload(decode=True) if parts else b'')\n",
         draft, pdf});
    ASSERT_EQ(py.status, 0) << py.err;
    EXPECT_EQ(py.out, "cliente@example.com\nRIF:5 - Tabulato del mese\n1 LISTA1.pdf\n");
    EXPECT_EQ(read_file(pdf), read_file(work + "LISTA1.pdf"));
    const auto info = run_program({"/usr/bin/pdfinfo", pdf});
    EXPECT_NE(info.out.find("Pages:           2"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("841.89 x 595.276 pts (A4)"), std::string::npos) << info.out;
}

// A print file still being written when its trigger appears: the agent waits
// until it has stopped changing for two seconds, and the PDF holds all of it.
TEST(WholeProgram, APrintFileStillBeingWrittenIsTakenWhole) {
    TempDir root;
    const std::string spool = root / "spool/", work = root / "tempozip/", posta = root / "posta";
    write_installation(root);
    write_file(spool + "AB.6.h",
               "6\r\n.\r\nab@example.com\r\ncliente@example.com\r\nTabulato\r\nTABULATO\r\nSAVE\r\n-\r\nLISTA1.txt\r\n");
    write_file(spool + "AB.6.b", "In allegato il tabulato.\r\n");
    write_file(spool + "AB.6.0", "PRIMA RIGA\r\n");
    write_file(spool + "AB.6.T", "");
    // The business software goes on writing for three seconds after the trigger.
    std::vector<std::string> rows;
    std::size_t whole = std::string("PRIMA RIGA\r\n").size();
    for (int row = 1; row <= 20; ++row) {
        rows.push_back((row == 20 ? std::string("ULTIMA RIGA") : "RIGA " + std::to_string(row)) + "\r\n");
        whole += rows.back().size();
    }
    std::thread writer([&] {
        for (const auto& row : rows) {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            std::ofstream(spool + "AB.6.0", std::ios::app) << row;
        }
    });
    const auto r = run_program({std::string(VELARION_BIN_DIR) + "/velarion", "--headless", "--once",
                                "ini:" + root / "cfg", "ope:AB"},
                               {"HOME=" + root / "home", "XDG_RUNTIME_DIR=" + root / "run"});
    writer.join();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_FALSE(fs::exists(spool + "AB.6.T")) << r.out;
    EXPECT_FALSE(fs::exists(work + "non_inviati")) << r.out;
    // The last size check saw the whole file, and the PDF holds its first and last rows.
    EXPECT_NE(r.out.find(" Dimensione di controllo " + spool + "AB.6.0 " + std::to_string(whole)), std::string::npos)
        << r.out;
    int drafts = 0;
    for (const auto& e : fs::recursive_directory_iterator(posta)) drafts += e.is_regular_file();
    EXPECT_EQ(drafts, 1) << r.out;
    const auto text = run_program({"/usr/bin/pdftotext", "-layout", work + "LISTA1.pdf", "-"});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("PRIMA RIGA"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("RIGA 19"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("ULTIMA RIGA"), std::string::npos) << text.out << r.out;
}

// Standard output read by a program that has ended (a pipe into a tool that
// quit, a journal restarted): the agent's writes fail and it goes on, where
// SIGPIPE used to end it in the middle of a message.
TEST(WholeProgram, AnOutputNobodyReadsDoesNotEndTheAgent) {
    TempDir root;
    const std::string spool = root / "spool/", posta = root / "posta";
    write_installation(root);
    for (int n = 7; n <= 9; ++n) {
        const std::string base = spool + "AB." + std::to_string(n);
        write_file(base + ".h", std::to_string(n) +
                                    "\r\n.\r\nab@example.com\r\ncliente@example.com\r\nAvviso\r\n\r\nSAVE\r\n-\r\n");
        write_file(base + ".b", "Testo.\r\n");
        write_file(base + ".T", "");
    }
    // bash reports the agent's own status (pipefail); "true" ends at once.
    const auto r = run_program({"/bin/bash", "-c", "set -o pipefail; \"$@\" | true", "_",
                                std::string(VELARION_BIN_DIR) + "/velarion", "--headless", "--once",
                                "ini:" + root / "cfg", "ope:AB"},
                               {"HOME=" + root / "home", "XDG_RUNTIME_DIR=" + root / "run"});
    EXPECT_EQ(r.status, 0) << r.err;
    int drafts = 0;
    for (const auto& e : fs::recursive_directory_iterator(posta)) drafts += e.is_regular_file();
    EXPECT_EQ(drafts, 3);
    for (int n = 7; n <= 9; ++n) EXPECT_FALSE(fs::exists(spool + "AB." + std::to_string(n) + ".T"));
}

}  // namespace
}  // namespace velarion
