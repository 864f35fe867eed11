// The message writer against the library's own builder and generation:
// the same bytes (but for the random boundary, the date and a made-up
// Message-Id), for drafts and for the transport, with texts the library
// encodes, folds or sends as base64, and attachments of every length a
// base64 line can end on.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <regex>

#include "platform/mail/mime_writer.h"
#include "platform/mail/vmime_support.h"
#include "support/test_support.h"

namespace velarion {
namespace {

namespace detail = mail::detail;
using testing::TempDir;

struct File {
    std::string name;
    std::string data;
};

// What the mail layer puts in a message.
struct Parts {
    std::string from = "ufficio@velarion.example";
    std::vector<std::string> to = {"cliente@example.it"}, cc, bcc;
    std::string subject = "Fattura FT2026-0042";
    std::string body = "Buongiorno,\r\nin allegato la fattura.\r\n";
    std::vector<File> files;
    std::string id = "AB.100001.1c60a31c1f27@vm";
    bool receipt = true;
};

vmime::word utf8_word(const std::string& s) { return vmime::word(s, detail::utf8_charset()); }

std::string write_file(const TempDir& dir, const File& f) {
    const std::string path = dir / f.name;
    std::ofstream(path, std::ios::binary) << f.data;
    return path;
}

// The text part's content as the mail layer gave it to the library: a
// body with a NUL or a CR that ends no line encoded in base64 beforehand.
vmime::shared_ptr<vmime::contentHandler> body_content(const std::string& utf8) {
    bool raw_controls = false;
    for (std::size_t i = 0; i < utf8.size() && !raw_controls; ++i)
        raw_controls = utf8[i] == '\0' || (utf8[i] == '\r' && (i + 1 == utf8.size() || utf8[i + 1] != '\n'));
    auto plain = vmime::make_shared<vmime::stringContentHandler>(utf8);
    if (!raw_controls) return plain;
    const vmime::encoding base64(vmime::encodingTypes::BASE64);
    std::string encoded;
    vmime::utility::outputStreamStringAdapter os(encoded);
    plain->generate(os, base64, 76);
    os.flush();
    return vmime::make_shared<vmime::stringContentHandler>(encoded, base64);
}

// As the mail layer built messages with the library's builder.
std::string by_library(const Parts& p, const TempDir& dir, bool transport) {
    vmime::messageBuilder mb;
    mb.setExpeditor(*detail::parse_mailbox(p.from));
    for (const auto& a : p.to) mb.getRecipients().appendAddress(detail::parse_mailbox(a));
    for (const auto& a : p.cc) mb.getCopyRecipients().appendAddress(detail::parse_mailbox(a));
    for (const auto& a : p.bcc) mb.getBlindCopyRecipients().appendAddress(detail::parse_mailbox(a));
    mb.setSubject(vmime::text(utf8_word(p.subject)));
    mb.getTextPart()->setCharset(detail::utf8_charset());
    mb.getTextPart()->setText(body_content(p.body));
    for (const auto& f : p.files) {
        auto att = vmime::make_shared<vmime::fileAttachment>(write_file(dir, f), detail::type_for(f.name));
        att->getFileInfo().setFilename(utf8_word(f.name));
        mb.appendAttachment(att);
    }
    auto msg = mb.construct();
    if (!p.id.empty()) {
        const auto at = p.id.rfind('@');
        msg->getHeader()->MessageId()->setValue(vmime::messageId(p.id.substr(0, at), p.id.substr(at + 1)));
    }
    if (p.receipt) vmime::mdn::MDNHelper::attachMDNRequest(msg, *detail::parse_mailbox(p.from));
    if (transport) {
        // What the library's send(message) sends: no Bcc, Return-Path or
        // Original-Recipient; a Message-Id made up when there is none.
        auto header = vmime::clone(msg->getHeader());
        for (const char* name : {vmime::fields::BCC, vmime::fields::RETURN_PATH, vmime::fields::ORIGINAL_RECIPIENT})
            while (header->hasField(name)) header->removeField(header->findField(name));
        if (!header->hasField(vmime::fields::MESSAGE_ID)) header->MessageId()->setValue(vmime::messageId::generateId());
        msg->setHeader(header);
    }
    std::string out;
    vmime::utility::outputStreamStringAdapter os(out);
    msg->generate(os);
    return out;
}

std::string by_writer(const Parts& p, const TempDir& dir, bool transport) {
    detail::Letter l;
    l.from = detail::parse_mailbox(p.from);
    for (const auto& a : p.to) l.to.appendAddress(detail::parse_mailbox(a));
    for (const auto& a : p.cc) l.cc.appendAddress(detail::parse_mailbox(a));
    for (const auto& a : p.bcc) l.bcc.appendAddress(detail::parse_mailbox(a));
    l.subject = vmime::text(utf8_word(p.subject));
    l.body = p.body;
    std::vector<int> fds;
    for (const auto& f : p.files) {
        detail::LetterAttachment a;
        a.path = write_file(dir, f);
        a.fd = ::open(a.path.c_str(), O_RDONLY | O_CLOEXEC);
        fds.push_back(a.fd);
        a.type = detail::type_for(f.name);
        a.filename = utf8_word(f.name);
        l.attachments.push_back(a);
    }
    l.message_id = p.id;
    if (p.receipt) l.receipt_to = detail::parse_mailbox(p.from);
    std::string out;
    vmime::utility::outputStreamStringAdapter os(out);
    detail::MimeWriter().write(l, transport ? detail::LetterUse::transport : detail::LetterUse::as_built, os);
    os.flush();
    for (int fd : fds) ::close(fd);
    return out;
}

// The boundary, the date and a made-up Message-Id replaced by fixed texts.
std::string steady(std::string m) {
    const std::regex boundary("boundary=\"([^\"]+)\"");
    std::smatch found;
    if (std::regex_search(m, found, boundary)) {
        const std::string b = found[1];
        for (std::size_t at; (at = m.find(b)) != std::string::npos;) m.replace(at, b.size(), "BOUNDARY");
    }
    m = std::regex_replace(m, std::regex("Date: [^\r]*\r\n"), "Date: D\r\n");
    return std::regex_replace(m, std::regex("Message-Id: <[^@]*@[^>]*>\r\n$|Message-Id: <[0-9a-z.]+@[^>]*>\r\n\r\n"),
                              "Message-Id: <ID>\r\n");
}

void expect_same(const Parts& p, const std::string& what) {
    detail::init_platform();
    for (const bool transport : {false, true}) {
        TempDir a, b;
        const std::string library = by_library(p, a, transport), writer = by_writer(p, b, transport);
        EXPECT_EQ(steady(library), steady(writer)) << what << (transport ? " (transport)" : " (draft)");
    }
}

TEST(MimeWriter, WritesTheLibrarysBytesForPlainAndFoldedAndEncodedHeaders) {
    Parts p;
    expect_same(p, "invoice without attachment");
    p.cc = {"Mario Rossi <mario.rossi@example.it>", "Zoë Müller <zoe@example.de>"};
    p.bcc = {"archivio@velarion.example"};
    p.subject = "Fattura n. 42 del 10/12/2026 — saldo già versato, nessun pagamento dovuto, grazie per la fiducia";
    p.body = "Città: Forlì\r\nÈ già pagata.\r\n.una riga che inizia col punto\r\n";
    expect_same(p, "names, subject and body beyond ASCII");
    p.body = std::string(300, 'x') + "\r\n";
    p.receipt = false;
    expect_same(p, "a line longer than 7bit allows");
    p.body = std::string("NUL\0dentro\r", 11);
    expect_same(p, "a body the library sends as base64");
    p.body = "àèìòù àèìòù àèìòù àèìòù àèìòù àèìòù\r\n";
    p.id.clear();
    expect_same(p, "a body mostly beyond ASCII, a Message-Id made up");
    p.body.clear();
    expect_same(p, "no body");
    p.body = "DEL \x7f\r\n";
    expect_same(p, "a DEL");
    for (int i = 0; p.body.size() < 40000; ++i) p.body += "riga " + std::to_string(i) + "\r\n";
    expect_same(p, "a body of 40 KB");
    p.body = std::string(78, 'x') + "\r\n" + std::string(77, 'y') + "\n.\r\n";
    expect_same(p, "lines of 78 characters and a dot");
}

TEST(MimeWriter, WritesTheLibrarysBytesForAttachmentsOfEveryLineEnd) {
    Parts p;
    std::string bytes;
    for (int i = 0; i < 200000; ++i) bytes += static_cast<char>((i * 7919) % 251);
    for (const std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{52}, std::size_t{53},
                                std::size_t{54}, std::size_t{55}, std::size_t{108}, std::size_t{54 * 1024},
                                std::size_t{54 * 1024 + 1}, std::size_t{200000}}) {
        p.files = {{"FATT" + std::to_string(n) + ".pdf", bytes.substr(0, n)}};
        expect_same(p, std::to_string(n) + " bytes");
    }
    p.files = {{"Fattura perché è già.pdf", bytes.substr(0, 1000)}, {"dati.zip", bytes.substr(0, 77)},
               {"nota.txt", "testo\r\n"}, {"senza", "x"}};
    p.to = {"Zoë <zoe@example.de>", "b@example.it"};
    expect_same(p, "several attachments, a name beyond ASCII");
}

// The caller's file may have been read already: the attachment is the whole
// file all the same, and the caller finds its offset where it was.
TEST(MimeWriter, ReadsTheWholeAttachmentWithoutMovingTheCallersOffset) {
    detail::init_platform();
    TempDir dir;
    const std::string data = "%PDF-1.4\n" + std::string(5000, 'a') + "\n%%EOF\n";
    const std::string path = write_file(dir, {"FATT1.pdf", data});
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    char head[9];
    ASSERT_EQ(::read(fd, head, sizeof head), 9);
    detail::Letter l;
    l.from = detail::parse_mailbox("ufficio@velarion.example");
    l.to.appendAddress(detail::parse_mailbox("cliente@example.it"));
    l.body = "x";
    l.attachments.push_back({fd, path, detail::type_for("FATT1.pdf"), utf8_word("FATT1.pdf")});
    std::string out;
    vmime::utility::outputStreamStringAdapter os(out);
    detail::MimeWriter().write(l, detail::LetterUse::transport, os);
    EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 9);
    ::close(fd);
    std::string encoded;
    detail::append_base64_lines(reinterpret_cast<const unsigned char*>(data.data()), data.size(), encoded);
    EXPECT_NE(out.find("size=" + std::to_string(data.size()) + "\r\n\r\n" + encoded + "\r\n--"), std::string::npos);
}

