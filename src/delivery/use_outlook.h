// UseOUTLOOK: delivery through the Outlook automation interface (the mail
// layer stands in for it): the running Outlook or one started for the
// configured version, a mail item filled, then saved or sent.
#pragma once

#include <functional>
#include <string>

#include "delivery/delivery_outcome.h"
#include "delivery/delivery_request.h"

namespace velarion {

struct Runtime;
struct DeliveryState;

// lsoper "SAVE" keeps the item in the drafts, "SEND" sends it (compared
// exactly). Says whether the item was saved or sent, or why not (Outlook not
// started, a missing PDF, another lsoper, an error). After an error that does
// not pass by itself the agent is switched off through switch_off (not when it
// runs unattended); a server that cannot be reached or answers 4xx is tried
// again later.
DeliveryOutcome UseOUTLOOK(Runtime& rt, DeliveryState& state, const std::function<void()>& switch_off, const DeliveryRequest& r,
                const std::string& lsoper);

}  // namespace velarion
