// State of the mail layer that lasts for the whole run (the MAPI session).
#pragma once

#include <memory>

#include "platform/mail.h"

namespace velarion {

struct DeliveryState {
    bool bSessioneMAPI = false;
    std::unique_ptr<mail::Session> session;  // MAPISession1, signed on once per run
};

}  // namespace velarion
