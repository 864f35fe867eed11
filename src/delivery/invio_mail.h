// INVIOmail: delivery straight to the SMTP server of section "CDO" through
// the SMTP sending component, with a copy to the sender; when the message
// cannot be sent, an error report goes to the sender instead.
#pragma once

#include "delivery/delivery_request.h"

namespace velarion {

struct Runtime;

// Sends the message (attempt 1) and, when that fails, the error report to the
// sender (attempt 2). Returns true when the message itself was sent; false
// when it must be kept (also when only the error report went out).
bool INVIOmail(Runtime& rt, const DeliveryRequest& r);

}  // namespace velarion
