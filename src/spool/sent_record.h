// The record of what was sent and what became of it, per day in the work
// folder ("tracciamento/inviati_<yyyymmdd>.txt" and "esiti_<yyyymmdd>.txt",
// private to the agent's user): one line per sent message (base name,
// Message-ID, envelope id, recipients, subject, time, the server's answer,
// the documents), and one per recipient's outcome read from a delivery
// report. Lines are appended whole; fields are separated by tabs, with tab,
// line end and backslash escaped. Days older than "giorni" of section "DSN"
// are removed.
#pragma once

#include <string>
#include <vector>

namespace velarion::spool {

struct SentMessage {
    long long time = 0;           // when it was accepted (to_seconds)
    std::string base;             // the spool base name
    std::string message_id;       // without brackets
    std::string envelope_id;      // ENVID asked back in reports
    std::vector<std::string> recipients;  // every envelope recipient, address only
    std::string subject;
    std::string reply;            // the server's answer to the end of the data
    std::vector<std::string> documents;  // the attachments' file names
    std::string replaces;         // a resent message: the base name it replaces
    std::string sender;           // the header's sender
    std::string reference;        // the header's reference number
};

// One recipient's outcome in a delivery report (RFC 3464).
struct ReportedOutcome {
    long long time = 0;       // when the report was read (to_seconds)
    std::string message_id;   // of the sent message it was matched to
    std::string recipient;    // Final-Recipient's address
    std::string action;       // failed, delayed, delivered, relayed, expanded
    std::string status;       // e.g. 5.1.1
    std::string diagnostic;   // Diagnostic-Code's text
    std::string reporter;     // Reporting-MTA
    std::string date;         // Arrival-Date, else the report's Date
};

// The folder of the record below the work folder (with a trailing "/").
std::string tracking_dir(const std::string& work);

// Appends to the day's file (yyyymmdd). False when it cannot be written.
bool record_sent(const std::string& work, int yyyymmdd, const SentMessage& m);
bool record_outcome(const std::string& work, int yyyymmdd, const ReportedOutcome& o);

// Every message and outcome of the days from `since` (yyyymmdd) on, oldest first.
std::vector<SentMessage> read_sent(const std::string& work, int since);
std::vector<ReportedOutcome> read_outcomes(const std::string& work, int since);

// The folder of a message sent on the day ("documenti/<yyyymmdd>/<envelope
// id>/", with a trailing "/"): where earlier versions kept its documents and
// body, and where a body too long for the day's file of bodies goes.
std::string documents_dir(const std::string& work, int yyyymmdd, const std::string& envelope_id);
// Where a document of a message sent on the day is kept: beside the day's
// other messages' ("documenti/<yyyymmdd>/<envelope id>+<document>"), no
// folder being made per message.
std::string document_path(const std::string& work, int yyyymmdd, const std::string& envelope_id,
                          const std::string& document);
// The kept document: where document_path says, else in the message's folder
// as earlier versions kept it; "" when neither holds a plain file.
std::string kept_document(const std::string& work, int yyyymmdd, const std::string& envelope_id,
                          const std::string& document);

// Keeps the body a message was sent with, for --resend: one line appended
// to the day's "documenti/<yyyymmdd>/corpi.txt" (a line cut by a kill is
// never read), or "corpo.txt" in the message's folder when it is too long
// for a line. False when it cannot be written.
bool record_body(const std::string& work, int yyyymmdd, const std::string& envelope_id, const std::string& body);
// The body kept for the message: from the day's file of bodies, else from
// "corpo.txt" in its folder (as earlier versions kept every body); "" when
// neither has it.
std::string kept_body(const std::string& work, int yyyymmdd, const std::string& envelope_id);

// The base name a resent message replaces, as --resend noted it ("" when none).
std::string replaced_by_resend(const std::string& work, const std::string& base);
// Notes that `base` is written to replace `replaces`.
bool note_resend(const std::string& work, const std::string& base, const std::string& replaces);

// Removes the days before today - days + 1 (their documents too).
void prune_tracking(const std::string& work, int today, int days);

// yyyymmdd of the day `days` days before `yyyymmdd`.
int days_before(int yyyymmdd, int days);

}  // namespace velarion::spool
