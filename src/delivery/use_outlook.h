// UseOUTLOOK: delivery through the Outlook automation interface (the mail
// layer stands in for it): the running Outlook or one started for the
// configured version, a mail item filled, then saved or sent.
#pragma once

#include <functional>
#include <string>

#include "delivery/delivery_request.h"

namespace velarion {

struct Runtime;
struct DeliveryState;

// lsoper "SAVE" keeps the item in the drafts, "SEND" sends it (compared
// exactly). Returns true when the item was saved or sent; false when the
// message must be kept (Outlook not started, a missing PDF, another lsoper,
// an error, after which the agent is switched off through switch_off).
bool UseOUTLOOK(Runtime& rt, DeliveryState& state, const std::function<void()>& switch_off, const DeliveryRequest& r,
                const std::string& lsoper);

}  // namespace velarion
