// What a store's failure to keep a message says about trying again, and the
// store's own words for it. Internal to platform/.
#pragma once

#include <memory>
#include <string>
#include <vmime/net/tracer.hpp>

#include "platform/os/error.h"

namespace velarion::mail::detail {

// Keeps the last line the service's connections received, so that a refused
// command can be reported with the server's own answer: the library's
// exception for a refused IMAP APPEND holds none. Sent lines (which carry
// the password at LOGIN) are not kept.
class ReplyLog final : public vmime::net::tracerFactory {
public:
    vmime::shared_ptr<vmime::net::tracer> create(vmime::shared_ptr<vmime::net::service> service,
                                                 const int connection) override;
    // The last line received, without the command's tag ("NO [OVERQUOTA] ...").
    std::string last_reply() const;
    // The last line received as it came, trimmed (an SMTP reply with its code).
    std::string last_line() const;
    void clear() { *last_ = ""; }

private:
    std::shared_ptr<std::string> last_ = std::make_shared<std::string>();
};

// An IMAP server's refusal by its response code (RFC 5530): a lack of space
// ([OVERQUOTA], [LIMIT]) is a full store (Retry::no_room); the server's
// state ([UNAVAILABLE], [SERVERBUG], [INUSE], [ALERT]) lets no message go
// now (Retry::server_down); anything else is Retry::never.
Retry imap_refusal_retry(const std::string& reply);

// An IMAP server's refusal of a login because of its own state
// ([UNAVAILABLE], [SERVERBUG]: its password database cannot be read, say),
// which refuses no account.
bool imap_login_unavailable(const std::string& reply);

// A local store's file error by the library's text of it: no space left
// (ENOSPC) or a quota exceeded (EDQUOT) is a full store (Retry::no_room).
Retry file_error_retry(const std::string& text);

}  // namespace velarion::mail::detail
