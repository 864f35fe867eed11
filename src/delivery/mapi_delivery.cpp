#include "delivery/mapi_delivery.h"

#include "common/runtime.h"
#include "delivery/address_split.h"
#include "delivery/attachments.h"
#include "delivery/delivery_state.h"
#include "delivery/mail_profile.h"
#include "delivery/mail_report.h"
#include "platform/os/text_encoding.h"

namespace velarion {

DeliveryOutcome deliver_mapi(Runtime& rt, DeliveryState& state, const std::function<void()>& switch_off, const DeliveryRequest& r,
                  bool bClientOutlook, const std::string& login_email) {
    // The stage named in the "SendMail Step:" box; signing on comes first.
    int step = 17;
    const bool save = r.save();
    try {
        // Sign on once per run; no user name or password here. Signing on
        // opens the store, which only a draft needs (a message to be saved,
        // or one the user finishes, which is a draft where there is no
        // desktop to compose it on): a plain send goes through the transport
        // alone, so a store that cannot be reached never holds it back.
        if (!state.session) state.session = mail::open_session(mail_profile(rt));
        const bool needs_store =
            save && (bClientOutlook || (rt.cfg.sw.internal_client && !state.session->composes_on_desktop()));
        if (needs_store && !state.bSessioneMAPI) {
            state.session->sign_on("", "");
            state.bSessioneMAPI = true;
        }
        // Compose: subject and read receipt.
        step = 20;
        mail::Message msg;
        rt.trace("ho fatto MAPIMessages1.Compose");
        msg.subject = r.lsObj;
        msg.receipt_requested = true;
        if (rt.cfg.nolett) msg.receipt_requested = false;
        msg.message_id = r.message_id;
        msg.maybe_stored = r.maybe_stored;
        msg.dsn = dsn_request(rt, r);
        // To recipients.
        step = 25;
        add_recipients(msg, r.lsTo, mail::RecipType::To);
        // Note text with a leading blank per attachment position.
        step = 34;
        msg.note_text = r.lvBody;
        step = 36;
        msg.note_text = note_with_positions(count_attachment_positions(r), r.lvBody);
        // Attachments: a missing PDF ends the delivery with its line.
        step = 38;
        OpenedAttachments opened = open_attachments(rt, r, MissingPdf::stop);
        if (opened.stop) return *opened.stop;
        msg.attachments = std::move(opened.files);
        // Copy recipients, then the blind copies.
        step = 48;
        add_recipients(msg, r.lscc, mail::RecipType::Cc);
        step = 50;
        add_recipients(msg, r.plus_ccn, mail::RecipType::Bcc);
        // Save or send.
        if (save && bClientOutlook) {
            // Kept in the drafts.
            step = 54;
            r.data_end();
            state.session->save(msg);
            r.accepted();
            rt.trace("ho fatto la save");
            mail_report::saved(rt, r);
        } else if (rt.cfg.sw.internal_client && save) {
            // Shown to the user, who finishes and sends it.
            step = 599;
            rt.list.add(" Interfaccia messaggio  " + mail_report::ref(r.lsNumRef) + " - " + r.lsTo + " - " +
                         mail_report::clock_text(rt));
            mail_report::tray_tip(rt, "In attesa operazione utente " + mail_report::ref(r.lsNumRef) + " - ");
            r.data_end();
            state.session->send(msg, true);
            r.accepted();
            mail_report::tray_tip(rt, "Terminata gestione utente " + mail_report::ref(r.lsNumRef) + " - ");
        } else {
            // Sent through the transport.
            step = 600;
            msg.on_data_end = r.on_data_end;
            state.session->send(msg, false);
            r.accepted();
            rt.trace("ho fatto la send");
            rt.list.add(" Inviato " + mail_report::ref(r.lsNumRef) + " - " + r.lsTo + " - " +
                         mail_report::clock_text(rt));
            mail_report::tray_tip(rt, "Inviato " + mail_report::ref(r.lsNumRef) + " - ");
        }
        DeliveryOutcome done{Delivered::yes};
        done.target = step == 600 ? Target::transport : Target::store;
        if (step == 600) done.server_reply = state.session->data_reply();
        return done;
    } catch (const NumberedError& e) {
        if (e.number() == mail::kUnknownRecipient) {
            mail_report::unknown_recipient(rt, r);
            return {Delivered::failed, "Sconosciuto " + r.lsTo};
        }
        // Only the plain send uses the transport; signing on and saving are the store's.
        const Target side = step == 600 ? Target::transport : Target::store;
        if (e.number() == mail::kLoginFailure) {
            // the account the server refused: the URL's own when none was given
            const std::string account = mail::refused_account(e, login_email);
            mail_report::logon_failed(rt, switch_off, account, e.what());
            DeliveryOutcome refused{Delivered::logon_refused, account + " " + e.what()};
            refused.target = side;
            return refused;
        }
        DeliveryOutcome outcome = outcome_of(e);
        outcome.target = side;
        mail_report::failure_box(rt, outcome,
                                 "SendMail Step: " + std::to_string(step) + " " + std::to_string(e.number()) + " " +
                                     e.what());
        return outcome;
    } catch (const std::exception& e) {
        rt.view.message_box("SendMail Step: " + std::to_string(step) + " " + std::to_string(mail::kFailure) + " " +
                             e.what());
        return {Delivered::failed, e.what()};
    }
}

}  // namespace velarion
