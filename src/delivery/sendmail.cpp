#include "delivery/sendmail.h"

#include "common/runtime.h"
#include "delivery/invio_mail.h"
#include "delivery/mail_profile.h"
#include "delivery/mail_report.h"
#include "delivery/mapi_delivery.h"
#include "delivery/use_outlook.h"
#include "delivery/write_mail.h"
#include "platform/os/text_encoding.h"

namespace velarion {

Dispatcher::Dispatcher(Runtime& rt, std::function<void()> switch_off)
    : rt_(rt), switch_off_(std::move(switch_off)) {}

Dispatcher::~Dispatcher() = default;

DeliveryOutcome Dispatcher::sendmail(const DeliveryRequest& r) {
    rt_.trace("sono nella send mail");
    // Is the mail client Outlook or Exchange?
    const bool bClientOutlook = is_client_outlook(mail_client_name(rt_, state_));
    // The account came with the request, already blank with "acc:" = "Y".
    // The SMTP sending component. It has no save mode: a message to be
    // saved goes to the drafts of the mail layer instead of being sent.
    if (rt_.cfg.sw.smtp_component) {
        if (r.save()) return deliver_mapi(rt_, state_, switch_off_, r, true, r.login_email);
        return INVIOmail(rt_, r, &state_.smtp_sessions);
    }
    // Outlook automation, with the delivery option as its operation.
    if (!rt_.cfg.outlook_version.empty()) return UseOUTLOOK(rt_, state_, switch_off_, r, r.lsSend);
    // A message to be saved with Outlook or Exchange: the compose form.
    if (r.save() && bClientOutlook) {
        if (!compose_form_) compose_form_ = std::make_unique<Form2>(rt_, switch_off_);
        return compose_form_->WriteMail(r, r.login_email, r.pwd_email);
    }
    // The MAPI session of the dispatcher.
    return deliver_mapi(rt_, state_, switch_off_, r, bClientOutlook, r.login_email);
}

void Dispatcher::end_batch() noexcept {
    try {
        state_.smtp_sessions.close();
        if (state_.session) state_.session->rest();
        if (compose_form_) compose_form_->rest();
    } catch (...) {
        // a connection that cannot be ended cleanly is gone
    }
}

}  // namespace velarion
