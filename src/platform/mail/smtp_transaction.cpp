#include "platform/mail/smtp_transaction.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>
#include <vmime/net/smtp/SMTPCommand.hpp>
#include <vmime/net/smtp/SMTPConnection.hpp>
#include <vmime/net/smtp/SMTPExceptions.hpp>
#include <vmime/net/smtp/SMTPResponse.hpp>

#include "platform/mail/spooled_message.h"
#include "platform/mail/vmime_support.h"

namespace velarion::mail::detail {

namespace smtp = vmime::net::smtp;

namespace {

// The address of an envelope command as the library writes it: in UTF-8
// for a server that offers SMTPUTF8 (the parts of addresses the mail layer
// makes are UTF-8 words already, joined here without the library's charset
// conversion of the "@"), else generated with IDNA and quoting.
std::string envelope_address(const vmime::mailbox& box, bool utf8) {
    const vmime::emailAddress& email = box.getEmail();
    if (!utf8) return email.generate();
    const vmime::charset& u = utf8_charset();
    if (email.getLocalName().getCharset() == u && email.getDomainName().getCharset() == u)
        return email.getLocalName().getBuffer() + "@" + email.getDomainName().getBuffer();
    return email.toText().getConvertedText(u);
}

// A refusal of MAIL or RCPT, with its code: a 4xx reply (452, no room now,
// included) is temporary, whatever the library makes of a size refusal.
[[noreturn]] void refused(const std::string& command, const smtp::SMTPResponse& resp) {
    throw smtp::SMTPCommandError(command, resp.getText(), resp.getCode(), resp.getEnhancedCode());
}

// Writes the data to the socket with a "." added before every "." that
// begins a line (RFC 5321 section 4.5.2).
class DotStuffer {
public:
    explicit DotStuffer(vmime::net::socket& socket) : socket_(socket) {}

    void write(const char* data, std::size_t size) {
        const char* p = data;
        const char* const end = data + size;
        const char* start = data;
        while (p < end) {
            if (line_start_ && *p == '.') {
                send(start, p);
                send_dot();
                start = p;  // the line's own dot goes with what follows
            }
            const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
            if (!lf) {
                line_start_ = false;
                break;
            }
            p = static_cast<const char*>(lf) + 1;
            line_start_ = true;
        }
        send(start, end);
    }

private:
    void send(const char* from, const char* to) {
        if (to > from) socket_.sendRaw(reinterpret_cast<const vmime::byte_t*>(from), static_cast<std::size_t>(to - from));
    }
    void send_dot() { socket_.sendRaw(reinterpret_cast<const vmime::byte_t*>("."), 1); }

    vmime::net::socket& socket_;
    bool line_start_ = true;
};

// The message's bytes to the socket, in the library's blocks for one in a
// file, with the progress told as the library's copy tells it.
void write_data(SpooledMessage& message, vmime::net::socket& socket, vmime::utility::progressListener* progress) {
    DotStuffer out(socket);
    const std::size_t size = message.size();
    if (progress) progress->start(size);
    std::size_t total = 0;
    if (const std::string* memory = message.in_memory()) {
        out.write(memory->data(), memory->size());
        total = memory->size();
        if (progress && total) progress->progress(total, total);
    } else {
        vmime::utility::inputStream& in = message.stream();
        std::vector<vmime::byte_t> block(std::min(in.getBlockSize(), socket.getBlockSize()));
        while (!in.eof()) {
            const std::size_t got = in.read(block.data(), block.size());
            if (got == 0) continue;
            out.write(reinterpret_cast<const char*>(block.data()), got);
            total += got;
            if (progress) progress->progress(total, std::max(total, size));
        }
    }
    if (progress) progress->stop(total);
}

}  // namespace

void send_transaction(smtp::SMTPTransport& transport, bool reused, SpooledMessage& message,
                      const vmime::mailbox& expeditor, const vmime::mailboxList& recipients,
                      vmime::utility::progressListener* progress) {
    if (!transport.isConnected()) throw vmime::exceptions::not_connected();
    if (recipients.isEmpty()) throw vmime::exceptions::no_recipient();
    if (expeditor.isEmpty()) throw vmime::exceptions::no_expeditor();
    const auto c = transport.getConnection();
    const bool utf8 = c->hasExtension("SMTPUTF8");
    const bool pipelining = c->hasExtension("PIPELINING");

    std::vector<std::string> commands;
    commands.reserve(recipients.getMailboxCount() + 3);
    if (reused) commands.emplace_back("RSET");
    std::string mail = "MAIL FROM:<" + envelope_address(expeditor, utf8) + ">";
    if (utf8) mail += " SMTPUTF8";
    if (c->hasExtension("SIZE") && message.size() != 0) mail += " SIZE=" + std::to_string(message.size());
    commands.push_back(std::move(mail));
    for (std::size_t i = 0; i < recipients.getMailboxCount(); ++i)
        commands.push_back("RCPT TO:<" + envelope_address(*recipients.getMailboxAt(i), utf8) + ">");
    commands.emplace_back("DATA");

    // Pipelined, every command goes before the first answer is read (the
    // socket writes them at once when the reading starts); else each waits
    // for the answer to the one before.
    std::size_t sent = 0;
    const auto answer = [&](std::size_t index) {
        if (pipelining) {
            for (; sent < commands.size(); ++sent) c->sendRequest(smtp::SMTPCommand::createCommand(commands[sent]));
        } else {
            c->sendRequest(smtp::SMTPCommand::createCommand(commands[index]));
        }
        return c->readResponse();
    };
    std::size_t index = 0;
    if (reused) {
        const auto resp = answer(index++);
        // Some servers answer RSET with 200 (RFC 876).
        if (resp->getCode() != 250 && resp->getCode() != 200) {
            try {
                transport.disconnect();
            } catch (...) {
                // the connection is gone already
            }
            throw smtp::SMTPCommandError("RSET", resp->getText(), resp->getCode(), resp->getEnhancedCode());
        }
    }
    if (const auto resp = answer(index); resp->getCode() != 250) refused(commands[index], *resp);
    ++index;
    for (std::size_t i = 0; i < recipients.getMailboxCount(); ++i, ++index) {
        const auto resp = answer(index);
        if (resp->getCode() != 250 && resp->getCode() != 251) refused(commands[index], *resp);
    }
    if (const auto resp = answer(index); resp->getCode() != 354)
        throw smtp::SMTPCommandError("DATA", resp->getText(), resp->getCode(), resp->getEnhancedCode());

    const auto socket = c->getSocket();
    write_data(message, *socket, progress);
    socket->send("\r\n.\r\n");
    if (const auto tracer = c->getTracer()) {
        tracer->traceSendBytes(message.size());
        tracer->traceSend(".");
    }
    const auto resp = c->readResponse();
    if (resp->getCode() != 250)
        throw smtp::SMTPCommandError("DATA", resp->getText(), resp->getCode(), resp->getEnhancedCode());
}

}  // namespace velarion::mail::detail
