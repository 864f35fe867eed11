// The MIME bytes of a message (a text part and its attachments) written
// straight from its parts, the same bytes the library's messageBuilder and
// generation write, without building the library's tree of the message.
// Internal to platform/.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>
#include <vmime/vmime.hpp>

namespace velarion::mail::detail {

// An attachment, read from its start through an open file (the caller's,
// or one the writer opens by `path` when fd is -1).
struct LetterAttachment {
    int fd = -1;
    std::string path;
    vmime::mediaType type;
    vmime::word filename;
};

// A message as the mail layer makes it.
struct Letter {
    vmime::shared_ptr<vmime::mailbox> from;
    vmime::addressList to, cc, bcc;
    vmime::text subject;
    std::string body;                                // the text part (UTF-8)
    std::vector<LetterAttachment> attachments;
    std::string message_id;                          // "left@right"; empty: none given
    vmime::shared_ptr<vmime::mailbox> reply_to;      // set: a Reply-To field
    vmime::shared_ptr<vmime::mailbox> receipt_to;    // set: a read receipt asked of the reader
};

// Throws the library's no_recipient when the letter has no recipient at all
// (its builder's check: a first To that is an empty mailbox, and no Cc or Bcc).
void check_recipients(const Letter& letter);

// What the bytes are for. As built (a draft, or the SMTP component's
// message, whose blind copies are in the envelope only): the header as the
// library's builder makes it, Bcc included, a Message-Id only when one is
// given. For the transport: as the library's transport sends a message (no
// Bcc; a new Message-Id, last, when none is given).
enum class LetterUse { as_built, transport };

// Writes letters; the parameterized header fields it writes are made once
// and reused, the others written from their values, and the lines that are the same from one message to the next (the
// MIME-Version, the text part's type and encodings, the Date within one
// second, the same From) are generated once and copied. One thread at a time.
class MimeWriter {
public:
    MimeWriter();

    // Throws the library's no_recipient when the letter has none (as its
    // builder does), std::system_error when an attachment cannot be read.
    void write(const Letter& letter, LetterUse use, vmime::utility::outputStream& os) const;

private:
    // The text part's transfer encoding and its encoded bytes.
    vmime::encoding text_encoding(const std::string& body) const;
    void text(const std::string& body, const vmime::encoding& encoding, vmime::utility::outputStream& os) const;
    void field(vmime::headerField& f, vmime::utility::outputStream& os) const;
    void field(std::string_view name, const vmime::component& value, vmime::utility::outputStream& os) const;
    // The field's line as the library generates it, with its line ending.
    std::string line(vmime::headerField& f) const;
    const std::string& encoding_line(const vmime::encoding& encoding) const;
    void attachment(const LetterAttachment& a, vmime::utility::outputStream& os) const;

    vmime::shared_ptr<vmime::headerField> date_, mime_version_, type_, transfer_encoding_, part_type_, disposition_;

    std::string mime_version_line_, text_type_line_, seven_bit_line_, quoted_printable_line_, base64_line_;
    mutable time_t date_second_ = -1;  // the second date_line_ was made for
    mutable std::string date_line_;
    mutable vmime::mailbox from_seen_;  // the From of from_line_
    mutable std::string from_line_;
};

// Base64 of `size` bytes in lines of 72 characters, a line ending after
// every 54 bytes, as the library's encoder writes MIME bodies; `data` starts
// a line.
void append_base64_lines(const unsigned char* data, std::size_t size, std::string& out);

}  // namespace velarion::mail::detail
