// The SMTP transaction with delivery status notifications (RFC 3461), which
// the mail library does not carry: the same envelope and data as its own
// send, with RET, ENVID and NOTIFY added. Internal to platform/.
#pragma once

#include <string>
#include <vmime/net/smtp/SMTPTransport.hpp>
#include <vmime/utility/progressListener.hpp>

#include "platform/mail/mail.h"

namespace velarion::mail::detail {

// An ENVID value as xtext (RFC 3461 section 4): "+", "=" and bytes outside
// "!" to "~" as "+XX".
std::string xtext(const std::string& value);

// Whether the transport's server offers DSN and the request asks for it;
// for an address that is not ASCII, SMTPUTF8 must be offered as well.
bool dsn_wanted(vmime::net::smtp::SMTPTransport& transport, const Dsn* dsn, const vmime::mailbox& expeditor,
                const vmime::mailboxList& recipients);

// RSET, MAIL FROM with SMTPUTF8 (for an address that is not ASCII),
// RET=HDRS (unless NOTIFY=NEVER) and ENVID, RCPT TO
// with NOTIFY for each recipient, DATA, the message dot-stuffed and its end.
// Refusals throw the library's SMTPCommandError, as its own send does;
// `progress` is told as the library's send tells it (its stop() before the
// end is marked).
void send_with_dsn(vmime::net::smtp::SMTPTransport& transport, const Dsn& dsn, const vmime::mailbox& expeditor,
                   const vmime::mailboxList& recipients, vmime::utility::inputStream& data, std::size_t size,
                   vmime::utility::progressListener* progress);

}  // namespace velarion::mail::detail
