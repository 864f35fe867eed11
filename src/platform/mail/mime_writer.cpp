#include "platform/mail/mime_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <string_view>
#include <system_error>
#include <vmime/contentDispositionField.hpp>
#include <vmime/contentTypeField.hpp>

namespace velarion::mail::detail {

namespace {

// The library's default generation: lines of 78 characters at most.
const vmime::generationContext& context() { return vmime::generationContext::getDefaultContext(); }

void put(vmime::utility::outputStream& os, std::string_view text) { os.write(text.data(), text.size()); }

vmime::shared_ptr<vmime::headerField> make_field(const char* name) {
    return vmime::headerFieldFactory::getInstance()->create(name);
}

// The text the library writes before the first part of a multipart message
// (its default prolog, folded as it folds it).
constexpr const char* kProlog =
    "This is a multi-part message in MIME format. Your mail reader does not\r\n"
    "understand MIME message format.\r\n";

// Bytes of an attachment read and encoded at a time: whole lines of base64.
constexpr std::size_t kBlock = 54 * 1024;

// An open file closed when it goes (only one the writer opened itself). A
// path is opened as given, never waiting on a FIFO put in its place.
class ReadFile {
public:
    explicit ReadFile(const LetterAttachment& a) : fd_(a.fd) {
        if (fd_ >= 0) return;
        fd_ = owned_ = ::open(a.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "cannot open the attachment " + a.path);
    }
    ~ReadFile() {
        if (owned_ >= 0) ::close(owned_);
    }
    ReadFile(const ReadFile&) = delete;
    ReadFile& operator=(const ReadFile&) = delete;
    int fd() const { return fd_; }

private:
    int fd_ = -1;
    int owned_ = -1;
};

// The library's now() finds the zone with two mktime calls, each of which
// reads the time zone file again (two stat calls a message when TZ is
// unset); localtime_r gives the same fields and the zone's offset from the
// zone read once.
vmime::datetime date_at(const time_t t) {
    tm local{};
    ::localtime_r(&t, &local);
    return vmime::datetime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                           local.tm_sec, static_cast<int>(local.tm_gmtoff / 60));
}

// A NUL, or a CR that ends no line, cannot travel as 7bit or 8bit text:
// such a body goes base64, so that it arrives byte for byte and no server
// or reader meets a bare control.
bool raw_controls(const std::string& utf8) {
    for (std::size_t i = 0; i < utf8.size(); ++i)
        if (utf8[i] == '\0' || (utf8[i] == '\r' && (i + 1 == utf8.size() || utf8[i + 1] != '\n'))) return true;
    return false;
}

// The library's choice for a text in UTF-8 (encoding::decide, which has no
// encoding of its own for the charset): 7bit for ASCII (bytes below 127) in
// lines of at most 78 characters, none starting with a dot; else
// quoted-printable up to a fifth of other bytes; else base64, as for an
// empty text or one of 32 KB or more.
vmime::encoding decide(const std::string& text) {
    if (text.empty() || text.size() >= 32768) return vmime::encoding(vmime::encodingTypes::BASE64);
    std::size_t ascii = 0;
    for (const char c : text) ascii += static_cast<unsigned char>(c) < 127;
    if (ascii == text.size()) {
        const std::size_t max = vmime::lineLengthLimits::convenient;
        std::size_t len = 0;
        for (std::size_t i = 0; i < text.size() && len <= max;) {
            if (text[i] == '\n') {
                len = 0;
                ++i;
                if (i < text.size() && text[i] == '.') len = max + 1;
            } else {
                ++len;
                ++i;
            }
        }
        return vmime::encoding(len > max ? vmime::encodingTypes::QUOTED_PRINTABLE : vmime::encodingTypes::SEVEN_BIT);
    }
    if (text.size() - ascii <= text.size() / 5) return vmime::encoding(vmime::encodingTypes::QUOTED_PRINTABLE);
    return vmime::encoding(vmime::encodingTypes::BASE64);
}

}  // namespace

vmime::encoding MimeWriter::text_encoding(const std::string& body) const {
    if (raw_controls(body)) return vmime::encoding(vmime::encodingTypes::BASE64);
    return decide(body);
}

// 7bit goes as it is and base64 in the library's lines; quoted-printable
// through the library's encoder.
void MimeWriter::text(const std::string& body, const vmime::encoding& encoding,
                      vmime::utility::outputStream& os) const {
    if (encoding.getName() == vmime::encodingTypes::SEVEN_BIT) {
        put(os, body);
    } else if (encoding.getName() == vmime::encodingTypes::BASE64) {
        std::string out;
        append_base64_lines(reinterpret_cast<const unsigned char*>(body.data()), body.size(), out);
        put(os, out);
    } else {
        vmime::stringContentHandler content(body);
        content.setContentTypeHint(vmime::mediaType(vmime::mediaTypes::TEXT, vmime::mediaTypes::TEXT_PLAIN));
        content.generate(os, encoding, context().getMaxLineLength());
    }
}

