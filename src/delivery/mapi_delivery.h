// Delivery through the MAPI session of the main window, signed on once per run.
#pragma once

#include <string>

#include "delivery/delivery_request.h"

namespace velarion {

struct Context;

// Composes the message, then saves it, sends it, or hands it to the user.
// Returns true when the message was delivered in one of these ways.
bool deliver_mapi(Context& ctx, const DeliveryRequest& r, bool bClientOutlook, const std::string& login_email);

}  // namespace velarion
