// The whole agent on a temporary installation: a spool message with a print
// file becomes a draft in a real maildir with the composed PDF attached.
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

TEST(WholeProgram, APrintFileBecomesADraftWithItsPdf) {
    TempDir root;
    const std::string spool = root / "spool/", work = root / "tempozip/", posta = root / "posta";
    fs::create_directories(spool);
    fs::create_directories(root / "loghi");
    fs::create_directories(root / "run");
    write_file(root / "cfg/velarion.ini",
               "[AB]\nEMailAddr=ab@example.com\nPath=" + spool + "\nDir_Loghi=" + root / "loghi/" +
                   "\ntempozip_dir=" + work + "\n[GLOBAL]\nTiming=1000\n[MAPI]\nclient=Posta di prova\nstore=maildir://localhost" +
                   posta + "\n");
    write_file(root / "loghi/loghi.ini", "[TABULATO]\nforzatura=o\n");
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

}  // namespace
}  // namespace velarion
