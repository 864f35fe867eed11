// The mail layer against servers and stores that fail: the SMTP server's
// late answer to the end of a message, a connection lost after it, a full
// maildir and an IMAP server over its quota.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/mail/mail.h"
#include "platform/mail/smtp_component.h"
#include "platform/mail/spooled_message.h"
#include "support/mail_servers.h"
#include "support/tmpfs_mount.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using testing::SmtpOptions;
using testing::SmtpServer;
using testing::TempDir;

mail::Message letter(const std::string& attachment = "") {
    mail::Message m;
    m.subject = "Fattura 12";
    m.recipients = {{mail::RecipType::To, "mario.rossi@example.it"}};
    m.note_text = "In allegato.\r\n";
    if (!attachment.empty()) m.attachments = {{0, attachment}};
    return m;
}

mail::Profile profile(const std::string& store, const std::string& transport = "sendmail://localhost") {
    mail::Profile p;
    p.store = store;
    p.transport = transport;
    p.from = "ufficio@velarion.example";
    return p;
}

// The error of an operation that must fail.
template <class F>
NumberedError failure_of(F&& operation) {
    try {
        operation();
    } catch (const NumberedError& e) {
        return e;
    }
    ADD_FAILURE() << "no failure";
    return NumberedError(0, "");
}

std::vector<std::string> drafts_in(const std::string& drafts_folder) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const char* sub : {"cur", "new"})
        for (const auto& e : fs::directory_iterator(drafts_folder + "/" + sub, ec))
            out.push_back(testing::read_file(e.path()));
    return out;
}

// Every other answer waits `timeout`; the answer to the end of the message
// waits `data_timeout`, ten minutes unless set.
TEST(MailFaults, TheAnswerToTheEndOfTheMessageHasItsOwnWait) {
    SmtpServer slow(SmtpOptions{.data_reply_delay = 3});
    if (!slow.skip_reason().empty()) GTEST_SKIP() << slow.skip_reason();
    TempDir dir;
    mail::Profile p = profile("maildir://localhost" + dir / "posta", slow.url());
    p.timeout = 1;
    auto session = mail::open_session(p);
    session->sign_on("", "");
    session->send(letter(), false);
    ASSERT_EQ(slow.messages(1).size(), 1u);
    EXPECT_THAT(slow.messages(1)[0], HasSubstr("X-MailFrom: ufficio@velarion.example\n"));

    p.data_timeout = 1;
    auto hasty = mail::open_session(p);
    hasty->sign_on("", "");
    const NumberedError e = failure_of([&] { hasty->send(letter(), false); });
    EXPECT_EQ(e.retry(), Retry::maybe_delivered) << e.what();
    EXPECT_THAT(e.what(), HasSubstr("il messaggio potrebbe essere stato consegnato"));
    EXPECT_EQ(slow.messages(2).size(), 2u);  // which is why
}

TEST(MailFaults, AConnectionLostAfterTheMessageMayHaveDeliveredIt) {
    SmtpServer dropping(SmtpOptions{.drop_after_data = true});
    if (!dropping.skip_reason().empty()) GTEST_SKIP() << dropping.skip_reason();
    TempDir dir;
    auto session = mail::open_session(profile("maildir://localhost" + dir / "posta", dropping.url()));
    session->sign_on("", "");
    // The caller hears when the whole message has been written, before its end goes.
    mail::Message m = letter();
    int data_ends = 0;
    m.on_data_end = [&] { ++data_ends; };
    const NumberedError e = failure_of([&] { session->send(m, false); });
    EXPECT_EQ(e.retry(), Retry::maybe_delivered) << e.what();
    EXPECT_THAT(e.what(), HasSubstr("connessione chiusa dopo la fine del messaggio"));
    EXPECT_EQ(data_ends, 1);
    EXPECT_EQ(dropping.messages(1).size(), 1u);

    // A caller that cannot record it stops the send before the end goes:
    // nothing is delivered, and the failure is the caller's own.
    m.on_data_end = [] { throw NumberedError(75, "Path/File access error coda", Retry::later); };
    const NumberedError stopped = failure_of([&] { session->send(m, false); });
    EXPECT_EQ(stopped.number(), 75);
    EXPECT_EQ(stopped.retry(), Retry::later);
    EXPECT_EQ(dropping.messages(2, 1000).size(), 1u);
}

// A full maildir: a temporary failure that names the lack of space; once
// space is freed the draft is stored whole. A message that would fit only
// in part is never stored cut short.
TEST(MailFaults, AFullMaildirIsTemporaryAndNeverKeepsAMessageCutShort) {
    testing::SmallTmpfs disk(512 * 1024);
    if (!disk.skip_reason().empty()) GTEST_SKIP() << disk.skip_reason();
    TempDir dir;
    const std::string attachment = dir / "tabulato.pdf";
    testing::write_file(attachment, std::string(40 * 1024, 'p'));  // one message of about 56 KB
    auto session = mail::open_session(profile("maildir://localhost" + disk.path() + "posta"));
    session->sign_on("", "");
    session->save(letter());  // makes the folders
    const std::string drafts = disk.path() + "posta/Drafts";
    ASSERT_EQ(drafts_in(drafts).size(), 1u);

    for (const std::size_t left : {std::size_t{0}, std::size_t{32 * 1024}}) {
        SCOPED_TRACE(left);
        disk.fill(left);
        const NumberedError e = failure_of([&] { session->save(letter(attachment)); });
        EXPECT_EQ(e.retry(), Retry::no_room) << e.what();
        EXPECT_THAT(e.what(), HasSubstr("no space left on device")) << e.what();
        EXPECT_EQ(drafts_in(drafts).size(), 1u);
        disk.free_space();
    }
    session->save(letter(attachment));
    const auto stored = drafts_in(drafts);
    ASSERT_EQ(stored.size(), 2u);
    for (const auto& raw : stored) EXPECT_THAT(raw, HasSubstr("In allegato."));
}