// The library's encoder goes a byte at a time through virtual stream reads;
// this is the same output (18 groups of four characters, then CRLF) over a
// whole block at once.
void append_base64_lines(const unsigned char* data, std::size_t size, std::string& out) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    out.reserve(out.size() + (size + 2) / 3 * 4 + (size / 54 + 1) * 2);
    std::size_t groups = 0;
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const unsigned v = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
        const char quad[4] = {alphabet[v >> 18], alphabet[(v >> 12) & 63], alphabet[(v >> 6) & 63], alphabet[v & 63]};
        out.append(quad, 4);
        if (++groups % 18 == 0) out.append("\r\n", 2);
    }
    if (i < size) {
        const unsigned v = (data[i] << 16) | (i + 1 < size ? data[i + 1] << 8 : 0);
        const char quad[4] = {alphabet[v >> 18], alphabet[(v >> 12) & 63], i + 1 < size ? alphabet[(v >> 6) & 63] : '=',
                              '='};
        out.append(quad, 4);
        if (++groups % 18 == 0) out.append("\r\n", 2);
    }
}

MimeWriter::MimeWriter()
    : date_(make_field(vmime::fields::DATE)),
      mime_version_(make_field(vmime::fields::MIME_VERSION)),
      type_(make_field(vmime::fields::CONTENT_TYPE)),
      transfer_encoding_(make_field(vmime::fields::CONTENT_TRANSFER_ENCODING)),
      part_type_(make_field(vmime::fields::CONTENT_TYPE)),
      disposition_(make_field(vmime::fields::CONTENT_DISPOSITION)) {
    mime_version_->setValue(vmime::string(vmime::SUPPORTED_MIME_VERSION));
    disposition_->setValue(vmime::contentDisposition(vmime::contentDispositionTypes::ATTACHMENT));
    mime_version_line_ = line(*mime_version_);
    auto& type = dynamic_cast<vmime::contentTypeField&>(*part_type_);
    type.setValue(vmime::mediaType(vmime::mediaTypes::TEXT, vmime::mediaTypes::TEXT_PLAIN));
    type.setCharset(vmime::charset(vmime::charsets::UTF_8));
    text_type_line_ = line(type);
    for (auto [name, text] : {std::pair{vmime::encodingTypes::SEVEN_BIT, &seven_bit_line_},
                              std::pair{vmime::encodingTypes::QUOTED_PRINTABLE, &quoted_printable_line_},
                              std::pair{vmime::encodingTypes::BASE64, &base64_line_}}) {
        transfer_encoding_->setValue(vmime::encoding(name));
        *text = line(*transfer_encoding_);
    }
}

void MimeWriter::field(vmime::headerField& f, vmime::utility::outputStream& os) const {
    f.generate(context(), os);
    put(os, "\r\n");
}

// What a field of this name holding the value generates (a field writes its
// name, ": " and its value from that column), without copying the value
// into a field first. Not for parameterized fields, which write their own.
void MimeWriter::field(std::string_view name, const vmime::component& value, vmime::utility::outputStream& os) const {
    put(os, name);
    put(os, ": ");
    value.generate(context(), os, name.size() + 2);
    put(os, "\r\n");
}

std::string MimeWriter::line(vmime::headerField& f) const {
    std::string out;
    vmime::utility::outputStreamStringAdapter os(out);
    field(f, os);
    os.flush();
    return out;
}

const std::string& MimeWriter::encoding_line(const vmime::encoding& encoding) const {
    const std::string name = encoding.getName();
    if (name == vmime::encodingTypes::SEVEN_BIT) return seven_bit_line_;
    if (name == vmime::encodingTypes::QUOTED_PRINTABLE) return quoted_printable_line_;
    return base64_line_;
}

void check_recipients(const Letter& l) {
    const auto none = [](const vmime::addressList& list) {
        return list.isEmpty() || list.getAddressAt(0)->isEmpty();
    };
    if ((l.to.isEmpty() || (l.to.getAddressAt(0)->isEmpty() && !l.to.getAddressAt(0)->isGroup())) && none(l.cc) &&
        none(l.bcc))
        throw vmime::exceptions::no_recipient();
}

