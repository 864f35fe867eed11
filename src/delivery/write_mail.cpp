#include "delivery/write_mail.h"

#include "common/runtime.h"
#include "delivery/address_split.h"
#include "delivery/attachments.h"
#include "delivery/mail_profile.h"
#include "delivery/mail_report.h"
#include "platform/os/text_encoding.h"

namespace velarion {

Form2::Form2(Runtime& rt, std::function<void()> switch_off) : rt_(rt), switch_off_(std::move(switch_off)) {}

Form2::~Form2() = default;

DeliveryOutcome Form2::WriteMail(const DeliveryRequest& r, const std::string& login_email, const std::string& pwd_email) {
    // The stage named in the "WriteMail STEP" box; signing on comes first.
    int step = 1;
    DeliveryOutcome outcome;
    try {
        rt_.trace("sono nella write mail");
        // Sign on with the mail account, unless the session of an earlier
        // message was signed on with it and the same mail profile.
        const mail::Profile profile = mail_profile(rt_);
        if (!MAPISession1_ || !MAPISession1_->signed_on() || !(profile == profile_) || login_email != login_email_ ||
            pwd_email != pwd_email_) {
            sign_off();
            MAPISession1_ = mail::open_session(profile);
            MAPISession1_->sign_on(login_email, pwd_email);
            profile_ = profile;
            login_email_ = login_email;
            pwd_email_ = pwd_email;
        }
        // Compose: subject, then the To recipients.
        step = 20;
        mail::Message msg;
        msg.subject = r.lsObj;
        add_recipients(msg, r.lsTo, mail::RecipType::To);
        // Read receipt, not for the fixed no-receipt recipient.
        step = 25;
        msg.receipt_requested = true;
        if (rt_.cfg.nolett) msg.receipt_requested = false;
        const std::string no_receipt = text::lower(text::trim(senza_ricevuta(rt_)));
        if (!no_receipt.empty() && text::lower(text::trim(r.lsTo)) == no_receipt) msg.receipt_requested = false;
        // Note text, then the copy recipients (and the blind copies) before the attachments.
        step = 34;
        msg.note_text = r.lvBody;
        step = 48;
        add_recipients(msg, r.lscc, mail::RecipType::Cc);
        add_recipients(msg, r.plus_ccn, mail::RecipType::Bcc);
        // A leading blank per attachment position.
        step = 36;
        msg.note_text = note_with_positions(count_attachment_positions(r), r.lvBody);
        // Attachments; a missing PDF surfaces when the message is saved.
        // One found outside the installation's folders stops the message here.
        step = 38;
        OpenedAttachments opened = open_attachments(rt_, r, MissingPdf::to_mail_layer);
        if (opened.stop) {
            outcome = *opened.stop;
        } else {
            msg.attachments = std::move(opened.files);
            // Save, never send.
            step = 54;
            r.data_end();
            MAPISession1_->save(msg);
            r.accepted();
            rt_.trace("ho fatto la save nella writeMail");
            mail_report::saved(rt_, r);
            outcome = DeliveryOutcome{Delivered::yes};
        }
    } catch (const NumberedError& e) {
        if (e.number() == mail::kLoginFailure) {
            // the account the server refused: the URL's own when none was given
            const std::string account = mail::refused_account(e, login_email);
            mail_report::logon_failed(rt_, switch_off_, account, e.what());
            outcome = {Delivered::logon_refused, account + " " + e.what()};
        } else if (e.number() == mail::kAttachmentNotFound) {
            rt_.list.add(" Messaggio scartato " + mail_report::ref_tail(r.lsNumRef) +
                          " - IMPOSSIBILE TROVARE L'ALLEGATO -STAMPA VUOTA ");
            outcome = {Delivered::failed, "IMPOSSIBILE TROVARE L'ALLEGATO " + std::string(e.what())};
        } else if (e.number() == mail::kUnknownRecipient) {
            mail_report::unknown_recipient(rt_, r);
            outcome = {Delivered::failed, "Sconosciuto " + r.lsTo};
        } else {
            outcome = outcome_of(e);
            mail_report::failure_box(rt_, outcome,
                                     "WriteMail STEP " + std::to_string(step) + " " + std::to_string(e.number()) +
                                         " " + e.what());
        }
    } catch (const std::exception& e) {
        rt_.view.message_box("WriteMail STEP " + std::to_string(step) + " " + std::to_string(mail::kFailure) + " " +
                              e.what());
        outcome = {Delivered::failed, e.what()};
    }
    // After a failure the session is signed off: the next message signs on afresh.
    outcome.target = Target::store;  // this form only ever saves
    if (!outcome.delivered()) sign_off();
    return outcome;
}

void Form2::rest() {
    if (!MAPISession1_) return;
    try {
        MAPISession1_->rest();
    } catch (const std::exception&) {
        // the connection is gone already
    }
}

void Form2::sign_off() {
    if (!MAPISession1_) return;
    try {
        MAPISession1_->sign_off();
    } catch (const std::exception&) {
        // the connection is gone already
    }
    MAPISession1_.reset();
}

}  // namespace velarion
