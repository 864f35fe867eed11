#include "delivery/invio_mail.h"

#include <optional>

#include "common/run_log.h"
#include "common/runtime.h"
#include "delivery/attachments.h"
#include "delivery/mail_profile.h"
#include "platform/os/error.h"
#include "platform/mail/smtp_component.h"

namespace velarion {

namespace {

// The attachment list: the paths joined by ";", with the files opened for
// them. A print file travels as its PDF (or the fax gateway's zip archive),
// which must exist; with "allegatxt" the print file itself follows it. Set
// stop when the message cannot go (its line is written).
std::string attachment_list(const Runtime& rt, const DeliveryRequest& r, mail::SmtpComponent& smtp,
                            std::optional<DeliveryOutcome>& stop) {
    OpenedAttachments opened = open_attachments(rt, r, MissingPdf::stop);
    stop = opened.stop;
    std::string list;
    smtp.OpenAttachments.clear();
    for (auto& file : opened.files) {
        list += (list.empty() ? "" : ";") + file.path;
        smtp.OpenAttachments[file.path] = std::move(file.file);
    }
    return list;
}

// What a failed send says about the message: the server cannot be reached
// (every message waits), this message may go later, it may have been
// delivered already (its answer never came), the account is refused, or the
// message cannot go as it is.
Delivered failure_kind(mail::SmtpError kind) {
    using mail::SmtpError;
    switch (kind) {
        case SmtpError::name_not_resolved:
        case SmtpError::connection_refused:
        case SmtpError::tls:
        case SmtpError::token_unavailable:
        case SmtpError::bad_settings: return Delivered::server_down;
        case SmtpError::timed_out:
        case SmtpError::connection_lost:
        case SmtpError::no_space:
        case SmtpError::temporary_reply: return Delivered::later;
        case SmtpError::maybe_delivered: return Delivered::maybe_delivered;
        case SmtpError::auth_refused: return Delivered::logon_refused;
        default: return Delivered::failed;
    }
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
            // The server and account of the [CDO] section; the account is the first sender.
            bInvioFallito = false;
            smtp.Delimiter = ";";
            smtp.UseAuthentication = true;
            smtp.UserName = rt.cfg.smtp.user;
            smtp.Password = rt.cfg.smtp.password;
            smtp.SMTPHost = rt.cfg.smtp.server;
            smtp.SMTPPort = rt.cfg.smtp.port.setting();
            smtp.From = smtp.FromDisplayName = smtp.ReplyToAddress = rt.cfg.smtp.user;
            smtp.Recipient = smtp.RecipientDisplayName = r.lsTo;
            // The sender: the message's, else "from", else "username".
            if (lsFrom.empty() && !rt.cfg.smtp.from.empty()) lsFrom = rt.cfg.smtp.from;
            if (lsFrom.empty()) lsFrom = rt.cfg.smtp.user;
            // The recipients, and the sender found above.
            smtp.Recipient = smtp.RecipientDisplayName = r.lsTo;
            if (!lsFrom.empty()) smtp.From = smtp.FromDisplayName = smtp.ReplyToAddress = lsFrom;
            // The sender always receives a copy (the display list joins with ":").
            if (!r.lscc.empty()) {
                smtp.CcRecipient = r.lscc + ";" + lsFrom;
                smtp.CcDisplayName = r.lscc + ":" + lsFrom;
            } else {
                smtp.CcRecipient = smtp.CcDisplayName = lsFrom;
            }
            smtp.BccRecipient = r.plus_ccn;
            // Subject and text.
            smtp.subject = r.lsObj;
            smtp.Message = r.lvBody;
            // Attachments; a missing PDF, or a file outside the
            // installation's folders, ends the transport before anything is sent.
            std::optional<DeliveryOutcome> stop;
            const std::string attachments = attachment_list(rt, r, smtp, stop);
            if (stop) return *stop;
            // No host check, address check on, read receipt asked for.
            smtp.SMTPHostValidation = 0;
            smtp.EmailAddressValidation = 1;
            smtp.Attachment = attachments;
            smtp.Receipt = true;
            // The error report to the sender.
            if (attempt == 2) {
                smtp.CcRecipient = smtp.CcDisplayName = "";
                smtp.BccRecipient = "";
                smtp.Recipient = smtp.RecipientDisplayName = lsFrom;
                smtp.subject = " *** ERRORE INVIO MAIL *** " + r.lsObj;
                smtp.Message = "*** ERRORE INVIO MAIL *** \r\nDESTINATARI: " + r.lsTo + "\r\nCOPIA CC: " + r.lscc +
                               "\r\n" + r.lvBody;
            }
            // Send; a lasting failure is followed by one error report to the
            // sender. Only the message itself, not its report, is marked.
            smtp.on_data_end = attempt == 1 ? r.on_data_end : nullptr;
            smtp.Send();
            if (!bInvioFallito) {
                rt.list.add(" Messages sent " + r.lsTo);
                break;
            }
            rt.list.add(" Messages not sent " + r.lsTo);
            if (attempt == 2) break;
            message_failed = true;
            failure = {failure_kind(smtp.error()), smtp.error_text()};
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
        return DeliveryOutcome{Delivered::yes};
    } catch (...) {
        const ErrorInfo e = current_error();
        rt.view.message_box(std::to_string(e.number) + " " + e.description);
        return {Delivered::failed, e.description};
    }
}

}  // namespace velarion
