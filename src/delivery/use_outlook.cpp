#include "delivery/use_outlook.h"

#include <optional>

#include "common/runtime.h"
#include "delivery/attachments.h"
#include "delivery/delivery_state.h"
#include "delivery/mail_profile.h"
#include "delivery/mail_report.h"
#include "platform/os/error.h"
#include "platform/mail/outlook.h"

namespace velarion {

DeliveryOutcome UseOUTLOOK(Runtime& rt, DeliveryState& state, const std::function<void()>& switch_off, const DeliveryRequest& r,
                const std::string& lsoper) {
    const std::string& version = rt.cfg.outlook_version;
    // The running Outlook, else the one of the configured version.
    std::optional<outlook::Application> app;
    try {
        app = outlook::Application::GetObject(state.session);
        rt.list.add(" Outlook gia' aperto ");
    } catch (const NumberedError&) {
        rt.list.add(" Apro Outlook " + version);
        rt.list.refresh();
        // An unknown version has no class: no object is made.
        const std::string class_name = outlook::class_for_version(version);
        if (!class_name.empty()) {
            try {
                // Only an item to be saved needs the store signed on.
                app = outlook::Application::CreateObject(class_name, state.session, mail_profile(rt),
                                                         lsoper == "SAVE");
            } catch (...) {
                const ErrorInfo e = current_error();
                DeliveryOutcome outcome = current_outcome();
                outcome.target = lsoper == "SAVE" ? Target::store : Target::transport;
                rt.list.add(" Outlook non funziona " + std::to_string(e.number) + " " + e.description);
                rt.list.refresh();
                mail_report::failure_box(rt, outcome, "Non funziona outlook");
                outcome.reason = "Outlook non funziona " + e.description;
                return outcome;
            }
        }
    }
    try {
        // The item and its fields.
        if (!app) throw NumberedError(outlook::kNoObject, "Object variable or With block variable not set");
        outlook::MailItem item = app->createitem(0);
        item.bodyformat = outlook::olFormatPlain;
        item.bodyformat = outlook::olFormatHTML;
        item.To = r.lsTo;
        item.CC = r.lscc;
        item.BCC = r.plus_ccn;
        item.subject = r.lsObj;
        item.body = r.lvBody;
        // Attachments; for the fax gateway the zip archive message
        // processing made.
        OpenedAttachments opened = open_attachments(rt, r, MissingPdf::stop);
        if (opened.stop) return *opened.stop;
        for (auto& file : opened.files) item.Attachments.Add(file.path, std::move(file.file));
        // No read receipt; the item kept in the drafts or sent, as the operation says.
        item.ReadReceiptRequested = false;
        if (lsoper == "SAVE" || lsoper == "SEND") r.data_end();
        if (lsoper == "SAVE")
            item.Save();
        else if (lsoper == "SEND")
            item.Send();
        if (lsoper == "SAVE" || lsoper == "SEND") r.accepted();
        rt.list.refresh();
        const std::string ref = mail_report::ref(r.lsNumRef);
        if (lsoper == "SAVE") {
            rt.list.add(" Salvato messaggio  " + ref + " - " + r.lsTo + " - " + mail_report::clock_text(rt));
        } else if (lsoper == "SEND") {
            rt.list.add(" Inviato messaggio  " + ref + " - " + r.lsTo + " - " + mail_report::clock_text(rt));
        } else {
            // Neither saved nor sent: said so, and the message is kept.
            rt.list.add(" Outlook: operazione sconosciuta \"" + lsoper + "\", messaggio non salvato ne' inviato " +
                        ref + " - " + r.lsTo);
            return {Delivered::failed, "operazione sconosciuta " + lsoper};
        }
        DeliveryOutcome done{Delivered::yes};
        done.target = lsoper == "SAVE" ? Target::store : Target::transport;
        return done;
    } catch (...) {
        const ErrorInfo e = current_error();
        DeliveryOutcome outcome = current_outcome();
        outcome.target = lsoper == "SAVE" ? Target::store : Target::transport;
        rt.list.add(" UseOUTLOOK_error " + std::to_string(e.number) + " " + e.description);
        rt.list.refresh();
        // A failure that passes by itself is tried again; unattended nothing switches the agent off.
        const bool passes = outcome.result == Delivered::later || outcome.result == Delivered::server_down ||
                            outcome.result == Delivered::no_room;
        if (!passes && !rt.cfg.host.unattended) {
            if (switch_off)
                switch_off();
            else
                rt.view.set_check(true);
        }
        return outcome;
    }
}

}  // namespace velarion
