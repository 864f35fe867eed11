// Form2: the hidden compose form that stores a message as a draft for the
// user to finish in the mail client. It has its own session, signed on with
// the mail account; the delivery keeps the form, and the session with its
// drafts folder open serves the next messages of the same account and mail
// profile, so that saving costs the same however many drafts the folder
// holds. After a failure the session is signed off and the next message
// signs on again.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "delivery/delivery_outcome.h"
#include "delivery/delivery_request.h"
#include "platform/mail/mail.h"

namespace velarion {

struct Runtime;

class Form2 {
public:
    // switch_off: what a logon failure runs to switch the agent off.
    Form2(Runtime& rt, std::function<void()> switch_off);
    ~Form2();
    Form2(const Form2&) = delete;
    Form2& operator=(const Form2&) = delete;

    // Saves the message as a draft; says whether it was stored or why not.
    // login_email and pwd_email are the account handed to the mail layer
    // (empty: the store's own credentials serve).
    DeliveryOutcome WriteMail(const DeliveryRequest& r, const std::string& login_email, const std::string& pwd_email);

    // Ends the session's network connection at the end of a batch; the
    // session stays signed on and connects again for the next draft.
    void rest();

private:
    void sign_off();

    Runtime& rt_;
    std::function<void()> switch_off_;
    std::unique_ptr<mail::Session> MAPISession1_;
    // What the open session was signed on with.
    mail::Profile profile_;
    std::string login_email_, pwd_email_;
};

}  // namespace velarion
