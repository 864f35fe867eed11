// The delivery dispatcher: chooses the transport for one message.
#pragma once

#include "delivery/delivery_request.h"

namespace velarion {

struct Context;

// Returns true when the message was delivered (sent, saved as a draft or
// handed to the user); false when it must be kept for a later try.
bool sendmail(Context& ctx, const DeliveryRequest& request);

}  // namespace velarion
