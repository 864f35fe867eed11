// INVIOmail: delivery straight to the SMTP server of section "CDO" through
// the SMTP sending component, with a copy to the sender; when the message
// cannot be sent, an error report goes to the sender instead.
#pragma once

#include "delivery/delivery_outcome.h"
#include "delivery/delivery_request.h"

namespace velarion::mail {
class SmtpSessions;
}

namespace velarion {

struct Runtime;

// Sends the message (attempt 1) and, when that fails for good, the error
// report to the sender (attempt 2). Says whether the message itself was
// sent, or why not: a failure that may pass by itself (a server that cannot
// be reached, a time-out, a 4xx reply) sends no report, since the message
// is tried again; a refused logon is the account's. With sessions, the
// connection stays open there for the next message.
DeliveryOutcome INVIOmail(Runtime& rt, const DeliveryRequest& r, mail::SmtpSessions* sessions = nullptr);

}  // namespace velarion