TEST(MimeWriter, DatesTheMessageAsTheLibraryWithTheZonesOffset) {
    detail::init_platform();
    const char* old = std::getenv("TZ");
    const std::string kept = old ? old : "";
    setenv("TZ", "America/St_Johns", 1);  // half an hour off, and daylight saving time
    tzset();
    Parts p;
    TempDir dir;
    std::string library, writer;
    for (int tries = 0; tries < 3 && (library.empty() || library != writer); ++tries) {
        writer = by_writer(p, dir, false);
        writer = writer.substr(writer.find("\r\nDate: ") + 2);
        writer = writer.substr(0, writer.find("\r\n"));
        library = "Date: " + vmime::datetime::now().generate();
    }
    EXPECT_EQ(library, writer);
    EXPECT_NE(writer.find(" -0"), std::string::npos) << writer;
    if (old) setenv("TZ", kept.c_str(), 1);
    else unsetenv("TZ");
    tzset();
}

TEST(MimeWriter, RefusesAMessageWithoutRecipientsAsTheBuilderDoes) {
    detail::init_platform();
    detail::Letter l;
    l.from = detail::parse_mailbox("ufficio@velarion.example");
    l.body = "x";
    std::string out;
    vmime::utility::outputStreamStringAdapter os(out);
    EXPECT_THROW(detail::MimeWriter().write(l, detail::LetterUse::transport, os), vmime::exceptions::no_recipient);
}

}  // namespace
}  // namespace velarion
