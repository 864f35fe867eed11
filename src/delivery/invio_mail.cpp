#include "delivery/invio_mail.h"

#include <utility>
#include <vector>

#include "common/run_log.h"
#include "common/runtime.h"
#include "delivery/address_split.h"
#include "delivery/attachments.h"
#include "delivery/mail_profile.h"
#include "platform/os/error.h"
#include "platform/os/text_list.h"
#include "platform/mail/smtp_component.h"

namespace velarion {

namespace {

// The mailboxes of a ";"-separated list of the request, each shown as
// itself (which names no one); blank entries are left out when sent.
std::vector<mail::Mailbox> mailboxes(const std::string& list) {
    std::vector<mail::Mailbox> out;
    for (auto& entry : text::split(list, ';')) out.push_back({entry, entry});
    return out;
}

}  // namespace

DeliveryOutcome INVIOmail(Runtime& rt, const DeliveryRequest& r, mail::SmtpSessions* sessions) {
    try {
        // The activity list written out; one component for both attempts.
        flush_log(rt);
        int attempt = 1;
        bool bInvioFallito = false;
        bool message_failed = false;
        DeliveryOutcome failure;
        std::string lsFrom = r.lsFrom;
        mail::SmtpComponent smtp;
        smtp.Timeout = smtp_timeout(rt);
        smtp.DataTimeout = smtp_data_wait(rt);
        smtp.Tls = tls_policy(rt);
        smtp.OAuth = oauth_sign_on(rt);
        smtp.Sessions = sessions;

        // The component's events become lines of the activity list.
        smtp.on_progress = [&](int percent) { rt.list.add(" " + std::to_string(percent) + " % complete"); };
        smtp.on_send_failed = [&](const std::string& explanation) {
            // The line break after the text starts a line of its own: a CR LF
            // inside an activity line would split it in the log.
            rt.list.add(" Your attempt to send mail failed for the following reason(s): ");
            rt.list.add_raw(explanation);
            bInvioFallito = true;
        };
        smtp.on_send_successful = [&] {
            // The message itself (not its error report) is recorded before its line.
            if (attempt == 1) r.accepted();
            rt.list.add(" Send Successful!");
        };
        smtp.on_status = [&](const std::string& status) {
            rt.list.add_raw(status);
            rt.list.refresh();
        };

        for (;;) {
            // The server and account of the [CDO] section.
            bInvioFallito = false;
            smtp.UseAuthentication = true;
            smtp.UserName = rt.cfg.smtp.user;
            smtp.Password = rt.cfg.smtp.password;
            smtp.SMTPHost = rt.cfg.smtp.server;
            smtp.SMTPPort = rt.cfg.smtp.port.setting();
            // The sender: the message's, else "from", else "username".
            if (lsFrom.empty() && !rt.cfg.smtp.from.empty()) lsFrom = rt.cfg.smtp.from;
            if (lsFrom.empty()) lsFrom = rt.cfg.smtp.user;
            // The recipients; the sender also receives the replies.
            mail::Envelope message;
            message.from = {lsFrom, lsFrom};
            message.reply_to = lsFrom;
            message.to = mailboxes(r.lsTo);
            // The sender always receives a copy; the last copy recipient is
            // shown with the sender's address joined by ":".
            message.cc = mailboxes(r.lscc);
            if (!r.lscc.empty()) message.cc.back().display += ":" + lsFrom;
            if (!r.lscc.empty() || !lsFrom.empty()) message.cc.push_back({lsFrom, r.lscc.empty() ? lsFrom : ""});
            message.bcc = text::split(r.plus_ccn, ';');
            // Subject and text.
            message.subject = r.lsObj;
            message.body = r.lvBody;
            // Attachments, each with the file opened for it; a missing PDF, or
            // a file outside the installation's folders, ends the transport
            // before anything is sent.
            OpenedAttachments opened = open_attachments(rt, r, MissingPdf::stop);
            if (opened.stop) return *opened.stop;
            message.attachments = std::move(opened.files);
            // A read receipt asked for.
            message.receipt = true;
            // The message's own identity; its error report to the sender is another message.
            smtp.MessageId = attempt == 2 ? "" : r.message_id;
            smtp.Dsn = attempt == 2 ? mail::Dsn{} : dsn_request(rt, r);
            // The error report to the sender.
            if (attempt == 2) {
                message.cc.clear();
                message.bcc.clear();
                message.to = mailboxes(lsFrom);
                message.subject = " *** ERRORE INVIO MAIL *** " + r.lsObj;
                message.body = "*** ERRORE INVIO MAIL *** \r\nDESTINATARI: " + r.lsTo + "\r\nCOPIA CC: " + r.lscc +
                               "\r\n" + r.lvBody;
            }
            // Send; a lasting failure is followed by one error report to the
            // sender. Only the message itself, not its report, is marked.
            smtp.on_data_end = attempt == 1 ? r.on_data_end : nullptr;
            smtp.Send(message);
            if (!bInvioFallito) {
                rt.list.add(" Messages sent " + r.lsTo);
                break;
            }
            rt.list.add(" Messages not sent " + r.lsTo);
            if (attempt == 2) break;
            message_failed = true;
            failure = outcome_of(mail::numbered_error(smtp.error(), smtp.error_text()));
            // Tried again later: no report to the sender for every try.
            if (failure.result != Delivered::failed) break;
            attempt = 2;
        }
        // The final line follows the message itself, not its error report.
        if (message_failed)
            rt.list.add(" Rinnovo Info Log  Messaggio non  spedito " + r.lsObj);
        else
            rt.list.add(" Rinnovo Info Log Messaggio Spedito con successo " + r.lsObj);
        if (message_failed) return failure;
        DeliveryOutcome sent{Delivered::yes};
        sent.server_reply = smtp.data_reply();
        return sent;
    } catch (...) {
        const ErrorInfo e = current_error();
        rt.view.message_box(std::to_string(e.number) + " " + e.description);
        return {Delivered::failed, e.description};
    }
}

}  // namespace velarion
