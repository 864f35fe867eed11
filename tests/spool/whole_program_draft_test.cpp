// The whole agent with "tipoinvio" "SEMPRE SEND": a message whose line 4 holds
// a customer code instead of an address becomes a draft for the user to
// finish, with the code kept as written, and is not parked as undelivered.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using testing::run_program;
using testing::TempDir;
using testing::write_file;

TEST(WholeProgram, ACustomerCodeWithSempreSendBecomesADraft) {
    TempDir root;
    const std::string spool = root / "spool/", work = root / "tempozip/", posta = root / "posta";
    fs::create_directories(spool);
    fs::create_directories(root / "loghi");
    fs::create_directories(root / "run");
    write_file(root / "cfg/velarion.ini",
               "[AB]\nEMailAddr=ab@example.com\ntipoinvio=SEMPRE SEND\nPath=" + spool + "\nDir_Loghi=" +
                   root / "loghi/" + "\ntempozip_dir=" + work +
                   "\n[GLOBAL]\nTiming=1000\n[MAPI]\nclient=Microsoft Outlook\nstore=maildir://localhost" + posta +
                   "\n");
    write_file(root / "loghi/loghi.ini", "");
    write_file(spool + "AB.7.h", "AB0000000007\r\n.\r\nab@example.com\r\nCLI0042\r\nSollecito\r\n.\r\nSEND\r\n");
    write_file(spool + "AB.7.b", "Gentile cliente,\r\n.///###Dufficio@example.com\r\n");
    write_file(spool + "AB.7.T", "");

    const auto r = run_program({std::string(VELARION_BIN_DIR) + "/velarion", "--headless", "--once",
                                "ini:" + root / "cfg", "ope:AB"},
                               {"HOME=" + root / "home", "XDG_RUNTIME_DIR=" + root / "run"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(" Salvato 0000000007 - CLI0042;ufficio@example.com"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Sconosciuto"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(work + "non_inviati")) << r.out;

    std::string draft;
    int drafts = 0;
    for (const auto& e : fs::recursive_directory_iterator(posta))
        if (e.is_regular_file()) {
            draft = e.path().string();
            ++drafts;
        }
    ASSERT_EQ(drafts, 1) << r.out;
    EXPECT_NE(draft.find("/Drafts/"), std::string::npos) << draft;
    const auto py = run_program({"/usr/bin/python3", "-c",
                                 "import email,sys\n"
                                 "m=email.message_from_binary_file(open(sys.argv[1],'rb'))\n"
                                 "print(m['To'])\n",
                                 draft});
    ASSERT_EQ(py.status, 0) << py.err;
    EXPECT_EQ(py.out, "CLI0042:;, ufficio@example.com\n");
}

}  // namespace
}  // namespace velarion
