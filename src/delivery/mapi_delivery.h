// Delivery through the MAPI session of the dispatcher, signed on once per run
// when a message first needs the store.
#pragma once

#include <functional>
#include <string>

#include "delivery/delivery_outcome.h"
#include "delivery/delivery_request.h"

namespace velarion {

struct Runtime;
struct DeliveryState;

// Composes the message, then saves it, sends it, or hands it to the user, and
// says whether that was done or why not. A logon failure switches the agent
// off through switch_off (not when it runs unattended).
DeliveryOutcome deliver_mapi(Runtime& rt, DeliveryState& state, const std::function<void()>& switch_off, const DeliveryRequest& r,
                  bool bClientOutlook, const std::string& login_email);

}  // namespace velarion
