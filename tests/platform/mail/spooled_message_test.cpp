// The generated message read back by the store or the transport: in memory
// up to the bound, in an unnamed temporary file beyond it, the same bytes
// either way; and the maildir folders a draft went into synced on request.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "platform/mail/mail.h"
#include "platform/mail/spooled_message.h"
#include "support/mail_servers.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

vmime::shared_ptr<vmime::message> text_message(std::size_t body_bytes) {
    vmime::messageBuilder b;
    b.setExpeditor(vmime::mailbox("ufficio@velarion.example"));
    b.getRecipients().appendAddress(vmime::make_shared<vmime::mailbox>("mario.rossi@example.it"));
    b.setSubject(vmime::text("Fattura"));
    std::string body;
    for (std::size_t i = 0; body.size() < body_bytes; ++i) body += "riga " + std::to_string(i) + "\r\n";
    b.getTextPart()->setText(vmime::make_shared<vmime::stringContentHandler>(body));
    return b.construct();
}

std::string generated(const vmime::message& m) {
    std::ostringstream out;
    vmime::utility::outputStreamAdapter adapter(out);
    m.generate(adapter);
    return out.str();
}

std::string read_all(vmime::utility::inputStream& in) {
    std::string out;
    vmime::byte_t buffer[4096];
    while (!in.eof()) out.append(reinterpret_cast<const char*>(buffer), in.read(buffer, sizeof buffer));
    return out;
}

// TMPDIR names a folder of the test's own while it lasts.
struct PrivateTmpDir {
    explicit PrivateTmpDir(const std::string& dir) {
        if (const char* old = std::getenv("TMPDIR")) old_ = old, had_ = true;
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

TEST(SpooledMessage, ReadsBackTheGeneratedBytesFromMemoryOrFromATemporaryFile) {
    TempDir dir;
    PrivateTmpDir tmp(dir / "tmp");
    const auto message = text_message(20 * 1024);
    const std::string expected = generated(*message);

    mail::detail::SpooledMessage small(*message);  // well below the bound
    EXPECT_FALSE(small.on_file());
    EXPECT_EQ(small.size(), expected.size());
    EXPECT_EQ(read_all(small.stream()), expected);
    EXPECT_EQ(read_all(small.stream()), expected);  // again from the start, as a second try reads it

    mail::detail::SpooledMessage large(*message, 4096);  // past the bound at its first parts
    EXPECT_TRUE(large.on_file());
    EXPECT_EQ(large.size(), expected.size());
    EXPECT_EQ(read_all(large.stream()), expected);
    EXPECT_EQ(read_all(large.stream()), expected);
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));  // unnamed: nothing is left behind
}

TEST(SpooledMessage, DraftsFoldersAreSyncedOnceWhenAsked) {
    TempDir dir;
    mail::Profile p;
    p.store = "maildir://localhost" + dir / "posta";
    p.from = "ufficio@velarion.example";
    auto session = mail::open_session(p);
    session->sign_on("", "");
    mail::Message m;
    m.subject = "Bozza";
    m.recipients = {{mail::RecipType::To, "mario.rossi@example.it"}};
    m.note_text = "Testo\r\n";
    mail::sync_stored_drafts();  // whatever an earlier test left pending
    session->save(m);
    session->save(m);
    int stored = 0;
    for (const auto& e : fs::directory_iterator(dir / "posta/Drafts/cur")) {
        (void)e;
        ++stored;
    }
    EXPECT_EQ(stored, 2);
    EXPECT_TRUE(fs::is_empty(dir / "posta/Drafts/tmp"));
    EXPECT_EQ(mail::sync_stored_drafts(), "");
    // The folder gone: nothing is pending any more, so nothing fails.
    fs::remove_all(dir / "posta");
    EXPECT_EQ(mail::sync_stored_drafts(), "");
}

}  // namespace
}  // namespace velarion
