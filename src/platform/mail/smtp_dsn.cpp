#include "platform/mail/smtp_dsn.h"

#include <cstdio>
#include <initializer_list>
#include <vmime/net/smtp/SMTPCommand.hpp>
#include <vmime/net/smtp/SMTPConnection.hpp>
#include <vmime/net/smtp/SMTPExceptions.hpp>
#include <vmime/net/smtp/SMTPResponse.hpp>
#include <vmime/utility/filteredStream.hpp>
#include <vmime/utility/outputStreamSocketAdapter.hpp>
#include <vmime/utility/streamUtils.hpp>

namespace velarion::mail::detail {

namespace smtp = vmime::net::smtp;

namespace {

bool ascii(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

std::string address_of(const vmime::mailbox& box) {
    return box.getEmail().getLocalName().getBuffer() + "@" + box.getEmail().getDomainName().getBuffer();
}

// Sends one command and reads its answer; an answer not among `ok` is the
// library's refusal of that command.
vmime::shared_ptr<smtp::SMTPResponse> command(smtp::SMTPConnection& c, const std::string& text,
                                              std::initializer_list<int> ok) {
    c.sendRequest(smtp::SMTPCommand::createCommand(text));
    auto resp = c.readResponse();
    for (int code : ok)
        if (resp->getCode() == code) return resp;
    throw smtp::SMTPCommandError(text, resp->getText(), resp->getCode(), resp->getEnhancedCode());
}

// Whether an address of the envelope is not ASCII. No ORCPT is sent, so
// nothing of RFC 6533's UTF-8 forms of DSN parameters is needed: ENVID is
// ASCII xtext.
bool needs_smtputf8(const vmime::mailbox& expeditor, const vmime::mailboxList& recipients) {
    if (!ascii(address_of(expeditor))) return true;
    for (std::size_t i = 0; i < recipients.getMailboxCount(); ++i)
        if (!ascii(address_of(*recipients.getMailboxAt(i)))) return true;
    return false;
}

}  // namespace

std::string xtext(const std::string& value) {
    std::string out;
    for (unsigned char c : value) {
        if (c >= '!' && c <= '~' && c != '+' && c != '=') {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "+%02X", c);
            out += hex;
        }
    }
    return out;
}

bool dsn_wanted(smtp::SMTPTransport& transport, const Dsn* dsn, const vmime::mailbox& expeditor,
                const vmime::mailboxList& recipients) {
    if (!dsn || dsn->envelope_id.empty() || dsn->notify.empty()) return false;
    auto c = transport.getConnection();
    if (!c || !c->hasExtension("DSN")) return false;
    // Addresses that need SMTPUTF8 (RFC 6531) go with DSN where the server
    // offers SMTPUTF8 too, else the library's way, without DSN.
    return !needs_smtputf8(expeditor, recipients) || c->hasExtension("SMTPUTF8");
}

void send_with_dsn(smtp::SMTPTransport& transport, const Dsn& dsn, const vmime::mailbox& expeditor,
                   const vmime::mailboxList& recipients, vmime::utility::inputStream& data, std::size_t size,
                   vmime::utility::progressListener* progress) {
    if (recipients.isEmpty()) throw vmime::exceptions::no_recipient();
    auto c = transport.getConnection();
    if (!c) throw vmime::exceptions::not_connected();
    // A connection may have carried a message before: start a clean transaction.
    command(*c, "RSET", {250, 200});
    const bool never = dsn.notify == "NEVER";
    std::string mail = "MAIL FROM:<" + address_of(expeditor) + ">";
    if (needs_smtputf8(expeditor, recipients)) mail += " SMTPUTF8";
    if (c->hasExtension("SIZE")) mail += " SIZE=" + std::to_string(size);
    if (!never) mail += " RET=HDRS";
    mail += " ENVID=" + xtext(dsn.envelope_id);
    command(*c, mail, {250});
    for (std::size_t i = 0; i < recipients.getMailboxCount(); ++i)
        command(*c, "RCPT TO:<" + address_of(*recipients.getMailboxAt(i)) + "> NOTIFY=" + dsn.notify, {250, 251});
    command(*c, "DATA", {354});
    vmime::utility::outputStreamSocketAdapter sos(*c->getSocket());
    vmime::utility::dotFilteredOutputStream fos(sos);
    vmime::utility::bufferedStreamCopy(data, fos, size, progress);
    fos.flush();
    c->getSocket()->send("\r\n.\r\n");
    if (c->getTracer()) c->getTracer()->traceSend(".");
    auto resp = c->readResponse();
    if (resp->getCode() != 250)
        throw smtp::SMTPCommandError("DATA", resp->getText(), resp->getCode(), resp->getEnhancedCode());
}

}  // namespace velarion::mail::detail
