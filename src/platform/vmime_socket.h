// The mail library's sockets, with the writes of one turn sent together.
// The library writes a command or a message's last line in several small
// pieces (SMTP sends the final "." on its own); with Nagle's algorithm the
// last piece waits for the server's delayed acknowledgement, about 40 ms per
// message. Writes are kept until the library reads (or holds 64 KiB), then
// go in one piece. Internal to platform/.
#pragma once

#include <vmime/net/socket.hpp>

namespace velarion::mail::detail {

// Makes the library's sockets through `inner` and wraps each.
vmime::shared_ptr<vmime::net::socketFactory> coalescing_sockets(vmime::shared_ptr<vmime::net::socketFactory> inner);

}  // namespace velarion::mail::detail
