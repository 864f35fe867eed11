// One SMTP mail transaction (envelope, data, end) on a connection of the
// library's SMTP transport, written by the mail layer itself. Internal to
// platform/.
#pragma once

#include <vmime/net/smtp/SMTPTransport.hpp>
#include <vmime/utility/progressListener.hpp>

namespace velarion::mail::detail {

class SpooledMessage;

// What the library's send does, with the same commands, answers checked
// and exceptions (SMTPCommandError with the reply's code for a refused
// command, so that a 452 stays temporary; the socket's for a lost connection), but for a kept connection
// (`reused`: it carried a message before, so RSET goes first) as for a new
// one, without the library's per-command conversions, and with the message
// written to the socket from where it was generated, dot-stuffed on the
// way (a line that begins with "." gets one more). With a server that offers
// PIPELINING, RSET, MAIL, RCPT and DATA go in one write and their answers
// are read after it. `progress` is told as the library tells it: start, the
// bytes written, and stop() once the whole data is written, before its end
// is marked.
void send_transaction(vmime::net::smtp::SMTPTransport& transport, bool reused, SpooledMessage& message,
                      const vmime::mailbox& expeditor, const vmime::mailboxList& recipients,
                      vmime::utility::progressListener* progress);

}  // namespace velarion::mail::detail
