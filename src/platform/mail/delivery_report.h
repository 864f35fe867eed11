// Delivery status notifications (RFC 3464) read from a mail message: a
// multipart/report with report-type=delivery-status, as Postfix, Exchange
// Online and Gmail send them. What the report says per recipient (action,
// status, diagnostic), who reported it, and what identifies the message it
// is about: the original envelope id, else the Message-ID of the returned
// headers. The message is read within limits (size, nesting, field
// lengths): a hostile or broken one is refused with the reason, never
// followed further.
#pragma once

#include <string>
#include <vector>

namespace velarion::mail {

struct RecipientReport {
    std::string recipient;   // Final-Recipient's address (Original-Recipient when it has none)
    std::string action;      // failed, delayed, delivered, relayed, expanded (lower case)
    std::string status;      // e.g. 5.1.1
    std::string diagnostic;  // Diagnostic-Code's text without its type ("smtp;")
    std::string remote_mta;
};

struct DeliveryReport {
    std::string envelope_id;    // Original-Envelope-Id, xtext decoded
    std::string reporting_mta;  // Reporting-MTA without its type ("dns;")
    std::string arrival_date;   // Arrival-Date, else the report's Date
    std::string message_id;     // the returned message's Message-ID, without brackets
    std::vector<RecipientReport> recipients;
};

enum class ReportReading {
    report,      // a delivery report, read
    not_report,  // other mail: left alone
    refused,     // looked like a report but could not be read safely: `problem` says why
};

// Limits of one reading.
struct ReportLimits {
    std::size_t max_bytes = 4 * 1024 * 1024;  // the whole message
    int max_parts = 64;                       // MIME parts, nested ones counted
    int max_depth = 8;                        // multipart nesting
    std::size_t max_recipients = 500;
    std::size_t max_field = 2000;             // one field's value, after unfolding
};

// Reads a raw message (its bytes as stored). Texts come out in UTF-8 (bytes
// that are not are replaced).
ReportReading read_delivery_report(const std::string& raw, DeliveryReport& out, std::string& problem,
                                   const ReportLimits& limits = {});

}  // namespace velarion::mail