TEST(MailFaults, AnImapServerOverItsQuotaIsTemporaryWithItsOwnWords) {
    testing::ImapServer imap("velarion", "segreta", "", "",
                             "mail_plugins = $mail_plugins quota\n"
                             "plugin {\n  quota = count:User quota\n  quota_rule = *:storage=1K\n"
                             "  quota_vsizes = yes\n}\n");
    if (!imap.skip_reason().empty()) GTEST_SKIP() << imap.skip_reason();
    TempDir dir;
    const std::string attachment = dir / "tabulato.pdf";
    testing::write_file(attachment, std::string(8 * 1024, 'p'));
    auto session = mail::open_session(profile(imap.url()));
    session->sign_on("", "");
    const NumberedError e = failure_of([&] { session->save(letter(attachment)); });
    EXPECT_EQ(e.retry(), Retry::no_room) << e.what();
    EXPECT_THAT(e.what(), HasSubstr("NO [OVERQUOTA]"));
    EXPECT_THAT(e.what(), ::testing::Not(HasSubstr("segreta")));
    EXPECT_TRUE(imap.message_files("Drafts").empty());
}

// TMPDIR names a folder of the test's own while it lasts.
struct PrivateTmpDir {
    explicit PrivateTmpDir(const std::string& dir) {
        const char* old = std::getenv("TMPDIR");
        had_ = old != nullptr;
        if (old) old_ = old;
        setenv("TMPDIR", dir.c_str(), 1);
    }
    ~PrivateTmpDir() {
        if (had_)
            setenv("TMPDIR", old_.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }
    bool had_ = false;
    std::string old_;
};

// A message beyond the memory bound is written out to the temporary folder
// before it goes: a full one is a temporary failure on both SMTP paths, not
// the message's.
TEST(MailFaults, AFullTemporaryFolderIsTemporary) {
    SmtpServer smtp;
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    testing::SmallTmpfs disk(64 * 1024);
    if (!disk.skip_reason().empty()) GTEST_SKIP() << disk.skip_reason();
    TempDir dir;
    const std::string attachment = dir / "tabulato.pdf";
    testing::write_file(attachment, std::string(mail::detail::SpooledMessage::kMemoryBytes, 'p'));
    auto session = mail::open_session(profile("maildir://localhost" + dir / "posta", smtp.url()));
    session->sign_on("", "");
    disk.fill();
    PrivateTmpDir tmp(disk.path());

    const NumberedError e = failure_of([&] { session->send(letter(attachment), false); });
    EXPECT_EQ(e.retry(), Retry::later) << e.what();
    EXPECT_THAT(e.what(), HasSubstr("No space left on device"));

    mail::SmtpComponent c;
    c.SMTPHost = smtp.host_port();
    c.Send({.from = {"ufficio@velarion.example"},
            .to = {{"mario.rossi@example.it"}},
            .attachments = {{.path = attachment}}});
    EXPECT_EQ(c.error(), mail::SmtpError::no_space) << c.error_text();
    EXPECT_TRUE(mail::is_temporary(c.error()));
    EXPECT_TRUE(smtp.messages(0, 0).empty());
}

// A server that cannot check passwords now refuses no account: the sign-on
// fails as for a server that cannot be reached, not as a logon failure
// (which would switch the desktop agent off).
TEST(MailFaults, AnImapServerThatCannotCheckPasswordsRefusesNoAccount) {
    // A second password database that fails for the time being (checkpassword's 111).
    TempDir dir;
    const std::string script = dir / "non_disponibile.sh";
    testing::write_file(script, "#!/bin/sh\nexit 111\n");
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(script, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec |
                                fs::perms::group_read | fs::perms::others_read);
    testing::ImapServer imap("velarion", "segreta", "", "",
                             "passdb {\n  driver = checkpassword\n  args = " + script + "\n}\n");
    if (!imap.skip_reason().empty()) GTEST_SKIP() << imap.skip_reason();
    // A password the first database does not know: the second one cannot be read.
    auto session = mail::open_session(profile(imap.url(false)));
    const NumberedError e = failure_of([&] { session->sign_on("velarion", "un'altra"); });
    EXPECT_NE(e.number(), mail::kLoginFailure) << e.what();
    EXPECT_EQ(e.retry(), Retry::server_down) << e.what();
    EXPECT_THAT(e.what(), HasSubstr("[UNAVAILABLE]"));
}

}  // namespace
}  // namespace velarion
