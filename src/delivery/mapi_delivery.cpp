#include "delivery/mapi_delivery.h"

#include "delivery/address_split.h"
#include "delivery/attachments.h"
#include "delivery/mail_profile.h"
#include "delivery/mail_report.h"
#include "platform/text_encoding.h"
#include "startup/context.h"

namespace velarion {

bool deliver_mapi(Context& ctx, const DeliveryRequest& r, bool bClientOutlook, const std::string& login_email) {
    int step = 17;
    try {
        // 1. Sign on once per run; no user name or password here.
        if (!ctx.delivery.bSessioneMAPI) {
            if (!ctx.delivery.session) ctx.delivery.session = mail::open_session(mail_profile(ctx));
            ctx.delivery.session->sign_on("", "");
            ctx.delivery.bSessioneMAPI = true;
        }
        // 2. Compose: subject and read receipt.
        step = 20;
        mail::Message msg;
        ctx.trace("ho fatto MAPIMessages1.Compose");
        msg.subject = r.lsObj;
        msg.receipt_requested = true;
        if (ctx.op.ParGenerali.find("NOLETT") != std::string::npos) msg.receipt_requested = false;
        // 3. To recipients.
        step = 25;
        add_recipients(msg, r.lsTo, mail::RecipType::To);
        // 4. to 6. Note text with a leading blank per attachment position.
        step = 34;
        msg.note_text = r.lvBody;
        step = 36;
        const int positions = count_attachment_positions(r, ctx.layout.style.allegatxt == "y");
        msg.note_text = note_with_positions(positions, r.lvBody);
        // 7. Attachments.
        step = 38;
        if (!add_attachments(ctx, r, msg, true)) return false;
        // 8. Copy recipients, then the blind copies.
        step = 48;
        add_recipients(msg, r.lscc, mail::RecipType::Cc);
        step = 50;
        add_recipients(msg, r.plus_ccn, mail::RecipType::Bcc);
        // 10. Save or send.
        const bool save = text::lower(r.lsSend) == "save";
        if (save && bClientOutlook) {
            step = 54;
            ctx.delivery.session->save(msg);
            ctx.trace("ho fatto la save");
            mail_report::saved(ctx, r);
        } else if (ctx.sw.intc == "Y" && save) {
            step = 599;
            ctx.list.add(" Interfaccia messaggio  " + mail_report::ref(r.lsNumRef) + " - " + r.lsTo + " - " +
                         mail_report::clock_text(ctx));
            mail_report::tray_tip(ctx, "In attesa operazione utente " + mail_report::ref(r.lsNumRef) + " - ");
            ctx.delivery.session->send(msg, true);
            mail_report::tray_tip(ctx, "Terminata gestione utente " + mail_report::ref(r.lsNumRef) + " - ");
        } else {
            step = 600;
            ctx.delivery.session->send(msg, false);
            ctx.trace("ho fatto la send");
            ctx.list.add(" Inviato " + mail_report::ref(r.lsNumRef) + " - " + r.lsTo + " - " +
                         mail_report::clock_text(ctx));
            mail_report::tray_tip(ctx, "Inviato " + mail_report::ref(r.lsNumRef) + " - ");
        }
        return true;
    } catch (const mail::MapiError& e) {
        if (e.number() == mail::kUnknownRecipient) {
            mail_report::unknown_recipient(ctx, r);
        } else if (e.number() == mail::kLoginFailure) {
            mail_report::logon_failed(ctx, login_email, e.what());
        } else {
            ctx.view.message_box("SendMail Step: " + std::to_string(step) + " " + std::to_string(e.number()) + " " +
                                 e.what());
        }
    } catch (const std::exception& e) {
        ctx.view.message_box("SendMail Step: " + std::to_string(step) + " " + std::to_string(mail::kFailure) + " " +
                             e.what());
    }
    return false;
}

}  // namespace velarion