void MimeWriter::write(const Letter& l, LetterUse use, vmime::utility::outputStream& os) const {
    check_recipients(l);

    field(vmime::fields::SUBJECT, l.subject, os);
    if (l.from && !l.from->isEmpty()) {
        // Messages of one run mostly share their sender.
        if (from_line_.empty() || !(*l.from == from_seen_)) {
            from_line_.clear();
            vmime::utility::outputStreamStringAdapter line_os(from_line_);
            field(vmime::fields::FROM, *l.from, line_os);
            line_os.flush();
            from_seen_.copyFrom(*l.from);
        }
        put(os, from_line_);
    }
    if (!l.to.isEmpty()) {
        field(vmime::fields::TO, l.to, os);
    }
    if (!l.cc.isEmpty()) {
        field(vmime::fields::CC, l.cc, os);
    }
    if (!l.bcc.isEmpty() && use == LetterUse::as_built) {
        field(vmime::fields::BCC, l.bcc, os);
    }
    const time_t second = ::time(nullptr);
    if (second != date_second_) {
        date_->setValue(date_at(second));
        date_line_ = line(*date_);
        date_second_ = second;
    }
    put(os, date_line_);
    put(os, mime_version_line_);

    // The text part: the message itself when it has no attachment.
    const vmime::encoding body_encoding = text_encoding(l.body);
    auto& type = dynamic_cast<vmime::contentTypeField&>(*type_);
    type.removeAllParameters();
    const bool multipart = !l.attachments.empty();
    std::string boundary;
    if (multipart) {
        boundary = vmime::body::generateRandomBoundaryString();
        type.setValue(vmime::mediaType(vmime::mediaTypes::MULTIPART, vmime::mediaTypes::MULTIPART_MIXED));
        type.setBoundary(boundary);
        field(type, os);
    } else {
        put(os, text_type_line_);
        put(os, encoding_line(body_encoding));
    }

    if (!l.message_id.empty()) {
        const auto at = l.message_id.rfind('@');
        field(vmime::fields::MESSAGE_ID,
              at == std::string::npos ? vmime::messageId(l.message_id, "localhost")
                                      : vmime::messageId(l.message_id.substr(0, at), l.message_id.substr(at + 1)),
              os);
    }
    if (l.reply_to) {
        field(vmime::fields::REPLY_TO, *l.reply_to, os);
    }
    if (l.receipt_to) {
        vmime::mailboxList boxes;
        boxes.appendMailbox(vmime::clone(l.receipt_to));
        field(vmime::fields::DISPOSITION_NOTIFICATION_TO, boxes, os);
    }
    if (l.message_id.empty() && use == LetterUse::transport) {
        field(vmime::fields::MESSAGE_ID, vmime::messageId::generateId(), os);
    }
    put(os, "\r\n");

    if (!multipart) {
        text(l.body, body_encoding, os);
        return;
    }
    const std::string separator = "\r\n--" + boundary;
    put(os, kProlog);
    put(os, "--" + boundary + "\r\n");
    put(os, text_type_line_);
    put(os, encoding_line(body_encoding));
    put(os, "\r\n");
    text(l.body, body_encoding, os);
    put(os, separator);
    for (const auto& a : l.attachments) {
        put(os, "\r\n");
        attachment(a, os);
        put(os, separator);
    }
    put(os, "--\r\n");
}

void MimeWriter::attachment(const LetterAttachment& a, vmime::utility::outputStream& os) const {
    const ReadFile file(a);
    struct stat st {};
    if (::fstat(file.fd(), &st) != 0)
        throw std::system_error(errno, std::generic_category(), "cannot read the attachment " + a.path);
    if (!S_ISREG(st.st_mode))
        throw std::system_error(EINVAL, std::generic_category(), "the attachment is no regular file: " + a.path);

    auto& type = dynamic_cast<vmime::contentTypeField&>(*part_type_);
    type.removeAllParameters();
    type.setValue(a.type);
    field(type, os);
    put(os, base64_line_);
    auto& disposition = dynamic_cast<vmime::contentDispositionField&>(*disposition_);
    disposition.removeAllParameters();
    disposition.setFilename(a.filename);
    disposition.setSize(std::to_string(st.st_size));
    field(disposition, os);
    put(os, "\r\n");

    // Read from the start in whole blocks (a block that ends early would
    // break the lines), without moving the caller's file offset, up to the
    // size the header gives (or an earlier end).
    std::string in(static_cast<std::size_t>(std::min<off_t>(static_cast<off_t>(kBlock), st.st_size)), '\0');
    std::string out;
    off_t offset = 0;
    for (bool end = st.st_size == 0; !end;) {
        std::size_t got = 0;
        const std::size_t want = static_cast<std::size_t>(std::min<off_t>(static_cast<off_t>(in.size()), st.st_size - offset));
        while (got < want) {
            const ssize_t n = ::pread(file.fd(), in.data() + got, want - got, offset + static_cast<off_t>(got));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw std::system_error(errno, std::generic_category(), "cannot read the attachment " + a.path);
            if (n == 0) {
                end = true;
                break;
            }
            got += static_cast<std::size_t>(n);
        }
        offset += static_cast<off_t>(got);
        if (offset >= st.st_size) end = true;
        out.clear();
        append_base64_lines(reinterpret_cast<const unsigned char*>(in.data()), got, out);
        os.write(out.data(), out.size());
    }
}

}  // namespace velarion::mail::detail
