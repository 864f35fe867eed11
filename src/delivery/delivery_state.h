// State of the mail layer that lasts for the whole run (the MAPI session),
// and the SMTP component's connection kept between the messages of a batch.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/mail/mail.h"
#include "platform/mail/smtp_component.h"

namespace velarion {

struct DeliveryState {
    bool bSessioneMAPI = false;
    std::unique_ptr<mail::Session> session;  // MAPISession1; its store opened once per run, by the first draft
    std::optional<std::string> mail_client;  // the mail client's name, looked up once per run
    mail::SmtpSessions smtp_sessions;        // the "cdo:" component's open connection
};

}  // namespace velarion
