// State of the mail layer that lasts for the whole run (the MAPI session).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/mail.h"

namespace velarion {

struct DeliveryState {
    bool bSessioneMAPI = false;
    std::unique_ptr<mail::Session> session;  // MAPISession1, signed on once per run
    std::optional<std::string> mail_client;  // the mail client's name, looked up once per run
};

}  // namespace velarion
