// Messages that the mail layer stores and sends from a temporary file rather
// than from memory: their attachments arrive byte for byte in a maildir, on
// an IMAP server and through SMTP, and the sent copy has the header a
// transport gives it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "platform/mail/mail.h"
#include "platform/os/process.h"
#include "support/mail_servers.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using testing::ImapServer;
using testing::SmtpServer;
using testing::TempDir;

// "name size md5" of each attachment of a raw message, read by Python's email package.
std::string attachment_digests(const std::string& raw) {
    TempDir d;
    testing::write_file(d / "m.eml", raw);
    testing::write_file(d / "digest.py", R"PY(
import hashlib, sys
from email import policy
from email.parser import BytesParser
m = BytesParser(policy=policy.default).parse(open(sys.argv[1], 'rb'))
for part in m.iter_attachments():
    data = part.get_content()
    if isinstance(data, str):
        data = data.encode()
    print(part.get_filename(), len(data), hashlib.md5(data).hexdigest())
)PY");
    return process::run_capture({"/usr/bin/python3", d / "digest.py", d / "m.eml"}).value_or("python3 failed");
}

std::string md5_of(const std::string& path) {
    const std::string out = process::run_capture({"md5sum", path}).value_or("");
    return out.substr(0, out.find(' '));
}

// A binary file of a few megabytes: every byte value, in an order that
// does not repeat soon.
std::string make_binary(const TempDir& dir, const std::string& name, std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t x = 12345;
    for (char& c : bytes) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    testing::write_file(dir / name, bytes);
    return dir / name;
}

std::vector<std::string> maildir_messages(const std::string& folder) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const char* sub : {"cur", "new"})
        for (const auto& e : fs::directory_iterator(folder + "/" + sub, ec)) out.push_back(testing::read_file(e.path()));
    return out;
}

struct MailStream : ::testing::Test {
    TempDir dir;
    std::string archive, listing;
    mail::Message message;

    void SetUp() override {
        archive = make_binary(dir, "archivio.zip", 3 * 1024 * 1024 + 17);
        listing = make_binary(dir, "tabulato.pdf", 700 * 1024);
        message.subject = "Allegati grandi";
        message.recipients = {{mail::RecipType::To, "mario.rossi@example.it"},
                              {mail::RecipType::Bcc, "archivio@example.it"}};
        message.note_text = "  \r\nIn allegato.\r\n";
        message.attachments = {{1, listing}, {0, archive}};
    }
    std::string expected() const {
        std::ostringstream out;
        out << "archivio.zip " << fs::file_size(archive) << " " << md5_of(archive) << "\n";
        out << "tabulato.pdf " << fs::file_size(listing) << " " << md5_of(listing) << "\n";
        return out.str();
    }
};

// TMPDIR names a folder of the test's own while it lasts.
struct PrivateTmpDir {
    explicit PrivateTmpDir(const std::string& dir) {
        const char* old = std::getenv("TMPDIR");
        if (old) old_ = old;
        had_ = old != nullptr;
        fs::create_directories(dir);
        setenv("TMPDIR", dir.c_str(), 1);
    }
    ~PrivateTmpDir() {
        if (had_) setenv("TMPDIR", old_.c_str(), 1);
        else unsetenv("TMPDIR");
    }
    bool had_ = false;
    std::string old_;
};

TEST_F(MailStream, DraftsInAMaildirKeepTheirAttachmentsAndBlindCopies) {
    PrivateTmpDir tmp(dir / "tmp");  // where the messages are written out
    mail::Profile p;
    p.store = "maildir://localhost" + dir / "posta";
    p.from = "ufficio@velarion.example";
    auto session = mail::open_session(p);
    session->sign_on("", "");
    session->save(message);
    session->save(message);
    const auto drafts = maildir_messages(dir / "posta/Drafts");
    ASSERT_EQ(drafts.size(), 2u);
    for (const auto& raw : drafts) {
        EXPECT_EQ(attachment_digests(raw), expected());
        EXPECT_THAT(testing::describe_mime(raw), HasSubstr("bcc: archivio@example.it\n"));  // for the user to see
    }
    // Nothing of the temporary files is left.
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
}

TEST_F(MailStream, DraftsOnImapKeepTheirAttachments) {
    ImapServer imap;
    if (!imap.skip_reason().empty()) GTEST_SKIP() << imap.skip_reason();
    mail::Profile p;
    p.store = imap.url();
    p.from = "ufficio@velarion.example";
    auto session = mail::open_session(p);
    session->sign_on("", "");
    session->save(message);
    const auto drafts = imap.messages("Drafts");
    ASSERT_EQ(drafts.size(), 1u);
    EXPECT_EQ(attachment_digests(drafts[0]), expected());
}

TEST_F(MailStream, SentMessagesGoThroughSmtpWithTheTransportsHeader) {
    SmtpServer smtp;
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    mail::Profile p;
    p.store = "maildir://localhost" + dir / "posta";
    p.transport = smtp.url();
    p.from = "ufficio@velarion.example";
    auto session = mail::open_session(p);
    session->sign_on("", "");
    session->send(message, false);
    const auto sent = smtp.messages(1);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(attachment_digests(sent[0]), expected());
    const std::string d = testing::describe_mime(sent[0]);
    EXPECT_THAT(d, HasSubstr("bcc: None\n"));  // the blind copy only in the envelope
    EXPECT_THAT(d, HasSubstr("rcptto: mario.rossi@example.it, archivio@example.it\n"));
    // The transport's header fields (the message is too long to print).
    const std::string head = sent[0].substr(0, sent[0].find("\n\n"));
    EXPECT_THAT(head, HasSubstr("\nMessage-Id: <"));
    EXPECT_THAT(head, HasSubstr("\nDate: "));
    EXPECT_THAT(head, HasSubstr("\nMime-Version: 1.0"));
}

}  // namespace
}  // namespace velarion
