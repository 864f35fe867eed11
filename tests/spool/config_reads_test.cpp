// Messages take the mail, TLS, fax and timing keys from the settings loaded
// at start-up: velarion.ini is not opened again while they are delivered.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/os/ini_file.h"
#include "spool/spool_fixture.h"
#include "support/mail_servers.h"

namespace fs = std::filesystem;

namespace velarion::testing {
namespace {

using ConfigReads = SpoolFixture;

TEST_F(ConfigReads, DeliveringMessagesOpensNoConfigurationFile) {
    SmtpServer smtp;
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    scanner.set_deliver(nullptr);  // the dispatcher and its mail layer
    cfg.op.EMailAddr = "ufficio@velarion.example";
    cfg.host.documents_dir = root / "Documenti";
    // Every key a message reads: the store, drafts folder and transport, the
    // compose form's receipt exception, TLS, the data wait, the fax gateway.
    write_file(root / "velarion.ini",
               "[AB]\nPath=x\n[GLOBAL]\nTiming=2000\nfax_gateway=telefax\nsmtp_attesa_dati=120\n"
               "[MAPI]\nclient=Microsoft Outlook\nstore=maildir://localhost" + root / "posta" + "\ntransport=" +
                   smtp.url() + "\nsenza_ricevuta=archivio@example.it\n"
               "[TLS]\nindirizzi_locali=127.0.0.1;::1\n[CDO]\ntimeout=20\n");
    load_ini_keys(cfg);
    const int before = ini::times_read(cfg.ini_path());

    write_message("AB.1", header("S1", "mario.rossi@example.it"), "primo");
    write_message("AB.2", header("D1", "anna.bianchi@example.it", {}, "SAVE"), "bozza");
    scan();
    EXPECT_EQ(smtp.messages(1).size(), 1u) << dump();
    EXPECT_FALSE(fs::exists(spool + "AB.1.T")) << dump();
    EXPECT_FALSE(fs::exists(spool + "AB.2.T")) << dump();  // the draft is in the store
    EXPECT_EQ(ini::times_read(cfg.ini_path()), before);
}

}  // namespace
}  // namespace velarion::testing
