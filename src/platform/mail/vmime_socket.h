// The sockets the mail services connect with. Internal to platform/.
#pragma once

#include <vmime/net/socket.hpp>

namespace velarion::mail::detail {

// Sockets of the system's kind that write what the protocol sends in pieces
// (a command, a message's data and its ending ".") as one write when the
// protocol turns to wait for the answer, or once 64 KiB are waiting (a
// piece of 64 KiB or more goes at once, without a copy). Written
// as pieces, the last small piece would wait for the server's acknowledgement
// of the one before (Nagle's algorithm against delayed ACK), some 40 ms for
// every message.
vmime::shared_ptr<vmime::net::socketFactory> socket_factory();

}  // namespace velarion::mail::detail
